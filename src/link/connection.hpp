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
    // The eight reads, in read form; false (nothing queued) when the ring lacks the room.
    bool queueStartSequence();
    // restartLink, first step (before the language is switched): both timers stop.
    void suspend();
    // restartLink, second step: timers at 50 ms and a fresh start sequence behind
    // whatever is still queued.
    void resume();
    void stopLink();
    // Queues a status request unless one is already owed; timer 1 at the fast pace.
    void resumePoll();

    void onTimer(int timerId);

    bool deviceOpen() const { return device_.deviceOpen; }
    // An exchange failed and the link has not been restarted since: the board's state is
    // unknown until the start sequence has run again.
    bool linkDown() const { return restartPending_; }
    const StatusRecord& lastStatus() const { return status_; }
    // Why the last open failed (a board held by another program, and by whom).
    OpenProblem openProblem() const { return device_.transport->openProblem(); }

  private:
    void handleStatus(const AnswerView& answer) override;
    void handleStatusWithheld() override;
    void queueNextStatus();
    void pollAgain();
    void pump();
    void readImageSlice(std::uint64_t sliceStartMs);
    // An exchange failed or the board went away: timer 1 stops and the link starts again.
    void answerFailed(Outcome why, std::uint8_t request);
    void reconnect();
    void boardRemoved();
    void linkFailed();
    // As on the first start: a clean ring, both timers fast, the eight reads.
    void restart();

    DeviceSlot device_;
    TimerService& timers_;
    const Clock& clock_;
    LinkListener& listener_;
    TransferEngine engine_;
    StatusRecord status_;
    bool restartPending_ = false;
    std::uint64_t restartAtMs_ = 0;
    // A status request the ring could not take: queued once there is room.
    bool statusOwed_ = false;
};

// How long a board that is still there but answered wrongly is left alone before the
// link starts again, so that a board that keeps failing is not hammered.
inline constexpr int kRestartDelayMs = 1500;

}  // namespace q70::link
