#include "transport/system_transport.hpp"

#include "transport/win32/device_transport.hpp"

namespace q70::transport {

const char* defaultDeviceAddress() {
    return "\\\\.\\CPYBRD0";
}

std::unique_ptr<link::DeviceTransport> createSystemTransport(const link::DeviceAddress& address,
                                                             std::string& error) {
    if (address.kind == link::DeviceKind::WindowsDevice) {
        return std::make_unique<Win32DeviceTransport>(address.path);
    }
    error = "Unix-domain sockets (" + link::formatDeviceAddress(address) +
            ") exist only on Linux; on Windows use \\\\.\\CPYBRD0, \\\\.\\pipe\\NAME or sim.";
    return nullptr;
}

}  // namespace q70::transport
