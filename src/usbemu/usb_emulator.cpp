#include "usbemu/usb_emulator.hpp"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "system/steady_clock.hpp"

namespace q70::usbemu {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

// Device and configuration descriptors as the kernel shows them in sysfs `descriptors`.
Bytes makeDescriptors(std::uint16_t vid, std::uint16_t pid, bool hub, bool bulkPair, bool serial) {
    Bytes d{18, 1};
    put16(d, 0x0200);
    d.insert(d.end(), {static_cast<std::uint8_t>(hub ? 9 : 0), 0, 0, 64});
    put16(d, vid);
    put16(d, pid);
    put16(d, 0x0100);
    d.insert(d.end(), {1, 2, static_cast<std::uint8_t>(serial ? 3 : 0), 1});

    Bytes endpoints;
    if (hub || !bulkPair) {
        endpoints = {7, 5, 0x81, 0x03, 8, 0, 12};  // one interrupt-in endpoint
    } else {
        endpoints = {7, 5, 0x01, 0x02, 0x00, 0x02, 0,   // bulk out, 512 bytes
                     7, 5, 0x81, 0x02, 0x00, 0x02, 0};  // bulk in, 512 bytes
    }
    const auto numEndpoints = static_cast<std::uint8_t>(endpoints.size() / 7);
    const unsigned total = 9 + 9 + static_cast<unsigned>(endpoints.size());
    d.insert(d.end(), {9, 2});
    put16(d, total);
    d.insert(d.end(), {1, 1, 0, 0x80, 50});
    d.insert(d.end(),
             {9, 4, 0, 0, numEndpoints, static_cast<std::uint8_t>(hub ? 9 : 0xFF), 0, 0, 0});
    d.insert(d.end(), endpoints.begin(), endpoints.end());
    return d;
}

std::string hex(const Bytes& b) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (const std::uint8_t c : b) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

std::string threeDigits(int n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", n);
    return buf;
}

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v);
    return buf;
}

constexpr const char* kDriverName = "q70-emu-drv";

}  // namespace

struct Urb {
    UMockdevIoctlData* urb = nullptr;     // our reference to the client's usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;  // and to its buffer
    std::uintptr_t address = 0;           // the urb's address in the client

    usbdevfs_urb* get() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
    void release() {
        if (buffer != nullptr) g_object_unref(buffer);
        if (urb != nullptr) g_object_unref(urb);
        buffer = urb = nullptr;
    }
};

struct Device;

// One open file of a node: URBs belong to it, and so does a claim.
struct OpenFile {
    Device* device = nullptr;
    std::uint64_t appearance = 0;  // which plugging-in of the device it opened
    std::deque<Urb> waiting;       // IN URBs the board has not answered yet
    std::deque<Urb> reapable;
    bool claimed = false;
};

struct Device {
    DevicePlan plan;
    std::unique_ptr<sim::SimulatedBoard> board;
    int index = 0;
    int devnum = 0;
    std::string sysName;  // 217-1
    std::string syspath;  // /sys/devices/usb217/217-1
    std::string node;     // /dev/bus/usb/217/002
    bool plugged = false;
    std::uint64_t removals = 0;  // completed unpluggings, the udev event sent
    std::uint64_t appearance = 0;
    int ptyMaster = -1;
    int ptySlave = -1;
    bool ready = true;  // POLLOUT on the node
    bool driverBound = false;
    OpenFile* owner = nullptr;
    std::optional<std::pair<link::Packet, std::uint64_t>> outgoing;  // answer and when it is due
    std::vector<UMockdevIoctlBase*> handlers;  // one per appearance; old clients keep theirs
};

struct UsbEmulator::Impl {
    int bus;
    UMockdevTestbed* testbed = nullptr;
    system::SteadyClock clock;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::unique_ptr<Device>> devices;
    std::map<UMockdevIoctlClient*, std::unique_ptr<OpenFile>> files;
    std::map<std::string, std::string> hubs;  // port path -> syspath
    std::function<void(const std::string&)> sink;
    int nextDevnum = 2;
    bool stopping = false;
    std::thread ticker;

    void event(const std::string& text) {
        if (sink) sink(text);
    }

