#pragma once
// Simulated boards behind emulated USB devices, for tests: umockdev fakes sysfs, udev and
// the device nodes of a made-up bus under its LD_PRELOAD library, and every ioctl on a
// node comes here, where a usbdevfs of our own answers libusb the way the kernel's would,
// with a SimulatedBoard producing the answers.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/simulated_board.hpp"

namespace q70::usbemu {

// A bus no real computer has, so that paths of a removed node never meet a real device.
inline constexpr int kDefaultBus = 217;

struct DevicePlan {
    sim::BoardOptions board;
    std::uint16_t vendorId = 0x1209;
    std::uint16_t productId = 0x0001;
    std::string port = "1";     // port path below the root hub: "1", "4.2", ...
    std::string serial;         // serial number string; empty: the device has none
    bool bulkPair = true;       // false: one interrupt-in endpoint only, not the board's shape
    bool noAccess = false;      // the node refuses to open (permissions)
    bool kernelDriver = false;  // a kernel driver is bound to the interface at first
    std::uint32_t answerDelayMs = 0;  // an answer reaches the bulk-in endpoint this late
};

class UsbEmulator {
  public:
    // Needs the umockdev preload in this process (see preload.hpp).
    explicit UsbEmulator(int bus = kDefaultBus);
    ~UsbEmulator();
    UsbEmulator(const UsbEmulator&) = delete;
    UsbEmulator& operator=(const UsbEmulator&) = delete;

    // Plugs in a device; its index for the calls below.
    int add(const DevicePlan& plan);

    // Pulls the cable (the board stays away until replug) and plugs it back in.
    void unplug(int index);
    void replug(int index);
    // Pulls the cable for downMs, then plugs it back in by itself.
    void unplugFor(int index, std::uint32_t downMs);

    // Runs `fn` on the device's board with the emulator locked.
    void withBoard(int index, const std::function<void(sim::SimulatedBoard&)>& fn);

    bool plugged(int index) const;
    int deviceNumber(int index) const;
    std::string nodePath(int index) const;  // /dev/bus/usb/BBB/DDD
    std::string portPath(int index) const;  // BUS-PORT[.PORT...], e.g. 217-1
    bool kernelDriverBound(int index) const;
    // IN URBs submitted and not yet completed, over all open files of the device.
    int waitingInUrbs(int index) const;
    // Open files of the node (clients of the handler).
    int openFiles(int index) const;

    // Called (from the emulator's threads) with one line per event: plugged, unplugged,
    // claimed, released, kernel driver detached / bound again.
    void setEventSink(std::function<void(const std::string&)> sink);

    // The testbed's root folder (UMOCKDEV_DIR for child processes).
    std::string rootDir() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace q70::usbemu
