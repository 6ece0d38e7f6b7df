#include "cli/arguments.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace q70::cli {

namespace {

std::string lower(std::string_view text) {
    std::string s(text);
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string knownNames() {
    std::string names;
    for (const settings::SettingInfo& i : settings::settingTable()) {
        if (!names.empty()) names += ", ";
        names += i.name;
    }
    return names;
}

// Exactly `digits` decimal digits at `pos`.
bool readNumber(std::string_view text, std::size_t pos, std::size_t digits, int& out) {
    if (pos + digits > text.size()) return false;
    int v = 0;
    for (std::size_t i = pos; i < pos + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
}

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool parseAssignment(std::string_view text, SettingAssignment& out, std::string& error) {
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        error = "expected NAME=VALUE, got \"" + std::string(text) + "\"";
        return false;
    }
    const std::string name = lower(text.substr(0, eq));
    const std::string value = lower(text.substr(eq + 1));
    for (const settings::SettingInfo& i : settings::settingTable()) {
        if (name != i.name) continue;
        out.setting = i.setting;
        if (value == "0" || value == i.valueWords[0]) {
            out.value = 0;
        } else if (value == "1" || value == i.valueWords[1]) {
            out.value = 1;
        } else {
            error = std::string(i.name) + " takes 0, 1, " + i.valueWords[0] + " or " +
                    i.valueWords[1] + ", not \"" + std::string(text.substr(eq + 1)) + "\"";
            return false;
        }
        return true;
    }
    error =
        "unknown setting \"" + std::string(text.substr(0, eq)) + "\" (known: " + knownNames() + ")";
    return false;
}

bool parseAssignments(const std::vector<std::string>& texts, std::vector<SettingAssignment>& out,
                      std::string& error) {
    out.clear();
    for (const std::string& t : texts) {
        SettingAssignment a{};
        if (!parseAssignment(t, a, error)) return false;
        for (const SettingAssignment& earlier : out) {
            if (earlier.setting == a.setting) {
                error = std::string(settings::info(a.setting).name) + " is named twice";
                return false;
            }
        }
        out.push_back(a);
    }
    return true;
}

bool parseDateTime(std::string_view text, link::DateTime& out, std::string& error) {
    link::DateTime dt;
    const bool shape = text.size() == 16 && text[4] == '-' && text[7] == '-' &&
                       (text[10] == 'T' || text[10] == 't') && text[13] == ':' &&
                       readNumber(text, 0, 4, dt.year) && readNumber(text, 5, 2, dt.month) &&
                       readNumber(text, 8, 2, dt.day) && readNumber(text, 11, 2, dt.hour) &&
                       readNumber(text, 14, 2, dt.minute);
    if (!shape) {
        error = "expected now or YYYY-MM-DDTHH:MM, got \"" + std::string(text) + "\"";
        return false;
    }
    if (dt.year < 1 || dt.month < 1 || dt.month > 12 || dt.day < 1 ||
        dt.day > daysInMonth(dt.year, dt.month) || dt.hour > 23 || dt.minute > 59) {
        error = "no such date and time: " + std::string(text);
        return false;
    }
    out = dt;
    return true;
}

std::string formatDateTime(const link::DateTime& dt) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d", dt.year, dt.month, dt.day, dt.hour,
                  dt.minute);
    return buf;
}

std::string valueWord(settings::Setting setting, std::int32_t value) {
    const settings::SettingInfo& i = settings::info(setting);
    if (value == 0 || value == 1) return i.valueWords[value];
    return std::to_string(value);
}

std::string requestName(std::uint8_t code) {
    namespace c = link::code;
    const char* name = nullptr;
    switch (code) {
        case c::GetDeviceInfo:
            name = "GetDeviceInfo";
            break;
        case c::GetStatus:
            name = "GetStatus";
            break;
        case c::GetTestImage:
            name = "GetTestImage";
            break;
        case c::SetDateTime:
            name = "SetDateTime";
            break;
        case c::PrintMode:
            name = "PrintMode";
            break;
        case c::GetFirmwareVersion:
            name = "GetFirmwareVersion";
            break;
        case c::SaveMode:
            name = "SaveMode";
            break;
        case c::Paper:
            name = "Paper";
            break;
        case c::Margin:
            name = "Margin";
            break;
        case c::TimeStamp:
            name = "TimeStamp";
            break;
        case c::FirmwareData:
            name = "FirmwareData";
            break;
        default:
            break;
    }
    const std::string number = std::to_string(code);
    return name != nullptr ? std::string(name) + " (" + number + ")" : "request " + number;
}

std::string hexByte(std::uint8_t value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", value);
    return buf;
}

}  // namespace q70::cli