    std::string ensureHub(const std::string& port);
    void addSysfsDevice(Device& d, const std::string& parent);
    void plugIn(Device& d);
    void pullCable(Device& d, std::unique_lock<std::mutex>& lock);
    void tick(std::unique_lock<std::mutex>& lock);
    void deliver(Device& d);
    void updateReady(Device& d);
    void dropUrbs(OpenFile& f);

    gboolean handleIoctl(Device& d, UMockdevIoctlClient* client);
};

namespace {

struct HandlerContext {
    UsbEmulator::Impl* impl;
    Device* device;
};

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* ctx = static_cast<HandlerContext*>(user);
    return ctx->impl->handleIoctl(*ctx->device, client);
}

void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* ctx = static_cast<HandlerContext*>(user);
    std::lock_guard lock(ctx->impl->mutex);
    auto f = std::make_unique<OpenFile>();
    f->device = ctx->device;
    f->appearance = ctx->device->plugged ? ctx->device->appearance : 0;
    ctx->impl->files[client] = std::move(f);
}

void onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* ctx = static_cast<HandlerContext*>(user);
    std::lock_guard lock(ctx->impl->mutex);
    auto it = ctx->impl->files.find(client);
    if (it == ctx->impl->files.end()) return;
    OpenFile& f = *it->second;
    Device& d = *f.device;
    if (d.owner == &f) {
        d.owner = nullptr;
        d.outgoing.reset();
        if (d.plugged) d.board->disconnect();
        ctx->impl->event("released " + d.sysName + " (closed)");
    }
    ctx->impl->dropUrbs(f);
    ctx->impl->files.erase(it);
    ctx->impl->updateReady(d);
}

void freeContext(gpointer data, GClosure*) {
    delete static_cast<HandlerContext*>(data);
}

}  // namespace

void UsbEmulator::Impl::dropUrbs(OpenFile& f) {
    for (Urb& u : f.waiting) u.release();
    for (Urb& u : f.reapable) u.release();
    f.waiting.clear();
    f.reapable.clear();
}

std::string UsbEmulator::Impl::ensureHub(const std::string& port) {
    // The root hub is "", a hub on port 4 of it is "4", on port 2 of that "4.2".
    if (auto it = hubs.find(port); it != hubs.end()) return it->second;
    const std::string parent = port.empty() ? std::string()
                                            : ensureHub(port.find('.') == std::string::npos
                                                            ? std::string()
                                                            : port.substr(0, port.rfind('.')));
    Device hub;
    hub.devnum = port.empty() ? 1 : nextDevnum++;
    hub.sysName = port.empty() ? "usb" + std::to_string(bus) : std::to_string(bus) + "-" + port;
    hub.plan.vendorId = 0x1d6b;
    hub.plan.productId = 0x0002;
    addSysfsDevice(hub, parent);
    hubs[port] = hub.syspath;
    return hub.syspath;
}

void UsbEmulator::Impl::addSysfsDevice(Device& d, const std::string& parent) {
    const bool hub = d.board == nullptr;
    d.syspath = (parent.empty() ? std::string("/sys/devices") : parent) + "/" + d.sysName;
    d.node = "/dev/bus/usb/" + threeDigits(bus) + "/" + threeDigits(d.devnum);
    const std::string devName = d.node.substr(5);
    const int minor = (bus - 1) * 128 + d.devnum - 1;
    const bool serial = !d.plan.serial.empty();

    // One record, so that the "add" event goes out with every attribute in place: libusb
    // reads the descriptors when it hears of the device.
    std::string r;
    r += "P: " + d.syspath.substr(4) + "\n";
    r += "N: " + devName + "\n";
    r += "E: DEVNAME=" + d.node + "\n";
    r += "E: DEVTYPE=usb_device\n";
    r += "E: SUBSYSTEM=usb\n";
    r += "E: DRIVER=usb\n";
    r += "E: BUSNUM=" + threeDigits(bus) + "\n";
    r += "E: DEVNUM=" + threeDigits(d.devnum) + "\n";
    r += "E: MAJOR=189\nE: MINOR=" + std::to_string(minor) + "\n";
    r += "E: ID_VENDOR_ID=" + hex4(d.plan.vendorId) + "\n";
    r += "E: ID_MODEL_ID=" + hex4(d.plan.productId) + "\n";
    r += "E: PRODUCT=" + hex4(d.plan.vendorId) + "/" + hex4(d.plan.productId) + "/100\n";
    if (serial) r += "E: ID_SERIAL_SHORT=" + d.plan.serial + "\n";
    r += "A: busnum=" + std::to_string(bus) + "\n";
    r += "A: devnum=" + std::to_string(d.devnum) + "\n";
    r += "A: dev=189:" + std::to_string(minor) + "\n";
    r += "A: bConfigurationValue=1\n";
    r += "A: bNumInterfaces= 1\n";
    r += "A: speed=480\n";
    r += "A: idVendor=" + hex4(d.plan.vendorId) + "\n";
    r += "A: idProduct=" + hex4(d.plan.productId) + "\n";
    r += std::string("A: product=") + (hub ? "Hub" : "Q-70 (emulated)") + "\n";
    if (serial) r += "A: serial=" + d.plan.serial + "\n";
    r += "H: descriptors=" +
         hex(makeDescriptors(d.plan.vendorId, d.plan.productId, hub, d.plan.bulkPair, serial)) +
         "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, r.c_str(), &error)) {
        event(std::string("cannot add ") + d.sysName + ": " + error->message);
        g_error_free(error);
    }
}

