#pragma once
// The one string that names the board: parsed here and nowhere else, so that the window,
// the command-line client and the tests agree on what an address means.

#include <cstdint>
#include <string>
#include <string_view>

namespace q70::link {

// Placeholder USB ids: the board's real vendor and product ids are not known to us, so
// these come from the open test range. `usb:VVVV:PPPP` overrides them.
inline constexpr std::uint16_t kDefaultUsbVendorId = 0x1209;
inline constexpr std::uint16_t kDefaultUsbProductId = 0x0001;

enum class DeviceKind {
    Usb,           // usb, usb:VVVV:PPPP or usb:BUS-PORT[.PORT...]
    UnixSocket,    // unix:PATH, a SOCK_SEQPACKET socket
    Simulated,     // sim, the board in this process
    WindowsDevice  // \\.\NAME, the board's own driver on Windows
};

struct DeviceAddress {
    DeviceKind kind = DeviceKind::Usb;
    std::uint16_t vendorId = kDefaultUsbVendorId;
    std::uint16_t productId = kDefaultUsbProductId;
    std::string path;  // socket path or device file name
    // USB: the bus and port path ("1-4.2"); empty: the first board with the ids.
    std::string usbPort;
};

// A board found on USB, as `q70ctl list` shows it.
struct FoundBoard {
    std::string port;  // BUS-PORT[.PORT...]; the address is "usb:" + port
    int bus = 0;
    int device = 0;  // the device number, new on every plugging-in
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;  // empty when the board has none (or it could not be read)
};

// False with a message for the user in `error` when `text` is no address we know.
bool parseDeviceAddress(std::string_view text, DeviceAddress& out, std::string& error);

// The canonical text of an address (usb ids as four lower-case hex digits each).
std::string formatDeviceAddress(const DeviceAddress& address);

}  // namespace q70::link
