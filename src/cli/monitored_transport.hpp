#pragma once
// Passes every call to the real transport and notes what q70ctl tells its user beyond the
// window's messages: which request went out last and when traffic last crossed, and that
// a write failed. It also waits, when asked, for a board that another program holds.

#include <cstdint>
#include <functional>

#include "link/timer_service.hpp"
#include "link/transport.hpp"

namespace q70::cli {

class MonitoredTransport : public link::DeviceTransport {
  public:
    MonitoredTransport(link::DeviceTransport& inner, const link::Clock& clock)
        : inner_(inner), clock_(clock) {}

    bool open() override;
    bool isOpen() const override { return inner_.isOpen(); }
    bool writePacket(std::span<const std::uint8_t> packet) override;
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override;
    void close() override { inner_.close(); }
    bool stillThere() override { return inner_.stillThere(); }
    const char* lastError() const override { return inner_.lastError(); }
    link::OpenProblem openProblem() const override { return inner_.openProblem(); }
    link::DeviceLocation location() const override { return inner_.location(); }

    // Until `untilMs` on the clock, an open that finds the board busy waits with `sleepUntil`
    // and tries again; `onBusy` is told once, with the problem, before the first wait.
    // 0: fail at once.
    void waitWhileBusy(std::uint64_t untilMs, std::function<void(std::uint64_t)> sleepUntil,
                       std::function<void(const link::OpenProblem&)> onBusy);

    // Code of the last request written (0 before the first).
    std::uint8_t lastRequest() const { return lastRequest_; }
    // The last write failed (the request was not sent).
    bool lastWriteFailed() const { return lastWriteFailed_; }
    // When a packet last crossed the link either way.
    std::uint64_t lastTrafficMs() const { return lastTrafficMs_; }

  private:
    link::DeviceTransport& inner_;
    const link::Clock& clock_;
    std::uint8_t lastRequest_ = 0;
    bool lastWriteFailed_ = false;
    std::uint64_t lastTrafficMs_ = 0;
    std::uint64_t busyUntilMs_ = 0;
    std::function<void(std::uint64_t)> sleepUntil_;
    std::function<void(const link::OpenProblem&)> onBusy_;
};

}  // namespace q70::cli
