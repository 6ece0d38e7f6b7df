#pragma once
// The transfer engine: the request ring, sending, bounded reading, framing,
// reassembly of the multi-packet test image, and dispatch by answer code.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/listener.hpp"
#include "link/outcome.hpp"
#include "link/protocol.hpp"
#include "link/timer_service.hpp"
#include "link/transport.hpp"

namespace q70::link {

inline constexpr std::size_t kRingSize = 1024;

struct LinkOptions {
    // An answer (or the next packet of a test image) that has not come within this
    // counts as a failed read.
    int answerTimeoutMs = 5000;
    // The longest one read may hold the caller's thread.
    int maxWaitMs = 50;
};

// The device handle and the open flag of the connection; the engine clears the flag on a
// failed write and closes the handle on a failed read.
struct DeviceSlot {
    DeviceTransport* transport = nullptr;
    bool deviceOpen = false;
};

enum class BatchState : std::uint8_t { Idle = 0, Queued = 1, Drained = 2 };

struct TransferState {
    std::array<std::uint8_t, kRingSize> ring{};
    std::size_t writeIndex = 0;
    std::size_t readIndex = 0;
    bool awaitingAnswer = false;
    std::uint8_t lastCommand = 0;
    bool expectAnswerStart = true;
    BatchState batchState = BatchState::Idle;
    PacketBuffer receiveBuffer{};
    PacketBuffer answerBuffer{};
    PacketBuffer sendBuffer{};
    std::uint32_t imageRemaining = 0;
    std::vector<std::uint8_t> imageBuffer;
    std::size_t imageCursor = 0;
    // Bytes of a rejected (oversized) test image still to be read and dropped, so that
    // its tail is never taken for new answers.
    std::uint64_t discardRemaining = 0;
    // When the last request went out or the last packet of its answer came in.
    std::uint64_t lastActivityMs = 0;
};

class StatusHandler {
  public:
    virtual ~StatusHandler() = default;
    virtual void handleStatus(const AnswerView& answer) = 0;
    // A status request answered with 0, 0xFE or 0xFF: no status, but the poll goes on.
    virtual void handleStatusWithheld() {}
};

class TransferEngine {
  public:
    TransferEngine(DeviceSlot& device, TimerService& timers, const Clock& clock,
                   LinkListener& listener, RequestSource& source, StatusHandler& status,
                   LinkOptions options = {});

    void resetTransferState();
    // Encodes one request and appends it to the ring. False when the request cannot be
    // encoded (a firmware text over the chunk capacity) or does not fit the free room.
    bool enqueueRequest(std::uint8_t requestCode, int value);
    bool hasRequestToSend() const { return !queueEmpty() && !state_.awaitingAnswer; }
    bool isAwaitingAnswer() const { return state_.awaitingAnswer; }
    void sendNextRequest();
    // True while the exchange is in order (answer handled and matched, an image still
    // arriving, or an answer not yet due); false on any failure. The read waits at most
    // maxWaitMs, and never longer than the configured longest wait.
    bool receiveAnswer(int maxWaitMs = -1);
    // The last receiveAnswer found nothing to read within its wait.
    bool lastReadPending() const { return lastReadPending_; }
    // Why the last receiveAnswer that returned false failed.
    Outcome lastFailure() const { return lastFailure_; }
    // Code of the request at the head of the queue (0 when it is empty): the one a failed
    // write left there.
    std::uint8_t nextRequestCode() const;
    // The rest of a test image (or of a refused one) is still to be read.
    bool receivingImage() const { return state_.awaitingAnswer && !state_.expectAnswerStart; }
    // Runs the handler for the answer's code; true when it matched the last request.
    bool dispatchAnswer(const AnswerView& answer);

    bool queueEmpty() const { return state_.readIndex == state_.writeIndex; }
    std::size_t queuedBytes() const;
    std::size_t freeBytes() const { return kRingSize - 1 - queuedBytes(); }
    BatchState batchState() const { return state_.batchState; }
    void clearBatchState() { state_.batchState = BatchState::Idle; }
    const TransferState& state() const { return state_; }
    const LinkOptions& options() const { return options_; }
    void setAnswerTimeout(int ms) { options_.answerTimeoutMs = ms; }

  private:
    bool append(const Packet& packet);
    bool readFailed(Outcome why);
    bool rejectBadPacket();
    void drainedStep();
    bool receiveFirstPacket(std::size_t size);
    bool receiveContinuation(std::size_t size);

    DeviceSlot& device_;
    TimerService& timers_;
    const Clock& clock_;
    LinkListener& listener_;
    RequestSource& source_;
    StatusHandler& status_;
    LinkOptions options_;
    TransferState state_;
    bool lastReadPending_ = false;
    Outcome lastFailure_ = Outcome::Done;
};

}  // namespace q70::link
