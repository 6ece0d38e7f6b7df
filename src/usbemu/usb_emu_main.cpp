// q70-usb-emu: runs a command against simulated boards behind emulated USB devices, so
// that the real q70ctl and q70uty drive the libusb path unchanged.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "sim/board_cli.hpp"
#include "usbemu/preload.hpp"
#include "usbemu/usb_emulator.hpp"

extern char** environ;

namespace {

std::atomic<pid_t> g_child{-1};

extern "C" void forwardSignal(int sig) {
    const pid_t child = g_child.load();
    if (child > 0) ::kill(child, sig);
}

std::uint16_t parseId(const std::string& text) {
    return static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
}

}  // namespace

int main(int argc, char** argv) {
    using namespace q70;
    CLI::App app{
        "q70-usb-emu: runs COMMAND with simulated Q-70 boards behind emulated USB devices "
        "(umockdev), so that --device usb reaches them through libusb as it would real "
        "boards. Exits with COMMAND's exit status.\nUsage: q70-usb-emu [OPTIONS] -- COMMAND "
        "[ARGS...]"};
    app.name("q70-usb-emu");
    app.get_formatter()->column_width(34);

    sim::BoardCli boardCli;
    boardCli.addTo(app, "--replug-after");
    std::string vid = "1209";
    std::string pid = "0001";
    std::vector<std::string> ports;
    std::vector<std::string> serials;
    std::uint32_t unplugAt = 0;
    std::uint32_t replugAfter = 0;
    std::vector<std::string> unplugPorts;
    bool noBulk = false;
    bool noAccess = false;
    bool kernelDriver = false;
    std::uint32_t answerDelay = 0;
    std::string eventsFile;
    std::vector<std::string> command;

    app.add_option("--vid", vid, "Vendor id in hex (default 1209)");
    app.add_option("--pid", pid, "Product id in hex (default 0001)");
    app.add_option("--port", ports,
                   "Port path of a board below the root hub, repeatable: one board each "
                   "(default 1; 4.2 is port 2 of a hub on port 4)");
    app.add_option("--serial", serials, "Serial number of the boards in --port order, repeatable");
    app.add_option("--unplug-at", unplugAt, "Pull every board's cable this many ms after start");
    app.add_option("--replug-after", replugAfter,
                   "Plug them back in this many ms after --unplug-at (0: never)");
    app.add_option("--unplug-port", unplugPorts,
                   "Only the board on this port is unplugged (repeatable; default: every one)");
    app.add_flag("--no-bulk", noBulk, "The device has no bulk pair (not shaped like the board)");
    app.add_flag("--no-access", noAccess, "The device node may not be opened (no udev rule)");
    app.add_flag("--kernel-driver", kernelDriver,
                 "A kernel driver is bound to the board's interface at first");
    app.add_option("--answer-delay", answerDelay,
                   "Every answer packet reaches the bulk-in endpoint this many ms late");
    app.add_option("--events", eventsFile,
                   "Append the emulator's events (plugged, claimed, unplugged, ...) to FILE");
    app.footer(sim::BoardCli::faultHelp("--replug-after") + R"(

Example:
  q70-usb-emu -- q70ctl --device usb test-image -o x.bmp)");

    // Everything after the first -- is the command, options and all.
    int split = 1;
    while (split < argc && std::string(argv[split]) != "--") ++split;
    for (int i = split + 1; i < argc; ++i) command.emplace_back(argv[i]);
    try {
        app.parse(split, argv);
        if (command.empty() && !app.get_help_ptr()->as<bool>())
            throw CLI::RequiredError("a command after --");
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (!usbemu::ensurePreload(argv)) {
        std::cerr << "q70-usb-emu: cannot run under libumockdev-preload.so.0 (is umockdev "
                     "installed?)\n";
        return 2;
    }
    ::unsetenv("Q70_USB_EMU_REEXEC");

    sim::BoardOptions options;
    if (std::string error;
        !boardCli.build(options, {options.settings, options.dateTime, options.version}, error)) {
        std::cerr << "q70-usb-emu: " << error << '\n';
        return 2;
    }
    if (ports.empty()) ports.push_back("1");

    std::ofstream events;
    if (!eventsFile.empty()) events.open(eventsFile, std::ios::app);
    std::mutex eventsMutex;

    usbemu::UsbEmulator emulator;
    emulator.setEventSink([&](const std::string& line) {
        std::lock_guard lock(eventsMutex);
        if (events.is_open()) events << line << std::endl;
    });
    std::vector<int> boards;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        usbemu::DevicePlan plan;
        plan.board = options;
        plan.vendorId = parseId(vid);
        plan.productId = parseId(pid);
        plan.port = ports[i];
        if (i < serials.size()) plan.serial = serials[i];
        plan.bulkPair = !noBulk;
        plan.noAccess = noAccess;
        plan.kernelDriver = kernelDriver;
        plan.answerDelayMs = answerDelay;
        boards.push_back(emulator.add(plan));
    }

    std::vector<char*> args;
    for (std::string& a : command) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t child = -1;
    if (const int rc = ::posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ);
        rc != 0) {
        std::cerr << "q70-usb-emu: cannot run " << command[0] << ": " << std::strerror(rc) << '\n';
        return 127;
    }
    g_child = child;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, forwardSignal);

    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
    std::thread schedule;
    if (unplugAt > 0) {
        schedule = std::thread([&] {
            std::unique_lock lock(m);
            if (cv.wait_for(lock, std::chrono::milliseconds(unplugAt), [&] { return finished; }))
                return;
            for (const int b : boards) {
                const std::string& port = ports[static_cast<std::size_t>(b)];
                if (!unplugPorts.empty() &&
                    std::find(unplugPorts.begin(), unplugPorts.end(), port) == unplugPorts.end()) {
                    continue;
                }
                if (replugAfter > 0) {
                    emulator.unplugFor(b, replugAfter);
                } else {
                    emulator.withBoard(b, [](sim::SimulatedBoard& board) { board.unplug(0); });
                }
            }
        });
    }

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    {
        std::lock_guard lock(m);
        finished = true;
    }
    cv.notify_all();
    if (schedule.joinable()) schedule.join();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
