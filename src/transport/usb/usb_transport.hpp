#pragma once
// The board over libusb-1.0: the first device with the ids, its interface with one
// bulk-out and one bulk-in endpoint, packets of up to 1024 bytes.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/device_address.hpp"

#include "link/transport.hpp"
#include "system/board_lock.hpp"
#include "transport/usb/usb_logic.hpp"

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

namespace q70::transport {

class UsbTransport : public link::DeviceTransport {
  public:
    // With a port path ("1-4.2") the device on that port, whatever its ids.
    UsbTransport(std::uint16_t vendorId, std::uint16_t productId, std::string port = {});
    ~UsbTransport() override;
    UsbTransport(const UsbTransport&) = delete;
    UsbTransport& operator=(const UsbTransport&) = delete;

    bool open() override;
    bool isOpen() const override { return handle_ != nullptr; }
    bool writePacket(std::span<const std::uint8_t> packet) override;
    // One bulk-in transfer stays submitted across calls, so an answer that arrives after a
    // read gave up waiting is kept for the next read instead of being lost.
    link::ReadResult readPacket(link::PacketBuffer& buffer, int maxWaitMs) override;
    void close() override;
    bool stillThere() override;
    const char* lastError() const override { return lastError_.c_str(); }
    link::OpenProblem openProblem() const override { return problem_; }
    link::DeviceLocation location() const override;

    // Whether libusb tells of arrivals and removals here; without it the link's reconnect
    // timer finds the board by trying to open it.
    bool hasHotplug() const { return hotplug_; }

  private:
    friend struct HotplugAccess;
    void startHotplug();
    void pumpEvents();
    bool fail(usb::OpenProblem problem, const std::string& where, int libusbError);
    // Takes the board's lock, named after its port path; false when another program has it.
    bool lockBoard(const std::string& port);
    void releaseInTransfer();

    usb::UsbIds ids_;
    std::string port_;
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    usb::BulkPair endpoints_;
    bool claimed_ = false;
    libusb_transfer* inTransfer_ = nullptr;
    bool inFlight_ = false;
    int inDone_ = 0;  // set by the completion callback
    std::array<std::uint8_t, link::kPacketSize> inBuffer_{};
    std::string lastError_;
    link::OpenProblem problem_;
    system::BoardLock lock_;
    std::string openPort_;  // of the board open now
    std::string serial_;
    bool hotplug_ = false;
    int hotplugHandle_ = 0;
    bool arrived_ = false;  // a matching device arrived since the last failed open
    bool left_ = false;     // the open device was removed
    bool lastAbsent_ = false;
};

// Every device with the ids, in bus and port order, with its serial number where the
// board has one and this user may read it. False with a message when libusb cannot start.
bool listUsbBoards(std::uint16_t vendorId, std::uint16_t productId,
                   std::vector<link::FoundBoard>& out, std::string& error);

}  // namespace q70::transport
