#include "settings/settings_model.hpp"

#include "window/control_ids.hpp"

namespace q70::settings {

namespace {

using config::TextKey;
namespace id = window::id;
namespace code = link::code;

constexpr std::array<SettingInfo, kSettingCount> kTable = {{
    {Setting::TimeStamp,
     "time-stamp",
     code::TimeStamp,
     id::TimeStampFrame,
     {id::TimeStampDisable, id::TimeStampEnable},
     TextKey::FrameTimeStamp,
     {TextKey::RadioTimeStampDisable, TextKey::RadioTimeStampEnable},
     1,
     {"disable", "enable"},
     false},
    {Setting::Margin,
     "margin",
     code::Margin,
     id::MarginFrame,
     {id::MarginDisable, id::MarginEnable},
     TextKey::FrameMargin,
     {TextKey::RadioMarginDisable, TextKey::RadioMarginEnable},
     0,
     {"disable", "enable"},
     false},
    {Setting::Paper,
     "paper",
     code::Paper,
     id::PaperFrame,
     {id::PaperA4, id::PaperLetter},
     TextKey::FramePaper,
     {TextKey::RadioA4, TextKey::RadioLetter},
     0,
     {"a4", "letter"},
     false},
    {Setting::PrintMode,
     "print-mode",
     code::PrintMode,
     id::PrintModeFrame,
     {id::PrintModeOriginal, id::PrintModeMatch},
     TextKey::FramePrintMode,
     {TextKey::RadioOriginalImage, TextKey::RadioMatchPaperSize},
     1,
     {"original", "match"},
     true},
    {Setting::SaveMode,
     "save-mode",
     code::SaveMode,
     id::SaveModeFrame,
     {id::SaveModeOriginal, id::SaveModeMatch},
     TextKey::FrameSaveMode,
     {TextKey::RadioOriginalImage, TextKey::RadioMatchPaperSize},
     1,
     {"original", "match"},
     true},
}};

}  // namespace

const std::array<SettingInfo, kSettingCount>& settingTable() {
    return kTable;
}

const SettingInfo& info(Setting s) {
    return kTable[static_cast<std::size_t>(s)];
}

std::optional<Setting> settingForCode(std::uint8_t requestCode) {
    for (const SettingInfo& i : kTable) {
        if (i.requestCode == requestCode) return i.setting;
    }
    return std::nullopt;
}

std::optional<Setting> settingForRadio(int controlId) {
    for (const SettingInfo& i : kTable) {
        if (i.radioIds[0] == controlId || i.radioIds[1] == controlId) return i.setting;
    }
    return std::nullopt;
}

void SettingsModel::resetToStart() {
    for (const SettingInfo& i : kTable) {
        pending(i.setting) = i.startValue;
        device(i.setting) = i.startValue;
    }
    deviceType = 'S';
    deviceTypeW = false;
    deviceInfo = link::DeviceInfo{};
    dirty = false;
}

bool SettingsModel::anySelectionChanged() const {
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        if (pendingValue[i] != deviceValue[i]) return true;
    }
    return false;
}

}  // namespace q70::settings
