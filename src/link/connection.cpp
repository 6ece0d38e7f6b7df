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
    listener_.showMessage(device_.transport->openProblem().busy ? LinkMessage::DeviceBusy
                                                                : LinkMessage::USBOpenError);
    return false;
}

void Connection::startTimers() {
    timers_.startTimer(kPumpTimer, kFastPeriodMs);
    timers_.startTimer(kReconnectTimer, kFastPeriodMs);
}

bool Connection::queueStartSequence() {
    // All eight or none: a start sequence cut short would leave the panel closed for good.
    const std::size_t room = kStartSequence.size() * encodeBare(code::GetStatus).size;
    if (engine_.freeBytes() < room) return false;
    for (const std::uint8_t c : kStartSequence) engine_.enqueueRequest(c, 0);
    return true;
}

void Connection::suspend() {
    timers_.stopTimer(kPumpTimer);
    timers_.stopTimer(kReconnectTimer);
}

void Connection::resume() {
    startTimers();
    // A ring too full to take the reads holds nothing worth more than a working link.
    if (!queueStartSequence()) restart();
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
    if (statusOwed_ && !listener_.isFirmwareUpdating()) queueNextStatus();
    if (engine_.hasRequestToSend() && device_.deviceOpen && device_.transport->isOpen()) {
        // Both timers may fall due in one turn, the pump's first: a removal already told
        // must not wait for timer 2 while a request goes out into the void.
        if (!device_.transport->stillThere()) {
            boardRemoved();
            return;
        }
        engine_.sendNextRequest();
        if (!device_.deviceOpen) {
            // The write failed: the board is away until timer 2 has reopened it.
            answerFailed(Outcome::Lost, engine_.nextRequestCode());
            return;
        }
    }
    if (engine_.isAwaitingAnswer()) {
        if (!engine_.receiveAnswer()) {
            answerFailed(engine_.lastFailure(), engine_.state().lastCommand);
        } else if (engine_.receivingImage()) {
            readImageSlice(start);
        }
    }
    if (engine_.batchState() == BatchState::Drained) {
        engine_.clearBatchState();
        // Nothing is refreshed from a link that has just failed; the restart will.
        if (!restartPending_) listener_.onQueueDrainedRefresh();
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
            answerFailed(engine_.lastFailure(), engine_.state().lastCommand);
            return;
        }
    }
}

void Connection::answerFailed(Outcome why, std::uint8_t request) {
    timers_.stopTimer(kPumpTimer);
    linkFailed();
    listener_.onExchangeFailed(device_.deviceOpen && device_.transport->isOpen(), why, request);
}

void Connection::linkFailed() {
    if (restartPending_) return;
    restartPending_ = true;
    restartAtMs_ = clock_.nowMs() + kRestartDelayMs;
}

void Connection::restart() {
    restartPending_ = false;
    statusOwed_ = false;
    engine_.resetTransferState();
    timers_.startTimer(kPumpTimer, kFastPeriodMs);
    queueStartSequence();
    listener_.onLinkRestarted();
}

// Told of the removal before a poll found it: a failed read now, rather than a failed
// write at the next poll. The user is told, and the link starts again once the board is
// back.
void Connection::boardRemoved() {
    device_.transport->close();
    engine_.receiveAnswer();  // fails on the closed handle
    answerFailed(Outcome::Lost, engine_.state().lastCommand);
}

void Connection::reconnect() {
    if (device_.deviceOpen && device_.transport->isOpen()) {
        if (!device_.transport->stillThere()) {
            boardRemoved();
            return;
        }
        // The board is there but its last exchange failed: start again after a pause.
        if (restartPending_ && clock_.nowMs() >= restartAtMs_) restart();
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
    if (restartPending_) restart();
}

void Connection::resumePoll() {
    queueNextStatus();
    timers_.startTimer(kPumpTimer, kFastPeriodMs);
}

void Connection::queueNextStatus() {
    statusOwed_ = !engine_.enqueueRequest(code::GetStatus, 0);
}

void Connection::handleStatus(const AnswerView& answer) {
    timers_.stopTimer(kPumpTimer);
    status_ = decodeStatus(answer);
    if (reactionTo(status_.deviceState) == StateReaction::FetchTestImage) {
        // Without room the board is asked again at the next status, which still offers it.
        engine_.enqueueRequest(code::GetTestImage, 0);
        timers_.startTimer(kPumpTimer, kFastPeriodMs);
    }
    listener_.onDeviceState(status_.deviceState);
    if (listener_.isFirmwareUpdating()) {
        timers_.startTimer(kPumpTimer, kFastPeriodMs);
        return;
    }
    pollAgain();
}

void Connection::handleStatusWithheld() {
    // The board said nothing about its state this time; ask again a second later.
    if (listener_.isFirmwareUpdating()) return;
    timers_.stopTimer(kPumpTimer);
    pollAgain();
}

// The next status a second on when nothing else waits, else at the fast pace.
void Connection::pollAgain() {
    const bool wasEmpty = engine_.queueEmpty();
    queueNextStatus();
    timers_.startTimer(kPumpTimer, wasEmpty && !statusOwed_ ? kIdlePeriodMs : kFastPeriodMs);
}

}  // namespace q70::link
