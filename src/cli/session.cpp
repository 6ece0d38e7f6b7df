#include "cli/session.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/record.hpp"
#include "config/file_output.hpp"
#include "config/paths.hpp"
#include "link/date_time_text.hpp"
#include "link/protocol.hpp"
#include "settings/settings_model.hpp"
#include "system/process_environment.hpp"
#include "window/control_ids.hpp"

namespace q70::cli {

namespace id = window::id;
namespace code = link::code;
using config::TextKey;

namespace {

// How long the link may stay entirely quiet beyond the answer timeout before q70ctl gives
// up: the status poll runs every second, so a healthy link is never quiet for this long.
constexpr std::uint64_t kStallSlackMs = 2500;

// "-": the BMP goes to standard output, as a stream, whole.
bool saveBitmap(std::ostream& out, const testimage::TestImage& image, const std::string& path,
                std::string& why) {
    if (path != kStandardOutput) return image.saveBitmapFile(path, &why);
    const std::vector<std::uint8_t> bytes = image.bitmapFileBytes();
    if (bytes.empty()) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (out) return true;
    why = "standard output took no more";
    return false;
}

std::string printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isprint(u) ? std::string(1, c) : hexByte(u);
}

bool isWriteRequest(std::uint8_t c) {
    return link::isSettingCode(c) || c == code::SetDateTime;
}

std::string writeName(std::uint8_t c) {
    if (c == code::SetDateTime) return "date and time";
    const auto s = settings::settingForCode(c);
    return s ? settings::info(*s).name : requestName(c);
}

}  // namespace

Session::Session(Environment& env, std::unique_ptr<link::DeviceTransport> transport,
                 SessionOptions options)
    : env_(env),
      device_(std::move(transport)),
      transport_(*device_, env.scheduler),
      view_(env.err, env.errIsTerminal),
      controller_(
          view_, transport_, env.scheduler, env.scheduler, texts_, image_,
          app::ControllerOptions{env.programFolder, link::LinkOptions{options.timeoutMs, 50}}),
      options_(std::move(options)) {
    if (!options_.rawDataFolder.empty()) image_.setProgramFolder(options_.rawDataFolder);
    // The pickers show the time the window was created, as in the window.
    view_.setPickedDateTime(env_.localNow());
    view_.onMessage = [this](const std::string& message) {
        lastWindowMessage_ = message;
        if (failure_ && failure_->message.empty()) failure_->message = message;
    };
    controller_.setExchangeObserver(this);
}

Session::~Session() {
    view_.finishProgress();
    controller_.setExchangeObserver(nullptr);
    controller_.shutdown();
}

// ---- Failures ---------------------------------------------------------------------------

int Session::fail(ErrorClass cls, const std::string& context) {
    if (!context.empty()) env_.err << "q70ctl: " << context << '\n' << std::flush;
    if (!failure_) failure_ = Failure{cls, context.empty() ? lastWindowMessage_ : context};
    return exitCodeOf(failure_->cls);
}

void Session::onFirmwareUpdateEnded(link::Outcome outcome) {
    updateDone_ = true;
    updateOutcome_ = outcome;
}

void Session::onSettingsWriteEnded(link::Outcome outcome) {
    writesDone_ = true;
    writeOutcome_ = outcome;
}

void Session::onLinkFailed(link::Outcome why, std::uint8_t request) {
    const std::string name = requestName(request);
    switch (why) {
        case link::Outcome::TimedOut:
            fail(ErrorClass::Timeout,
                 "no answer to " + name + " within " + std::to_string(options_.timeoutMs) + " ms");
            break;
        case link::Outcome::Lost:
            if (transport_.lastWriteFailed()) {
                // The window retries such a write silently once the device is back; q70ctl
                // reports it instead of waiting for a board that may not return.
                env_.err << text(TextKey::MsgSendPktError) << '\n';
                fail(ErrorClass::Lost, "the board was lost: " + name + " could not be sent");
            } else {
                fail(ErrorClass::Lost, "the board was lost while answering " + name);
            }
            break;
        case link::Outcome::BadAnswer:
            // A mismatch is said in q70ctl's words; a malformed packet by the window's.
            fail(ErrorClass::BadAnswer, mismatch_);
            break;
        default:
            fail(classOf(why), "");
            break;
    }
}

