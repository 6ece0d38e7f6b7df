#include "sim/sim_transport.hpp"

#include <algorithm>

namespace q70::sim {

bool SimTransport::open() {
    close();
    if (!board_->present()) {
        lastError_ = "The simulated board is unplugged.";
        return false;
    }
    lastError_ = "";
    epoch_ = board_->presenceEpoch();
    board_->connect();
    open_ = true;
    return true;
}

bool SimTransport::writePacket(std::span<const std::uint8_t> packet) {
    if (!open_ || lost()) return false;
    return board_->receive(packet);
}

link::ReadResult SimTransport::readPacket(link::PacketBuffer& buffer, int /*maxWaitMs*/) {
    // Nothing to wait for: the board answers as soon as it is asked, or not at all.
    if (!open_ || lost()) return {link::ReadStatus::Failed, 0};
    link::Packet p;
    if (!board_->nextAnswer(p)) {
        // The board may have vanished while handing out the previous packet.
        return {lost() ? link::ReadStatus::Failed : link::ReadStatus::Pending, 0};
    }
    std::copy_n(p.bytes.begin(), p.size, buffer.begin());
    return {link::ReadStatus::Ok, p.size};
}

void SimTransport::close() {
    if (!open_) return;
    open_ = false;
    if (!lost()) board_->disconnect();
}

}  // namespace q70::sim
