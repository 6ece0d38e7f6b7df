#include "transport/system_transport.hpp"

#include "transport/unix/unix_socket_transport.hpp"

namespace q70::transport {

const char* defaultDeviceAddress() {
    return "usb";
}

std::unique_ptr<link::DeviceTransport> createSystemTransport(const link::DeviceAddress& address,
                                                             std::string& error) {
    if (address.kind == link::DeviceKind::UnixSocket) {
        return std::make_unique<UnixSocketTransport>(address.path);
    }
    error = "Device files such as " + address.path +
            " exist only on Windows; on this system use usb, unix:PATH or sim.";
    return nullptr;
}

}  // namespace q70::transport