void Session::onShortAnswer(std::uint32_t length, std::size_t received) {
    mismatch_ = "the board's answer to " + requestName(transport_.lastRequest()) + " announces " +
                std::to_string(length) + " bytes and carries " +
                std::to_string(received - std::min(received, link::kLengthFieldSize));
}

void Session::onTestImageRefused(const link::TestImageHeader& header) {
    const std::string size = std::to_string(header.width) + " x " + std::to_string(header.height());
    if (header.width == 0 || header.bytesPerLine == 0) {
        mismatch_ = "the board's test image is " + size + " pixels: it holds no picture";
    } else {
        mismatch_ = "the board's test image of " + size + " pixels (" +
                    std::to_string(header.dataSize) +
                    " bytes of data) is larger than a test image can be";
    }
}

void Session::onAnswer(std::uint8_t lastCommand, std::uint8_t answerCode, bool matched) {
    if (!matched) {
        // The link fails the exchange right after this; its outcome says the rest.
        mismatch_ = "the board answered " + requestName(lastCommand) + " with code " +
                    hexByte(answerCode) + ", which does not belong to it";
        return;
    }
    switch (phase_) {
        case Phase::Starting: {
            const bool startRead =
                std::find(link::kStartSequence.begin(), link::kStartSequence.end(), lastCommand) !=
                link::kStartSequence.end();
            if (startRead) startAnswers_.try_emplace(lastCommand, answerCode);
            if (lastCommand == code::GetStatus) startDone_ = true;
            break;
        }
        case Phase::Writing:
            if (isWriteRequest(lastCommand)) writeAnswers_.emplace_back(lastCommand, answerCode);
            break;
        case Phase::Updating:
            if (lastCommand != code::FirmwareData) break;
            // The window tells the outcome; this only says what the board answered.
            if (answerCode != code::Acknowledge && answerCode != code::FirmwareData &&
                answerCode != code::Continue) {
                updateDetail_ = "the board answered FirmwareData (22) with " + hexByte(answerCode) +
                                "; the update stopped there";
            }
            break;
        case Phase::ReadingBack:
            if (lastCommand == code::GetFirmwareVersion && answerCode == lastCommand) {
                readBackVersion_ = view_.text(id::FirmwareVersion);
            }
            if (lastCommand == code::GetStatus) readBackDone_ = true;
            break;
        default:
            break;
    }
}

void Session::onTestImageData(std::span<const std::uint8_t> data) {
    imageData_.assign(data.begin(), data.end());
}

int Session::runUntil(const std::function<bool()>& done, std::uint64_t deadlineMs) {
    Scheduler& s = env_.scheduler;
    for (;;) {
        if (failure_) return exitCodeOf(failure_->cls);
        if (done()) return kExitOk;
        const std::uint64_t now = s.nowMs();
        if (now >= deadlineMs) return kDeadlineReached;
        const std::uint64_t stallAt = transport_.lastTrafficMs() +
                                      static_cast<std::uint64_t>(options_.timeoutMs) +
                                      kStallSlackMs;
        if (now >= stallAt) {
            fail(ErrorClass::Timeout, "no traffic with the board for " +
                                          std::to_string(now - transport_.lastTrafficMs()) + " ms");
            continue;
        }
        s.runNext(std::min(deadlineMs, stallAt),
                  [this](int timerId) { controller_.onTimer(timerId); });
    }
}

// ---- Start ------------------------------------------------------------------------------

