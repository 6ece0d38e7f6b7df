#pragma once
// Passes every call to the real transport and notes what the window would never tell a
// user: that a read timed out rather than failed, that a write failed (the link retries
// those silently), and which firmware packet went out last.

#include <cstdint>
#include <functional>

#include "link/timer_service.hpp"
#include "link/transport.hpp"

namespace q70::cli {

enum class LinkEvent {
    Lost,         // a read failed: the board is gone
    Timeout,      // the link gave up waiting for an answer
    WriteFailed,  // a request could not be written
};

class MonitoredTransport : public link::DeviceTransport {
  public:
    MonitoredTransport(link::DeviceTransport& inner, const link::Clock& clock)
        : inner_(inner), clock_(clock) {}

    bool open() override;
    bool isOpen() const override { return inner_.isOpen(); }
    bool writePacket(std::span<const std::uint8_t> packet) override;
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override;
    void close() override;
    bool stillThere() override;
    const char* lastError() const override { return inner_.lastError(); }

    // Called when one of the events happens, before the link reacts to it.
    std::function<void(LinkEvent)> onEvent;

    // Code of the last request written (0 before the first).
    std::uint8_t lastRequest() const { return lastRequest_; }
    // Sub-code of the last FirmwareData request written, -1 before the first.
    int lastFirmwareSubCode() const { return lastFirmwareSub_; }
    // A GetTestImage request has been written.
    bool testImageRequested() const { return testImageRequested_; }
    // When a packet last crossed the link either way.
    std::uint64_t lastTrafficMs() const { return lastTrafficMs_; }

  private:
    link::DeviceTransport& inner_;
    const link::Clock& clock_;
    link::ReadStatus lastRead_ = link::ReadStatus::Ok;
    std::uint8_t lastRequest_ = 0;
    int lastFirmwareSub_ = -1;
    bool testImageRequested_ = false;
    std::uint64_t lastTrafficMs_ = 0;
};

}  // namespace q70::cli
