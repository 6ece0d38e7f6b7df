#include "transport/usb/usb_transport.hpp"

#include <fcntl.h>
#include <libusb.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace q70::transport {
namespace {

// A write the board does not take within this is a failed write.
constexpr unsigned kWriteTimeoutMs = 2000;
// How long close waits for a cancelled read to come back before giving up on it.
constexpr int kCancelWaitMs = 1000;

void LIBUSB_CALL onInComplete(libusb_transfer* transfer) {
    *static_cast<int*>(transfer->user_data) = 1;
}

std::string errorName(int e) {
    return libusb_error_name(e);
}

// BUS-PORT[.PORT...], as the kernel names the device in sysfs.
std::string portPath(libusb_device* device) {
    std::uint8_t ports[8];
    const int n = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string s = std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < n; ++i) s += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return n > 0 ? s : std::string();
}

// By bus, then by port path, each port compared as a number.
std::vector<int> orderKey(libusb_device* device) {
    std::uint8_t ports[8];
    const int n = libusb_get_port_numbers(device, ports, sizeof ports);
    std::vector<int> key{libusb_get_bus_number(device)};
    for (int i = 0; i < n; ++i) key.push_back(ports[i]);
    return key;
}

bool boardOrder(libusb_device* a, libusb_device* b) {
    return orderKey(a) < orderKey(b);
}

// Whether a live socket is bound at `path` (a stale one refuses the connection).
bool socketAlive(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool alive =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return alive;
}

// libusb_init, safe for several processes under one emulated device tree. There each
// process's uevent socket is bound at UMOCKDEV_DIR/event<fd>, after removing whatever is
// there: two processes whose sockets get the same number take each other's name, and one
// of them fails to start or never hears of a hotplug. So, under the tree's lock, the fd
// numbers a live peer's socket is named after are kept taken while libusb starts.
int initLibusb(libusb_context** context) {
    const char* dir = std::getenv("UMOCKDEV_DIR");
    if (dir == nullptr || *dir == '\0') return libusb_init(context);

    static std::mutex inProcess;  // the fd numbers are the whole process's
    const std::lock_guard<std::mutex> guard(inProcess);
    const std::string tree = dir;
    const int lock =
        ::open((tree + "/.q70-libusb-init.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0) ::flock(lock, LOCK_EX);
    std::vector<int> taken;  // placeholders on the numbers of live peers' sockets
    std::vector<int> free;   // numbers libusb may use, held while the next are looked at
    while (free.size() < 16 && taken.size() < 256) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) break;
        (socketAlive(tree + "/event" + std::to_string(fd)) ? taken : free).push_back(fd);
    }
    for (int fd : free) ::close(fd);
    const int rc = libusb_init(context);
    for (int fd : taken) ::close(fd);
    if (lock >= 0) ::close(lock);  // closing drops the lock
    return rc;
}

}  // namespace

UsbTransport::UsbTransport(std::uint16_t vendorId, std::uint16_t productId, std::string port)
    : ids_{vendorId, productId}, port_(std::move(port)) {}

UsbTransport::~UsbTransport() {
    close();
    if (context_ != nullptr) {
        if (hotplug_) libusb_hotplug_deregister_callback(context_, hotplugHandle_);
        libusb_exit(context_);
    }
}

struct HotplugAccess {
    static int LIBUSB_CALL onEvent(libusb_context*, libusb_device* device,
                                   libusb_hotplug_event event, void* user) {
        auto* self = static_cast<UsbTransport*>(user);
        if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
            if (self->port_.empty() || portPath(device) == self->port_) self->arrived_ = true;
        } else if (self->handle_ != nullptr && libusb_get_device(self->handle_) == device) {
            self->left_ = true;
        }
        return 0;  // stay registered
    }
};

void UsbTransport::startHotplug() {
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return;
    const int vendor = port_.empty() ? ids_.vendorId : LIBUSB_HOTPLUG_MATCH_ANY;
    const int product = port_.empty() ? ids_.productId : LIBUSB_HOTPLUG_MATCH_ANY;
    hotplug_ = libusb_hotplug_register_callback(
                   context_,
                   static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                     LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                   static_cast<libusb_hotplug_flag>(0), vendor, product, LIBUSB_HOTPLUG_MATCH_ANY,
                   HotplugAccess::onEvent, this, &hotplugHandle_) == LIBUSB_SUCCESS;
}

// Runs the callbacks of events libusb has received, without waiting.
void UsbTransport::pumpEvents() {
    if (context_ == nullptr || !hotplug_) return;
    timeval zero{0, 0};
    libusb_handle_events_timeout_completed(context_, &zero, nullptr);
}

bool UsbTransport::stillThere() {
    pumpEvents();
    return !left_;
}

bool UsbTransport::fail(usb::OpenProblem problem, const std::string& where, int libusbError) {
    lastError_ = usb::describeOpenProblem(problem, ids_, where,
                                          libusbError != 0 ? errorName(libusbError) : "");
    // Claimed by a program that takes no lock of ours, or by a kernel driver.
    problem_.busy = problem == usb::OpenProblem::Busy;
    close();
    return false;
}

