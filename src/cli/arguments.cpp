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

const char* className(ErrorClass c) {
    switch (c) {
        case ErrorClass::Usage:
            return "usage";
        case ErrorClass::NoDevice:
            return "no-device";
        case ErrorClass::Timeout:
            return "timeout";
        case ErrorClass::Busy:
            return "busy";
        case ErrorClass::Refused:
            return "refused";
        case ErrorClass::Lost:
            return "lost";
        case ErrorClass::BadAnswer:
            return "bad-answer";
        case ErrorClass::BadFile:
            return "bad-file";
        case ErrorClass::Io:
            break;
    }
    return "io";
}

int exitCodeOf(ErrorClass c) {
    switch (c) {
        case ErrorClass::Usage:
            return kExitUsage;
        case ErrorClass::NoDevice:
            return kExitNoDevice;
        case ErrorClass::Timeout:
            return kExitTimeout;
        case ErrorClass::Busy:
            return kExitBusy;
        case ErrorClass::Refused:
            return kExitRefused;
        case ErrorClass::Lost:
            return kExitLost;
        case ErrorClass::BadAnswer:
        case ErrorClass::BadFile:
        case ErrorClass::Io:
            break;
    }
    return kExitFailed;
}

ErrorClass classOf(link::Outcome outcome) {
    switch (outcome) {
        case link::Outcome::Refused:
            return ErrorClass::Refused;
        case link::Outcome::Lost:
            return ErrorClass::Lost;
        case link::Outcome::TimedOut:
            return ErrorClass::Timeout;
        case link::Outcome::BadFile:
            return ErrorClass::BadFile;
        case link::Outcome::Done:
        case link::Outcome::BadAnswer:
            break;
    }
    return ErrorClass::BadAnswer;
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
