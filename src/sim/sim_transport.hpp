#pragma once
// The simulated board behind the link's transport interface, in this process (the `sim`
// device). Answers are there at once: a read returns a queued answer immediately and
// reports Pending when the board has nothing to say.

#include <cstdint>
#include <memory>

#include "link/transport.hpp"
#include "sim/simulated_board.hpp"

namespace q70::sim {

class SimTransport : public link::DeviceTransport {
  public:
    // Uses a board the caller keeps alive.
    explicit SimTransport(SimulatedBoard& board) : board_(&board) {}
    // Owns its board.
    explicit SimTransport(std::unique_ptr<SimulatedBoard> board)
        : owned_(std::move(board)), board_(owned_.get()) {}
    ~SimTransport() override { close(); }

    bool open() override;
    bool isOpen() const override { return open_; }
    bool writePacket(std::span<const std::uint8_t> packet) override;
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override;
    void close() override;
    const char* lastError() const override { return lastError_; }

    SimulatedBoard& board() { return *board_; }

  private:
    // The board vanished since this handle was opened.
    bool lost() { return !board_->present() || board_->presenceEpoch() != epoch_; }

    std::unique_ptr<SimulatedBoard> owned_;
    SimulatedBoard* board_;
    bool open_ = false;
    std::uint64_t epoch_ = 0;
    const char* lastError_ = "";
};

}  // namespace q70::sim
