#pragma once
// The main window's logic without widgets: start-up, captions, layout of the maintenance
// panel, routing of commands and of the link's answers to the settings, the firmware
// update and the test image. Front ends forward their events here and render what the
// controller tells their WindowView.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "config/paths.hpp"
#include "config/startup.hpp"
#include "config/text_catalogue.hpp"
#include "firmware/firmware_transfer.hpp"
#include "link/connection.hpp"
#include "settings/settings_panel.hpp"
#include "testimage/test_image.hpp"
#include "window/window_view.hpp"

namespace q70::app {

// The two pixel steps of the window's layout.
inline constexpr int kMaintenanceStepPx = 183;
inline constexpr int kButtonRowFromBottomPx = 40;
// What the 40 pixels leave under buttons of the default font; taller buttons (a larger
// dialog font) move up to keep it instead of running off the window's bottom edge.
inline constexpr int kButtonBottomMarginPx = 7;
// How often the date and time pickers look at the computer's clock while nobody has
// edited them.
inline constexpr int kClockCheckMs = 2000;

// Sees the outcome of every exchange: q70ctl uses it to tell a write that the board
// acknowledged from one it answered otherwise.
class ExchangeObserver {
  public:
    virtual ~ExchangeObserver() = default;
    virtual void onAnswer(std::uint8_t lastCommand, std::uint8_t answerCode, bool matched) = 0;
    // A test image's data exactly as received, before the decoder rewrites it in place.
    virtual void onTestImageData(std::span<const std::uint8_t> /*data*/) {}
    // How a firmware update (or its start) and a write of the settings ended, as the
    // window tells it.
    virtual void onFirmwareUpdateEnded(link::Outcome /*outcome*/) {}
    virtual void onSettingsWriteEnded(link::Outcome /*outcome*/) {}
    // An exchange failed (the link starts again by itself later), on `request`.
    virtual void onLinkFailed(link::Outcome /*why*/, std::uint8_t /*request*/) {}
    // Why the link dropped an answer as bad, as the link tells it (before onLinkFailed).
    virtual void onShortAnswer(std::uint32_t /*length*/, std::size_t /*received*/) {}
    virtual void onTestImageRefused(const link::TestImageHeader& /*header*/) {}
};

struct ControllerOptions {
    std::string programFolder;  // the executable's folder: INI, Loc/, help, log, rawdata.bin
    link::LinkOptions link;
    // The computer's local time, which the pickers follow until the user edits them;
    // without it they keep what the view put there.
    std::function<link::DateTime()> localNow = {};
    // Has the built-in simulated board scan a test image; the context menu offers it
    // only when this is set.
    std::function<void()> scanTestImage = {};
};

class UtilityController : public link::LinkListener, public link::RequestSource {
  public:
    UtilityController(window::WindowView& view, link::DeviceTransport& transport,
                      link::TimerService& timers, const link::Clock& clock,
                      config::TextCatalogue& texts, testimage::TestImage& image,
                      ControllerOptions options);

    // Before the window exists: the file-open message, the log, language and font.
    // A log that cannot be opened is reported through the view.
    config::StartupSettings startupReads();
    // The window's initialisation; answers 1.
    int onInitDialog();
    void onTimer(int timerId);
    // Buttons, radio clicks, the dialog's own OK (1) and cancel (2), the language commands
    // and the maintenance toggle.
    void onCommand(int commandId);
    // The user edited the firmware path field.
    void onFirmwarePathEdited();
    // The date or time picker changed.
    void onDateTimeChanged(int pickerId);
    void onHelp();
    // The test-image window is being closed: asks whether to save; true when it may close.
    // A window saves the picture it shows, which may be older than the controller's.
    bool onTestImageWindowClose();
    bool onTestImageWindowClose(const testimage::TestImage& shown);
    // The window is being destroyed: log closed, timers stopped.
    void shutdown();

    void setExchangeObserver(ExchangeObserver* observer) { observer_ = observer; }

    // State, for front ends and tests.
    const settings::SettingsModel& settings() const { return model_; }
    settings::SettingsPanel& panel() { return panel_; }
    const firmware::FirmwareTransfer& firmware() const { return firmware_; }
    bool firmwareUpdating() const { return firmwareUpdating_; }
    bool lastChunkQueued() const { return lastChunkQueued_; }
    bool maintenanceShown() const { return maintenanceShown_; }
    const std::string& currentLanguage() const { return currentLanguage_; }
    const config::Paths& paths() const { return paths_; }
    link::Connection& connection() { return connection_; }
    const link::Connection& connection() const { return connection_; }
    const testimage::TestImage& testImage() const { return image_; }
    const config::TextCatalogue& texts() const { return texts_; }

