#pragma once
// Passes every call to the real transport and hands on why an open failed, once per
// distinct reason: the window's message box only says the board could not be opened,
// while the transport may know more (a USB device the user may not open, a socket nobody
// serves). The link retries the open every few seconds, so a repeated reason stays quiet.

#include <functional>
#include <string>
#include <utility>

#include "link/transport.hpp"

namespace q70::system {

class OpenProblemReporter : public link::DeviceTransport {
  public:
    OpenProblemReporter(link::DeviceTransport& inner,
                        std::function<void(const std::string&)> report)
        : inner_(inner), report_(std::move(report)) {}

    bool open() override {
        if (inner_.open()) {
            reported_.clear();  // a later failure is news again
            return true;
        }
        const std::string why = inner_.lastError();
        if (!why.empty() && why != reported_) {
            reported_ = why;
            report_(why);
        }
        return false;
    }
    bool isOpen() const override { return inner_.isOpen(); }
    bool writePacket(std::span<const std::uint8_t> packet) override {
        return inner_.writePacket(packet);
    }
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override {
        return inner_.readPacket(buffer, maxWaitMs);
    }
    void close() override { inner_.close(); }
    bool stillThere() override { return inner_.stillThere(); }
    const char* lastError() const override { return inner_.lastError(); }
    link::OpenProblem openProblem() const override { return inner_.openProblem(); }
    link::DeviceLocation location() const override { return inner_.location(); }

  private:
    link::DeviceTransport& inner_;
    std::function<void(const std::string&)> report_;
    std::string reported_;
};

}  // namespace q70::system
