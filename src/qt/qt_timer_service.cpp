#include "qt/qt_timer_service.hpp"

#include <algorithm>

namespace q70::qt {

QtTimerService::QtTimerService() {
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        const int id = static_cast<int>(i) + 1;
        // The link's periods are short and exact; a coarse timer would drift by up to 5 %.
        timers_[i].setTimerType(Qt::PreciseTimer);
        QObject::connect(&timers_[i], &QTimer::timeout, [this, id] {
            if (handler_) handler_(id);
        });
    }
}

QTimer* QtTimerService::timer(int id) {
    if (id < 1 || id > static_cast<int>(timers_.size())) return nullptr;
    return &timers_[static_cast<std::size_t>(id - 1)];
}

const QTimer* QtTimerService::timer(int id) const {
    return const_cast<QtTimerService*>(this)->timer(id);
}

void QtTimerService::startTimer(int id, int periodMs) {
    if (QTimer* t = timer(id)) t->start(std::max(periodMs, 0));
}

void QtTimerService::stopTimer(int id) {
    if (QTimer* t = timer(id)) t->stop();
}

bool QtTimerService::isActive(int id) const {
    const QTimer* t = timer(id);
    return t != nullptr && t->isActive();
}

int QtTimerService::interval(int id) const {
    const QTimer* t = timer(id);
    return t != nullptr ? t->interval() : -1;
}

}  // namespace q70::qt