int Session::start(bool needData) {
    controller_.startupReads();
    phase_ = Phase::Opening;
    view_.holdMessages();
    if (options_.waitBusySeconds > 0) {
        const std::uint64_t until =
            env_.scheduler.nowMs() + static_cast<std::uint64_t>(options_.waitBusySeconds) * 1000u;
        transport_.waitWhileBusy(
            until, [this](std::uint64_t ms) { env_.scheduler.sleepUntil(ms); },
            [this](const link::OpenProblem&) {
                env_.err << "q70ctl: " << transport_.lastError() << " Waiting up to "
                         << options_.waitBusySeconds << " s for it.\n"
                         << std::flush;
            });
    }
    controller_.onInitDialog();
    transport_.waitWhileBusy(0, {}, {});
    const bool open = controller_.connection().deviceOpen();
    const link::OpenProblem problem = transport_.openProblem();
    // For a busy board q70ctl's own line says it all, with who holds it; the window's
    // text promises a wait that q70ctl does not make.
    view_.releaseMessages(open || !problem.busy);
    if (!open) {
        std::string why = transport_.lastError();
        if (why.empty())
            why = problem.busy ? "the board is in use by another program."
                               : "the device could not be opened";
        if (problem.busy && options_.waitBusySeconds == 0) {
            why += " --wait-busy SECONDS waits for it.";
        }
        return fail(problem.busy ? ErrorClass::Busy : ErrorClass::NoDevice, why);
    }
    phase_ = Phase::Starting;
    const int rc = runUntil([this] { return startDone_; }, kNoDeadline);
    if (rc != kExitOk) return rc;
    phase_ = Phase::Started;
    if (!needData) return kExitOk;
    for (const std::uint8_t c : link::kStartSequence) {
        const auto it = startAnswers_.find(c);
        if (it == startAnswers_.end() || it->second != c) {
            const std::string answer = it == startAnswers_.end() ? "nothing" : hexByte(it->second);
            fail(ErrorClass::BadAnswer, "the board answered " + requestName(c) + " with " + answer +
                                            " instead of its value");
        }
    }
    return failure_ ? exitCodeOf(failure_->cls) : kExitOk;
}

// ---- info and get -----------------------------------------------------------------------

Record Session::settingsRecord() const {
    const settings::SettingsModel& m = controller_.settings();
    Record r;
    for (const settings::SettingInfo& i : settings::settingTable()) {
        const std::int32_t v = m.device(i.setting);
        // A value the radios cannot show stays a number, in both forms.
        if (v == 0 || v == 1) {
            r.text(i.name, i.valueWords[v]);
        } else {
            r.number(i.name, v);
        }
    }
    return r;
}

Record Session::document() const {
    Record r;
    if (options_.json) {
        r.number("schema", kJsonSchema);
        r.text("device", options_.address);
    }
    return r;
}

int Session::info() {
    const link::DeviceInfo& d = controller_.settings().deviceInfo;
    const link::StatusRecord& s = controller_.connection().lastStatus();
    Record r;
    if (options_.json) r.number("schema", kJsonSchema);
    r.text("device-type", printable(d.deviceType));
    r.number("info-word-1", d.infoWord1);
    r.number("info-word-2", d.infoWord2);
    r.number("info-byte", d.infoByte);
    r.number("info-long-1", d.infoLong1);
    r.number("info-long-2", d.infoLong2);
    r.flag("info-flag", d.infoFlag);
    r.foreignText("info-text", d.infoText);
    r.foreignText("firmware-version", view_.text(id::FirmwareVersion));
    r.number("device-state", s.deviceState);
    r.flag("status-flag-a", s.statusFlagA);
    r.flag("status-flag-b", s.statusFlagB);
    r.object("settings", settingsRecord());
    // Where the board was reached: on USB the port path it sits on and its serial number,
    // which stay when plain `usb` found it.
    const link::DeviceLocation where = transport_.location();
    Record device;
    device.text("address", where.address.empty() ? options_.address : where.address);
    if (where.usb) {
        device.text("port", where.usbPort);
        device.foreignText("serial", where.serial);
    }
    r.object("device", device);
    print(r);
    return kExitOk;
}

int Session::get() {
    Record r = document();
    r.append(settingsRecord());
    print(r);
    return kExitOk;
}

void Session::print(const Record& record) const {
    if (options_.json) {
        record.printJson(env_.out);
    } else {
        record.printLines(env_.out);
    }
}

// ---- set --------------------------------------------------------------------------------

