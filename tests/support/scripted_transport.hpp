#pragma once
// An in-memory transport for link tests: it records every packet written and hands out
// the answers a test scripted, one per read.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "link/protocol.hpp"
#include "link/transport.hpp"

namespace q70::test {

class ScriptedTransport : public link::DeviceTransport {
  public:
    // One scripted read: a packet, or a failure, or nothing yet (Pending).
    struct Read {
        link::ReadStatus status = link::ReadStatus::Ok;
        std::vector<std::uint8_t> bytes;
    };

    bool open() override;
    bool isOpen() const override { return open_; }
    bool writePacket(std::span<const std::uint8_t> packet) override;
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override;
    void close() override;
    link::OpenProblem openProblem() const override { return problem; }
    bool stillThere() override { return present; }

    void queueAnswer(const link::Packet& p) {
        reads.push_back({link::ReadStatus::Ok,
                         {p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(p.size)}});
    }
    void queueBytes(std::vector<std::uint8_t> b) {
        reads.push_back({link::ReadStatus::Ok, std::move(b)});
    }
    void queueFailure() { reads.push_back({link::ReadStatus::Failed, {}}); }

    // Knobs.
    bool openSucceeds = true;
    bool writeSucceeds = true;
    link::OpenProblem problem;  // what a failed open reports
    bool present = true;        // false: the system has told of the board's removal
    std::deque<Read> reads;     // an empty script reads as Pending
    // Called after each successful write, to script the answer from the request.
    std::function<void(const link::Request&, ScriptedTransport&)> responder;
    // Called at the start of each read with its wait (for example to let time pass).
    std::function<void(int maxWaitMs)> beforeRead;

    // Records.
    std::vector<std::vector<std::uint8_t>> written;
    int openCalls = 0;
    int closeCalls = 0;
    std::vector<int> readWaits;  // maxWaitMs of every read

  private:
    bool open_ = false;
};

}  // namespace q70::test
