#include "win32/win32_timer_service.hpp"

namespace q70::win32 {

void Win32TimerService::attach(HWND window) {
    window_ = window;
    for (int id = 1; id <= 2; ++id) {
        if (periods_[id - 1] >= 0) startTimer(id, periods_[id - 1]);
    }
}

void Win32TimerService::detach() {
    if (window_ != nullptr) {
        ::KillTimer(window_, 1);
        ::KillTimer(window_, 2);
    }
    window_ = nullptr;
}

void Win32TimerService::startTimer(int id, int periodMs) {
    if (!known(id)) return;
    periods_[id - 1] = periodMs < 0 ? 0 : periodMs;
    // SetTimer on a running id replaces its period, as the link expects.
    if (window_ != nullptr) {
        ::SetTimer(window_, static_cast<UINT_PTR>(id), static_cast<UINT>(periods_[id - 1]),
                   nullptr);
    }
}

void Win32TimerService::stopTimer(int id) {
    if (!known(id)) return;
    periods_[id - 1] = -1;
    if (window_ != nullptr) ::KillTimer(window_, static_cast<UINT_PTR>(id));
}

bool Win32TimerService::isActive(int id) const {
    return known(id) && periods_[id - 1] >= 0;
}

int Win32TimerService::interval(int id) const {
    return known(id) ? periods_[id - 1] : -1;
}

}  // namespace q70::win32
