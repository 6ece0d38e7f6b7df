// Device addresses as a user types them (--device): any text either parses, and then
// reads back the same from its canonical form, or is refused with a message.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "link/device_address.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace q70::link;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    DeviceAddress address;
    std::string error;
    if (!parseDeviceAddress(text, address, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(error.empty());
    if (address.kind == DeviceKind::UnixSocket || address.kind == DeviceKind::WindowsDevice) {
        FUZZ_CHECK(!address.path.empty());
    }

    const std::string canonical = formatDeviceAddress(address);
    DeviceAddress again;
    std::string againError;
    FUZZ_CHECK(parseDeviceAddress(canonical, again, againError));
    FUZZ_CHECK(again.kind == address.kind);
    FUZZ_CHECK(again.path == address.path);
    if (address.kind == DeviceKind::Usb) {
        FUZZ_CHECK(again.vendorId == address.vendorId && again.productId == address.productId);
    }
    FUZZ_CHECK(formatDeviceAddress(again) == canonical);
    return 0;
}
