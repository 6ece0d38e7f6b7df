#pragma once
// The editing rules of the settings panel and the rule that enables the window's controls.

#include <cstdint>
#include <string>

#include "settings/settings_model.hpp"
#include "window/window_view.hpp"

namespace q70::settings {

class SettingsPanel {
  public:
    // `firmwareUpdating` is read for the enable rule; `filePath` receives the text of the
    // firmware path field whenever the Update button is refreshed.
    SettingsPanel(window::WindowView& view, SettingsModel& model, const bool& firmwareUpdating,
                  std::string& filePath);

    SettingsModel& model() { return model_; }
    const SettingsModel& model() const { return model_; }

    // Every pendingValue from its radio pair (-1 when neither radio is on).
    void readControls();
    // Check the radio whose index equals pendingValue (neither when it is not 0 or 1).
    void showModel();
    // Each pair's one tab stop on its checked radio, on the first when neither is.
    void updateTabStops();

    // Start values, device record, dirty; then show. (The controller clears its flags.)
    void resetDeviceState();
    void onRadioClicked(int controlId);
    void onDateTimeChanged();
    void reset();
    void setPanelEnabled(bool enable);
    void refreshUpdateButton();
    void updateApplyButton();
    // The keyboard focus goes to Cancel the next time it is enabled.
    void focusCancelOnceEnabled() { focusCancel_ = true; }
    // The board could not be opened or stopped answering: Cancel stays usable, as nothing
    // else can end a wait for a board that may not come back.
    void setBoardAway(bool away);
    bool boardAway() const { return boardAway_; }

    // Answer reactions.
    void onWriteAcknowledged(std::uint8_t settingCode);
    void onSettingReport(std::uint8_t settingCode, std::uint8_t value);
    void onDeviceInfo(const link::DeviceInfo& info);
    void onDeviceState(std::uint8_t deviceState);

  private:
    window::WindowView& view_;
    SettingsModel& model_;
    const bool& firmwareUpdating_;
    std::string& filePath_;
    bool focusCancel_ = false;
    bool boardAway_ = false;
};

}  // namespace q70::settings
