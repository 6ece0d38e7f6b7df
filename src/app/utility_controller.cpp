#include "app/utility_controller.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/control_ids.hpp"
#include "config/paths.hpp"

namespace q70::app {

using config::TextKey;

UtilityController::UtilityController(WindowView& view, link::DeviceTransport& transport,
                                     link::TimerService& timers, const link::Clock& clock,
                                     config::TextCatalogue& texts, testimage::TestImage& image,
                                     ControllerOptions options)
    : view_(view),
      timers_(timers),
      texts_(texts),
      image_(image),
      paths_(config::Paths::fromProgramFolder(options.programFolder)),
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

    // The open-failure text must be there before the device is first opened.
    texts_.loadUsbOpenError(paths_.iniPath);
    connection_.openAtStart();

    // Initial shrink: the right half of the layout holds nothing visible, and the
    // maintenance panel starts hidden.
    Rect r = view_.windowRect();
    r.bottom -= kMaintenanceStepPx;
    r.right /= 2;
    view_.moveWindow(r);
    showMaintenancePanel(false);

    texts_.loadTexts(paths_.iniPath, true);
    applyCaptions();
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
    for (const settings::SettingInfo& i : settings::settingTable()) {
        view_.setText(i.frameId, ui(i.frameKey));
        view_.setText(i.radioIds[0], ui(i.radioKeys[0]));
        view_.setText(i.radioIds[1], ui(i.radioKeys[1]));
    }
    resetDeviceState();
    view_.setFocus(id::Cancel);
    view_.repaint();
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
    view_.moveWindow(r);
    maintenanceShown_ = show;
    showMaintenancePanel(show);
}

void UtilityController::onTimer(int timerId) {
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
    panel_.onDateTimeChanged();
}

void UtilityController::onHelp() {
    view_.openHelp(config::helpPathFor(paths_.iniPath));
}

void UtilityController::shutdown() {
    log_.close();
    connection_.stopLink();
}

void UtilityController::switchLanguage(config::Language language) {
    connection_.suspend();
    currentLanguage_ = config::switchLanguageFiles(paths_, language);
    reload();
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
    model_.closeAfterWrite = closeAfterWrite;
    for (const std::uint8_t c : link::kSettingWriteOrder) connection_.engine().enqueueRequest(c, 1);
    connection_.engine().enqueueRequest(link::code::SetDateTime, 1);
    timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
    model_.dirty = false;
    panel_.setPanelEnabled(false);
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
        const std::string message = opened == firmware::OpenResult::LineTooLong
                                        ? ui(TextKey::MsgBadSTypeFile)
                                        : ui(TextKey::MsgFileOpenError) + firmware_.filePath;
        view_.showMessage(message);
        timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
        return;
    }
    firmwareUpdating_ = true;
    panel_.setPanelEnabled(false);
    connection_.engine().enqueueRequest(link::code::FirmwareData, 1);
    showProgressArea(true);
    showProgress(0);
    timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
    firmware_.readNextChunk();
}

void UtilityController::showProgressArea(bool show) {
    view_.setVisible(id::ProgressFrame, show);
    view_.setVisible(id::Progress, show);
    view_.setVisible(id::ProgressText, show);
    if (show) {
        view_.setProgress(0);
        view_.setText(id::ProgressText, "");
    }
}

void UtilityController::showProgress(int percent) {
    view_.setProgress(percent);
    view_.setText(id::ProgressText, firmware::progressText(ui(TextKey::MsgUpgradeInProgress),
                                                           percent, ui(TextKey::MsgComplete)));
}

void UtilityController::firmwareStep(std::uint64_t length) {
    showProgress(firmware::progressPercent(firmware_.position(), length));
    connection_.engine().enqueueRequest(link::code::FirmwareData, 0);
    timers_.startTimer(link::kPumpTimer, link::kFastPeriodMs);
    firmware_.readNextChunk();
}

void UtilityController::onFirmwareContinue() {
    // Nothing to continue without an open file (a stray answer from the board).
    if (!firmware_.isOpen()) return;
    firmwareStep(firmware_.currentFileLength());
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
        case link::LinkMessage::ReceivePktError:
            view_.showMessage(ui(TextKey::MsgReceivePktError));
            break;
        case link::LinkMessage::ReceiveBadPkt:
            view_.showMessage(ui(TextKey::MsgReceiveBadPkt));
            break;
    }
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
    } else if (lastCommand == link::code::FirmwareData) {
        timers_.stopTimer(link::kPumpTimer);
        if (!lastChunkQueued_ && firmware_.isOpen()) firmwareStep(firmware_.fileLength());
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
    panel_.onDeviceState(deviceState);
}

void UtilityController::onFirmwareLinkLost() {
    showProgressArea(false);
}

void UtilityController::onExchangeFailed(bool deviceOpen) {
    if (!deviceOpen) panel_.setPanelEnabled(false);
}

void UtilityController::onQueueDrainedRefresh() {
    panel_.setPanelEnabled(true);
    panel_.updateApplyButton();
    view_.setText(id::FirmwareVersion, ui(TextKey::LabelFirmVersionVal));
}

void UtilityController::onAnswerDispatched(std::uint8_t lastCommand, std::uint8_t answerCode,
                                           bool matched) {
    if (observer_ != nullptr) observer_->onAnswer(lastCommand, answerCode, matched);
}

// ---- Test image -------------------------------------------------------------------------

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
    switch (view_.askYesNoCancel(ui(TextKey::MsgSaveImage))) {
        case Choice::Yes: {
            const auto path = view_.chooseBitmapFile();
            if (!path) return false;
            // A failed save is not reported; the window closes all the same.
            image_.saveBitmapFile(*path);
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
