#include "link/connection.hpp"

#include <algorithm>

namespace q70::link {

Connection::Connection(DeviceTransport& transport, TimerService& timers, const Clock& clock,
                       LinkListener& listener, RequestSource& source, LinkOptions options)
    : device_{&transport, false},
      timers_(timers),
      clock_(clock),
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
    const std::uint64_t start = clock_.nowMs();
    if (engine_.hasRequestToSend() && device_.deviceOpen && device_.transport->isOpen()) {
        engine_.sendNextRequest();
    }
    if (engine_.isAwaitingAnswer()) {
        if (!engine_.receiveAnswer()) {
            timers_.stopTimer(kPumpTimer);
            listener_.onExchangeFailed(device_.deviceOpen);
        } else if (engine_.receivingImage()) {
            readImageSlice(start);
        }
    }
    if (engine_.batchState() == BatchState::Drained) {
        engine_.clearBatchState();
        listener_.onQueueDrainedRefresh();
    }
}

// The rest of a test image needs no request of its own, so it is read as fast as the board
// sends it, but for one tick's length at most: then the event loop has its turn and the
// next tick comes at once. Requests keep their pace, as none goes out before the image
// is complete.
void Connection::readImageSlice(std::uint64_t sliceStartMs) {
    const int longest = std::max(engine_.options().maxWaitMs, 0);
    int lastWait = longest;  // the tick's first read had the full wait
    for (int packets = 1; engine_.receivingImage(); ++packets) {
        if (engine_.lastReadPending()) {
            // Nothing came within the full wait: the engine keeps the usual pace. A wait the
            // slice cut short gets its full length at once.
            if (lastWait < longest) timers_.startTimer(kPumpTimer, kAtOncePeriodMs);
            return;
        }
        const std::uint64_t now = clock_.nowMs();
        const std::uint64_t used = now >= sliceStartMs ? now - sliceStartMs : 0;
        if (used >= static_cast<std::uint64_t>(longest) || packets >= kImageSlicePackets) {
            timers_.startTimer(kPumpTimer, kAtOncePeriodMs);
            return;
        }
        lastWait = longest - static_cast<int>(used);
        if (!engine_.receiveAnswer(lastWait)) {
            timers_.stopTimer(kPumpTimer);
            listener_.onExchangeFailed(device_.deviceOpen);
            return;
        }
    }
}

void Connection::reconnect() {
    if (device_.deviceOpen && device_.transport->isOpen()) return;
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
