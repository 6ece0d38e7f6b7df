#include "link/connection.hpp"

namespace q70::link {

Connection::Connection(DeviceTransport& transport, TimerService& timers, const Clock& clock,
                       LinkListener& listener, RequestSource& source, LinkOptions options)
    : device_{&transport, false},
      timers_(timers),
      listener_(listener),
      engine_(device_, timers, clock, listener, source, *this, options) {}

bool Connection::openAtStart() {
    device_.transport->close();
    if (device_.transport->open()) {
        device_.deviceOpen = true;
        return true;
    }
    device_.deviceOpen = false;
    listener_.showMessage(LinkMessage::USBOpenError);
    return false;
}

void Connection::startTimers() {
    timers_.startTimer(kPumpTimer, kFastPeriodMs);
    timers_.startTimer(kReconnectTimer, kFastPeriodMs);
}

void Connection::queueStartSequence() {
    for (const std::uint8_t c : kStartSequence) engine_.enqueueRequest(c, 0);
}

void Connection::suspend() {
    timers_.stopTimer(kPumpTimer);
    timers_.stopTimer(kReconnectTimer);
}

void Connection::resume() {
    startTimers();
    queueStartSequence();
}

void Connection::stopLink() {
    timers_.stopTimer(kPumpTimer);
    timers_.stopTimer(kReconnectTimer);
}

void Connection::onTimer(int timerId) {
    if (timerId == kPumpTimer) {
        pump();
    } else if (timerId == kReconnectTimer) {
        reconnect();
    }
}

void Connection::pump() {
    if (engine_.hasRequestToSend() && device_.deviceOpen && device_.transport->isOpen()) {
        engine_.sendNextRequest();
    }
    if (engine_.isAwaitingAnswer() && !engine_.receiveAnswer()) {
        timers_.stopTimer(kPumpTimer);
        listener_.onExchangeFailed(device_.deviceOpen);
    }
    if (engine_.batchState() == BatchState::Drained) {
        engine_.clearBatchState();
        listener_.onQueueDrainedRefresh();
    }
}

void Connection::reconnect() {
    if (device_.deviceOpen && device_.transport->isOpen()) {
        if (device_.transport->stillThere()) return;
        // Told of the removal before a poll found it: a failed read, now rather than at
        // the next poll (whose write would fail without a word). The user is told, the
        // queue is kept, and the board is reopened as soon as it is back.
        device_.transport->close();
        engine_.receiveAnswer();  // fails on the closed handle
        timers_.stopTimer(kPumpTimer);
        listener_.onExchangeFailed(device_.deviceOpen);
        return;
    }
    // After a failed write the handle is still open; start from a clean one.
    device_.transport->close();
    if (!device_.transport->open()) {
        device_.deviceOpen = false;
        return;
    }
    device_.deviceOpen = true;
    timers_.startTimer(kReconnectTimer, kFastPeriodMs);
}

void Connection::handleStatus(const AnswerView& answer) {
    timers_.stopTimer(kPumpTimer);
    status_ = decodeStatus(answer);
    if (reactionTo(status_.deviceState) == StateReaction::FetchTestImage) {
        engine_.enqueueRequest(code::GetTestImage, 0);
        timers_.startTimer(kPumpTimer, kFastPeriodMs);
    }
    listener_.onDeviceState(status_.deviceState);
    if (listener_.isFirmwareUpdating()) {
        timers_.startTimer(kPumpTimer, kFastPeriodMs);
        return;
    }
    const bool wasEmpty = engine_.queueEmpty();
    engine_.enqueueRequest(code::GetStatus, 0);
    timers_.startTimer(kPumpTimer, wasEmpty ? kIdlePeriodMs : kFastPeriodMs);
}

}  // namespace q70::link
