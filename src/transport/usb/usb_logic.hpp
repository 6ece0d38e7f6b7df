#pragma once
// The parts of the USB transport that need no device: choosing the interface and its
// endpoints from a configuration descriptor, and turning libusb's results into the
// link's read and open outcomes and the user's error text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/transport.hpp"

struct libusb_config_descriptor;

namespace q70::transport::usb {

struct EndpointInfo {
    std::uint8_t address = 0;     // bit 0x80: IN
    std::uint8_t attributes = 0;  // low two bits: transfer type (2 = bulk)
    std::uint16_t maxPacketSize = 0;
};

struct AltSettingInfo {
    std::uint8_t interfaceNumber = 0;
    std::uint8_t alternateSetting = 0;
    std::vector<EndpointInfo> endpoints;
};

// Every alternate setting of every interface, in descriptor order.
std::vector<AltSettingInfo> describeConfig(const libusb_config_descriptor& config);

struct BulkPair {
    std::uint8_t interfaceNumber = 0;
    std::uint8_t alternateSetting = 0;
    std::uint8_t outEndpoint = 0;
    std::uint8_t inEndpoint = 0;
};

// The first alternate setting with exactly one bulk-out and exactly one bulk-in endpoint
// (other endpoint types may sit beside them); none when no setting qualifies.
std::optional<BulkPair> chooseBulkInterface(const std::vector<AltSettingInfo>& settings);

enum class OpenProblem {
    None,
    NoLibrary,        // libusb could not start
    Absent,           // no device with the ids
    NoAccess,         // present, but this user may not open or claim it
    Busy,             // claimed by another program or driver
    NoBulkInterface,  // present, but not shaped like the board
    Other,
};

// For a libusb error returned by open, claim or detach.
OpenProblem classifyOpenError(int libusbError);

struct UsbIds {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// The text behind lastError(): what happened and what the user can do about it.
// `where` names the device (for example "bus 1 device 5") when it was found; `detail` is
// libusb's name for the error.
std::string describeOpenProblem(OpenProblem problem, UsbIds ids, const std::string& where = {},
                                const std::string& detail = {});

// A completed bulk-in transfer (libusb_transfer_status and the bytes it carried). A
// zero-length packet carries no answer and counts as nothing yet.
link::ReadStatus mapTransferStatus(int transferStatus, int actualLength);

// A bulk-out write: it counts only when every byte went out.
bool writeSucceeded(int libusbResult, int transferred, std::size_t size);

}  // namespace q70::transport::usb
