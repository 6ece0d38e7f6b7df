#pragma once

#include <cstdint>

namespace q70::link {

// The window's two timers. Starting a running timer replaces its period.
inline constexpr int kPumpTimer = 1;
inline constexpr int kReconnectTimer = 2;

inline constexpr int kFastPeriodMs = 50;
inline constexpr int kIdlePeriodMs = 1000;
// Due as soon as the event loop has had its turn.
inline constexpr int kAtOncePeriodMs = 0;
inline constexpr int kSlowReconnectPeriodMs = 1500;

class TimerService {
  public:
    virtual ~TimerService() = default;
    virtual void startTimer(int id, int periodMs) = 0;
    virtual void stopTimer(int id) = 0;
};

// Monotonic milliseconds; the link measures the answer timeout with it.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint64_t nowMs() const = 0;
};

}  // namespace q70::link
