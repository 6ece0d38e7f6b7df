#pragma once
// The link's clock on the machine's monotonic clock.

#include <chrono>
#include <cstdint>

#include "link/timer_service.hpp"

namespace q70::system {

class SteadyClock : public link::Clock {
  public:
    std::uint64_t nowMs() const override {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start_)
                                              .count());
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace q70::system
