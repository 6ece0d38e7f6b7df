#include "sim/simulated_board.hpp"

#include <algorithm>
#include <utility>

#include "firmware/srecord.hpp"
#include "testimage/encoder.hpp"

namespace q70::sim {

using link::Packet;
using link::Request;
namespace code = link::code;

std::uint8_t* BoardSettings::byCode(std::uint8_t settingCode) {
    return const_cast<std::uint8_t*>(std::as_const(*this).byCode(settingCode));
}

const std::uint8_t* BoardSettings::byCode(std::uint8_t settingCode) const {
    switch (settingCode) {
        case code::PrintMode:
            return &printMode;
        case code::SaveMode:
            return &saveMode;
        case code::Paper:
            return &paper;
        case code::Margin:
            return &margin;
        case code::TimeStamp:
            return &timeStamp;
        default:
            return nullptr;
    }
}

SimulatedBoard::SimulatedBoard(const link::Clock& clock, BoardOptions options)
    : clock_(clock),
      options_(std::move(options)),
      settings_(options_.settings),
      dateTime_(options_.dateTime),
      version_(options_.version) {
    if (options_.firstImageAfterMs) nextOfferAt_ = clock_.nowMs() + *options_.firstImageAfterMs;
    for (const Fault& f : options_.faults) addFault(f);
    if (options_.loseAfterPackets > 0)
        loseAfterPackets(options_.loseAfterPackets, options_.loseDownMs);
}

void SimulatedBoard::advanceTime() {
    const std::uint64_t now = clock_.nowMs();
    if (!present_ && backAt_ && now >= *backAt_) replug();
    if (nextOfferAt_ && now >= *nextOfferAt_) {
        imageOffered_ = true;
        if (options_.imageEveryMs > 0) {
            // After a long pause offer once, not once per missed period.
            while (*nextOfferAt_ <= now) *nextOfferAt_ += options_.imageEveryMs;
        } else {
            nextOfferAt_.reset();
        }
    }
}

bool SimulatedBoard::present() {
    advanceTime();
    return present_;
}

void SimulatedBoard::connect() {
    answers_.clear();
    imagePacketsLeft_ = 0;
}

void SimulatedBoard::disconnect() {
    // An image cut short stays offered: the host will ask for it again.
    answers_.clear();
    imagePacketsLeft_ = 0;
}

void SimulatedBoard::vanish(std::uint32_t downMs) {
    present_ = false;
    ++epoch_;
    answers_.clear();
    imagePacketsLeft_ = 0;
    loseAfterAnswers_.reset();
    // The transfer under way is lost with the link; the host starts over.
    firmwareActive_ = false;
    backAt_ = downMs > 0 ? std::optional<std::uint64_t>(clock_.nowMs() + downMs) : std::nullopt;
}

void SimulatedBoard::unplug(std::uint32_t downMs) {
    if (present_) vanish(downMs);
}

void SimulatedBoard::replug() {
    present_ = true;
    backAt_.reset();
}

void SimulatedBoard::offerTestImage() {
    imageOffered_ = true;
}

void SimulatedBoard::addFault(const Fault& fault) {
    faults_.push_back({fault, 0, 0});
}

void SimulatedBoard::clearFaults() {
    faults_.clear();
    loseAtPacket_ = 0;
}

void SimulatedBoard::loseAfterPackets(std::uint64_t packetsFromNow, std::uint32_t downMs) {
    loseAtPacket_ = packetsFromNow > 0 ? packets_ + packetsFromNow : 0;
    loseAtPacketDownMs_ = downMs;
}

void SimulatedBoard::countPacket() {
    ++packets_;
    if (loseAtPacket_ != 0 && packets_ == loseAtPacket_) {
        loseAtPacket_ = 0;
        vanish(loseAtPacketDownMs_);
    }
}

std::uint8_t SimulatedBoard::deviceState() {
    advanceTime();
    if (imageOffered_) return 0;
    if (clock_.nowMs() < busyUntil_) return options_.busyState;
    return 1;
}

void SimulatedBoard::beginBusy() {
    if (options_.busyMs > 0) busyUntil_ = clock_.nowMs() + options_.busyMs;
}

const Fault* SimulatedBoard::strikingFault(const Request& request, bool decoded) {
    for (FaultState& s : faults_) {
        const Fault& f = s.fault;
        if (f.requestCode >= 0 && (!decoded || request.code != f.requestCode)) continue;
        if (f.fromRequest > 0 && requests_ < f.fromRequest) continue;
        if (s.seen < f.skip) {
            ++s.seen;
            continue;
        }
        if (f.times != 0 && s.struck >= f.times) continue;
        ++s.struck;
        return &f;
    }
    return nullptr;
}

bool SimulatedBoard::receive(std::span<const std::uint8_t> packet) {
    advanceTime();
    if (!present_) return false;
    ++requests_;
    if (observer_) observer_(packet);

    Request request;
    const bool decoded = link::decodeRequest(packet, request);
    const Fault* fault = strikingFault(request, decoded);
    countPacket();
    if (!present_) return true;  // the request was the last packet before a loss

    if (fault == nullptr) {
        if (decoded) {
            carryOut(request);
        } else {
            answerCode(code::NoAction);
        }
        return true;
    }

    const std::uint8_t requestCode = decoded ? request.code : 0;
    switch (fault->kind) {
        case FaultKind::AnswerNoAction:
            answerCode(code::NoAction);
            break;
        case FaultKind::AnswerContinue:
            answerCode(code::Continue);
            break;
        case FaultKind::ShortPacket: {
            Packet p = link::encodeAnswer(requestCode);
            p.size = std::clamp<std::size_t>(fault->shortSize, 1, 4);
            answer(p);
            break;
        }
        case FaultKind::MismatchedCode: {
            std::uint8_t c = fault->answerCode;
            // Make sure the answer really is mismatched whatever the rule said.
            if (c == requestCode || c == code::Acknowledge || c == code::NoAction ||
                c == code::Continue) {
                c = requestCode == 3 ? 7 : 3;
            }
            answer(readAnswerFor(c));
            break;
        }
        case FaultKind::Silence:
            break;
        case FaultKind::Forget:
            answerCode(code::Acknowledge);
            break;
        case FaultKind::Lose:
            if (fault->answerPackets == 0) {
                vanish(fault->downMs);
            } else {
                if (decoded) carryOut(request);
                loseAfterAnswers_ = fault->answerPackets;
                pendingDownMs_ = fault->downMs;
            }
            break;
    }
    return true;
}

bool SimulatedBoard::nextAnswer(Packet& out) {
    advanceTime();
    if (!present_ || answers_.empty()) return false;
    out = answers_.front();
    answers_.pop_front();
    if (imagePacketsLeft_ > 0 && --imagePacketsLeft_ == 0) {
        imageOffered_ = false;
        ++imagesSent_;
    }
    countPacket();
    if (present_ && loseAfterAnswers_ && --*loseAfterAnswers_ == 0) vanish(pendingDownMs_);
    return true;
}

Packet SimulatedBoard::readAnswerFor(std::uint8_t c) {
    switch (c) {
        case code::GetDeviceInfo: {
            link::DeviceInfo info;
            info.deviceType = options_.deviceType;
            info.infoWord1 = 0x0120;  // hardware revision
            info.infoWord2 = static_cast<std::uint16_t>(options_.imageBytesPerLine * 8);
            info.infoByte = 8;            // dots per millimetre
            info.infoLong1 = 70001234;    // serial number
            info.infoLong2 = 0x01000800;  // top byte 1: scanner fitted
            info.infoText = options_.name + " copy board";
            return link::encodeDeviceInfoAnswer(info);
        }
        case code::GetStatus: {
            link::StatusRecord status;
            status.deviceState = deviceState();
            status.statusFlagA = true;  // paper loaded
            status.statusFlagB = imageOffered_;
            return link::encodeStatusAnswer(status);
        }
        case code::GetFirmwareVersion:
            return link::encodeVersionAnswer(version_);
        default:
            if (const std::uint8_t* v = settings_.byCode(c))
                return link::encodeSettingAnswer(c, *v);
            return link::encodeAnswer(c);
    }
}

void SimulatedBoard::carryOut(const Request& request) {
    const std::uint8_t c = request.code;
    if (std::uint8_t* setting = settings_.byCode(c)) {
        if (request.payload.empty()) {
            answer(readAnswerFor(c));
        } else if (request.payload[0] <= 1) {
            *setting = request.payload[0];
            ++revision_;
            beginBusy();
            answerCode(code::Acknowledge);
        } else {
            // Only 0 and 1 mean anything; the board keeps what it had.
            answerCode(code::NoAction);
        }
        return;
    }
    switch (c) {
        case code::GetDeviceInfo:
        case code::GetStatus:
        case code::GetFirmwareVersion:
            answer(readAnswerFor(c));
            return;
        case code::SetDateTime: {
            const link::DateTime dt = link::decodeSetDateTime(request);
            const bool valid = request.payload.size() >= 6 && dt.month >= 1 && dt.month <= 12 &&
                               dt.day >= 1 && dt.day <= 31 && dt.hour <= 23 && dt.minute <= 59;
            if (!valid) {
                answerCode(code::NoAction);
                return;
            }
            dateTime_ = dt;
            ++revision_;
            beginBusy();
            answerCode(code::Acknowledge);
            return;
        }
        case code::GetTestImage:
            if (imageOffered_) {
                queueTestImage();
            } else {
                answerCode(code::NoAction);  // nothing scanned
            }
            return;
        case code::FirmwareData:
            handleFirmware(request);
            return;
        default:
            answerCode(code::NoAction);
            return;
    }
}

void SimulatedBoard::handleFirmware(const Request& request) {
    if (request.payload.empty()) {
        answerCode(code::NoAction);
        return;
    }
    const std::uint8_t sub = request.payload[0];
    std::string text(request.payload.begin() + 1, request.payload.end());
    // The request ends with a 0 byte; the text is what comes before the first one.
    if (const std::size_t zero = text.find('\0'); zero != std::string::npos) text.resize(zero);

    if (sub == link::firmware_sub::Start) {
        firmwareActive_ = true;
        firmwareRejected_ = false;
        firmwarePath_ = text;
        firmwareText_.clear();
        firmwareVersion_.clear();
        answerCode(code::Acknowledge);
        return;
    }
    if ((sub != link::firmware_sub::Chunk && sub != link::firmware_sub::LastChunk) ||
        !firmwareActive_) {
        answerCode(code::NoAction);
        return;
    }

    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        begin = end + 1;
        if (line.empty()) continue;
        const auto record = firmware::parseSRecord(line);
        if (!record) {
            // A damaged record: refuse the update and keep the firmware the board has. The
            // host stops sending on 0xFE, whereas 0xFF would ask it to go on.
            firmwareActive_ = false;
            firmwareRejected_ = true;
            answerCode(code::NoAction);
            return;
        }
        if (record->type == '0') firmwareVersion_ = firmware::headerText(*record);
    }
    firmwareText_ += text;
    answerCode(code::Acknowledge);

