// The libusb transport in this process against a simulated board behind an emulated USB
// device: what a read does while the board is slow or gone, and what it costs to wait.

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "link/connection.hpp"
#include "link/protocol.hpp"
#include "support/environment_variable.hpp"
#include "support/manual_scheduler.hpp"
#include "support/recording_listener.hpp"
#include "transport/usb/usb_transport.hpp"
#include "usbemu/preload.hpp"
#include "usbemu/usb_emulator.hpp"

namespace q70::test {
namespace {

using Clock = std::chrono::steady_clock;

double threadCpuMs() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

class UsbTransportTest : public ::testing::Test {
  protected:
    int plug(usbemu::DevicePlan plan = {}) { return emulator.add(plan); }

    // Reads until a packet comes or `limitMs` passes, in slices as the pump does.
    link::ReadResult readWithin(transport::UsbTransport& t, int limitMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
        link::ReadResult r;
        do {
            r = t.readPacket(buffer, 20);
        } while (r.status == link::ReadStatus::Pending && Clock::now() < end);
        return r;
    }

    bool ask(transport::UsbTransport& t, std::uint8_t code) {
        const link::Packet request = link::encodeBare(code);
        if (!t.writePacket(request.view())) return false;
        const link::ReadResult r = readWithin(t, 2000);
        return r.status == link::ReadStatus::Ok && r.size > 4 && buffer[4] == code;
    }

