#include "cli/tick_loop.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

namespace q70::cli {

void Scheduler::startTimer(int id, int periodMs) {
    // Starting a running timer replaces its period and starts the count again. Period 0:
    // due at once, after the ticks already due.
    const int period = std::max(periodMs, 0);
    timers_[id] = Timer{period, nowMs() + static_cast<std::uint64_t>(period)};
}

void Scheduler::stopTimer(int id) {
    timers_.erase(id);
}

bool Scheduler::runNext(std::uint64_t limitMs, const std::function<void(int)>& onTick) {
    // The earliest due timer; at a tie the lower id (timer 1 before timer 2).
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (next == timers_.end() || it->second.dueMs < next->second.dueMs) next = it;
    }
    if (next == timers_.end() || next->second.dueMs > limitMs) {
        if (limitMs != kNoDeadline) waitUntil(limitMs);
        return false;
    }
    const int id = next->first;
    waitUntil(next->second.dueMs);
    // The next tick counts from this one; the handler may set another period or stop it.
    next->second.dueMs = nowMs() + static_cast<std::uint64_t>(next->second.periodMs);
    onTick(id);
    return true;
}

namespace {
std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

SteadyScheduler::SteadyScheduler() : startNs_(steadyNs()) {}

std::uint64_t SteadyScheduler::nowMs() const {
    return static_cast<std::uint64_t>((steadyNs() - startNs_) / 1'000'000);
}

void SteadyScheduler::waitUntil(std::uint64_t ms) {
    const std::uint64_t now = nowMs();
    if (ms > now) std::this_thread::sleep_for(std::chrono::milliseconds(ms - now));
}

}  // namespace q70::cli