int Session::set(const std::vector<SettingAssignment>& assignments,
                 const std::optional<link::DateTime>& time) {
    const settings::SettingsModel& m = controller_.settings();

    // A setting not named keeps the board's value; one the radios cannot show would go
    // out as 255, so it has to be named.
    Record written = document();
    for (const settings::SettingInfo& i : settings::settingTable()) {
        const std::int32_t v = m.device(i.setting);
        const auto named =
            std::find_if(assignments.begin(), assignments.end(),
                         [&](const SettingAssignment& a) { return a.setting == i.setting; });
        if (named == assignments.end() && v != 0 && v != 1) {
            fail(ErrorClass::BadAnswer, std::string(i.name) + ": the board reports " +
                                            std::to_string(v) + ", which is neither " +
                                            i.valueWords[0] + " nor " + i.valueWords[1] +
                                            "; name a value for it");
            continue;
        }
        written.text(i.name, i.valueWords[named != assignments.end() ? named->value : v]);
    }
    if (failure_) return exitCodeOf(failure_->cls);

    // The window takes Apply only while the board is idle (the panel open).
    const std::uint64_t busyDeadline =
        env_.scheduler.nowMs() + static_cast<std::uint64_t>(options_.timeoutMs);
    int rc = runUntil([this] { return view_.enabled(id::OK); }, busyDeadline);
    if (rc == kDeadlineReached) {
        return fail(ErrorClass::Timeout,
                    "the board stayed busy (state " +
                        std::to_string(controller_.connection().lastStatus().deviceState) +
                        ") for " + std::to_string(options_.timeoutMs) + " ms");
    }
    if (rc != kExitOk) return rc;

    for (const SettingAssignment& a : assignments) {
        const settings::SettingInfo& i = settings::info(a.setting);
        const int radio = i.radioIds[a.value];
        // A radio the window keeps disabled cannot be clicked (the image sizes on a board
        // that is not of type W); writing back what the board holds is still fine. The
        // board does not take such a write, so it counts as refused.
        if (!view_.enabled(radio) && m.device(a.setting) != a.value) {
            return fail(ErrorClass::Refused, std::string(i.name) +
                                                 " cannot be changed on this board (device type " +
                                                 printable(m.deviceType) + ")");
        }
        view_.setChecked(radio, true);
        view_.setChecked(i.radioIds[1 - a.value], false);
        controller_.onCommand(radio);
    }
    const link::DateTime when = time ? *time : env_.localNow();
    view_.setPickedDateTime(when);
    controller_.onDateTimeChanged(id::DatePicker);

    phase_ = Phase::Writing;
    controller_.onCommand(id::Apply);
    rc = runUntil([this] { return writesDone_; }, kNoDeadline);
    phase_ = Phase::Started;
    // The outcome is the window's; the lines say which write the board did not take.
    const link::Outcome outcome = writeOutcome_.value_or(link::Outcome::Done);
    for (const auto& [request, answer] : writeAnswers_) {
        if (answer != code::Acknowledge) {
            fail(classOf(outcome), writeName(request) + ": the board answered " + hexByte(answer) +
                                       " instead of acknowledging the write");
        }
    }
    if (rc == kExitOk && outcome != link::Outcome::Done) rc = fail(classOf(outcome), "");
    if (rc == kExitOk && failure_) rc = exitCodeOf(failure_->cls);
    // The window has told the outcome of a write it saw to the end; otherwise q70ctl does.
    if (!writeOutcome_) {
        env_.err << text(rc == kExitOk ? TextKey::MsgSetWOK : TextKey::MsgSetWNG) << '\n'
                 << std::flush;
    }
    if (rc == kExitOk && options_.json) {
        written.text("time", link::formatDateTime(when));
        print(written);
    }
    return rc;
}

// ---- update -----------------------------------------------------------------------------