bool UsbTransport::lockBoard(const std::string& port) {
    // The port path is the board's identity: usb and usb:BUS-PORT reaching the same board
    // take the same lock.
    const std::string address = "usb:" + port;
    if (lock_.acquire(address) != system::BoardLock::Result::Busy) return true;
    const system::LockHolder& holder = lock_.holder();
    problem_ = {true, holder.program, holder.pid};
    lastError_ =
        "The board at " + address + " is in use by " + system::describeHolder(holder) + ".";
    return false;
}

link::DeviceLocation UsbTransport::location() const {
    if (handle_ == nullptr) return {};
    return {"usb:" + openPort_, openPort_, serial_, true};
}

bool UsbTransport::open() {
    close();
    problem_ = {};
    if (context_ == nullptr) {
        const int rc = initLibusb(&context_);
        if (rc != 0) {
            context_ = nullptr;
            return fail(usb::OpenProblem::NoLibrary, {}, rc);
        }
        startHotplug();
    }
    // No board was there at the last try: with hotplug, only its arrival is worth
    // another look (a board present but busy or refused is tried again every time).
    pumpEvents();
    if (hotplug_ && lastAbsent_ && !arrived_) return false;
    arrived_ = false;
    left_ = false;
    lastAbsent_ = false;

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0) return fail(usb::OpenProblem::Other, {}, static_cast<int>(count));
    libusb_device* device = nullptr;
    // Of several boards the first in the order q70ctl list shows them.
    libusb_device* best = nullptr;
    std::uint8_t serialIndex = 0;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
        const bool match = port_.empty()
                               ? desc.idVendor == ids_.vendorId && desc.idProduct == ids_.productId
                               : portPath(list[i]) == port_;
        if (match && (best == nullptr || boardOrder(list[i], best))) {
            best = list[i];
            ids_ = {desc.idVendor, desc.idProduct};
            serialIndex = desc.iSerialNumber;
        }
    }
    if (best != nullptr) device = libusb_ref_device(best);
    libusb_free_device_list(list, 1);
    if (device == nullptr) lastAbsent_ = true;
    if (device == nullptr && !port_.empty()) {
        lastError_ = "No USB device is connected at " + port_ +
                     ". q70ctl list shows the boards connected and where they are.";
        close();
        return false;
    }
    if (device == nullptr) return fail(usb::OpenProblem::Absent, {}, 0);

    const std::string where = "bus " + std::to_string(libusb_get_bus_number(device)) + " device " +
                              std::to_string(libusb_get_device_address(device));
    openPort_ = portPath(device);
    if (openPort_.empty()) openPort_ = std::to_string(libusb_get_bus_number(device));
    if (!lockBoard(openPort_)) {
        libusb_unref_device(device);
        close();
        return false;
    }
    int rc = libusb_open(device, &handle_);
    if (rc != 0) {
        handle_ = nullptr;
        libusb_unref_device(device);
        return fail(usb::classifyOpenError(rc), where, rc);
    }

    libusb_config_descriptor* config = nullptr;
    rc = libusb_get_active_config_descriptor(device, &config);
    libusb_unref_device(device);
    if (rc != 0) return fail(usb::classifyOpenError(rc), where, rc);
    const auto pair = usb::chooseBulkInterface(usb::describeConfig(*config));
    libusb_free_config_descriptor(config);
    if (!pair) return fail(usb::OpenProblem::NoBulkInterface, where, 0);
    endpoints_ = *pair;

    // A kernel driver bound to the interface would keep us from claiming it; libusb gives
    // it back on release where it can, otherwise we detach it by hand.
    if (libusb_set_auto_detach_kernel_driver(handle_, 1) != LIBUSB_SUCCESS &&
        libusb_kernel_driver_active(handle_, endpoints_.interfaceNumber) == 1) {
        rc = libusb_detach_kernel_driver(handle_, endpoints_.interfaceNumber);
        if (rc != 0 && rc != LIBUSB_ERROR_NOT_FOUND) {
            return fail(usb::classifyOpenError(rc), where, rc);
        }
    }
    rc = libusb_claim_interface(handle_, endpoints_.interfaceNumber);
    if (rc != 0) return fail(usb::classifyOpenError(rc), where, rc);
    claimed_ = true;
    if (endpoints_.alternateSetting != 0) {
        rc = libusb_set_interface_alt_setting(handle_, endpoints_.interfaceNumber,
                                              endpoints_.alternateSetting);
        if (rc != 0) return fail(usb::classifyOpenError(rc), where, rc);
    }

    inTransfer_ = libusb_alloc_transfer(0);
    if (inTransfer_ == nullptr) return fail(usb::OpenProblem::Other, where, LIBUSB_ERROR_NO_MEM);
    serial_.clear();
    if (serialIndex != 0) {
        unsigned char text[128] = {};
        const int n =
            libusb_get_string_descriptor_ascii(handle_, serialIndex, text, sizeof text - 1);
        if (n > 0) serial_.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(n));
    }
    lastError_.clear();
    return true;
}

