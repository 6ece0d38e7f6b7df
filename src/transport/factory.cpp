#include "transport/factory.hpp"

#include "sim/sim_transport.hpp"
#include "transport/system_transport.hpp"
#if defined(Q70_HAVE_USB)
#include "transport/usb/usb_transport.hpp"
#endif

namespace q70::transport {

std::unique_ptr<link::DeviceTransport> createTransport(const link::DeviceAddress& address,
                                                       const link::Clock& clock, std::string& error,
                                                       SimImage simImage) {
    switch (address.kind) {
        case link::DeviceKind::Simulated: {
            // The demonstration board: it offers one test image soon after start, so that a
            // first run shows the whole flow, or whenever it is asked to scan.
            sim::BoardOptions options;
            if (simImage == SimImage::AfterStart) options.firstImageAfterMs = kDemoImageAfterMs;
            return std::make_unique<sim::SimTransport>(
                std::make_unique<sim::SimulatedBoard>(clock, options));
        }
        case link::DeviceKind::UnixSocket:
        case link::DeviceKind::WindowsDevice:
            return createSystemTransport(address, error);
        case link::DeviceKind::Usb:
#if defined(Q70_HAVE_USB)
            return std::make_unique<UsbTransport>(address.vendorId, address.productId,
                                                  address.usbPort);
#else
            error = "This build has no USB support (it was configured with Q70_BUILD_USB=OFF).";
            return nullptr;
#endif
    }
    error = "Unknown device address.";
    return nullptr;
}

std::function<void()> simulatedScan(link::DeviceTransport& transport) {
    auto* simulated = dynamic_cast<sim::SimTransport*>(&transport);
    if (simulated == nullptr) return {};
    return [simulated] { simulated->board().offerTestImage(); };
}

}  // namespace q70::transport