void UsbEmulator::Impl::plugIn(Device& d) {
    d.devnum = nextDevnum++;
    ++d.appearance;
    d.driverBound = d.plan.kernelDriver;
    d.owner = nullptr;
    d.outgoing.reset();
    const std::string port = d.plan.port;
    const std::string parent = ensureHub(
        port.find('.') == std::string::npos ? std::string() : port.substr(0, port.rfind('.')));

    // The node a pty: unlike a plain file its readiness is ours to set (flow control
    // stops its output while no URB is reapable), and closing its master is a hang-up.
    d.ptyMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string slaveName;
    if (d.ptyMaster >= 0 && ::grantpt(d.ptyMaster) == 0 && ::unlockpt(d.ptyMaster) == 0) {
        slaveName = ::ptsname(d.ptyMaster);
        d.ptySlave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    d.ready = true;

    addSysfsDevice(d, parent);
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::filesystem::path file = std::string(root) + d.node;
    g_free(root);
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (d.plan.noAccess) {
        if (::geteuid() == 0) {
            // Root opens any file; this one it may not write even so.
            std::filesystem::create_symlink("/proc/sys/kernel/ostype", file, ec);
        } else {
            std::ofstream(file.string()).close();
            ::chmod(file.c_str(), 0);
        }
    } else {
        std::filesystem::create_symlink(slaveName, file, ec);
    }

    auto* handler = umockdev_ioctl_base_new();
    g_signal_connect_data(handler, "handle-ioctl", G_CALLBACK(onIoctl),
                          new HandlerContext{this, &d}, freeContext, GConnectFlags(0));
    g_signal_connect_data(handler, "client-connected", G_CALLBACK(onConnected),
                          new HandlerContext{this, &d}, freeContext, GConnectFlags(0));
    g_signal_connect_data(handler, "client-vanished", G_CALLBACK(onVanished),
                          new HandlerContext{this, &d}, freeContext, GConnectFlags(0));
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, d.node.c_str(), handler, &error)) {
        event(std::string("cannot attach to ") + d.node + ": " + error->message);
        g_error_free(error);
    }
    d.handlers.push_back(handler);
    updateReady(d);
}

void UsbEmulator::Impl::updateReady(Device& d) {
    bool want = false;
    for (auto& [client, f] : files) {
        if (f->device == &d && f->appearance == d.appearance && !f->reapable.empty()) want = true;
    }
    if (d.ptySlave < 0 || want == d.ready) return;
    ::tcflow(d.ptySlave, want ? TCOON : TCOOFF);
    d.ready = want;
}

