#include "cli/monitored_transport.hpp"

#include <algorithm>

namespace q70::cli {

namespace {
// How often a busy board is tried again while q70ctl waits for it.
constexpr std::uint64_t kBusyRetryMs = 100;
}  // namespace

void MonitoredTransport::waitWhileBusy(std::uint64_t untilMs,
                                       std::function<void(std::uint64_t)> sleepUntil,
                                       std::function<void(const link::OpenProblem&)> onBusy) {
    busyUntilMs_ = untilMs;
    sleepUntil_ = std::move(sleepUntil);
    onBusy_ = std::move(onBusy);
}

bool MonitoredTransport::open() {
    bool told = false;
    for (;;) {
        if (inner_.open()) {
            lastTrafficMs_ = clock_.nowMs();
            lastWriteFailed_ = false;
            return true;
        }
        const std::uint64_t now = clock_.nowMs();
        if (!inner_.openProblem().busy || now >= busyUntilMs_ || !sleepUntil_) return false;
        if (!told && onBusy_) onBusy_(inner_.openProblem());
        told = true;
        sleepUntil_(std::min(now + kBusyRetryMs, busyUntilMs_));
    }
}

bool MonitoredTransport::writePacket(std::span<const std::uint8_t> packet) {
    if (!inner_.writePacket(packet)) {
        lastWriteFailed_ = true;
        return false;
    }
    lastWriteFailed_ = false;
    lastTrafficMs_ = clock_.nowMs();
    lastRequest_ = packet.size() > 4 ? packet[4] : 0;
    return true;
}

link::ReadResult MonitoredTransport::readPacket(link::PacketBuffer& buffer, int maxWaitMs) {
    const link::ReadResult r = inner_.readPacket(buffer, maxWaitMs);
    if (r.status == link::ReadStatus::Ok) lastTrafficMs_ = clock_.nowMs();
    return r;
}

}  // namespace q70::cli
