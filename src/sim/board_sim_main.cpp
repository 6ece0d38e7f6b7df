// q70-board-sim: the simulated board as a process, serving one client at a time on the
// system's message channel (platform/board_server), with faults on request.

#include <CLI/CLI.hpp>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/date_time_text.hpp"
#include "platform/board_server.hpp"
#include "platform/steady_clock.hpp"
#include "sim/board_config.hpp"
#include "sim/simulated_board.hpp"

namespace {

using namespace q70;

std::string hexLine(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) s.push_back(' ');
        s.push_back(digits[bytes[i] >> 4]);
        s.push_back(digits[bytes[i] & 15]);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const platform::BoardServerTexts texts = platform::boardServerTexts();
    CLI::App app{"q70-board-sim: a simulated Q-70 copy board " + texts.summary +
                 " One client is served at a time; the next is accepted after it disconnects."};
    app.name("q70-board-sim");
    app.allow_windows_style_options(false);  // /x stays a path on Windows too
    app.get_formatter()->column_width(34);

    std::string listenPath;
    std::string typeLetter = "W";
    std::string version;
    std::string name = "Q-70";
    std::string printMode, saveMode, paper, margin, timeStamp, dateTime;
    std::uint32_t busyMs = 1500;
    unsigned busyState = 3;
    std::optional<std::uint32_t> imageAfter;
    std::uint32_t imageEvery = 0;
    std::vector<std::string> faultTexts;
    std::uint64_t loseAfter = 0;
    std::uint32_t downMs = 2000;
    std::uint32_t unplugMs = 1000;
    std::string stateFile;
    std::string logFile;
    bool verbose = false;

    auto settingCheck = CLI::Validator(
        [](std::string& s) {
            std::uint8_t v = 0;
            return sim::parseSettingWord(s, v) ? std::string() : "expected 0, 1 or a word: " + s;
        },
        "0|1|WORD");

