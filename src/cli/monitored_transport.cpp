#include "cli/monitored_transport.hpp"

#include "link/protocol.hpp"

namespace q70::cli {

bool MonitoredTransport::open() {
    lastRead_ = link::ReadStatus::Ok;
    const bool ok = inner_.open();
    if (ok) lastTrafficMs_ = clock_.nowMs();
    return ok;
}

bool MonitoredTransport::writePacket(std::span<const std::uint8_t> packet) {
    if (!inner_.writePacket(packet)) {
        if (onEvent) onEvent(LinkEvent::WriteFailed);
        return false;
    }
    lastTrafficMs_ = clock_.nowMs();
    lastRead_ = link::ReadStatus::Ok;
    lastRequest_ = packet.size() > 4 ? packet[4] : 0;
    if (lastRequest_ == link::code::FirmwareData && packet.size() > 5) lastFirmwareSub_ = packet[5];
    if (lastRequest_ == link::code::GetTestImage) testImageRequested_ = true;
    return true;
}

link::ReadResult MonitoredTransport::readPacket(link::PacketBuffer& buffer, int maxWaitMs) {
    const link::ReadResult r = inner_.readPacket(buffer, maxWaitMs);
    lastRead_ = r.status;
    if (r.status == link::ReadStatus::Ok) lastTrafficMs_ = clock_.nowMs();
    return r;
}

bool MonitoredTransport::stillThere() {
    if (inner_.stillThere()) return true;
    lastRead_ = link::ReadStatus::Failed;  // the close that follows is for a lost board
    return false;
}

void MonitoredTransport::close() {
    // The link closes the device only when it gives up on a read: after a failed read
    // (the board is gone) or after waiting past its answer timeout (the last read found
    // nothing). Closing before a reopen follows an open or a write, never such a read.
    if (lastRead_ != link::ReadStatus::Ok && onEvent) {
        onEvent(lastRead_ == link::ReadStatus::Pending ? LinkEvent::Timeout : LinkEvent::Lost);
    }
    lastRead_ = link::ReadStatus::Ok;
    inner_.close();
}

}  // namespace q70::cli