    // Operations other Parts name, public so that front ends and tests can reach them.
    void applyCaptions();
    void showMaintenancePanel(bool show);
    void toggleMaintenancePanel();
    void resetDeviceState();
    void writeSettings(bool closeAfterWrite);  // Apply (false) and OK (true)
    void chooseFirmwareFile();
    void startFirmwareUpdate();
    void showProgressArea(bool show);
    void showProgress(int percent);

  private:
    // LinkListener
    void showMessage(link::LinkMessage message) override;
    void onTransferReset() override;
    void onAcknowledgement(std::uint8_t lastCommand) override;
    void onDeviceInfo(const link::DeviceInfo& info) override;
    void onSettingReport(std::uint8_t settingCode, std::uint8_t value) override;
    void onFirmwareVersion(const std::string& version) override;
    void onFirmwareContinue() override;
    void onDeviceState(std::uint8_t deviceState) override;
    bool isFirmwareUpdating() const override { return firmwareUpdating_; }
    void onFirmwareLinkLost() override;
    void onExchangeFailed(bool deviceOpen, link::Outcome why, std::uint8_t request) override;
    void onLinkRestarted() override;
    void onQueueDrainedRefresh() override;
    void onAnswerDispatched(std::uint8_t lastCommand, std::uint8_t answerCode,
                            bool matched) override;
    void onShortAnswer(std::uint32_t length, std::size_t received) override;
    void onTestImageRefused(const link::TestImageHeader& header) override;
    void onTestImageHeader(const link::TestImageHeader& header) override;
    void onTestImageComplete(std::vector<std::uint8_t> data) override;

    // RequestSource
    std::uint8_t settingValueForWrite(std::uint8_t settingCode) override;
    link::DateTime pickedDateTime() override;
    std::span<const std::uint8_t> firmwarePath() override;
    std::span<const std::uint8_t> firmwareChunk() override;
    bool firmwareChunkReachesEnd() override;
    void setLastChunkQueued() override { lastChunkQueued_ = true; }

    void nameControls();
    void followComputerClock(bool atOnce);
    void tellLinkFailure(link::LinkMessage message);
    void switchLanguage(config::Language language);
    void applyLanguageFont();
    void reload();
    void firmwareStep(std::uint64_t length);
    void retryFirmwareStep();
    void endFirmwareUpdate(link::Outcome outcome);
    void endSettingsWrite(link::Outcome outcome);
    void updateLanguageMenu();
    std::string ui(config::TextKey key) const { return texts_.utf8(key); }

    window::WindowView& view_;
    link::TimerService& timers_;
    const link::Clock& clock_;
    config::TextCatalogue& texts_;
    testimage::TestImage& image_;
    config::Paths paths_;
    std::function<link::DateTime()> localNow_;
    std::function<void()> scanTestImage_;
    // The user edited a picker: it keeps that value until the next write went through.
    bool pickersEdited_ = false;
    std::uint64_t clockCheckedAtMs_ = 0;
    config::LogFile log_;
    std::string currentLanguage_;

    settings::SettingsModel model_;
    bool firmwareUpdating_ = false;
    bool lastChunkQueued_ = false;
    bool maintenanceShown_ = false;
    firmware::FirmwareTransfer firmware_;
    // A data request the ring could not take yet, and since when it waits.
    bool firmwareStepWaiting_ = false;
    std::uint64_t firmwareStepWaitingSinceMs_ = 0;
    std::uint64_t firmwareStepLength_ = 0;
    // The last percentage shown, so that the progress line follows a language switch.
    int progressShown_ = -1;
    // The six writes of Apply or OK until the date and time are answered.
    // A link failure was reported and no status has come since: a board that keeps
    // failing after each restart is reported once, not every few seconds.
    bool linkFailureShown_ = false;
    bool writingSettings_ = false;
    // How the writes have gone so far: Done, Refused (an answer other than the
    // acknowledgement) or BadAnswer (one that did not belong to the write).
    link::Outcome writeOutcome_ = link::Outcome::Done;
    settings::SettingsPanel panel_;
    link::Connection connection_;
    ExchangeObserver* observer_ = nullptr;
};

}  // namespace q70::app
