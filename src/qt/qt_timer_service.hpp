#pragma once
// The link's two timers on QTimer. Ticks are delivered by the Qt event loop that is
// running, also while a file dialog or a question of a user command is open.

#include <QTimer>

#include <array>
#include <functional>

#include "link/timer_service.hpp"

namespace q70::qt {

class QtTimerService : public link::TimerService {
  public:
    QtTimerService();

    // Receives every tick with the timer's id.
    void setHandler(std::function<void(int)> handler) { handler_ = std::move(handler); }

    // Starting a running timer replaces its period. Ids other than 1 and 2 are ignored.
    void startTimer(int id, int periodMs) override;
    void stopTimer(int id) override;

    bool isActive(int id) const;
    int interval(int id) const;  // -1 when the id is unknown

  private:
    QTimer* timer(int id);
    const QTimer* timer(int id) const;

    std::array<QTimer, 2> timers_;
    std::function<void(int)> handler_;
};

}  // namespace q70::qt
