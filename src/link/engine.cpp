#include "link/engine.hpp"

#include <algorithm>
#include <cstring>

namespace q70::link {

TransferEngine::TransferEngine(DeviceSlot& device, TimerService& timers, const Clock& clock,
                               LinkListener& listener, RequestSource& source, StatusHandler& status,
                               LinkOptions options)
    : device_(device),
      timers_(timers),
      clock_(clock),
      listener_(listener),
      source_(source),
      status_(status),
      options_(options) {}

void TransferEngine::resetTransferState() {
    state_.readIndex = 0;
    state_.writeIndex = 0;
    state_.awaitingAnswer = false;
    state_.expectAnswerStart = true;
    state_.batchState = BatchState::Idle;
    state_.imageRemaining = 0;
    state_.discardRemaining = 0;
    state_.imageBuffer = {};
    state_.imageCursor = 0;
    listener_.onTransferReset();
}

std::size_t TransferEngine::queuedBytes() const {
    return (state_.writeIndex + kRingSize - state_.readIndex) % kRingSize;
}

std::uint8_t TransferEngine::nextRequestCode() const {
    return queuedBytes() > 4 ? state_.ring[(state_.readIndex + 4) % kRingSize] : 0;
}

bool TransferEngine::append(const Packet& packet) {
    if (packet.empty() || packet.size > freeBytes()) return false;
    for (std::size_t i = 0; i < packet.size; ++i) {
        state_.ring[state_.writeIndex] = packet.bytes[i];
        state_.writeIndex = (state_.writeIndex + 1) % kRingSize;
    }
    return true;
}

bool TransferEngine::enqueueRequest(std::uint8_t requestCode, int value) {
    Packet packet;
    bool lastChunk = false;
    if (requestCode == code::GetTestImage) {
        packet = encodeWithByte(requestCode, static_cast<std::uint8_t>(value & 0xFF));
    } else if (requestCode == code::SetDateTime) {
        packet = value == 0 ? encodeBare(requestCode) : encodeSetDateTime(source_.pickedDateTime());
    } else if (isSettingCode(requestCode)) {
        packet = value == 0
                     ? encodeBare(requestCode)
                     : encodeWithByte(requestCode, source_.settingValueForWrite(requestCode));
    } else if (requestCode == code::FirmwareData) {
        if (value == 1) {
            packet = encodeFirmwareData(firmware_sub::Start, source_.firmwarePath());
        } else {
            lastChunk = source_.firmwareChunkReachesEnd();
            packet = encodeFirmwareData(lastChunk ? firmware_sub::LastChunk : firmware_sub::Chunk,
                                        source_.firmwareChunk());
        }
    } else {
        packet = encodeBare(requestCode);
    }

    if (!append(packet)) return false;
    if (lastChunk) source_.setLastChunkQueued();
    // While an answer is outstanding (a test image may be arriving) the framing of that
    // answer must stay as it is; the new request simply waits its turn in the ring.
    if (!state_.awaitingAnswer) state_.expectAnswerStart = true;
    state_.batchState = BatchState::Queued;
    return true;
}

void TransferEngine::sendNextRequest() {
    if (queueEmpty()) return;
    auto ringAt = [&](std::size_t i) { return state_.ring[(state_.readIndex + i) % kRingSize]; };
    const std::uint32_t length = static_cast<std::uint32_t>(ringAt(0)) |
                                 (static_cast<std::uint32_t>(ringAt(1)) << 8) |
                                 (static_cast<std::uint32_t>(ringAt(2)) << 16) |
                                 (static_cast<std::uint32_t>(ringAt(3)) << 24);
    // Only our encoders fill the ring, so a packet always fits the queued bytes.
    const std::size_t total =
        std::min<std::size_t>(length + std::size_t{kLengthFieldSize}, queuedBytes());
    for (std::size_t i = 0; i < total; ++i) state_.sendBuffer[i] = ringAt(i);

    if (device_.transport == nullptr ||
        !device_.transport->writePacket({state_.sendBuffer.data(), total})) {
        // The packet stays queued and goes out again once the device is reopened.
        device_.deviceOpen = false;
        return;
    }
    state_.readIndex = (state_.readIndex + total) % kRingSize;
    state_.expectAnswerStart = true;
    state_.awaitingAnswer = true;
    state_.lastCommand = total > 4 ? state_.sendBuffer[4] : 0;
    state_.lastActivityMs = clock_.nowMs();
}

void TransferEngine::drainedStep() {
    state_.batchState = BatchState::Drained;
    timers_.stopTimer(kPumpTimer);
    timers_.startTimer(kPumpTimer, kIdlePeriodMs);
}

bool TransferEngine::readFailed(Outcome why) {
    lastFailure_ = why;
    // Whatever was arriving is lost with the device; the next answer starts afresh.
    state_.imageBuffer = {};
    state_.imageRemaining = 0;
    state_.discardRemaining = 0;
    state_.expectAnswerStart = true;
    state_.awaitingAnswer = false;
    if (device_.transport != nullptr) device_.transport->close();
    if (state_.lastCommand == code::FirmwareData) {
        listener_.onFirmwareLinkLost();
        timers_.startTimer(kReconnectTimer, kSlowReconnectPeriodMs);
        return false;
    }
    if (queueEmpty()) drainedStep();
    listener_.showMessage(LinkMessage::ReceivePktError);
    return false;
}

bool TransferEngine::rejectBadPacket() {
    lastFailure_ = Outcome::BadAnswer;
    state_.awaitingAnswer = false;
    listener_.showMessage(LinkMessage::ReceiveBadPkt);
    return false;
}

bool TransferEngine::receiveAnswer(int maxWaitMs) {
    lastReadPending_ = false;
    if (device_.transport == nullptr || !device_.transport->isOpen()) {
        return readFailed(Outcome::Lost);
    }

    const std::uint64_t now = clock_.nowMs();
    const std::uint64_t waited = now >= state_.lastActivityMs ? now - state_.lastActivityMs : 0;
    const auto timeout = static_cast<std::uint64_t>(std::max(options_.answerTimeoutMs, 0));
    const std::uint64_t left = waited < timeout ? timeout - waited : 0;
    const int longest =
        maxWaitMs < 0 ? options_.maxWaitMs : std::min(maxWaitMs, options_.maxWaitMs);
    const int wait = static_cast<int>(std::min<std::uint64_t>(left, std::max(longest, 0)));

    const ReadResult r = device_.transport->readPacket(state_.receiveBuffer, wait);
    if (r.status == ReadStatus::Failed) return readFailed(Outcome::Lost);
    if (r.status == ReadStatus::Pending) {
        lastReadPending_ = true;
        const std::uint64_t later = clock_.nowMs();
        if (later >= state_.lastActivityMs && later - state_.lastActivityMs >= timeout) {
            return readFailed(Outcome::TimedOut);
        }
        // Keep looking for the answer at the fast pace, whatever the poll period was.
        timers_.startTimer(kPumpTimer, kFastPeriodMs);
        return true;
    }
    state_.lastActivityMs = clock_.nowMs();
    const std::size_t size = std::min(r.size, kPacketSize);
    // Bytes the board did not send read as 0, never as a stale earlier packet.
    std::fill(state_.receiveBuffer.begin() + static_cast<std::ptrdiff_t>(size),
              state_.receiveBuffer.end(), std::uint8_t{0});
    return state_.expectAnswerStart ? receiveFirstPacket(size) : receiveContinuation(size);
}

bool TransferEngine::receiveFirstPacket(std::size_t size) {
    state_.imageRemaining = 0;
    if (size <= kLengthFieldSize) return rejectBadPacket();

    const std::uint32_t length = readLength(state_.receiveBuffer);
    if (length == 0) return rejectBadPacket();

    if (length <= kMaxSinglePacketLength) {
        // What the board did not send would read as zeros it never meant.
        if (size < kLengthFieldSize + length) {
            listener_.onShortAnswer(length, size);
            return rejectBadPacket();
        }
        state_.answerBuffer = state_.receiveBuffer;
        const AnswerView answer(state_.answerBuffer, length);
        const bool matched = dispatchAnswer(answer);
        state_.awaitingAnswer = false;
        if (!matched) {
            lastFailure_ = Outcome::BadAnswer;
            return false;
        }
        if (queueEmpty()) drainedStep();
        return true;
    }

    // A test image: its first packet must be full, or the missing bytes would come out as
    // blank scan lines, as with a short continuation packet.
    if (size < kPacketSize) return rejectBadPacket();
    const TestImageHeader header = decodeTestImageHeader(state_.receiveBuffer, length);
    state_.imageBuffer = {};
    // A picture with no pixels would be saved as an empty bitmap and taken for a success.
    const bool empty = header.width == 0 || header.bytesPerLine == 0;
    if (empty || header.dataSize > kMaxImageBytes || header.bitmapBytes() > kMaxImageBytes) {
        // Too large to hold or empty: refuse it, but read its tail away so the framing holds.
        listener_.onTestImageRefused(header);
        state_.discardRemaining = static_cast<std::uint64_t>(length) - kMaxSinglePacketLength;
        state_.expectAnswerStart = false;
        listener_.showMessage(LinkMessage::ReceiveBadPkt);
        return true;
    }
    state_.imageRemaining = length - kMaxSinglePacketLength;
    listener_.onTestImageHeader(header);
    state_.imageBuffer.assign(header.dataSize, 0);
    std::memcpy(state_.imageBuffer.data(), state_.receiveBuffer.data() + 10, kFirstImagePacketData);
    state_.imageCursor = kFirstImagePacketData;
    state_.expectAnswerStart = false;
    return true;
}

bool TransferEngine::receiveContinuation(std::size_t size) {
    if (state_.discardRemaining > 0) {
        const std::uint64_t n = std::min<std::uint64_t>(state_.discardRemaining, kPacketSize);
        state_.discardRemaining -= n;
        if (state_.discardRemaining > 0) return true;
        // The rejected image is gone; the exchange ends as failed (timer 1 stops).
        state_.expectAnswerStart = true;
        state_.awaitingAnswer = false;
        lastFailure_ = Outcome::BadAnswer;
        return false;
    }

    // A packet shorter than the image bytes it must carry ends the transfer early: what is
    // missing would come out as blank scan lines, and the picture saved over the last good
    // one. The image is dropped as a bad packet instead.
    if (size < std::min<std::size_t>(state_.imageRemaining, kPacketSize)) {
        state_.imageBuffer = {};
        state_.imageRemaining = 0;
        state_.imageCursor = 0;
        state_.expectAnswerStart = true;
        return rejectBadPacket();
    }

    if (state_.imageRemaining > kPacketSize) {
        std::memcpy(state_.imageBuffer.data() + state_.imageCursor, state_.receiveBuffer.data(),
                    kPacketSize);
        state_.imageCursor += kPacketSize;
        state_.imageRemaining -= kPacketSize;
        return true;
    }

    std::memcpy(state_.imageBuffer.data() + state_.imageCursor, state_.receiveBuffer.data(),
                state_.imageRemaining);
    state_.imageCursor += state_.imageRemaining;
    state_.imageRemaining = 0;
    state_.expectAnswerStart = true;
    state_.awaitingAnswer = false;
    if (queueEmpty()) drainedStep();
    // Everything is final before the window opens: the buffer leaves the engine and the
    // pump goes on at the fast pace while the picture is shown.
    std::vector<std::uint8_t> data = std::move(state_.imageBuffer);
    state_.imageBuffer = {};
    state_.imageCursor = 0;
    timers_.startTimer(kPumpTimer, kFastPeriodMs);
    listener_.onTestImageComplete(std::move(data));
    return true;
}

bool TransferEngine::dispatchAnswer(const AnswerView& answer) {
    const std::uint8_t c = answer.code();
    switch (c) {
        case code::Acknowledge:
            listener_.onAcknowledgement(state_.lastCommand);
            break;
        case code::GetDeviceInfo:
            listener_.onDeviceInfo(decodeDeviceInfo(answer));
            break;
        case code::GetStatus:
            status_.handleStatus(answer);
            break;
        case code::PrintMode:
        case code::SaveMode:
        case code::Paper:
        case code::Margin:
        case code::TimeStamp:
            listener_.onSettingReport(c, answer.at(5));
            break;
        case code::GetFirmwareVersion:
            listener_.onFirmwareVersion(answer.text(5));
            break;
        case code::FirmwareData:
            listener_.onFirmwareContinue();
            break;
        case code::Continue:
            if (state_.lastCommand == code::FirmwareData) listener_.onFirmwareContinue();
            break;
        default:
            break;
    }
    const bool matched = c == state_.lastCommand || c == code::Acknowledge || c == code::NoAction ||
                         c == code::Continue;
    if (matched && state_.lastCommand == code::GetStatus && c != code::GetStatus) {
        status_.handleStatusWithheld();
    }
    listener_.onAnswerDispatched(state_.lastCommand, c, matched);
    return matched;
}

}  // namespace q70::link
