// q70ctl as a process over libusb, against simulated boards behind emulated USB devices
// (q70-usb-emu): every flow, the ways opening fails, and unplugging at bad moments.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/arguments.hpp"
#include "cli_fixture.hpp"

extern char** environ;

namespace q70::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string readText(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Starts a program in the background with stdout and stderr to /dev/null; -1 on failure.
pid_t startQuiet(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

class UsbProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 ("q70usb-" + std::string(info->name()) + "-" + std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "run");
        events = folder / "events";
        // The boards of every test sit on the same emulated bus and port: each test keeps
        // its board locks to itself, as programs of two users do.
        ::setenv("XDG_RUNTIME_DIR", (folder / "run").c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    // Runs a program with stdout and stderr kept in `out` and `err`; its exit status.
    int run(std::vector<std::string> args) {
        const std::filesystem::path o = folder / "stdout", e = folder / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, o.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, e.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return -1;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        out = readText(o);
        err = readText(e);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // q70-usb-emu with `options` around one q70ctl command line.
    int emu(std::vector<std::string> options, const std::vector<std::string>& ctlArgs) {
        std::vector<std::string> args = {Q70_USB_EMU_PATH, "--events", events.string()};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("--");
        args.push_back(Q70CTL_PATH);
        args.insert(args.end(), ctlArgs.begin(), ctlArgs.end());
        return run(args);
    }

    // q70-usb-emu around a shell script in which $CTL is q70ctl.
    int emuShell(std::vector<std::string> options, const std::string& script) {
        std::vector<std::string> args = {Q70_USB_EMU_PATH, "--events", events.string()};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"--", "/bin/sh", "-c",
                                 "CTL=" + std::string(Q70CTL_PATH) + "; cd " + folder.string() +
                                     "; " + script});
        return run(args);
    }

    std::filesystem::path folder;
    std::filesystem::path events;
    std::string out;
    std::string err;
};

TEST_F(UsbProcess, EveryFlowWorksOverUsb) {
    std::ofstream(folder / "fw.mot", std::ios::binary) << longLineFirmware("Q70 Ver 1.21", 20);
    ASSERT_EQ(emuShell({},
                       "$CTL --device usb info > info1 &&"
                       " $CTL --device usb set paper=letter margin=enable &&"
                       " $CTL --device usb get > get &&"
                       " $CTL --device usb update fw.mot &&"
                       " $CTL --device usb info > info2"),
              0)
        << err;
    const std::string info1 = readText(folder / "info1");
    EXPECT_NE(info1.find("device-type=W\n"), std::string::npos) << info1;
    EXPECT_NE(info1.find("firmware-version=Q70 Ver 1.20\n"), std::string::npos) << info1;
    EXPECT_EQ(readText(folder / "get"),
              "time-stamp=enable\nmargin=enable\npaper=letter\nprint-mode=original\n"
              "save-mode=original\n");
    EXPECT_NE(err.find("100% Completed."), std::string::npos) << err;
    EXPECT_NE(readText(folder / "info2").find("firmware-version=Q70 Ver 1.21\n"),
              std::string::npos);
    // Each program claimed the board and let it go again.
    const std::string ev = readText(events);
    EXPECT_NE(ev.find("claimed 217-1"), std::string::npos) << ev;
    EXPECT_NE(ev.find("released 217-1"), std::string::npos) << ev;
}

TEST_F(UsbProcess, TheTestImageIsTheSameAsOverTheSocket) {
    // The same board on a socket first, then behind USB.
    const std::string socket = (folder / "board.sock").string();
    const pid_t sim = startQuiet({Q70_BOARD_SIM_PATH, "--listen", socket, "--image-after", "200"});
    ASSERT_GT(sim, 0);
    for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i) usleep(10000);
    const int socketRc =
        run({Q70CTL_PATH, "--device", "unix:" + socket, "test-image", "-o",
             (folder / "unix.bmp").string(), "--raw", (folder / "unix.raw").string()});
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    ASSERT_EQ(socketRc, 0) << err;

    ASSERT_EQ(emu({"--image-after", "200"},
                  {"--device", "usb", "test-image", "-o", (folder / "usb.bmp").string(), "--raw",
                   (folder / "usb.raw").string()}),
              0)
        << err;
    const auto bmp = readBytes(folder / "usb.bmp");
    EXPECT_GT(bmp.size(), 400000u);
    EXPECT_TRUE(bmp == readBytes(folder / "unix.bmp"));
    EXPECT_TRUE(readBytes(folder / "usb.raw") == readBytes(folder / "unix.raw"));
}