int Session::update(const std::string& file) {
    // As typed into the path field: the start request carries exactly this text, and a
    // relative name is opened from the current folder.
    view_.setText(id::FirmwarePath, file);
    controller_.onFirmwarePathEdited();
    phase_ = Phase::Updating;
    controller_.onCommand(id::Update);
    // A file the window could not open never starts an update, and no outcome of one is
    // shown: q70ctl says it.
    const bool started = controller_.firmwareUpdating();
    int rc = runUntil([this] { return updateDone_; }, kNoDeadline);
    view_.finishProgress();
    const link::Outcome outcome = updateOutcome_.value_or(link::Outcome::Done);
    if (rc == kExitOk && outcome != link::Outcome::Done) {
        std::string detail = updateDetail_;
        if (detail.empty() && outcome == link::Outcome::Refused) {
            detail = "the board did not take the file: it asked for more after its end";
        }
        rc = fail(classOf(outcome), detail);
    }
    if (!started || !updateDone_) {
        env_.err << text(rc == kExitOk ? TextKey::MsgFirmUpOK : TextKey::MsgFirmUpNG) << '\n'
                 << std::flush;
    }
    if (rc != kExitOk) return rc;

    // The board may run new firmware now: the window reads it all again, and q70ctl
    // reports the version it gives.
    phase_ = Phase::ReadingBack;
    rc = runUntil([this] { return readBackDone_; }, kNoDeadline);
    phase_ = Phase::Started;
    if (rc != kExitOk) return rc;
    env_.err << "q70ctl: the board reports firmware " << lineEscaped(readBackVersion_) << " now\n"
             << std::flush;
    if (options_.json) {
        Record r = document();
        r.text("file", file);
        r.foreignText("firmware-version", readBackVersion_);
        print(r);
    }
    return kExitOk;
}

// ---- test-image -------------------------------------------------------------------------

int Session::testImage(const std::string& bmpPath, const std::string& rawPath, int waitSeconds,
                       int imageSeconds) {
    const auto shown = [this] { return view_.imagesShown() > 0; };
    const link::TransferState& link = controller_.connection().engine().state();
    // Between the first packet of an image and its last (or the tail of a refused one).
    const auto receiving = [&link] { return link.imageRemaining > 0 || link.discardRemaining > 0; };
    // Once an image has begun it is bounded as a whole: the link's timeout bounds only
    // each packet, and a board may send every one just in time.
    std::optional<std::uint64_t> imageBegan;
    const std::uint64_t imageLimitMs = static_cast<std::uint64_t>(imageSeconds) * 1000u;
    bool imageTooSlow = false;
    int shownPercent = -1;
    const auto watchImage = [&] {
        if (!receiving()) return false;
        const std::uint64_t now = env_.scheduler.nowMs();
        if (!imageBegan) imageBegan = now;
        if (now - *imageBegan >= imageLimitMs) return imageTooSlow = true;
        if (env_.errIsTerminal && link.imageRemaining > 0) {
            const std::uint64_t total = link.imageCursor + link.imageRemaining;
            const int percent = static_cast<int>(link.imageCursor * 100 / total);
            if (percent != shownPercent) {
                shownPercent = percent;
                constexpr int kBarWidth = 30;
                const int filled = percent * kBarWidth / 100;
                env_.err << '\r' << '[' << std::string(static_cast<std::size_t>(filled), '#')
                         << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] "
                         << text(TextKey::MsgScanInProgress) << ' ' << percent << "% ("
                         << link.imageCursor << " of " << total << " bytes)\x1b[K" << std::flush;
            }
        }
        return false;
    };
    const auto endProgress = [&] {
        if (shownPercent >= 0) env_.err << '\n' << std::flush;
        shownPercent = -1;
    };
    const std::uint64_t deadline =
        env_.scheduler.nowMs() + static_cast<std::uint64_t>(waitSeconds) * 1000u;
    int rc = runUntil([&] { return watchImage() || shown(); }, deadline);
    // An image already on its way is received whole, within its own limit. Only while its
    // request is still being answered: a board that keeps offering an image and never
    // sends one must not hold q70ctl past the wait.
    const auto imageInFlight = [this] {
        return controller_.connection().engine().isAwaitingAnswer() &&
               transport_.lastRequest() == link::code::GetTestImage;
    };
    if (rc == kDeadlineReached && imageInFlight()) {
        rc = runUntil([&] { return watchImage() || shown() || !imageInFlight(); }, kNoDeadline);
        if (rc == kExitOk && !shown() && !imageTooSlow) rc = kDeadlineReached;
    }
    endProgress();
    if (imageTooSlow) {
        return fail(ErrorClass::Timeout,
                    "the test image did not arrive whole within " + std::to_string(imageSeconds) +
                        " s (--image-timeout): " + std::to_string(link.imageCursor) + " of " +
                        std::to_string(link.imageCursor + link.imageRemaining) + " bytes had come");
    }
    if (rc == kDeadlineReached) {
        return fail(ErrorClass::Timeout,
                    "the board offered no test image within " + std::to_string(waitSeconds) + " s");
    }
    if (rc != kExitOk) return rc;

    std::string why;
    if (!rawPath.empty() && !config::writeFileWhole(rawPath, imageData_, &why)) {
        fail(ErrorClass::Io, "cannot write " + rawPath + ": " + why);
    }
    if (!image_.hasBitmap())
        return fail(ErrorClass::BadAnswer, "the test image could not be decoded");
    if (!saveBitmap(env_.out, image_, bmpPath, why)) {
        return fail(ErrorClass::Io, "cannot write " + bmpPath + ": " + why);
    }
    env_.err << "q70ctl: test image of " << image_.width() << " x " << image_.height()
             << " saved to " << (bmpPath == kStandardOutput ? "standard output" : bmpPath) << '\n'
             << std::flush;
    if (failure_) return exitCodeOf(failure_->cls);
    if (options_.json) {
        Record r = document();
        r.text("bmp", bmpPath);
        if (!rawPath.empty()) r.text("raw", rawPath);
        r.number("width", image_.width());
        r.number("height", image_.height());
        print(r);
    }
    return kExitOk;
}

