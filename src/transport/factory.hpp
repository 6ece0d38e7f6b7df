#pragma once
// One place that turns a device address into a transport for the front ends.

#include <memory>
#include <string>

#include "link/device_address.hpp"
#include "link/timer_service.hpp"
#include "link/transport.hpp"

namespace q70::transport {

// How long after start the built-in `sim` board offers its demonstration test image.
inline constexpr std::uint32_t kDemoImageAfterMs = 3000;

// The transport for `address`, not yet opened; nullptr with a message in `error` when
// this build cannot reach such a device. `clock` drives the simulated board's timing and
// must outlive the transport.
std::unique_ptr<link::DeviceTransport> createTransport(const link::DeviceAddress& address,
                                                       const link::Clock& clock,
                                                       std::string& error);

}  // namespace q70::transport
