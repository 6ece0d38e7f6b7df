#pragma once
// The transports that exist only on one system: Unix-domain sockets (unix:PATH) on Linux,
// device files and named pipes (\\.\NAME) on Windows. The other system's kind gives nullptr
// and a message in `error`.

#include <memory>
#include <string>

#include "link/device_address.hpp"
#include "link/transport.hpp"

namespace q70::transport {

// The board when no --device is given: usb on Linux, the driver's \\.\CPYBRD0 on Windows.
const char* defaultDeviceAddress();

std::unique_ptr<link::DeviceTransport> createSystemTransport(const link::DeviceAddress& address,
                                                             std::string& error);

}  // namespace q70::transport