TEST_F(UsbProcess, OpenProblemsAreToldApart) {
    EXPECT_NE(emu({}, {"--device", "usb:1234:5678", "info"}), 0);
    EXPECT_NE(err.find("No Q-70 board with USB id 1234:5678"), std::string::npos) << err;

    EXPECT_NE(emu({"--no-bulk"}, {"--device", "usb", "info"}), 0);
    EXPECT_NE(err.find("no interface with one bulk-out and one bulk-in endpoint"),
              std::string::npos)
        << err;

    EXPECT_NE(emu({"--no-access"}, {"--device", "usb", "info"}), 0);
    EXPECT_NE(err.find("may not open it"), std::string::npos) << err;
    EXPECT_NE(err.find("70-q70.rules"), std::string::npos) << err;

    // Ids other than the default reach the board when named.
    EXPECT_EQ(emu({"--vid", "abcd", "--pid", "00ef"}, {"--device", "usb:ABCD:EF", "info"}), 0)
        << err;
}

TEST_F(UsbProcess, AKernelDriverIsDetachedAndGivenBack) {
    ASSERT_EQ(emu({"--kernel-driver"}, {"--device", "usb", "get"}), 0) << err;
    const std::string ev = readText(events);
    const auto detached = ev.find("kernel driver detached from 217-1");
    const auto claimed = ev.find("claimed 217-1");
    const auto back = ev.find("kernel driver bound again to 217-1");
    ASSERT_NE(detached, std::string::npos) << ev;
    ASSERT_NE(back, std::string::npos) << ev;
    EXPECT_LT(detached, claimed);
    EXPECT_LT(claimed, back);
}

// Until the first program holds the board, at most five seconds.
const std::string kUntilClaimed =
    " i=0; until grep -q claimed events || [ $i -ge 100 ]; do sleep 0.05; i=$((i+1)); done;";

TEST_F(UsbProcess, ASecondProgramIsToldTheBoardIsTakenOrWaitsForIt) {
    // The first waits for a test image that never comes, holding the board meanwhile; the
    // second names the same board by its port, the third waits for it.
    const int rc = emuShell(
        {}, "$CTL --device usb test-image -o a.bmp --wait 2 2>first & first=$!;" + kUntilClaimed +
                " $CTL --device usb:217-1 info --json 2>second; echo $? > "
                "second.rc;"
                " $CTL --device usb --wait-busy 20 get 2>third; echo $? > third.rc;"
                " wait $first");
    EXPECT_EQ(rc, cli::kExitTimeout);  // the first found no image
    EXPECT_EQ(readText(folder / "second.rc"), "5\n");
    const std::string second = readText(folder / "second");
    EXPECT_NE(second.find("The board at usb:217-1 is in use by another q70ctl (PID "),
              std::string::npos)
        << second;
    EXPECT_NE(second.find("{\"schema\": 1, \"error\": \"busy\", \"exit\": 5, "), std::string::npos)
        << second;
    EXPECT_EQ(readText(folder / "third.rc"), "0\n") << readText(folder / "third");
    EXPECT_NE(readText(folder / "third").find("Waiting up to 20 s"), std::string::npos);
    // Only the holder and the third ever claimed the board.
    const std::string ev = readText(events);
    std::size_t claims = 0;
    for (auto at = ev.find("claimed"); at != std::string::npos; at = ev.find("claimed", at + 1))
        ++claims;
    EXPECT_EQ(claims, 2u) << ev;
}

