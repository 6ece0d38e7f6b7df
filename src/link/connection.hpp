#pragma once
// The connection to the board for the life of the main window: opening, reopening,
// the timer 1 pump, the timer 2 reconnect and the status poll.

#include <cstdint>

#include "link/engine.hpp"
#include "link/listener.hpp"
#include "link/timer_service.hpp"
#include "link/transport.hpp"

namespace q70::link {

// Packets of one test image read in a single pump tick at most, beside the time bound.
inline constexpr int kImageSlicePackets = 64;

class Connection : private StatusHandler {
  public:
    Connection(DeviceTransport& transport, TimerService& timers, const Clock& clock,
               LinkListener& listener, RequestSource& source, LinkOptions options = {});

    TransferEngine& engine() { return engine_; }
    const TransferEngine& engine() const { return engine_; }

    // Start steps 2 and 3: (re)open the device; on failure the open-failure message is
    // shown and deviceOpen cleared. Returns whether the device is open.
    bool openAtStart();
    // Timers 1 and 2 at 50 ms.
    void startTimers();
    // The eight reads, in read form.
    void queueStartSequence();
    // restartLink, first step (before the language is switched): both timers stop.
    void suspend();
    // restartLink, second step: timers at 50 ms and a fresh start sequence behind
    // whatever is still queued.
    void resume();
    void stopLink();

    void onTimer(int timerId);

    bool deviceOpen() const { return device_.deviceOpen; }
    const StatusRecord& lastStatus() const { return status_; }

  private:
    void handleStatus(const AnswerView& answer) override;
    void pump();
    void readImageSlice(std::uint64_t sliceStartMs);
    void reconnect();

    DeviceSlot device_;
    TimerService& timers_;
    const Clock& clock_;
    LinkListener& listener_;
    TransferEngine engine_;
    StatusRecord status_;
};

}  // namespace q70::link