void UsbEmulator::Impl::deliver(Device& d) {
    if (!d.plugged || d.owner == nullptr || d.owner->waiting.empty()) return;
    const std::uint64_t now = clock.nowMs();
    while (!d.owner->waiting.empty()) {
        if (!d.outgoing) {
            link::Packet p;
            if (!d.board->nextAnswer(p)) break;
            d.outgoing.emplace(p, now + d.plan.answerDelayMs);
        }
        if (d.outgoing->second > now) break;
        const link::Packet& p = d.outgoing->first;
        Urb u = d.owner->waiting.front();
        d.owner->waiting.pop_front();
        usbdevfs_urb* urb = u.get();
        // One board packet per URB; more than fits is an overflow, as on the wire.
        const int room = urb->buffer_length;
        const int n = std::min<int>(static_cast<int>(p.size), room);
        if (u.buffer != nullptr && n > 0) std::memcpy(u.buffer->data, p.bytes.data(), n);
        urb->actual_length = n;
        urb->status = static_cast<int>(p.size) > room ? -EOVERFLOW : 0;
        d.owner->reapable.push_back(u);
        d.outgoing.reset();
        if (!d.board->present()) break;
    }
    updateReady(d);
}

void UsbEmulator::Impl::pullCable(Device& d, std::unique_lock<std::mutex>& lock) {
    d.plugged = false;
    for (auto& [client, f] : files) {
        if (f->device != &d || f->appearance != d.appearance) continue;
        // A bulk-in in flight ends with a protocol error when the device goes.
        for (Urb& u : f->waiting) {
            u.get()->status = -EPROTO;
            u.get()->actual_length = 0;
            f->reapable.push_back(u);
        }
        f->waiting.clear();
        f->claimed = false;
    }
    d.owner = nullptr;
    d.outgoing.reset();
    if (d.ptySlave >= 0) ::close(d.ptySlave);
    if (d.ptyMaster >= 0) ::close(d.ptyMaster);  // every open node hangs up: POLLERR
    d.ptySlave = d.ptyMaster = -1;
    const std::string syspath = d.syspath;
    const std::string name = d.sysName;
    lock.unlock();
    // Told while sysfs still has the device: a listener in another process reads it
    // when the event comes, and drops an event about a device it cannot find.
    umockdev_testbed_uevent(testbed, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed, syspath.c_str());
    lock.lock();
    ++d.removals;
    event("unplugged " + name);
}

void UsbEmulator::Impl::tick(std::unique_lock<std::mutex>& lock) {
    for (auto& dp : devices) {
        Device& d = *dp;
        const bool present = d.board->present();
        if (d.plugged && !present) {
            pullCable(d, lock);
        } else if (!d.plugged && present) {
            plugIn(d);
            d.plugged = true;
            event("plugged in " + d.sysName + " as " + d.node);
        }
        deliver(d);
    }
}

// GET_DESCRIPTOR is all the board answers on endpoint 0; anything else stalls.
bool controlAnswer(const Device& d, unsigned requestType, unsigned request, unsigned wValue,
                   Bytes& out) {
    if (requestType != 0x80 || request != 6) return false;
    const unsigned type = wValue >> 8;
    const unsigned index = wValue & 0xFF;
    if (type == 1 || type == 2) {
        const Bytes all = makeDescriptors(d.plan.vendorId, d.plan.productId, false, d.plan.bulkPair,
                                          !d.plan.serial.empty());
        out = type == 1 ? Bytes(all.begin(), all.begin() + 18) : Bytes(all.begin() + 18, all.end());
        return true;
    }
    if (type != 3) return false;
    if (index == 0) {
        out = {4, 3, 0x09, 0x04};  // US English
        return true;
    }
    const std::string text = index == 1   ? "Q70 emulation"
                             : index == 2 ? "Q-70 (emulated)"
                             : index == 3 ? d.plan.serial
                                          : "";
    if (text.empty()) return false;
    out = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (const char c : text) out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
    return true;
}

