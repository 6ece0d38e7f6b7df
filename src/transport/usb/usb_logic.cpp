#include "transport/usb/usb_logic.hpp"

#include <libusb.h>

#include <cstdio>

namespace q70::transport::usb {

std::vector<AltSettingInfo> describeConfig(const libusb_config_descriptor& config) {
    std::vector<AltSettingInfo> out;
    for (int i = 0; i < config.bNumInterfaces && config.interface != nullptr; ++i) {
        const libusb_interface& itf = config.interface[i];
        for (int a = 0; a < itf.num_altsetting && itf.altsetting != nullptr; ++a) {
            const libusb_interface_descriptor& alt = itf.altsetting[a];
            AltSettingInfo info;
            info.interfaceNumber = alt.bInterfaceNumber;
            info.alternateSetting = alt.bAlternateSetting;
            for (int e = 0; e < alt.bNumEndpoints && alt.endpoint != nullptr; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                info.endpoints.push_back({ep.bEndpointAddress, ep.bmAttributes, ep.wMaxPacketSize});
            }
            out.push_back(std::move(info));
        }
    }
    return out;
}

std::optional<BulkPair> chooseBulkInterface(const std::vector<AltSettingInfo>& settings) {
    for (const AltSettingInfo& s : settings) {
        int outs = 0;
        int ins = 0;
        BulkPair pair{s.interfaceNumber, s.alternateSetting, 0, 0};
        for (const EndpointInfo& ep : s.endpoints) {
            if ((ep.attributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK)
                continue;
            if ((ep.address & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                ++ins;
                pair.inEndpoint = ep.address;
            } else {
                ++outs;
                pair.outEndpoint = ep.address;
            }
        }
        if (outs == 1 && ins == 1) return pair;
    }
    return std::nullopt;
}

OpenProblem classifyOpenError(int e) {
    switch (e) {
        case LIBUSB_SUCCESS:
            return OpenProblem::None;
        case LIBUSB_ERROR_ACCESS:
            return OpenProblem::NoAccess;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return OpenProblem::Absent;
        case LIBUSB_ERROR_BUSY:
            return OpenProblem::Busy;
        default:
            return OpenProblem::Other;
    }
}

std::string describeOpenProblem(OpenProblem problem, UsbIds ids, const std::string& where,
                                const std::string& detail) {
    char id[16];
    std::snprintf(id, sizeof id, "%04x:%04x", ids.vendorId, ids.productId);
    const std::string board =
        std::string("the Q-70 board (USB id ") + id + (where.empty() ? "" : ", " + where) + ")";
    const std::string why = detail.empty() ? "" : " (" + detail + ")";
    switch (problem) {
        case OpenProblem::None:
            return {};
        case OpenProblem::NoLibrary:
            return "The USB library could not be started" + why + ".";
        case OpenProblem::Absent:
            return std::string("No Q-70 board with USB id ") + id +
                   " is connected. Check the cable and that the board is powered on; a board "
                   "with other ids is opened with --device usb:VVVV:PPPP.";
        case OpenProblem::NoAccess:
            return "Found " + board + ", but this user may not open it" + why +
                   ". Install the udev rule: copy packaging/70-q70.rules to /etc/udev/rules.d/, "
                   "run \"sudo udevadm control --reload\", then unplug and replug the board.";
        case OpenProblem::Busy:
            return "Found " + board + ", but another program or driver is using it" + why + ".";
        case OpenProblem::NoBulkInterface:
            return "Found the USB device " + std::string(id) +
                   ", but it has no interface with one bulk-out and one bulk-in endpoint; it "
                   "does not look like a Q-70 board.";
        case OpenProblem::Other:
            return "Cannot open " + board + why + ".";
    }
    return {};
}

link::ReadStatus mapTransferStatus(int transferStatus, int actualLength) {
    switch (transferStatus) {
        case LIBUSB_TRANSFER_COMPLETED:
            return actualLength > 0 ? link::ReadStatus::Ok : link::ReadStatus::Pending;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return link::ReadStatus::Pending;
        default:
            // Error, cancelled, stall, device gone, overflow (more than one packet's worth
            // arrived, so the framing can no longer be trusted).
            return link::ReadStatus::Failed;
    }
}

bool writeSucceeded(int libusbResult, int transferred, std::size_t size) {
    return libusbResult == LIBUSB_SUCCESS && transferred >= 0 &&
           static_cast<std::size_t>(transferred) == size;
}

}  // namespace q70::transport::usb
