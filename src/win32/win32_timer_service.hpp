#pragma once
// The link's two timers as window timers of the main window: the ticks arrive as WM_TIMER
// and keep coming while a message box, a file dialog or a test-image window runs its own
// modal loop.

#include <windows.h>

#include <array>

#include "link/timer_service.hpp"

namespace q70::win32 {

class Win32TimerService : public link::TimerService {
  public:
    // Timers started before the window exists begin when it is attached.
    void attach(HWND window);
    void detach();

    // Starting a running timer replaces its period. Ids other than 1 and 2 are ignored.
    void startTimer(int id, int periodMs) override;
    void stopTimer(int id) override;

    bool isActive(int id) const;
    int interval(int id) const;  // -1 when the id is unknown or the timer stopped

  private:
    static bool known(int id) { return id == 1 || id == 2; }
    HWND window_ = nullptr;
    std::array<int, 2> periods_{-1, -1};
};

}  // namespace q70::win32