gboolean UsbEmulator::Impl::handleIoctl(Device& d, UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex);
    auto it = files.find(client);
    if (it == files.end()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    OpenFile& f = *it->second;
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const bool gone = !d.plugged || f.appearance != d.appearance;
    auto done = [&](long result, int err) {
        umockdev_ioctl_client_complete(client, result, err);
        updateReady(d);
        wake.notify_all();
        return TRUE;
    };
    auto resolve = [&](std::size_t len) -> void* {
        UMockdevIoctlData* r = umockdev_ioctl_data_resolve(arg, 0, len, nullptr);
        if (r == nullptr) return nullptr;
        void* p = r->data;
        g_object_unref(r);  // the argument keeps it until completion
        return p;
    };

    if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
        // Completed URBs can still be reaped after a disconnect; then there is nothing.
        if (f.reapable.empty()) return done(-1, gone ? ENODEV : EAGAIN);
        Urb u = f.reapable.front();
        f.reapable.pop_front();
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        if (slot != nullptr) {
            umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
            g_object_unref(slot);
        }
        u.release();
        return done(0, 0);
    }
    if (request == USBDEVFS_GET_CAPABILITIES) {
        auto* caps = static_cast<std::uint32_t*>(resolve(sizeof(std::uint32_t)));
        if (caps == nullptr) return done(-1, EFAULT);
        *caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        return done(0, 0);
    }
    if (gone) return done(-1, ENODEV);

    auto claim = [&]() -> int {
        if (d.owner == &f) return 0;
        if (d.owner != nullptr || d.driverBound) return EBUSY;
        d.owner = &f;
        f.claimed = true;
        d.outgoing.reset();
        d.board->connect();
        event("claimed " + d.sysName);
        return 0;
    };

    switch (request) {
        case USBDEVFS_CLAIMINTERFACE: {
            auto* ifno = static_cast<unsigned*>(resolve(sizeof(unsigned)));
            if (ifno == nullptr) return done(-1, EFAULT);
            if (*ifno != 0) return done(-1, ENOENT);
            const int e = claim();
            return done(e == 0 ? 0 : -1, e);
        }
        case USBDEVFS_DISCONNECT_CLAIM: {
            auto* dc =
                static_cast<usbdevfs_disconnect_claim*>(resolve(sizeof(usbdevfs_disconnect_claim)));
            if (dc == nullptr) return done(-1, EFAULT);
            if (dc->interface != 0) return done(-1, ENOENT);
            if (d.driverBound) {
                const bool except = (dc->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0;
                const bool onlyIf = (dc->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) != 0;
                const bool named = std::strncmp(dc->driver, kDriverName, sizeof dc->driver) == 0;
                if ((except && !named) || (onlyIf && named) || (!except && !onlyIf)) {
                    d.driverBound = false;
                    event("kernel driver detached from " + d.sysName);
                }
            }
            const int e = claim();
            return done(e == 0 ? 0 : -1, e);
        }
        case USBDEVFS_RELEASEINTERFACE: {
            auto* ifno = static_cast<unsigned*>(resolve(sizeof(unsigned)));
            if (ifno == nullptr) return done(-1, EFAULT);
            if (*ifno != 0 || d.owner != &f) return done(-1, EINVAL);
            d.owner = nullptr;
            f.claimed = false;
            d.outgoing.reset();
            d.board->disconnect();
            event("released " + d.sysName);
            return done(0, 0);
        }
        case USBDEVFS_GETDRIVER: {
            auto* gd = static_cast<usbdevfs_getdriver*>(resolve(sizeof(usbdevfs_getdriver)));
            if (gd == nullptr) return done(-1, EFAULT);
            if (gd->interface != 0) return done(-1, EINVAL);
            const char* name = d.driverBound ? kDriverName : d.owner != nullptr ? "usbfs" : nullptr;
            if (name == nullptr) return done(-1, ENODATA);
            std::snprintf(gd->driver, sizeof gd->driver, "%s", name);
            return done(0, 0);
        }
        case USBDEVFS_IOCTL: {
            auto* io = static_cast<usbdevfs_ioctl*>(resolve(sizeof(usbdevfs_ioctl)));
            if (io == nullptr) return done(-1, EFAULT);
            if (io->ifno != 0) return done(-1, EINVAL);
            if (io->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                if (!d.driverBound) return done(-1, ENODATA);
                d.driverBound = false;
                event("kernel driver detached from " + d.sysName);
                return done(0, 0);
            }
            if (io->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                if (d.owner != nullptr) return done(-1, EBUSY);
                if (d.plan.kernelDriver && !d.driverBound) {
                    d.driverBound = true;
                    event("kernel driver bound again to " + d.sysName);
                }
                return done(0, 0);
            }
            return done(-1, ENOTTY);
        }
        case USBDEVFS_SUBMITURB: {
            UMockdevIoctlData* urbData =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
            if (urbData == nullptr) return done(-1, EFAULT);
            Urb u;
            u.urb = urbData;
            u.address = urbData->client_addr;
            usbdevfs_urb* urb = u.get();
            if (urb->buffer_length < 0) {
                u.release();
                return done(-1, EINVAL);
            }
            if (urb->buffer_length > 0) {
                u.buffer =
                    umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                static_cast<gsize>(urb->buffer_length), nullptr);
                if (u.buffer == nullptr) {
                    u.release();
                    return done(-1, EFAULT);
                }
            }
            if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
                // Endpoint 0 needs no claim: the setup packet, then the data stage.
                if (urb->buffer_length < 8) {
                    u.release();
                    return done(-1, EINVAL);
                }
                const std::uint8_t* setup = u.buffer->data;
                const unsigned wValue = setup[2] | (setup[3] << 8);
                const unsigned wLength = setup[6] | (setup[7] << 8);
                Bytes answer;
                if (controlAnswer(d, setup[0], setup[1], wValue, answer)) {
                    const int n = static_cast<int>(
                        std::min<std::size_t>({answer.size(), wLength,
                                               static_cast<std::size_t>(urb->buffer_length - 8)}));
                    std::memcpy(u.buffer->data + 8, answer.data(), static_cast<std::size_t>(n));
                    urb->status = 0;
                    urb->actual_length = n;
                } else {
                    urb->status = -EPIPE;
                    urb->actual_length = 0;
                }
                f.reapable.push_back(u);
                return done(0, 0);
            }
            const bool in = (urb->endpoint & 0x80) != 0;
            const bool known = d.plan.bulkPair ? (urb->endpoint == 0x01 || urb->endpoint == 0x81)
                                               : urb->endpoint == 0x81;
            if (!known) {
                u.release();
                return done(-1, ENOENT);
            }
            if (const int e = claim(); e != 0) {
                u.release();
                return done(-1, e);
            }
            urb->status = -EINPROGRESS;
            urb->actual_length = 0;
            if (in) {
                f.waiting.push_back(u);
                deliver(d);
            } else {
                // The board takes a request at once; it is the board's business to answer.
                const std::span<const std::uint8_t> packet(
                    u.buffer != nullptr ? u.buffer->data : nullptr,
                    static_cast<std::size_t>(urb->buffer_length));
                d.board->receive(packet);
                urb->status = 0;
                urb->actual_length = urb->buffer_length;
                f.reapable.push_back(u);
                deliver(d);
            }
            return done(0, 0);
        }
        case USBDEVFS_DISCARDURB: {
            std::uintptr_t address = 0;
            std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
            for (auto w = f.waiting.begin(); w != f.waiting.end(); ++w) {
                if (w->address != address) continue;
                Urb u = *w;
                f.waiting.erase(w);
                u.get()->status = -ECONNRESET;
                u.get()->actual_length = 0;
                f.reapable.push_back(u);
                return done(0, 0);
            }
            return done(-1, EINVAL);
        }
        case USBDEVFS_CONTROL: {
            auto* ct = static_cast<usbdevfs_ctrltransfer*>(resolve(sizeof(usbdevfs_ctrltransfer)));
            if (ct == nullptr) return done(-1, EFAULT);
            Bytes answer;
            if (!controlAnswer(d, ct->bRequestType, ct->bRequest, ct->wValue, answer))
                return done(-1, EPIPE);
            const std::size_t n = std::min<std::size_t>(answer.size(), ct->wLength);
            if (n > 0) {
                UMockdevIoctlData* top =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ctrltransfer), nullptr);
                UMockdevIoctlData* data =
                    top == nullptr ? nullptr
                                   : umockdev_ioctl_data_resolve(
                                         top, offsetof(usbdevfs_ctrltransfer, data), n, nullptr);
                if (data != nullptr) {
                    std::memcpy(data->data, answer.data(), n);
                    g_object_unref(data);
                }
                if (top != nullptr) g_object_unref(top);
            }
            return done(static_cast<long>(n), 0);
        }
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            return done(0, 0);
        default:
            return done(-1, ENOTTY);
    }
}