TEST_F(UsbProcess, EveryBoardAtOnceEachFailingOnItsOwn) {
    // Four boards; the one on port 3 is pulled out while they are read (slowly: the eight
    // reads take over two seconds), the one on port 2 is held by another q70ctl.
    ASSERT_EQ(emuShell({"--port", "1", "--port", "2", "--port", "3", "--port", "4", "--serial",
                        "A1", "--answer-delay", "250", "--unplug-at", "1500", "--unplug-port", "3"},
                       "$CTL --device usb:217-2 test-image -o x.bmp --wait 4 2>/dev/null & h=$!;" +
                           kUntilClaimed +
                           " $CTL --device all info --json > all.json 2> all.err;"
                           " echo $? > all.rc; wait $h"),
              cli::kExitTimeout)
        << err;
    // Port 2 was busy: the first failure in address order.
    EXPECT_EQ(readText(folder / "all.rc"), "5\n") << readText(folder / "all.err");
    const std::string json = readText(folder / "all.json");
    EXPECT_NE(json.find("\"device\": {\"address\": \"usb:217-1\", \"port\": \"217-1\", "
                        "\"serial\": \"A1\"}}\n"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"device\": {\"address\": \"usb:217-4\", \"port\": \"217-4\", "
                        "\"serial\": \"\"}}\n"),
              std::string::npos)
        << json;
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 2);
    const std::string e = readText(folder / "all.err");
    EXPECT_NE(e.find("\"error\": \"busy\", \"exit\": 5, "), std::string::npos) << e;
    EXPECT_NE(e.find("\"error\": \"lost\", \"exit\": 7, "), std::string::npos) << e;
    EXPECT_NE(e.find("\"device\": \"usb:217-3\"}"), std::string::npos) << e;

    // No board at all is no success.
    EXPECT_EQ(emu({"--vid", "abcd"}, {"--device", "all", "info"}), cli::kExitNoDevice);
    EXPECT_NE(err.find("no Q-70 board is connected"), std::string::npos) << err;
}

