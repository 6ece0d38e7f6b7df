#pragma once
// The five two-way settings, each held twice: as selected on screen (pendingValue) and as
// the board last reported or acknowledged it (deviceValue).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "config/text_catalogue.hpp"
#include "link/protocol.hpp"

namespace q70::settings {

enum class Setting : std::size_t { TimeStamp, Margin, Paper, PrintMode, SaveMode };
inline constexpr std::size_t kSettingCount = 5;

struct SettingInfo {
    Setting setting;
    const char* name;  // q70ctl's name for it
    std::uint8_t requestCode;
    int frameId;
    int radioIds[2];  // value 0, value 1
    config::TextKey frameKey;
    config::TextKey radioKeys[2];
    std::int32_t startValue;
    const char* valueWords[2];  // q70ctl's words for 0 and 1
    bool imageMode;             // enabled only on a board of type W
};

const std::array<SettingInfo, kSettingCount>& settingTable();
const SettingInfo& info(Setting s);
std::optional<Setting> settingForCode(std::uint8_t requestCode);
// The setting whose radio pair holds this id.
std::optional<Setting> settingForRadio(int controlId);

struct SettingsModel {
    std::array<std::int32_t, kSettingCount> pendingValue{};
    std::array<std::int32_t, kSettingCount> deviceValue{};
    bool dirty = false;
    bool closeAfterWrite = false;
    char deviceType = 'S';
    bool deviceTypeW = false;
    link::DeviceInfo deviceInfo;

    std::int32_t& pending(Setting s) { return pendingValue[static_cast<std::size_t>(s)]; }
    std::int32_t& device(Setting s) { return deviceValue[static_cast<std::size_t>(s)]; }
    std::int32_t pending(Setting s) const { return pendingValue[static_cast<std::size_t>(s)]; }
    std::int32_t device(Setting s) const { return deviceValue[static_cast<std::size_t>(s)]; }

    // Both values of every setting to its start value; the device record to 'S' and zeros.
    // dirty is cleared; closeAfterWrite is left as it is.
    void resetToStart();
    // Some selection differs from what the board holds.
    bool anySelectionChanged() const;
};

}  // namespace q70::settings