std::string refuseOutput(const std::string& path) {
    if (path == kStandardOutput) return {};
    const std::string_view what = config::describePathKind(config::outputPathKind(path));
    if (what.empty()) return {};
    return "cannot write " + path + ": it is " + std::string(what) +
           "; only a regular file is written (-o - writes the BMP to standard output)";
}

// ---- decode -----------------------------------------------------------------------------

int decodeRawFile(std::ostream& out, std::ostream& err, const std::string& rawPath,
                  std::uint32_t width, std::uint32_t height, const std::string& bmpPath,
                  Failure& failure) {
    const auto fail = [&](ErrorClass cls, const std::string& message) {
        err << "q70ctl: " << message << '\n';
        failure = {cls, message};
        return exitCodeOf(cls);
    };
    if (const std::string refused = refuseOutput(bmpPath); !refused.empty()) {
        return fail(ErrorClass::Io, refused);
    }
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(config::pathFromUtf8(rawPath), ec);
    if (ec) return fail(ErrorClass::BadFile, "cannot read " + rawPath + ": " + ec.message());
    if (size == 0 || size > link::kMaxImageBytes) {
        return fail(ErrorClass::BadFile, rawPath + " holds " + std::to_string(size) +
                                             " bytes, which is no test image's data");
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    {
        std::ifstream f(config::pathFromUtf8(rawPath), std::ios::binary);
        f.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
        if (!f || static_cast<std::uintmax_t>(f.gcount()) != size) {
            return fail(ErrorClass::BadFile, "cannot read " + rawPath);
        }
    }

    // TestImage takes its data the way the link hands it over, which also writes its copy
    // of rawdata.bin: that copy goes to a folder of its own, removed afterwards.
    const std::string scratch = system::makeTempFolder("q70ctl-decode-");
    if (scratch.empty()) return fail(ErrorClass::Io, "cannot make a scratch folder for decoding");
    testimage::TestImage image;
    image.setProgramFolder(scratch);
    image.setHeader(width, height, static_cast<std::uint32_t>(size), 'W');
    image.saveRawData(data);
    const bool built = image.buildBitmap();
    image.releaseData();
    std::filesystem::remove_all(config::pathFromUtf8(scratch), ec);
    if (!built || !image.hasBitmap()) {
        return fail(ErrorClass::BadFile, rawPath + " does not decode as a " +
                                             std::to_string(width) + " x " +
                                             std::to_string(height) + " test image");
    }
    std::string why;
    if (!saveBitmap(out, image, bmpPath, why)) {
        return fail(ErrorClass::Io, "cannot write " + bmpPath + ": " + why);
    }
    return kExitOk;
}

}  // namespace q70::cli
