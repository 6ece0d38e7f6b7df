#pragma once
// One place that turns a device address into a transport for the front ends.

#include <functional>
#include <memory>
#include <string>

#include "link/device_address.hpp"
#include "link/timer_service.hpp"
#include "link/transport.hpp"

namespace q70::transport {

// How long after start the built-in `sim` board offers its demonstration test image.
inline constexpr std::uint32_t kDemoImageAfterMs = 3000;

// When the built-in `sim` board offers its test image: on its own soon after start, for
// q70ctl, which waits for one without a person; or when the window's user asks for it, as
// an image popping up over the window would surprise its user.
enum class SimImage { AfterStart, OnRequest };

// The transport for `address`, not yet opened; nullptr with a message in `error` when
// this build cannot reach such a device. `clock` drives the simulated board's timing and
// must outlive the transport.
std::unique_ptr<link::DeviceTransport> createTransport(const link::DeviceAddress& address,
                                                       const link::Clock& clock, std::string& error,
                                                       SimImage simImage = SimImage::AfterStart);

// Has the built-in simulated board behind `transport` scan a test image; empty for any
// other transport. Valid as long as the transport.
std::function<void()> simulatedScan(link::DeviceTransport& transport);

}  // namespace q70::transport
