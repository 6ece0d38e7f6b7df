#include "cli/session.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/record.hpp"
#include "config/paths.hpp"
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

bool writeWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream f(config::pathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f.fail()) return true;
    // No half-written file is left behind to be taken for a good one.
    std::error_code ec;
    std::filesystem::remove(config::pathFromUtf8(path), ec);
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

Session::Session(Environment& env, std::unique_ptr<link::DeviceTransport> transport, int timeoutMs)
    : env_(env),
      device_(std::move(transport)),
      transport_(*device_, env.scheduler),
      view_(env.err, env.errIsTerminal),
      controller_(view_, transport_, env.scheduler, env.scheduler, texts_, image_,
                  app::ControllerOptions{env.programFolder, link::LinkOptions{timeoutMs, 50}}),
      timeoutMs_(timeoutMs) {
    // The pickers show the time the window was created, as in the window.
    view_.setPickedDateTime(env_.localNow());
    view_.onMessage = [this](const std::string& message) { onMessage(message); };
    transport_.onEvent = [this](LinkEvent e) { onLinkEvent(e); };
    controller_.setExchangeObserver(this);
}

Session::~Session() {
    view_.finishProgress();
    controller_.setExchangeObserver(nullptr);
    controller_.shutdown();
}

// ---- Failures ---------------------------------------------------------------------------

void Session::fail(int exitCode, const std::string& context) {
    if (!context.empty()) env_.err << "q70ctl: " << context << '\n' << std::flush;
    if (!failure_) failure_ = exitCode;
}

void Session::onMessage(const std::string& message) {
    // Before the window starts the only message is the log file that cannot be opened,
    // which costs q70ctl nothing; from then on every message but a success is a failure.
    if (phase_ == Phase::Before) return;
    if (message == text(TextKey::MsgSetWOK) || message == text(TextKey::MsgFirmUpOK)) return;
    fail(phase_ == Phase::Opening ? kExitNoDevice : kExitFailed, "");
}

void Session::onFirmwareUpdateEnded(bool succeeded) {
    updateToldByWindow_ = true;
    updateDone_ = true;
    if (!succeeded) fail(kExitFailed, "");
}

void Session::onSettingsWriteEnded(bool succeeded) {
    writesToldByWindow_ = true;
    writesDone_ = true;
    if (!succeeded) fail(kExitFailed, "");
}

void Session::onLinkEvent(LinkEvent event) {
    const std::string request = requestName(transport_.lastRequest());
    switch (event) {
        case LinkEvent::Timeout:
            fail(kExitTimeout,
                 "no answer to " + request + " within " + std::to_string(timeoutMs_) + " ms");
            break;
        case LinkEvent::Lost:
            fail(kExitFailed, "the board was lost while answering " + request);
            break;
        case LinkEvent::WriteFailed:
            // The window retries such a write silently once the device is back; q70ctl
            // reports it instead of waiting for a board that may not return.
            env_.err << text(TextKey::MsgSendPktError) << '\n';
            fail(kExitFailed, "");
            break;
    }
}

