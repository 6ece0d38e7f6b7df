#include "app/utility_controller.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/window_placement.hpp"
#include "config/paths.hpp"
#include "config/text_decoding.hpp"
#include "window/control_ids.hpp"
#include "window/dialog_template.hpp"

namespace q70::app {

using config::TextKey;
namespace code = link::code;
namespace id = window::id;
using window::Choice;
using window::Rect;
using window::Size;

namespace {

// Room the six writes of Apply take in the ring.
std::size_t settingWriteBatchBytes() {
    return link::kSettingWriteOrder.size() * link::encodeWithByte(code::Paper, 0).size +
           link::encodeSetDateTime({}).size;
}

bool isSettingWrite(std::uint8_t c) {
    return link::isSettingCode(c) || c == code::SetDateTime;
}

// The controls a user operates or follows, which a screen reader must be able to name.
bool takesPart(window::ControlKind kind) {
    using K = window::ControlKind;
    return kind == K::PushButton || kind == K::RadioButton || kind == K::Edit ||
           kind == K::DatePicker || kind == K::TimePicker || kind == K::ProgressBar;
}

}  // namespace

UtilityController::UtilityController(window::WindowView& view, link::DeviceTransport& transport,
                                     link::TimerService& timers, const link::Clock& clock,
                                     config::TextCatalogue& texts, testimage::TestImage& image,
                                     ControllerOptions options)
    : view_(view),
      timers_(timers),
      clock_(clock),
      texts_(texts),
      image_(image),
      paths_(config::Paths::fromProgramFolder(options.programFolder)),
      localNow_(std::move(options.localNow)),
      scanTestImage_(std::move(options.scanTestImage)),
      panel_(view, model_, firmwareUpdating_, firmware_.filePath),
      connection_(transport, timers, clock, *this, *this, options.link) {
    image_.setProgramFolder(paths_.programFolder);
}

config::StartupSettings UtilityController::startupReads() {
    const config::StartupReads reads = config::readStartupSettings(paths_, texts_, log_);
    if (!reads.logOpenError.empty()) {
        // Only the catalogue text may need decoding; the path is already the system's.
        view_.showMessage(ui(TextKey::MsgFileOpenError) + paths_.logPath);
    }
    currentLanguage_ = reads.settings.currentLanguage;
    return reads.settings;
}

int UtilityController::onInitDialog() {
    maintenanceShown_ = false;

    // The open-failure texts must be there before the device is first opened.
    texts_.loadOpenErrorTexts(paths_.iniPath);
    if (!connection_.openAtStart()) panel_.setBoardAway(true);

    // Initial shrink: the right half of the layout holds nothing visible, and the
    // maintenance panel starts hidden.
    Rect r = view_.windowRect();
    r.bottom -= kMaintenanceStepPx;
    r.right /= 2;
    view_.moveWindow(r);
    showMaintenancePanel(false);

    texts_.loadTexts(paths_.iniPath, true);
    applyCaptions();
    followComputerClock(true);
    showProgressArea(false);
    connection_.engine().resetTransferState();
    connection_.startTimers();
    connection_.queueStartSequence();
    panel_.setPanelEnabled(false);
    return 1;
}

void UtilityController::applyCaptions() {
    view_.setTitle(ui(TextKey::UtilityDialogTitle) + " " + ui(TextKey::Version));
    view_.setLanguageMenuTexts(ui(TextKey::MenuEnglish), ui(TextKey::MenuJapanese),
                               ui(TextKey::MenuChinese));
    view_.setText(id::Reset, ui(TextKey::ButtonReset));
    view_.setText(id::OK, ui(TextKey::ButtonOK));
    view_.setText(id::Cancel, ui(TextKey::ButtonCancel));
    view_.setText(id::Apply, ui(TextKey::ButtonApply));
    view_.setText(id::Update, ui(TextKey::ButtonUpgrade));
    view_.setText(id::FileSelect, ui(TextKey::ButtonFileSelect));
    view_.setText(id::FirmwareNameLabel, ui(TextKey::LabelFirmName));
    view_.setText(id::FirmwareVersionLabel, ui(TextKey::LabelFirmVersion));
    // The version the board reported stays; the default shows only until it does.
    if (view_.text(id::FirmwareVersion).empty()) {
        view_.setText(id::FirmwareVersion, ui(TextKey::LabelFirmVersionVal));
    }
    view_.setText(id::MaintenanceFrame, ui(TextKey::FrameMaintenance));
    view_.setText(id::AspectFrame, ui(TextKey::FrameAspect));
    view_.setText(id::DateLabel, ui(TextKey::LabelDate));
    view_.setText(id::TimeLabel, ui(TextKey::LabelTime));
    view_.setScanMenuEntry(static_cast<bool>(scanTestImage_), ui(TextKey::MenuScanTestImage));
    for (const settings::SettingInfo& i : settings::settingTable()) {
        view_.setText(i.frameId, ui(i.frameKey));
        view_.setText(i.radioIds[0], ui(i.radioKeys[0]));
        view_.setText(i.radioIds[1], ui(i.radioKeys[1]));
    }
    resetDeviceState();
    // The progress line of an update that has ended stays readable in the new language.
    if (progressShown_ >= 0) showProgress(progressShown_);
    nameControls();
    view_.setFocus(id::Cancel);
    // Cancel is still disabled here; the focus goes to it once it is enabled.
    panel_.focusCancelOnceEnabled();
    updateLanguageMenu();
    view_.repaint();
}

// A screen reader names each control by its caption, or by the label of a field that has
// none; a radio also tells the setting it belongs to.
void UtilityController::nameControls() {
    for (const window::ControlTemplate& c : window::mainDialogControls()) {
        if (!takesPart(c.kind)) continue;
        const int label = window::labelOf(c.id);
        const auto setting = settings::settingForRadio(c.id);
        view_.setAccessibleName(c.id, view_.text(label != 0 ? label : c.id),
                                setting ? view_.text(settings::info(*setting).frameId) : "");
    }
}

void UtilityController::resetDeviceState() {
    panel_.resetDeviceState();
    firmwareUpdating_ = false;
    lastChunkQueued_ = false;
}

void UtilityController::showMaintenancePanel(bool show) {
    for (int c : {id::MaintenanceFrame, id::FirmwareVersionLabel, id::FirmwareVersion,
                  id::FirmwareNameLabel, id::FirmwarePath, id::Update, id::FileSelect}) {
        view_.setVisible(c, show);
    }
    // Full and Program are never shown.
    view_.setVisible(id::RadioFull, false);
    view_.setVisible(id::RadioProgram, false);

    const Size button = view_.controlSize(id::Reset);
    const Size client = view_.clientSize();
    const int w = button.width;
    const int gap = (client.width - 4 * w - w / 3) / 3;
    const int y =
        client.height - std::max(kButtonRowFromBottomPx, button.height + kButtonBottomMarginPx);
    const int left = w / 6;
    view_.moveControl(id::Reset, left, y, w, button.height);
    view_.moveControl(id::OK, w + left + gap, y, w, button.height);
    view_.moveControl(id::Cancel, 2 * (w + gap) + left, y, w, button.height);
    view_.moveControl(id::Apply, 3 * (w + gap) + left, y, w, button.height);
}

void UtilityController::toggleMaintenancePanel() {
    Rect r = view_.windowRect();
    const bool show = !maintenanceShown_;
    r.bottom += show ? kMaintenanceStepPx : -kMaintenanceStepPx;
    // The grown window may reach below the screen: move it up so the buttons stay on it.
    if (show) r = keepInside(r, view_.availableArea());
    view_.moveWindow(r);
    maintenanceShown_ = show;
    showMaintenancePanel(show);
}

void UtilityController::onTimer(int timerId) {
    followComputerClock(false);
    if (timerId == link::kPumpTimer) retryFirmwareStep();
    connection_.onTimer(timerId);
}

void UtilityController::onCommand(int commandId) {
    switch (commandId) {
        case id::DialogOK:
            view_.endDialog(id::DialogOK);
            return;
        case id::DialogCancel:
        case id::Cancel:
            view_.endDialog(id::DialogCancel);
            return;
        case id::OK:
            writeSettings(true);
            return;
        case id::Apply:
            writeSettings(false);
            return;
        case id::Reset:
            panel_.reset();
            return;
        case id::FileSelect:
            chooseFirmwareFile();
            return;
        case id::Update:
            startFirmwareUpdate();
            return;
        case id::CmdToggleMaintenance:
            toggleMaintenancePanel();
            return;
        case id::CmdScanTestImage:
            // The board offers the image at its next status, like a real one after a scan.
            if (scanTestImage_) scanTestImage_();
            return;
        default:
            break;
    }
    if (settings::settingForRadio(commandId)) {
        panel_.onRadioClicked(commandId);
        return;
    }
    if (const auto language = config::languageForCommand(commandId)) switchLanguage(*language);
}

void UtilityController::onFirmwarePathEdited() {
    panel_.refreshUpdateButton();
}

void UtilityController::onDateTimeChanged(int /*pickerId*/) {
    pickersEdited_ = true;
    panel_.onDateTimeChanged();
}

// The pickers show the computer's clock, so that a window left open writes the time it is
// now, not the time it was opened; a value the user entered stays until it was written.
void UtilityController::followComputerClock(bool atOnce) {
    if (!localNow_ || pickersEdited_) return;
    const std::uint64_t now = clock_.nowMs();
    if (!atOnce && now - clockCheckedAtMs_ < static_cast<std::uint64_t>(kClockCheckMs)) return;
    clockCheckedAtMs_ = now;
    const link::DateTime local = localNow_();
    if (view_.pickedDateTime() != local) view_.showDateTime(local);
}

void UtilityController::onHelp() {
    view_.openHelp(config::helpPathFor(paths_.iniPath));
}

void UtilityController::shutdown() {
    log_.close();
    connection_.stopLink();
}

void UtilityController::switchLanguage(config::Language language) {
    // A switch resets the device state and restarts the link, which would cut an update
    // off in the middle of the board's flash; the menu is disabled meanwhile.
    if (firmwareUpdating_) return;
    connection_.suspend();
    currentLanguage_ = config::switchLanguageFiles(paths_, language);
    applyLanguageFont();
    reload();
}

void UtilityController::applyLanguageFont() {
    // The font of the file now in place, which is the old one when the copy failed.
    const config::StartupSettings file = config::readLanguageFileSettings(paths_);
    if (!view_.setDialogFont(config::toUtf8(file.dialogFontName, file.currentLanguage),
                             file.dialogFontSize, file.currentLanguage)) {
        return;
    }
    // The view stands at the template's size for the new font: shrunk as at start, grown
    // again when the maintenance panel is open, and kept on the screen.
    Rect r = view_.windowRect();
    r.right = r.left + r.width() / 2;
    if (!maintenanceShown_) r.bottom -= kMaintenanceStepPx;
    view_.moveWindow(keepInside(r, view_.availableArea()));
    showMaintenancePanel(maintenanceShown_);
}

void UtilityController::reload() {
    texts_.loadTexts(paths_.iniPath, false);
    applyCaptions();
    connection_.resume();
    panel_.setPanelEnabled(false);
}

// ---- Settings ---------------------------------------------------------------------------

void UtilityController::writeSettings(bool closeAfterWrite) {
    timers_.stopTimer(link::kPumpTimer);
    link::TransferEngine& engine = connection_.engine();
    if (engine.freeBytes() < settingWriteBatchBytes()) {
        // All six or none: a batch cut short would leave the board half written. The link
        // is in no state to take them, which no answer of the board explains.
        view_.showMessage(ui(TextKey::MsgSetWNG));
        if (observer_ != nullptr) observer_->onSettingsWriteEnded(link::Outcome::BadAnswer);
        timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
        return;
    }
    // The minute it is now, even when the last look at the clock was a moment ago.
    followComputerClock(true);
    model_.closeAfterWrite = closeAfterWrite;
    writingSettings_ = true;
    writeOutcome_ = link::Outcome::Done;
    for (const std::uint8_t c : link::kSettingWriteOrder) engine.enqueueRequest(c, 1);
    engine.enqueueRequest(code::SetDateTime, 1);
    timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
    model_.dirty = false;
    panel_.setPanelEnabled(false);
}

void UtilityController::endSettingsWrite(link::Outcome outcome) {
    writingSettings_ = false;
    const bool succeeded = outcome == link::Outcome::Done;
    if (succeeded) {
        pickersEdited_ = false;
        followComputerClock(true);
        // After OK the window has closed, which says it all.
        if (!model_.closeAfterWrite) view_.showInformation(ui(TextKey::MsgSetWOK));
    } else {
        model_.closeAfterWrite = false;
        view_.showMessage(ui(TextKey::MsgSetWNG));
        // Show what the board really holds; after a link failure the restart reads it.
        if (!connection_.linkDown()) {
            for (const std::uint8_t c : link::kSettingWriteOrder) {
                connection_.engine().enqueueRequest(c, 0);
            }
            timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
        }
    }
    if (observer_ != nullptr) observer_->onSettingsWriteEnded(outcome);
}

std::uint8_t UtilityController::settingValueForWrite(std::uint8_t settingCode) {
    panel_.readControls();
    const auto s = settings::settingForCode(settingCode);
    return s ? static_cast<std::uint8_t>(model_.pending(*s) & 0xFF) : 0;
}

link::DateTime UtilityController::pickedDateTime() {
    return view_.pickedDateTime();
}

// ---- Firmware update --------------------------------------------------------------------

void UtilityController::chooseFirmwareFile() {
    const auto chosen = view_.chooseFirmwareFile();
    if (!chosen) return;
    const std::filesystem::path path = config::pathFromUtf8(*chosen);
    firmware_.filePath = *chosen;
    // The field shows the bare name, which must open the chosen file afterwards: make the
    // file's folder the current one, as the platform's dialog did.
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::current_path(path.parent_path(), ec);
    view_.setText(id::FirmwarePath, config::utf8FromPath(path.filename()));
    panel_.refreshUpdateButton();
    view_.setChecked(id::RadioProgram, true);
    view_.setEnabled(id::RadioProgram, true);
    view_.setChecked(id::RadioFull, false);
    view_.setEnabled(id::RadioFull, false);
    view_.setEnabled(id::Update, true);
}

void UtilityController::startFirmwareUpdate() {
    timers_.stopTimer(link::kPumpTimer);
    view_.setEnabled(id::FirmwarePath, false);
    const firmware::OpenResult opened = firmware_.open();
    if (opened != firmware::OpenResult::Ok) {
        using firmware::OpenResult;
        const bool notSRecords =
            opened == OpenResult::LineTooLong || opened == OpenResult::ZeroByte;
        const std::string message = notSRecords ? ui(TextKey::MsgBadSTypeFile)
                                    : opened == OpenResult::PathTooLong
                                        ? ui(TextKey::MsgFirmPathTooLong) + firmware_.filePath
                                    : opened == OpenResult::TooLarge
                                        ? ui(TextKey::MsgFirmFileTooLarge) + firmware_.filePath
                                        : ui(TextKey::MsgFileOpenError) + firmware_.filePath;
        view_.showMessage(message);
        timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
        if (observer_ != nullptr) observer_->onFirmwareUpdateEnded(link::Outcome::BadFile);
        return;
    }
    if (!connection_.engine().enqueueRequest(code::FirmwareData, 1)) {
        firmware_.close();
        view_.showMessage(ui(TextKey::MsgFirmUpNG));
        timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
        if (observer_ != nullptr) observer_->onFirmwareUpdateEnded(link::Outcome::BadAnswer);
        return;
    }
    firmwareUpdating_ = true;
    firmwareStepWaiting_ = false;
    panel_.setPanelEnabled(false);
    updateLanguageMenu();
    showProgressArea(true);
    showProgress(0);
    timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
    firmware_.readNextChunk();
}

void UtilityController::showProgressArea(bool show) {
    progressShown_ = -1;
    view_.setVisible(id::ProgressFrame, show);
    view_.setVisible(id::Progress, show);
    view_.setVisible(id::ProgressText, show);
    if (show) {
        view_.setProgress(0);
        view_.setText(id::ProgressText, "");
    }
}

void UtilityController::showProgress(int percent) {
    progressShown_ = percent;
    view_.setProgress(percent);
    const std::string line = firmware::progressText(ui(TextKey::MsgUpgradeInProgress), percent,
                                                    ui(TextKey::MsgComplete));
    view_.setText(id::ProgressText, line);
    view_.setAccessibleName(id::Progress, line, "");
}

void UtilityController::firmwareStep(std::uint64_t length) {
    timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
    if (!connection_.engine().enqueueRequest(code::FirmwareData, 0)) {
        // The ring is too full for the chunk: try again on the next ticks.
        if (!firmwareStepWaiting_) firmwareStepWaitingSinceMs_ = clock_.nowMs();
        firmwareStepWaiting_ = true;
        firmwareStepLength_ = length;
        return;
    }
    firmwareStepWaiting_ = false;
    showProgress(firmware::progressPercent(firmware_.position(), length));
    firmware_.readNextChunk();
}

void UtilityController::retryFirmwareStep() {
    if (!firmwareStepWaiting_ || !firmwareUpdating_) return;
    const auto waited = clock_.nowMs() - firmwareStepWaitingSinceMs_;
    if (waited > static_cast<std::uint64_t>(connection_.engine().options().answerTimeoutMs)) {
        endFirmwareUpdate(link::Outcome::TimedOut);
        return;
    }
    firmwareStep(firmwareStepLength_);
}

void UtilityController::onFirmwareContinue() {
    // Nothing to continue without an update running (a stray answer from the board).
    if (!firmwareUpdating_ || !firmware_.isOpen()) return;
    // Asked for more after the end of the file: the board did not take the file.
    if (lastChunkQueued_) {
        endFirmwareUpdate(link::Outcome::Refused);
        return;
    }
    firmwareStep(firmware_.currentFileLength());
}

void UtilityController::endFirmwareUpdate(link::Outcome outcome) {
    const bool succeeded = outcome == link::Outcome::Done;
    firmwareUpdating_ = false;
    lastChunkQueued_ = false;
    firmwareStepWaiting_ = false;
    firmware_.close();
    // A failed update leaves no progress line that still says "in progress".
    if (!succeeded) showProgressArea(false);
    updateLanguageMenu();
    // Update can be pressed again; the rest of the panel follows the board's next status.
    panel_.setPanelEnabled(false);
    if (succeeded) {
        view_.showInformation(ui(TextKey::MsgFirmUpOK));
    } else {
        view_.showMessage(ui(TextKey::MsgFirmUpNG));
    }
    // The board may run new firmware now: read it all again, and the poll goes on. After a
    // link failure the restart does the same.
    if (!connection_.linkDown()) {
        if (!connection_.queueStartSequence()) connection_.resumePoll();
        timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
    }
    if (observer_ != nullptr) observer_->onFirmwareUpdateEnded(outcome);
}

void UtilityController::updateLanguageMenu() {
    view_.setLanguageMenuEnabled(!firmwareUpdating_);
}

std::span<const std::uint8_t> UtilityController::firmwarePath() {
    return {reinterpret_cast<const std::uint8_t*>(firmware_.filePath.data()),
            firmware_.filePath.size()};
}

std::span<const std::uint8_t> UtilityController::firmwareChunk() {
    return firmware_.chunk();
}

bool UtilityController::firmwareChunkReachesEnd() {
    return firmware_.chunkReachesEnd();
}

// ---- Answers from the link --------------------------------------------------------------

void UtilityController::showMessage(link::LinkMessage message) {
    switch (message) {
        case link::LinkMessage::USBOpenError:
            view_.showMessage(ui(TextKey::MsgUSBOpenError));
            break;
        case link::LinkMessage::DeviceBusy: {
            // Who holds it reads the same in every language: its program name and number.
            const link::OpenProblem p = connection_.openProblem();
            std::string text = ui(TextKey::MsgDeviceBusy);
            if (!p.holder.empty()) {
                text += "\n" + p.holder + " (PID " + std::to_string(p.holderPid) + ")";
            }
            view_.showMessage(text);
            break;
        }
        case link::LinkMessage::ReceivePktError:
        case link::LinkMessage::ReceiveBadPkt:
            tellLinkFailure(message);
            break;
    }
}

// Once until the board has answered a status again: a board that keeps failing after each
// restart, or that is away while the link keeps trying, is one failure to its user.
void UtilityController::tellLinkFailure(link::LinkMessage message) {
    if (linkFailureShown_) return;
    linkFailureShown_ = true;
    view_.showMessage(ui(message == link::LinkMessage::ReceivePktError
                             ? TextKey::MsgReceivePktError
                             : TextKey::MsgReceiveBadPkt));
}

void UtilityController::onTransferReset() {
    model_.closeAfterWrite = false;
}

void UtilityController::onAcknowledgement(std::uint8_t lastCommand) {
    panel_.readControls();
    if (link::isSettingCode(lastCommand)) {
        panel_.onWriteAcknowledged(lastCommand);
    } else if (lastCommand == link::code::SetDateTime) {
        if (model_.closeAfterWrite) {
            timers_.stopTimer(link::kPumpTimer);
            view_.endDialog(id::ResultWritten);
        }
    } else if (lastCommand == code::FirmwareData && firmwareUpdating_) {
        timers_.stopTimer(link::kPumpTimer);
        if (lastChunkQueued_) {
            endFirmwareUpdate(link::Outcome::Done);
        } else if (firmware_.isOpen()) {
            firmwareStep(firmware_.fileLength());
        }
    }
}

void UtilityController::onDeviceInfo(const link::DeviceInfo& info) {
    panel_.onDeviceInfo(info);
}

void UtilityController::onSettingReport(std::uint8_t settingCode, std::uint8_t value) {
    panel_.onSettingReport(settingCode, value);
}

void UtilityController::onFirmwareVersion(const std::string& version) {
    texts_.set(TextKey::LabelFirmVersionVal, version);
    view_.setText(id::FirmwareVersion, ui(TextKey::LabelFirmVersionVal));
}

void UtilityController::onDeviceState(std::uint8_t deviceState) {
    linkFailureShown_ = false;
    panel_.setBoardAway(false);
    panel_.onDeviceState(deviceState);
}

void UtilityController::onFirmwareLinkLost() {
    showProgressArea(false);
}

void UtilityController::onExchangeFailed(bool /*deviceOpen*/, link::Outcome why,
                                         std::uint8_t request) {
    // Whatever the board holds now is unknown until the link has started again.
    panel_.setBoardAway(true);
    panel_.setPanelEnabled(false);
    // A board pulled out is told as one that stopped answering, however the link noticed:
    // a failed read, a failed write or the system's word. An update tells its own end.
    if (firmwareUpdating_) {
        linkFailureShown_ = true;
    } else if (why == link::Outcome::Lost || why == link::Outcome::TimedOut) {
        tellLinkFailure(link::LinkMessage::ReceivePktError);
    }
    if (observer_ != nullptr) observer_->onLinkFailed(why, request);
    if (writingSettings_) endSettingsWrite(why);
    if (firmwareUpdating_) endFirmwareUpdate(why);
}

void UtilityController::onLinkRestarted() {
    // The restart cleared the ring: nothing of an update or a write is left to answer.
    if (writingSettings_) endSettingsWrite(link::Outcome::Lost);
    if (firmwareUpdating_) endFirmwareUpdate(link::Outcome::Lost);
    panel_.setPanelEnabled(false);
}

void UtilityController::onQueueDrainedRefresh() {
    panel_.setPanelEnabled(true);
    panel_.updateApplyButton();
    view_.setText(id::FirmwareVersion, ui(TextKey::LabelFirmVersionVal));
}

void UtilityController::onAnswerDispatched(std::uint8_t lastCommand, std::uint8_t answerCode,
                                           bool matched) {
    if (writingSettings_ && isSettingWrite(lastCommand)) {
        if (!matched) {
            writeOutcome_ = link::Outcome::BadAnswer;
        } else if (answerCode != code::Acknowledge && writeOutcome_ == link::Outcome::Done) {
            writeOutcome_ = link::Outcome::Refused;
        }
        // Refused: OK must not close the window on it.
        if (writeOutcome_ != link::Outcome::Done) model_.closeAfterWrite = false;
        if (lastCommand == code::SetDateTime) endSettingsWrite(writeOutcome_);
    }
    // Anything but an acknowledgement or a request for more ends the update as refused.
    if (firmwareUpdating_ && lastCommand == code::FirmwareData && matched &&
        answerCode != code::Acknowledge && answerCode != code::FirmwareData &&
        answerCode != code::Continue) {
        endFirmwareUpdate(link::Outcome::Refused);
    }
    if (observer_ != nullptr) observer_->onAnswer(lastCommand, answerCode, matched);
}

// ---- Test image -------------------------------------------------------------------------

void UtilityController::onShortAnswer(std::uint32_t length, std::size_t received) {
    if (observer_ != nullptr) observer_->onShortAnswer(length, received);
}

void UtilityController::onTestImageRefused(const link::TestImageHeader& header) {
    if (observer_ != nullptr) observer_->onTestImageRefused(header);
}

void UtilityController::onTestImageHeader(const link::TestImageHeader& header) {
    image_.setHeader(header.width, header.height(), header.dataSize, header.deviceType);
}

void UtilityController::onTestImageComplete(std::vector<std::uint8_t> data) {
    if (observer_ != nullptr) observer_->onTestImageData(data);
    // The raw file is written before decoding, so it always holds the data as received.
    image_.saveRawData(data);
    image_.buildBitmap();
    image_.releaseData();
    view_.showTestImage();
}

bool UtilityController::onTestImageWindowClose() {
    return onTestImageWindowClose(image_);
}

bool UtilityController::onTestImageWindowClose(const testimage::TestImage& shown) {
    switch (view_.askYesNoCancel(ui(TextKey::MsgSaveImage))) {
        case Choice::Yes: {
            const auto path = view_.chooseBitmapFile();
            if (!path) return false;
            if (!shown.hasBitmap()) return true;  // nothing to save
            if (!shown.saveBitmapFile(*path)) {
                // The window and its picture stay, so another place can be chosen.
                view_.showMessage(ui(TextKey::MsgFileOpenError) + *path);
                return false;
            }
            return true;
        }
        case Choice::No:
            return true;
        case Choice::Cancel:
            break;
    }
    return false;
}

}  // namespace q70::app