    usbemu::UsbEmulator emulator;
    link::PacketBuffer buffer{};
};

TEST_F(UsbTransportTest, ALateAnswerLeavesTheReadPendingAndIsDeliveredWhole) {
    usbemu::DevicePlan plan;
    plan.answerDelayMs = 300;
    const int board = plug(plan);
    transport::UsbTransport t(0x1209, 0x0001);
    ASSERT_TRUE(t.open()) << t.lastError();

    ASSERT_TRUE(t.writePacket(link::encodeBare(1).view()));
    EXPECT_EQ(t.readPacket(buffer, 30).status, link::ReadStatus::Pending);
    EXPECT_EQ(t.readPacket(buffer, 0).status, link::ReadStatus::Pending);
    // One URB stays submitted across the reads that gave up.
    EXPECT_EQ(emulator.waitingInUrbs(board), 1);
    const link::ReadResult r = readWithin(t, 2000);
    ASSERT_EQ(r.status, link::ReadStatus::Ok);
    EXPECT_EQ(buffer[4], 1);  // the device information, not lost and not doubled
    EXPECT_TRUE(ask(t, 13));
    EXPECT_TRUE(ask(t, 2));
}

TEST_F(UsbTransportTest, WaitingForAnAnswerCostsNoCpu) {
    usbemu::DevicePlan plan;
    plan.board.faults.push_back({sim::FaultKind::Silence});
    plug(plan);
    transport::UsbTransport t(0x1209, 0x0001);
    ASSERT_TRUE(t.open()) << t.lastError();
    ASSERT_TRUE(t.writePacket(link::encodeBare(1).view()));

    const double before = threadCpuMs();
    const auto start = Clock::now();
    EXPECT_EQ(t.readPacket(buffer, 1000).status, link::ReadStatus::Pending);
    const double waitedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const double cpu = threadCpuMs() - before;
    ASSERT_GE(waitedMs, 900.0);  // it did wait, so the measure means something
    // A spinning event loop burns the whole second; a sleeping one a few ms at most.
    EXPECT_LT(cpu, 50.0) << "CPU " << cpu << " ms over a wait of " << waitedMs << " ms";
}

TEST_F(UsbTransportTest, UnplugEndsTheReadInFlightAndReplugComesBackAsANewDevice) {
    usbemu::DevicePlan plan;
    plan.answerDelayMs = 5000;
    const int board = plug(plan);
    const int firstNumber = emulator.deviceNumber(board);
    transport::UsbTransport t(0x1209, 0x0001);
    ASSERT_TRUE(t.open()) << t.lastError();
    ASSERT_TRUE(t.writePacket(link::encodeBare(1).view()));
    EXPECT_EQ(t.readPacket(buffer, 20).status, link::ReadStatus::Pending);

    emulator.unplug(board);
    const auto start = Clock::now();
    EXPECT_EQ(readWithin(t, 1000).status, link::ReadStatus::Failed);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(t.writePacket(link::encodeBare(2).view()));
    EXPECT_FALSE(t.open());
    EXPECT_NE(std::string(t.lastError()).find("No Q-70 board"), std::string::npos) << t.lastError();

    emulator.replug(board);
    EXPECT_NE(emulator.deviceNumber(board), firstNumber);
    bool opened = false;
    for (int i = 0; i < 100 && !opened; ++i) {
        opened = t.open();
        if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(opened) << t.lastError();
    EXPECT_EQ(emulator.waitingInUrbs(board), 0);
}

TEST_F(UsbTransportTest, CloseWithAReadInFlightDiscardsItsUrb) {
    usbemu::DevicePlan plan;
    plan.board.faults.push_back({sim::FaultKind::Silence});
    const int board = plug(plan);
    transport::UsbTransport t(0x1209, 0x0001);
    ASSERT_TRUE(t.open()) << t.lastError();
    ASSERT_TRUE(t.writePacket(link::encodeBare(1).view()));
    EXPECT_EQ(t.readPacket(buffer, 10).status, link::ReadStatus::Pending);
    EXPECT_EQ(emulator.waitingInUrbs(board), 1);
    t.close();
    EXPECT_EQ(emulator.waitingInUrbs(board), 0);
    // The next program finds the board free and answering.
    transport::UsbTransport other(0x1209, 0x0001);
    ASSERT_TRUE(other.open()) << other.lastError();
    EXPECT_TRUE(ask(other, 1));
}

TEST_F(UsbTransportTest, ASecondProgramFindsTheBoardBusy) {
    plug();
    transport::UsbTransport first(0x1209, 0x0001);
    // The same board by its port: one board, one lock.
    transport::UsbTransport second(0, 0, "217-1");
    ASSERT_TRUE(first.open()) << first.lastError();
    EXPECT_EQ(first.location().address, "usb:217-1");
    EXPECT_FALSE(second.open());
    EXPECT_TRUE(second.openProblem().busy);
    EXPECT_EQ(second.openProblem().holderPid, system::thisProcess().pid);
    EXPECT_NE(std::string(second.lastError()).find("The board at usb:217-1 is in use by this same"),
              std::string::npos)
        << second.lastError();
    EXPECT_TRUE(ask(first, 1));  // the holder is not disturbed
    first.close();
    ASSERT_TRUE(second.open()) << second.lastError();
    EXPECT_TRUE(ask(second, 13));
    second.close();

    // Without a folder for locks the board's own claim still keeps a second program off.
    EnvironmentVariable noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    EnvironmentVariable noTemp("TMPDIR", "/proc");
    ASSERT_TRUE(first.open()) << first.lastError();
    EXPECT_FALSE(second.open());
    EXPECT_TRUE(second.openProblem().busy);
    EXPECT_NE(std::string(second.lastError()).find("another program or driver is using it"),
              std::string::npos)
        << second.lastError();
}

TEST_F(UsbTransportTest, HotplugTellsOfARemovalWithoutAReadAndOfTheReturn) {
    const int board = plug();
    transport::UsbTransport t(0x1209, 0x0001);
    ASSERT_TRUE(t.open()) << t.lastError();
    ASSERT_TRUE(t.hasHotplug());
    EXPECT_TRUE(t.stillThere());

    emulator.unplug(board);
    bool noticed = false;
    for (int i = 0; i < 50 && !noticed; ++i) {
        noticed = !t.stillThere();
        if (!noticed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(noticed);
    t.close();
    EXPECT_FALSE(t.open());
    EXPECT_FALSE(t.open());  // nothing has arrived: no new look, the same answer
    EXPECT_NE(std::string(t.lastError()).find("No Q-70 board"), std::string::npos);

    emulator.replug(board);
    bool opened = false;
    for (int i = 0; i < 50 && !opened; ++i) {
        opened = t.open();
        if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(opened) << t.lastError();
    EXPECT_TRUE(ask(t, 1));
}

TEST_F(UsbTransportTest, ABusyBoardIsTriedAgainWithoutWaitingForAnArrival) {
    plug();
    transport::UsbTransport holder(0x1209, 0x0001);
    transport::UsbTransport t(0x1209, 0x0001);
    ASSERT_TRUE(holder.open());
    EXPECT_FALSE(t.open());
    EXPECT_FALSE(t.open());
    holder.close();
    EXPECT_TRUE(t.open()) << t.lastError();
}

TEST_F(UsbTransportTest, TheConnectionLetsGoOfAnIdleBoardAtOnceAndReopensItWhenBack) {
    const int board = plug();
    transport::UsbTransport t(0x1209, 0x0001);
    ManualScheduler sched;
    RecordingListener listener;
    link::Connection conn{t, sched, sched, listener, listener};
    ASSERT_TRUE(conn.openAtStart());

    emulator.unplug(board);
    // Reconnect ticks only, no poll and no read: the handle goes all the same.
    for (int i = 0; i < 50 && t.isOpen(); ++i) {
        conn.onTimer(link::kReconnectTimer);
        if (t.isOpen()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(t.isOpen());
    // Told as a failed read is: once.
    EXPECT_EQ(listener.messages,
              std::vector<link::LinkMessage>{link::LinkMessage::ReceivePktError});

    emulator.replug(board);
    for (int i = 0; i < 50 && !t.isOpen(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        conn.onTimer(link::kReconnectTimer);
    }
    EXPECT_TRUE(t.isOpen());
    EXPECT_TRUE(conn.deviceOpen());
}

// What udev knows of a device: its sysfs attributes and its uevent properties, read
// through the preload as udev itself would read them.
struct UdevView {
    std::map<std::string, std::string> attributes;
    std::map<std::string, std::string> properties;
};

UdevView viewOf(const std::string& sysName) {
    UdevView v;
    const std::string dir = "/sys/bus/usb/devices/" + sysName + "/";
    for (const char* a : {"idVendor", "idProduct", "busnum", "devnum"}) {
        std::ifstream f(dir + a);
        std::string value;
        std::getline(f, value);
        v.attributes[a] = value;
    }
    std::ifstream uevent(dir + "uevent");
    std::string line;
    while (std::getline(uevent, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) v.properties[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return v;
}

// The tags the rules file adds to the device: every line whose matches all hold.
std::vector<std::string> tagsFor(const std::string& rulesFile, const UdevView& v) {
    std::ifstream in(rulesFile);
    std::string line;
    std::vector<std::string> tags;
    const std::regex term(R"re(([A-Z]+)(?:\{([A-Za-z_]+)\})?\s*(==|!=|\+=|=)\s*"([^"]*)")re");
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        bool matches = true;
        std::vector<std::string> added;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), term);
             it != std::sregex_iterator(); ++it) {
            const std::string key = (*it)[1], sub = (*it)[2], op = (*it)[3], value = (*it)[4];
            if (op == "==" || op == "!=") {
                std::string actual;
                if (key == "SUBSYSTEM")
                    actual = v.properties.count("SUBSYSTEM") ? v.properties.at("SUBSYSTEM") : "";
                else if (key == "ENV")
                    actual = v.properties.count(sub) ? v.properties.at(sub) : "";
                else if (key == "ATTR")
                    actual = v.attributes.count(sub) ? v.attributes.at(sub) : "";
                else
                    ADD_FAILURE() << "the check knows no match key " << key;
                matches = matches && ((actual == value) == (op == "=="));
            } else if (key == "TAG" && op == "+=") {
                added.push_back(value);
            }
        }
        if (matches) tags.insert(tags.end(), added.begin(), added.end());
    }
    return tags;
}

TEST_F(UsbTransportTest, TheUdevRuleGivesTheBoardToTheUserAtTheSeat) {
    const int board = plug();
    usbemu::DevicePlan other;
    other.vendorId = 0x1209;
    other.productId = 0x0002;
    other.port = "2";
    const int stranger = plug(other);

    const UdevView v = viewOf(emulator.portPath(board));
    // The emulated device shows what libusb and udev rely on.
    EXPECT_EQ(v.attributes.at("idVendor"), "1209");
    EXPECT_EQ(v.attributes.at("idProduct"), "0001");
    EXPECT_EQ(v.properties.at("DEVTYPE"), "usb_device");
    EXPECT_EQ("/dev/" + v.properties.at("DEVNAME"), emulator.nodePath(board));

    EXPECT_EQ(tagsFor(Q70_UDEV_RULES, v), std::vector<std::string>{"uaccess"});
    EXPECT_TRUE(tagsFor(Q70_UDEV_RULES, viewOf(emulator.portPath(stranger))).empty());
}

}  // namespace
}  // namespace q70::test

int main(int argc, char** argv) {
    if (!q70::usbemu::ensurePreload(argv)) {
        std::fprintf(stderr, "cannot run under the umockdev preload library\n");
        return 1;
    }
    // Every test's board sits on the same emulated port: this run's board locks are its own.
    char runtime[] = "/tmp/q70-usb-run-XXXXXX";
    if (::mkdtemp(runtime) == nullptr) return 1;
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(runtime, ec);
    return rc;
}