bool UsbTransport::writePacket(std::span<const std::uint8_t> packet) {
    if (handle_ == nullptr || packet.empty() || packet.size() > link::kPacketSize) return false;
    // libusb takes a non-const buffer for both directions; it does not write to an OUT one.
    std::array<std::uint8_t, link::kPacketSize> out{};
    std::copy(packet.begin(), packet.end(), out.begin());
    int transferred = 0;
    const int rc =
        libusb_bulk_transfer(handle_, endpoints_.outEndpoint, out.data(),
                             static_cast<int>(packet.size()), &transferred, kWriteTimeoutMs);
    return usb::writeSucceeded(rc, transferred, packet.size());
}

link::ReadResult UsbTransport::readPacket(link::PacketBuffer& buffer, int maxWaitMs) {
    if (handle_ == nullptr || inTransfer_ == nullptr) return {link::ReadStatus::Failed, 0};
    if (!inFlight_) {
        libusb_fill_bulk_transfer(inTransfer_, handle_, endpoints_.inEndpoint, inBuffer_.data(),
                                  static_cast<int>(inBuffer_.size()), onInComplete, &inDone_,
                                  0 /* no timeout: the wait below bounds the caller */);
        inDone_ = 0;
        if (libusb_submit_transfer(inTransfer_) != 0) return {link::ReadStatus::Failed, 0};
        inFlight_ = true;
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(maxWaitMs, 0));
    while (inDone_ == 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        timeval tv{};
        if (left > 0) {
            tv.tv_sec = static_cast<decltype(tv.tv_sec)>(left / 1000000);
            tv.tv_usec = static_cast<decltype(tv.tv_usec)>(left % 1000000);
        }
        const int rc = libusb_handle_events_timeout_completed(context_, &tv, &inDone_);
        if (rc != 0 && rc != LIBUSB_ERROR_INTERRUPTED) return {link::ReadStatus::Failed, 0};
        if (left <= 0) break;
    }
    if (inDone_ == 0) return {link::ReadStatus::Pending, 0};

    inFlight_ = false;
    const int length = inTransfer_->actual_length;
    const link::ReadStatus status = usb::mapTransferStatus(inTransfer_->status, length);
    if (status != link::ReadStatus::Ok) return {status, 0};
    const auto n = std::min<std::size_t>(static_cast<std::size_t>(length), buffer.size());
    std::memcpy(buffer.data(), inBuffer_.data(), n);
    return {link::ReadStatus::Ok, n};
}

void UsbTransport::releaseInTransfer() {
    if (inTransfer_ == nullptr) return;
    if (inFlight_) {
        libusb_cancel_transfer(inTransfer_);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelWaitMs);
        while (inDone_ == 0 && std::chrono::steady_clock::now() < deadline) {
            timeval tv{0, 100000};
            libusb_handle_events_timeout_completed(context_, &tv, &inDone_);
        }
        if (inDone_ == 0) {
            // libusb still owns it; freeing it now would be worse than leaking it.
            inTransfer_ = nullptr;
            inFlight_ = false;
            return;
        }
        inFlight_ = false;
    }
    libusb_free_transfer(inTransfer_);
    inTransfer_ = nullptr;
}

void UsbTransport::close() {
    releaseInTransfer();
    if (handle_ != nullptr) {
        if (claimed_) libusb_release_interface(handle_, endpoints_.interfaceNumber);
        claimed_ = false;
        libusb_close(handle_);
        handle_ = nullptr;
    }
    // Only once the board is let go may another program take it.
    lock_.release();
}

bool listUsbBoards(std::uint16_t vendorId, std::uint16_t productId,
                   std::vector<link::FoundBoard>& out, std::string& error) {
    out.clear();
    libusb_context* context = nullptr;
    if (const int rc = initLibusb(&context); rc != 0) {
        error = usb::describeOpenProblem(usb::OpenProblem::NoLibrary, {vendorId, productId}, {},
                                         errorName(rc));
        return false;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count > 0) std::sort(list, list + count, boardOrder);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0 || desc.idVendor != vendorId ||
            desc.idProduct != productId)
            continue;
        link::FoundBoard b;
        b.port = portPath(list[i]);
        b.bus = libusb_get_bus_number(list[i]);
        b.device = libusb_get_device_address(list[i]);
        b.vendorId = desc.idVendor;
        b.productId = desc.idProduct;
        libusb_device_handle* handle = nullptr;
        // Reading the serial needs the device opened (not claimed): a board another
        // program uses still shows it.
        if (desc.iSerialNumber != 0 && libusb_open(list[i], &handle) == 0) {
            unsigned char text[128] = {};
            const int n = libusb_get_string_descriptor_ascii(handle, desc.iSerialNumber, text,
                                                             sizeof text - 1);
            if (n > 0)
                b.serial.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(n));
            libusb_close(handle);
        }
        out.push_back(std::move(b));
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    libusb_exit(context);
    if (count < 0) {
        error = "Cannot list the USB devices (" + errorName(static_cast<int>(count)) + ").";
        return false;
    }
    return true;
}

}  // namespace q70::transport