void Session::onAnswer(std::uint8_t lastCommand, std::uint8_t answerCode, bool matched) {
    if (!matched) {
        fail(kExitFailed, "the board answered " + requestName(lastCommand) + " with code " +
                              hexByte(answerCode) + ", which does not belong to it");
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
            if (isWriteRequest(lastCommand)) {
                writeAnswers_.emplace_back(lastCommand, answerCode);
                if (lastCommand == code::SetDateTime) writesDone_ = true;
            }
            break;
        case Phase::Updating:
            if (lastCommand != code::FirmwareData) break;
            // The window tells the outcome; this only says what the board answered.
            if (answerCode != code::Acknowledge && answerCode != code::FirmwareData &&
                answerCode != code::Continue) {
                // The controller sends nothing more after such an answer.
                fail(kExitFailed, "the board answered FirmwareData (22) with " +
                                      hexByte(answerCode) + "; the update stopped there");
            }
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
        if (failure_) return *failure_;
        if (done()) return kExitOk;
        const std::uint64_t now = s.nowMs();
        if (now >= deadlineMs) return kDeadlineReached;
        const std::uint64_t stallAt =
            transport_.lastTrafficMs() + static_cast<std::uint64_t>(timeoutMs_) + kStallSlackMs;
        if (now >= stallAt) {
            fail(kExitTimeout, "no traffic with the board for " +
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
    controller_.onInitDialog();
    if (!controller_.connection().deviceOpen()) {
        const std::string why = transport_.lastError();
        fail(kExitNoDevice, why.empty() ? "the device could not be opened" : why);
        return *failure_;
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
            fail(kExitFailed, "the board answered " + requestName(c) + " with " + answer +
                                  " instead of its value");
        }
    }
    return failure_.value_or(kExitOk);
}

// ---- info and get -----------------------------------------------------------------------

int Session::info(bool json) {
    const link::DeviceInfo& d = controller_.settings().deviceInfo;
    const link::StatusRecord& s = controller_.connection().lastStatus();
    Record r;
    r.text("device-type", printable(d.deviceType));
    r.number("info-word-1", d.infoWord1);
    r.number("info-word-2", d.infoWord2);
    r.number("info-byte", d.infoByte);
    r.number("info-long-1", d.infoLong1);
    r.number("info-long-2", d.infoLong2);
    r.flag("info-flag", d.infoFlag);
    r.text("info-text", d.infoText);
    r.text("firmware-version", view_.text(id::FirmwareVersion));
    r.number("device-state", s.deviceState);
    r.flag("status-flag-a", s.statusFlagA);
    r.flag("status-flag-b", s.statusFlagB);
    print(r, json);
    return kExitOk;
}

int Session::get(bool json) {
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
    print(r, json);
    return kExitOk;
}

void Session::print(const Record& record, bool json) const {
    if (json) {
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
    for (const settings::SettingInfo& i : settings::settingTable()) {
        const std::int32_t v = m.device(i.setting);
        const bool named =
            std::any_of(assignments.begin(), assignments.end(),
                        [&](const SettingAssignment& a) { return a.setting == i.setting; });
        if (!named && v != 0 && v != 1) {
            fail(kExitFailed, std::string(i.name) + ": the board reports " + std::to_string(v) +
                                  ", which is neither " + i.valueWords[0] + " nor " +
                                  i.valueWords[1] + "; name a value for it");
        }
    }
    if (failure_) return *failure_;

    // The window takes Apply only while the board is idle (the panel open).
    const std::uint64_t busyDeadline =
        env_.scheduler.nowMs() + static_cast<std::uint64_t>(timeoutMs_);
    int rc = runUntil([this] { return view_.enabled(id::OK); }, busyDeadline);
    if (rc == kDeadlineReached) {
        fail(kExitTimeout, "the board stayed busy (state " +
                               std::to_string(controller_.connection().lastStatus().deviceState) +
                               ") for " + std::to_string(timeoutMs_) + " ms");
        return *failure_;
    }
    if (rc != kExitOk) return rc;

    for (const SettingAssignment& a : assignments) {
        const settings::SettingInfo& i = settings::info(a.setting);
        const int radio = i.radioIds[a.value];
        // A radio the window keeps disabled cannot be clicked (the image sizes on a board
        // that is not of type W); writing back what the board holds is still fine.
        if (!view_.enabled(radio) && m.device(a.setting) != a.value) {
            fail(kExitFailed, std::string(i.name) +
                                  " cannot be changed on this board (device type " +
                                  printable(m.deviceType) + ")");
            return *failure_;
        }
        view_.setChecked(radio, true);
        view_.setChecked(i.radioIds[1 - a.value], false);
        controller_.onCommand(radio);
    }
    view_.setPickedDateTime(time ? *time : env_.localNow());
    controller_.onDateTimeChanged(id::DatePicker);

    phase_ = Phase::Writing;
    controller_.onCommand(id::Apply);
    rc = runUntil([this] { return writesDone_; }, kNoDeadline);
    phase_ = Phase::Started;
    for (const auto& [request, answer] : writeAnswers_) {
        if (answer != code::Acknowledge) {
            fail(kExitFailed, writeName(request) + ": the board answered " + hexByte(answer) +
                                  " instead of acknowledging the write");
        }
    }
    if (rc == kExitOk && failure_) rc = *failure_;
    // The window has told the outcome of a write it saw to the end; otherwise q70ctl does.
    if (!writesToldByWindow_) {
        env_.err << text(rc == kExitOk ? TextKey::MsgSetWOK : TextKey::MsgSetWNG) << '\n'
                 << std::flush;
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
    int rc = failure_.value_or(kExitOk);
    if (rc == kExitOk) rc = runUntil([this] { return updateDone_; }, kNoDeadline);
    view_.finishProgress();
    if (!updateToldByWindow_) {
        env_.err << text(rc == kExitOk ? TextKey::MsgFirmUpOK : TextKey::MsgFirmUpNG) << '\n'
                 << std::flush;
    }
    return rc;
}

// ---- test-image -------------------------------------------------------------------------

int Session::testImage(const std::string& bmpPath, const std::string& rawPath, int waitSeconds) {
    const auto shown = [this] { return view_.imagesShown() > 0; };
    const std::uint64_t deadline =
        env_.scheduler.nowMs() + static_cast<std::uint64_t>(waitSeconds) * 1000u;
    int rc = runUntil(shown, deadline);
    // An image already on its way is received whole; the link's timeout bounds each packet.
    // Only while its request is still being answered: a board that keeps offering an image
    // and never sends one must not hold q70ctl past the wait.
    const auto imageInFlight = [this] {
        return controller_.connection().engine().isAwaitingAnswer() &&
               transport_.lastRequest() == link::code::GetTestImage;
    };
    if (rc == kDeadlineReached && imageInFlight()) {
        rc = runUntil([&] { return shown() || !imageInFlight(); }, kNoDeadline);
        if (rc == kExitOk && !shown()) rc = kDeadlineReached;
    }
    if (rc == kDeadlineReached) {
        fail(kExitTimeout,
             "the board offered no test image within " + std::to_string(waitSeconds) + " s");
        return *failure_;
    }
    if (rc != kExitOk) return rc;

    if (!rawPath.empty() && !writeWholeFile(rawPath, imageData_)) {
        fail(kExitFailed, "cannot write " + rawPath);
    }
    if (!image_.hasBitmap()) {
        fail(kExitFailed, "the test image could not be decoded");
        return *failure_;
    }
    if (!image_.saveBitmapFile(bmpPath)) {
        std::error_code ec;
        std::filesystem::remove(config::pathFromUtf8(bmpPath), ec);
        fail(kExitFailed, "cannot write " + bmpPath);
        return *failure_;
    }
    env_.err << "q70ctl: test image of " << image_.width() << " x " << image_.height()
             << " saved to " << bmpPath << '\n'
             << std::flush;
    return failure_.value_or(kExitOk);
}

// ---- decode -----------------------------------------------------------------------------

int decodeRawFile(std::ostream& err, const std::string& rawPath, std::uint32_t width,
                  std::uint32_t height, const std::string& bmpPath) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(config::pathFromUtf8(rawPath), ec);
    if (ec) {
        err << "q70ctl: cannot read " << rawPath << ": " << ec.message() << '\n';
        return kExitFailed;
    }
    if (size == 0 || size > link::kMaxImageBytes) {
        err << "q70ctl: " << rawPath << " holds " << size
            << " bytes, which is no test image's data\n";
        return kExitFailed;
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    {
        std::ifstream f(config::pathFromUtf8(rawPath), std::ios::binary);
        f.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
        if (!f || static_cast<std::uintmax_t>(f.gcount()) != size) {
            err << "q70ctl: cannot read " << rawPath << '\n';
            return kExitFailed;
        }
    }

    // TestImage takes its data the way the link hands it over, which also writes its copy
    // of rawdata.bin: that copy goes to a folder of its own, removed afterwards.
    const std::string scratch = system::makeTempFolder("q70ctl-decode-");
    if (scratch.empty()) {
        err << "q70ctl: cannot make a scratch folder for decoding\n";
        return kExitFailed;
    }
    testimage::TestImage image;
    image.setProgramFolder(scratch);
    image.setHeader(width, height, static_cast<std::uint32_t>(size), 'W');
    image.saveRawData(data);
    const bool built = image.buildBitmap();
    image.releaseData();
    std::filesystem::remove_all(config::pathFromUtf8(scratch), ec);
    if (!built || !image.hasBitmap()) {
        err << "q70ctl: " << rawPath << " does not decode as a " << width << " x " << height
            << " test image\n";
        return kExitFailed;
    }
    if (!image.saveBitmapFile(bmpPath)) {
        std::filesystem::remove(config::pathFromUtf8(bmpPath), ec);
        err << "q70ctl: cannot write " << bmpPath << '\n';
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace q70::cli
