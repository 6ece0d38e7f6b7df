#pragma once
// The window's two timers without a window: a scheduler that delivers their ticks at the
// real periods, in time order, and the clock the link measures its timeouts with.

#include <cstdint>
#include <functional>
#include <limits>
#include <map>

#include "link/timer_service.hpp"

namespace q70::cli {

inline constexpr std::uint64_t kNoDeadline = std::numeric_limits<std::uint64_t>::max();

class Scheduler : public link::TimerService, public link::Clock {
  public:
    void startTimer(int id, int periodMs) override;
    void stopTimer(int id) override;
    bool running(int id) const { return timers_.count(id) != 0; }

    // Waits for the next due tick and delivers it to `onTick`; when no tick falls due by
    // `limitMs`, waits until then instead. Returns whether a tick was delivered.
    bool runNext(std::uint64_t limitMs, const std::function<void(int)>& onTick);
    // Waits until `ms` without delivering any tick.
    void sleepUntil(std::uint64_t ms) { waitUntil(ms); }

  protected:
    // Returns at `ms` on this scheduler's clock (or at once when that has passed).
    virtual void waitUntil(std::uint64_t ms) = 0;

  private:
    struct Timer {
        int periodMs;
        std::uint64_t dueMs;
    };
    std::map<int, Timer> timers_;
};

// Real time: sleeps on std::chrono::steady_clock.
class SteadyScheduler : public Scheduler {
  public:
    SteadyScheduler();
    std::uint64_t nowMs() const override;

  protected:
    void waitUntil(std::uint64_t ms) override;

  private:
    std::int64_t startNs_;
};

// Time that passes only when asked: a wait moves the clock at once. The same loop and the
// same tick order as real time, without sleeping; the board in this process keeps time by it.
class VirtualScheduler : public Scheduler {
  public:
    std::uint64_t nowMs() const override { return now_; }
    void elapse(std::uint64_t ms) { now_ += ms; }

  protected:
    void waitUntil(std::uint64_t ms) override {
        if (ms > now_) now_ = ms;
    }

  private:
    std::uint64_t now_ = 0;
};

}  // namespace q70::cli
