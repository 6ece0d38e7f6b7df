#include "settings/settings_panel.hpp"

#include "window/control_ids.hpp"

namespace q70::settings {

namespace id = window::id;

SettingsPanel::SettingsPanel(window::WindowView& view, SettingsModel& model,
                             const bool& firmwareUpdating, std::string& filePath)
    : view_(view), model_(model), firmwareUpdating_(firmwareUpdating), filePath_(filePath) {}

void SettingsPanel::readControls() {
    for (const SettingInfo& i : settingTable()) {
        std::int32_t v = -1;
        if (view_.isChecked(i.radioIds[0])) {
            v = 0;
        } else if (view_.isChecked(i.radioIds[1])) {
            v = 1;
        }
        model_.pending(i.setting) = v;
    }
}

void SettingsPanel::showModel() {
    for (const SettingInfo& i : settingTable()) {
        const std::int32_t v = model_.pending(i.setting);
        view_.setChecked(i.radioIds[0], v == 0);
        view_.setChecked(i.radioIds[1], v == 1);
    }
    updateTabStops();
}

void SettingsPanel::updateTabStops() {
    for (const SettingInfo& i : settingTable()) {
        const bool second = view_.isChecked(i.radioIds[1]) && !view_.isChecked(i.radioIds[0]);
        view_.setTabStop(i.radioIds[0], !second);
        view_.setTabStop(i.radioIds[1], second);
    }
}

void SettingsPanel::setBoardAway(bool away) {
    if (away == boardAway_) return;
    boardAway_ = away;
    if (away) view_.setEnabled(id::Cancel, true);
}

void SettingsPanel::resetDeviceState() {
    model_.resetToStart();
    showModel();
}

void SettingsPanel::updateApplyButton() {
    view_.setEnabled(id::Apply, model_.dirty);
}

void SettingsPanel::onRadioClicked(int controlId) {
    const auto s = settingForRadio(controlId);
    if (!s) return;
    readControls();
    updateTabStops();
    // A click never clears dirty, even one that brings the pair back.
    if (model_.pending(*s) != model_.device(*s)) {
        model_.dirty = true;
        updateApplyButton();
    }
}

void SettingsPanel::onDateTimeChanged() {
    model_.dirty = true;
    updateApplyButton();
}

void SettingsPanel::reset() {
    readControls();
    for (const SettingInfo& i : settingTable()) model_.pending(i.setting) = i.startValue;
    showModel();
    // The pickers are not part of this comparison.
    model_.dirty = model_.anySelectionChanged();
    updateApplyButton();
}

void SettingsPanel::refreshUpdateButton() {
    filePath_ = view_.text(id::FirmwarePath);
    view_.setEnabled(id::Update, !filePath_.empty());
}

void SettingsPanel::setPanelEnabled(bool enable) {
    readControls();
    const bool open = enable && !firmwareUpdating_;
    for (int c : {id::Reset, id::OK, id::Cancel, id::FileSelect, id::FirmwarePath, id::DatePicker,
                  id::TimePicker}) {
        view_.setEnabled(c, open);
    }
    view_.setEnabled(id::Apply, false);
    refreshUpdateButton();
    for (const SettingInfo& i : settingTable()) {
        const bool on = open && (!i.imageMode || model_.deviceTypeW);
        view_.setEnabled(i.radioIds[0], on);
        view_.setEnabled(i.radioIds[1], on);
    }
    if (firmwareUpdating_) {
        view_.setEnabled(id::Cancel, true);
        view_.setEnabled(id::Update, false);
    }
    if (boardAway_) view_.setEnabled(id::Cancel, true);
    if (focusCancel_ && (open || firmwareUpdating_ || boardAway_)) {
        focusCancel_ = false;
        view_.setFocus(id::Cancel);
    }
    updateApplyButton();
    showModel();
}

void SettingsPanel::onWriteAcknowledged(std::uint8_t settingCode) {
    const auto s = settingForCode(settingCode);
    if (!s) return;
    readControls();
    model_.device(*s) = model_.pending(*s);
}

void SettingsPanel::onSettingReport(std::uint8_t settingCode, std::uint8_t value) {
    const auto s = settingForCode(settingCode);
    if (!s) return;
    readControls();
    model_.pending(*s) = value;
    model_.device(*s) = value;
    showModel();
}

void SettingsPanel::onDeviceInfo(const link::DeviceInfo& info) {
    model_.deviceInfo = info;
    model_.deviceType = info.deviceType;
    model_.deviceTypeW = info.deviceTypeW();
}

void SettingsPanel::onDeviceState(std::uint8_t deviceState) {
    switch (link::reactionTo(deviceState)) {
        case link::StateReaction::OpenPanel:
            setPanelEnabled(true);
            break;
        case link::StateReaction::ClosePanel:
            setPanelEnabled(false);
            break;
        default:
            break;
    }
}

}  // namespace q70::settings