    app.add_option("--listen", listenPath, texts.listenHelp)->required();
    app.add_option("--type", typeLetter, "Device-type letter in the device information (default W)")
        ->check([](const std::string& s) { return s.size() == 1 ? std::string() : "one letter"; });
    app.add_option("--version", version,
                   "Firmware version text (default \"Q70 Ver 1.20\", or the state file's)");
    app.add_option("--name", name, "Name drawn in big letters on the test image (default Q-70)");
    app.add_option("--print-mode", printMode, "Printed image: 0/original or 1/match")
        ->check(settingCheck);
    app.add_option("--save-mode", saveMode, "Saved image: 0/original or 1/match")
        ->check(settingCheck);
    app.add_option("--paper", paper, "Paper size: 0/a4 or 1/letter")->check(settingCheck);
    app.add_option("--margin", margin, "Binding margin: 0/disable or 1/enable")
        ->check(settingCheck);
    app.add_option("--time-stamp", timeStamp, "Time stamp: 0/disable or 1/enable (default 1)")
        ->check(settingCheck);
    app.add_option("--date-time", dateTime, "Board clock as YYYY-MM-DDTHH:MM");
    app.add_option(
        "--busy-ms", busyMs,
        "After a settings or clock write, report the busy state this long (default 1500)");
    app.add_option("--busy-state", busyState, "deviceState reported while busy, 2 to 6 (default 3)")
        ->check(CLI::Range(2, 6));
    app.add_option("--image-after", imageAfter, "Offer a test image this many ms after start");
    app.add_option("--image-every", imageEvery,
                   "Then offer one every this many ms (the first after this long when "
                   "--image-after is not given)");
    app.add_option("--fault", faultTexts,
                   "Misbehave on request, repeatable: KIND[:key=N]... (see below)");
    app.add_option("--lose-after", loseAfter,
                   "Vanish once this many packets (requests and answer packets together) have "
                   "crossed the link, even mid-image or mid-firmware");
    app.add_option("--down-ms", downMs,
                   "How long --lose-after keeps the board away (default 2000; 0: until " +
                       texts.replugHow + ")");
    app.add_option("--unplug-ms", unplugMs,
                   "How long an unplug keeps the board away (default 1000)");
    app.add_option("--state", stateFile,
                   "File that keeps settings, clock and version across restarts (read at start "
                   "when it exists, rewritten on every change; command-line values win)");
    app.add_option("--log", logFile, "Append every request as hex, one line each");
    app.add_flag("-v,--verbose", verbose, "Also write every request as hex to stderr");
    // Laid out for help2man as well: a heading, then items of a word and its text.
    app.footer(std::string(R"(Faults (--fault KIND[:key=N]...):
  fe        answer 0xFE instead of the normal answer
  ff        answer 0xFF instead of the normal answer
  short     answer with a packet of 1 to 4 bytes (key size, default 4)
  mismatch  answer with another code (key answer, default 3: no such request)
  silence   do not answer at all
  lose      vanish from the link: the client is dropped and new connections are
            refused (key down: ms away, default 2000; 0: until plugged back in);
            key after=N first lets N answer packets of that request out
            (e.g. lose:code=4:after=20 vanishes in the middle of a test image)

Keys for every kind:
  code=N    only requests with this code (1 info, 2 status, 4 test image, 5 date
            and time, 6 print mode, 13 version, 17 save mode, 18 paper, 19 margin,
            20 time stamp, 22 firmware data)
  from=N    only the board's Nth request and later (counting from 1 since start)
  skip=N    let the first N matching requests through
  times=N   strike this many matching requests (default 1; 0: every one)

A struck request is not carried out (except lose with after=N). For example:
fe:code=18, silence:from=9, lose:code=22:skip=2.

)") + texts.controlHelp +
               R"(
The board answers status with 0 while a test image is offered, with the busy state for
--busy-ms after a write, and 1 otherwise. A firmware update is checked record by record;
a bad S-record is answered with 0xFE (the host stops) and the old firmware stays; after
the last chunk the board reports the text of the file's S0 record as its version.

Events (listening, client connected, unplugged, ...) are printed on stdout.)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Bad arguments are 2, as for q70ctl, not CLI11's own numbers.
        return app.exit(e) == 0 ? 0 : 2;
    }

    sim::BoardOptions options;
    options.deviceType = typeLetter[0];
    options.name = name;
    options.busyMs = busyMs;
    options.busyState = static_cast<std::uint8_t>(busyState);
    options.firstImageAfterMs = imageAfter;
    if (!imageAfter && imageEvery > 0) options.firstImageAfterMs = imageEvery;
    options.imageEveryMs = imageEvery;
    options.loseAfterPackets = loseAfter;
    options.loseDownMs = downMs;
    for (const std::string& faultText : faultTexts) {
        sim::Fault f;
        std::string error;
        if (!sim::parseFault(faultText, f, error)) {
            std::cerr << "q70-board-sim: " << error << '\n';
            return 2;
        }
        options.faults.push_back(f);
    }

    sim::BoardState state{options.settings, options.dateTime, options.version};
    if (!stateFile.empty()) {
        std::error_code ec;
        if (std::filesystem::exists(stateFile, ec)) {
            std::string error;
            if (!sim::loadBoardState(stateFile, state, error)) {
                std::cerr << "q70-board-sim: " << error << '\n';
                return 2;
            }
        }
    }
    auto apply = [](const std::string& text, std::uint8_t& field) {
        if (!text.empty()) sim::parseSettingWord(text, field);
    };
    apply(printMode, state.settings.printMode);
    apply(saveMode, state.settings.saveMode);
    apply(paper, state.settings.paper);
    apply(margin, state.settings.margin);
    apply(timeStamp, state.settings.timeStamp);
    std::string dateError;
    if (!dateTime.empty() && !link::parseDateTime(dateTime, state.dateTime, dateError)) {
        std::cerr << "q70-board-sim: bad --date-time: " << dateError << "\n";
        return 2;
    }
    if (!version.empty()) state.version = version;
    options.settings = state.settings;
    options.dateTime = state.dateTime;
    options.version = state.version;

    std::ofstream log;
    if (!logFile.empty()) {
        log.open(logFile, std::ios::app);
        if (!log) {
            std::cerr << "q70-board-sim: cannot open the log file " << logFile << '\n';
            return 2;
        }
    }
    platform::SteadyClock clock;
    sim::SimulatedBoard board(clock, options);
    platform::BoardServerHooks hooks;
    hooks.onRequest = [&](std::span<const std::uint8_t> packet) {
        const std::string line = hexLine(packet);
        if (log.is_open()) log << line << std::endl;  // flushed: tests read it live
        if (verbose) std::cerr << line << '\n';
    };
    std::uint64_t savedRevision = board.stateRevision();
    hooks.afterRequest = [&] {
        if (stateFile.empty() || board.stateRevision() == savedRevision) return;
        std::string error;
        if (sim::saveBoardState(stateFile, {board.settings(), board.dateTime(), board.version()},
                                error)) {
            savedRevision = board.stateRevision();
        } else {
            std::cerr << "q70-board-sim: " << error << '\n';
        }
    };

    std::string error;
    if (!platform::serveBoard(listenPath, board, unplugMs, hooks, error)) {
        std::cerr << "q70-board-sim: " << error << '\n';
        return 1;
    }
    platform::boardEvent("stopped");
    return 0;
}