UsbEmulator::UsbEmulator(int bus) : impl_(std::make_unique<Impl>()) {
    impl_->bus = bus;
    impl_->testbed = umockdev_testbed_new();
    impl_->ticker = std::thread([impl = impl_.get()] {
        std::unique_lock lock(impl->mutex);
        while (!impl->stopping) {
            impl->tick(lock);
            impl->wake.wait_for(lock, std::chrono::milliseconds(5));
        }
    });
}

UsbEmulator::~UsbEmulator() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    impl_->ticker.join();
    for (auto& d : impl_->devices) {
        if (d->ptySlave >= 0) ::close(d->ptySlave);
        if (d->ptyMaster >= 0) ::close(d->ptyMaster);
    }
    for (auto& [client, f] : impl_->files) impl_->dropUrbs(*f);
    g_object_unref(impl_->testbed);
    for (auto& d : impl_->devices)
        for (UMockdevIoctlBase* h : d->handlers) g_object_unref(h);
}

int UsbEmulator::add(const DevicePlan& plan) {
    std::unique_lock lock(impl_->mutex);
    auto d = std::make_unique<Device>();
    d->plan = plan;
    d->index = static_cast<int>(impl_->devices.size());
    d->board = std::make_unique<sim::SimulatedBoard>(impl_->clock, plan.board);
    d->sysName = std::to_string(impl_->bus) + "-" + plan.port;
    impl_->plugIn(*d);
    d->plugged = true;
    impl_->event("plugged in " + d->sysName + " as " + d->node);
    impl_->devices.push_back(std::move(d));
    return static_cast<int>(impl_->devices.size()) - 1;
}

