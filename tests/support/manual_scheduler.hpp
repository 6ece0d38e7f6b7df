#pragma once
// A manual clock with the window's timers on it: tests advance time and the due
// timers fire in order, exactly as the platform would deliver their ticks.

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "link/timer_service.hpp"

namespace q70::test {

class ManualScheduler : public link::TimerService, public link::Clock {
  public:
    struct Event {
        std::uint64_t atMs;
        int id;
        int periodMs;  // 0 for a stop
    };

    void startTimer(int id, int periodMs) override;
    void stopTimer(int id) override;
    std::uint64_t nowMs() const override { return now_; }

    // The handler that receives each tick (usually the controller's or connection's onTimer).
    void setHandler(std::function<void(int)> handler) { handler_ = std::move(handler); }

    // Fires every tick due up to now + ms, in time order (timer 1 before timer 2 at a tie).
    void advance(std::uint64_t ms);
    // Fires the next due tick only; returns its timer id, or 0 when no timer runs.
    int step();
    // Moves the clock without firing anything (time spent inside a blocking call).
    void elapse(std::uint64_t ms) { now_ += ms; }

    bool running(int id) const { return timers_.count(id) != 0; }
    int period(int id) const;
    std::uint64_t ticks(int id) const;
    const std::vector<Event>& events() const { return events_; }

  private:
    struct Timer {
        int periodMs;
        std::uint64_t dueMs;
    };
    std::uint64_t now_ = 0;
    std::map<int, Timer> timers_;
    std::map<int, std::uint64_t> tickCount_;
    std::vector<Event> events_;
    std::function<void(int)> handler_;
};

}  // namespace q70::test
