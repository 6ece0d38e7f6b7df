#include "link/device_address.hpp"

#include <cstdio>

namespace q70::link {
namespace {

constexpr std::string_view kForms =
    "use usb, usb:VVVV:PPPP (hexadecimal vendor and product id), usb:BUS-PORT[.PORT...] "
    "(as q70ctl list shows), unix:PATH, sim or \\\\.\\NAME";

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool equalsNoCase(std::string_view text, std::string_view word) {
    return text.size() == word.size() && startsWithNoCase(text, word);
}

// One to four hex digits, nothing else.
bool parseHexId(std::string_view text, std::uint16_t& out) {
    if (text.empty() || text.size() > 4) return false;
    unsigned value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value * 16 + digit;
    }
    out = static_cast<std::uint16_t>(value);
    return true;
}

// BUS-PORT[.PORT...]: decimal numbers, a bus of 1 to 3 digits, up to seven ports.
bool isPortPath(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 3) return false;
    for (std::size_t i = 0; i < dash; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    int ports = 0;
    std::size_t digits = 0;
    for (std::size_t i = dash + 1; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits == 0 || digits > 3 || ++ports > 7) return false;
            digits = 0;
        } else if (text[i] >= '0' && text[i] <= '9') {
            ++digits;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseDeviceAddress(std::string_view text, DeviceAddress& out, std::string& error) {
    const std::string quoted = "\"" + std::string(text) + "\"";
    DeviceAddress result;

    if (equalsNoCase(text, "usb")) {
        result.kind = DeviceKind::Usb;
    } else if (startsWithNoCase(text, "usb:")) {
        const std::string_view ids = text.substr(4);
        if (ids.find('-') != std::string_view::npos) {
            if (!isPortPath(ids)) {
                error = "Bad USB address " + quoted +
                        ": expected usb:BUS-PORT[.PORT...] with decimal numbers (for example "
                        "usb:1-4.2, as q70ctl list shows).";
                return false;
            }
            result.kind = DeviceKind::Usb;
            result.usbPort = std::string(ids);
            out = std::move(result);
            return true;
        }
        const std::size_t colon = ids.find(':');
        if (colon == std::string_view::npos || !parseHexId(ids.substr(0, colon), result.vendorId) ||
            !parseHexId(ids.substr(colon + 1), result.productId)) {
            error = "Bad USB address " + quoted +
                    ": expected usb:VVVV:PPPP with the vendor and product id in hexadecimal "
                    "(for example usb:1209:0001).";
            return false;
        }
        result.kind = DeviceKind::Usb;
    } else if (startsWithNoCase(text, "unix:")) {
        result.path = std::string(text.substr(5));
        if (result.path.empty()) {
            error = "Bad socket address " + quoted + ": expected unix:PATH with a socket path.";
            return false;
        }
        result.kind = DeviceKind::UnixSocket;
    } else if (equalsNoCase(text, "sim")) {
        result.kind = DeviceKind::Simulated;
    } else if (text.size() > 4 && text.substr(0, 4) == "\\\\.\\") {
        result.kind = DeviceKind::WindowsDevice;
        result.path = std::string(text);
    } else {
        error = text.empty()
                    ? "No device address given: " + std::string(kForms) + "."
                    : "Unknown device address " + quoted + ": " + std::string(kForms) + ".";
        return false;
    }
    out = std::move(result);
    return true;
}

std::string formatDeviceAddress(const DeviceAddress& address) {
    switch (address.kind) {
        case DeviceKind::Usb: {
            if (!address.usbPort.empty()) return "usb:" + address.usbPort;
            char ids[16];
            std::snprintf(ids, sizeof ids, "%04x:%04x", address.vendorId, address.productId);
            return std::string("usb:") + ids;
        }
        case DeviceKind::UnixSocket:
            return "unix:" + address.path;
        case DeviceKind::Simulated:
            return "sim";
        case DeviceKind::WindowsDevice:
            return address.path;
    }
    return {};
}

}  // namespace q70::link