void UsbEmulator::unplug(int index) {
    std::uint64_t before = 0;
    withBoard(index, [&](sim::SimulatedBoard& b) {
        before = impl_->devices.at(static_cast<std::size_t>(index))->removals;
        b.unplug(0);
    });
    // Wait until the cable is pulled and udev has told of it.
    for (int i = 0; i < 400; ++i) {
        {
            std::lock_guard lock(impl_->mutex);
            if (impl_->devices.at(static_cast<std::size_t>(index))->removals != before) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void UsbEmulator::replug(int index) {
    withBoard(index, [](sim::SimulatedBoard& b) { b.replug(); });
    for (int i = 0; i < 400 && !plugged(index); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void UsbEmulator::unplugFor(int index, std::uint32_t downMs) {
    withBoard(index, [downMs](sim::SimulatedBoard& b) { b.unplug(downMs == 0 ? 1 : downMs); });
}

void UsbEmulator::withBoard(int index, const std::function<void(sim::SimulatedBoard&)>& fn) {
    {
        std::lock_guard lock(impl_->mutex);
        fn(*impl_->devices.at(static_cast<std::size_t>(index))->board);
    }
    impl_->wake.notify_all();
}

bool UsbEmulator::plugged(int index) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->devices.at(static_cast<std::size_t>(index))->plugged;
}

int UsbEmulator::deviceNumber(int index) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->devices.at(static_cast<std::size_t>(index))->devnum;
}

std::string UsbEmulator::nodePath(int index) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->devices.at(static_cast<std::size_t>(index))->node;
}

std::string UsbEmulator::portPath(int index) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->devices.at(static_cast<std::size_t>(index))->sysName;
}

bool UsbEmulator::kernelDriverBound(int index) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->devices.at(static_cast<std::size_t>(index))->driverBound;
}

int UsbEmulator::waitingInUrbs(int index) const {
    std::lock_guard lock(impl_->mutex);
    const Device* d = impl_->devices.at(static_cast<std::size_t>(index)).get();
    int n = 0;
    for (auto& [client, f] : impl_->files)
        if (f->device == d) n += static_cast<int>(f->waiting.size());
    return n;
}

int UsbEmulator::openFiles(int index) const {
    std::lock_guard lock(impl_->mutex);
    const Device* d = impl_->devices.at(static_cast<std::size_t>(index)).get();
    int n = 0;
    for (auto& [client, f] : impl_->files)
        if (f->device == d) ++n;
    return n;
}

void UsbEmulator::setEventSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(impl_->mutex);
    impl_->sink = std::move(sink);
}

std::string UsbEmulator::rootDir() const {
    gchar* dir = umockdev_testbed_get_root_dir(impl_->testbed);
    std::string s = dir;
    g_free(dir);
    return s;
}

}  // namespace q70::usbemu
