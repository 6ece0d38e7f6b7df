#pragma once
// What the link needs from whatever carries packets to the board: a USB device, a
// Unix-domain socket, or the simulated board in this process.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "link/protocol.hpp"

namespace q70::link {

enum class ReadStatus {
    Ok,       // one packet was read
    Pending,  // nothing arrived within the wait; the board may still answer
    Failed,   // the device is gone or the read broke
};

struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    std::size_t size = 0;
};

// Why the last open failed, beyond the text of lastError(): a board that another program
// holds is told apart from one that is missing, so that a front end can say so and wait.
struct OpenProblem {
    bool busy = false;
    // Who holds the board, when known: the program's file name and its process id.
    std::string holder;
    unsigned long holderPid = 0;
};

// Where an open transport reached its board.
struct DeviceLocation {
    std::string address;  // as an address that reaches this board again (usb:BUS-PORT, ...)
    std::string usbPort;  // BUS-PORT[.PORT...] on USB, else empty
    std::string serial;   // the USB serial number; empty when the board has none
    bool usb = false;
};

class DeviceTransport {
  public:
    virtual ~DeviceTransport() = default;

    // Exclusive access to the board; false when it is absent or not accessible.
    virtual bool open() = 0;
    // The handle is valid (open succeeded and close has not been called since).
    virtual bool isOpen() const = 0;
    // One request packet of 5 to 1024 bytes, written whole.
    virtual bool writePacket(std::span<const std::uint8_t> packet) = 0;
    // One answer packet of up to 1024 bytes. Waits at most maxWaitMs (0: do not wait)
    // so that the caller's thread is never held for long.
    virtual ReadResult readPacket(PacketBuffer& buffer, int maxWaitMs) = 0;
    // Releases the handle; harmless when it is not open.
    virtual void close() = 0;
    // False once the platform has told that the open device was removed (USB hotplug),
    // before any read or write found out. Transports that cannot tell say true.
    virtual bool stillThere() { return true; }
    // Why the last open failed, for front ends that can say more than the catalogue text
    // (for example missing permissions on a USB device). Empty when there is nothing to add.
    virtual const char* lastError() const { return ""; }
    // After a failed open: whether the board was busy, and who holds it.
    virtual OpenProblem openProblem() const { return {}; }
    // While open: which board this is. Empty fields where the transport cannot tell.
    virtual DeviceLocation location() const { return {}; }
};

}  // namespace q70::link