    if (sub == link::firmware_sub::LastChunk) {
        firmwareActive_ = false;
        ++firmwareUpdates_;
        if (!firmwareVersion_.empty()) {
            version_ = firmwareVersion_;
            ++revision_;
        }
    }
}

void SimulatedBoard::queueTestImage() {
    const std::uint32_t number = imagesSent_ + 1;
    PictureText text;
    text.name = options_.name;
    text.smallPrint = "TYPE " + std::string(1, options_.deviceType) + "  " + version_ + "  IMAGE " +
                      std::to_string(number);
    lastImageLines_ = drawTestPicture(text, options_.imageWidth, options_.imageBytesPerLine);

    // Vary the encoder's choices from image to image so that every code form turns up.
    testimage::EncoderOptions enc;
    enc.seed = number;
    enc.randomLengths = true;
    enc.trailingPercent = 60;
    enc.explicitZeroPercent = 10;
    enc.emptyBlockPercent = 5;
    enc.midRowEndPercent = 70;
    enc.rowsPerBlock = 4 + number % 8;
    enc.maxLiteral = 16 + (number * 37) % 113;
    lastImageData_ = testimage::encodeLines(lastImageLines_.bytes, lastImageLines_.width,
                                            lastImageLines_.bytesPerLine, enc);

    const auto packets = link::encodeTestImageAnswer(options_.deviceType, options_.imageWidth,
                                                     options_.imageBytesPerLine, lastImageData_);
    for (const Packet& p : packets) answer(p);
    imagePacketsLeft_ = answers_.size();
}

}  // namespace q70::sim