TEST_F(UsbProcess, UnplugWithAReadInFlightFailsAtOnce) {
    const auto start = Clock::now();
    EXPECT_NE(emu({"--answer-delay", "2000", "--unplug-at", "300"}, {"--device", "usb", "info"}),
              0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_NE(err.find("Receive packet through Q-70 Bulk-in endpoint failed"), std::string::npos)
        << err;
    EXPECT_NE(readText(events).find("unplugged 217-1"), std::string::npos);
}

TEST_F(UsbProcess, UnplugMidImageSavesNothing) {
    EXPECT_NE(emu({"--image-after", "100", "--fault", "lose:code=4:after=20:down=0"},
                  {"--device", "usb", "test-image", "-o", (folder / "x.bmp").string()}),
              0);
    EXPECT_NE(err.find("lost while answering GetTestImage"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(folder / "x.bmp"));
}

TEST_F(UsbProcess, UnplugBetweenPollsIsNoticedBeforeTheNextPoll) {
    // The start sequence is done by 1.5 s; the cable goes while only the poll runs, and
    // comes back 500 ms later.
    EXPECT_NE(
        emu({"--unplug-at", "1500", "--replug-after", "500"},
            {"--device", "usb", "test-image", "-o", (folder / "x.bmp").string(), "--wait", "10"}),
        0);
    // Hotplug told of it: a lost board, not a poll written into the void after its return.
    EXPECT_NE(err.find("the board was lost"), std::string::npos) << err;
    EXPECT_NE(err.find("Receive packet through Q-70 Bulk-in endpoint failed"), std::string::npos)
        << err;
    const std::string ev = readText(events);
    EXPECT_NE(ev.find("unplugged 217-1"), std::string::npos) << ev;
    EXPECT_EQ(ev.find("plugged in 217-1 as /dev/bus/usb/217/003"), std::string::npos) << ev;
}

TEST_F(UsbProcess, ListShowsEveryBoardAndAPortPathPicksOne) {
    ASSERT_EQ(emuShell({"--port", "3", "--port", "4.2", "--port", "1", "--serial", "SHELF-3",
                        "--serial", "SHELF-42"},
                       "$CTL list > list && $CTL list --json > json &&"
                       " $CTL --device usb:217-4.2 set paper=letter 2>/dev/null &&"
                       " $CTL --device usb:217-4.2 get > picked && $CTL --device usb get > first"),
              0)
        << err;
    // In bus and port order; the device numbers are those of plugging in (3, 4.2, 1).
    EXPECT_EQ(readText(folder / "list"),
              "usb:217-1 bus=217 device=5 id=1209:0001\n"
              "usb:217-3 bus=217 device=2 id=1209:0001 serial=SHELF-3\n"
              "usb:217-4.2 bus=217 device=3 id=1209:0001 serial=SHELF-42\n");
    EXPECT_EQ(readText(folder / "json"),
              "[{\"schema\": 1, \"address\": \"usb:217-1\", \"port\": \"217-1\", \"bus\": 217, "
              "\"device\": 5, \"id\": \"1209:0001\", \"serial\": \"\"}, "
              "{\"schema\": 1, \"address\": \"usb:217-3\", \"port\": \"217-3\", \"bus\": 217, "
              "\"device\": 2, \"id\": \"1209:0001\", \"serial\": \"SHELF-3\"}, "
              "{\"schema\": 1, \"address\": \"usb:217-4.2\", \"port\": \"217-4.2\", \"bus\": 217, "
              "\"device\": 3, \"id\": \"1209:0001\", \"serial\": \"SHELF-42\"}]\n");
    EXPECT_NE(readText(folder / "picked").find("paper=letter"), std::string::npos);
    // Plain usb is the first board listed, which was not written.
    EXPECT_NE(readText(folder / "first").find("paper=a4"), std::string::npos);

    EXPECT_NE(emu({}, {"--device", "usb:217-9", "info"}), 0);
    EXPECT_NE(err.find("No USB device is connected at 217-9"), std::string::npos) << err;
    EXPECT_EQ(emu({"--port", "2"}, {"list"}), 0);
    EXPECT_EQ(out, "usb:217-2 bus=217 device=2 id=1209:0001\n");
}

TEST_F(UsbProcess, TwoProgramsUpdateTwoBoardsAtOnce) {
    std::ofstream(folder / "fw.mot", std::ios::binary) << longLineFirmware("Q70 Ver 2.00", 40);
    ASSERT_EQ(
        emuShell(
            {"--port", "1", "--port", "2"},
            "$CTL --device usb:217-1 update fw.mot 2>one & a=$!;"
            // Two programs starting libusb in the same instant under the emulator now and
            // then fail to start it; the second starts once the first holds its board.
            " i=0; until grep -q 'claimed 217-1' " +
                events.string() +
                " || [ $i -ge 100 ]; do sleep 0.05; i=$((i+1)); done;"
                " $CTL --device usb:217-2 update fw.mot 2>two & b=$!;"
                " wait $a && wait $b &&"
                " $CTL --device usb:217-1 info > info1 && $CTL --device usb:217-2 info > info2"),
        0)
        << err << readText(folder / "one") << readText(folder / "two");
    for (const char* f : {"info1", "info2"})
        EXPECT_NE(readText(folder / f).find("firmware-version=Q70 Ver 2.00"), std::string::npos);
    // Both boards were claimed before either was let go: the updates ran side by side.
    const std::string ev = readText(events);
    const auto firstRelease = ev.find("released");
    ASSERT_NE(firstRelease, std::string::npos) << ev;
    EXPECT_LT(ev.find("claimed 217-1"), firstRelease) << ev;
    EXPECT_LT(ev.find("claimed 217-2"), firstRelease) << ev;
}

#if defined(Q70UTY_PATH)
TEST_F(UsbProcess, TheWindowGetsItsBoardBackByItselfAfterAReplug) {
    // A copy under a name of its own, so that no other window test counts as a first
    // instance; offscreen, so that no display is needed.
    const std::filesystem::path exe = folder / ("q70uty-usb-" + std::to_string(getpid()));
    std::filesystem::copy_file(Q70UTY_PATH, exe);
    std::vector<std::string> a = {Q70_USB_EMU_PATH,
                                  "--events",
                                  events.string(),
                                  "--unplug-at",
                                  "2000",
                                  "--replug-after",
                                  "1000",
                                  "--",
                                  "/usr/bin/env",
                                  "QT_QPA_PLATFORM=offscreen",
                                  exe.string(),
                                  "--device",
                                  "usb"};
    const pid_t pid = startQuiet(a);
    ASSERT_GT(pid, 0);

    // Claimed, lost, plugged in again under a new number, and claimed again unasked.
    const std::string back = "plugged in 217-1 as /dev/bus/usb/217/003\nclaimed 217-1";
    std::string ev;
    for (int i = 0; i < 200 && ev.find(back) == std::string::npos; ++i) {
        usleep(50000);
        ev = readText(events);
    }
    kill(pid, SIGTERM);  // passed on to the window
    int status = 0;
    waitpid(pid, &status, 0);
    // A terminated window leaves its single-instance lock and socket behind.
    const std::string key = exe.filename().string() + "-" + std::to_string(getuid());
    std::error_code ec;
    std::filesystem::remove(std::filesystem::temp_directory_path() / (key + ".lock"), ec);
    std::filesystem::remove(std::filesystem::temp_directory_path() / key, ec);
    EXPECT_EQ(
        ev.rfind("plugged in 217-1 as /dev/bus/usb/217/002\nclaimed 217-1\nunplugged 217-1\n", 0),
        0u)
        << ev;
    EXPECT_NE(ev.find(back), std::string::npos) << ev;
}
#endif

}  // namespace
}  // namespace q70::test
