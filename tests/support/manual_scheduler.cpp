#include "support/manual_scheduler.hpp"

namespace q70::test {

void ManualScheduler::startTimer(int id, int periodMs) {
    timers_[id] = Timer{periodMs, now_ + static_cast<std::uint64_t>(periodMs)};
    events_.push_back({now_, id, periodMs});
}

void ManualScheduler::stopTimer(int id) {
    timers_.erase(id);
    events_.push_back({now_, id, 0});
}

int ManualScheduler::period(int id) const {
    auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second.periodMs;
}

std::uint64_t ManualScheduler::ticks(int id) const {
    auto it = tickCount_.find(id);
    return it == tickCount_.end() ? 0 : it->second;
}

int ManualScheduler::step() {
    if (timers_.empty()) return 0;
    auto next = timers_.begin();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.dueMs < next->second.dueMs) next = it;
    }
    const int id = next->first;
    if (next->second.dueMs > now_) now_ = next->second.dueMs;
    next->second.dueMs = now_ + static_cast<std::uint64_t>(next->second.periodMs);
    ++tickCount_[id];
    if (handler_) handler_(id);
    return id;
}

void ManualScheduler::advance(std::uint64_t ms) {
    const std::uint64_t end = now_ + ms;
    for (;;) {
        bool due = false;
        for (const auto& [id, t] : timers_) {
            if (t.dueMs <= end) due = true;
        }
        if (!due) break;
        step();
    }
    now_ = end;
}

}  // namespace q70::test
