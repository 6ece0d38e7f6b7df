// q70-board-sim: the simulated board as a process, serving one client at a time on the
// system's message channel (sim/board_server), with faults on request.

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
#include "sim/board_cli.hpp"
#include "sim/board_config.hpp"
#include "sim/board_server.hpp"
#include "sim/simulated_board.hpp"
#include "system/steady_clock.hpp"

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
    const sim::BoardServerTexts texts = sim::boardServerTexts();
    CLI::App app{
        "q70-board-sim: a simulated Q-70 copy board " + texts.summary +
        " One client is served at a time: one that connects meanwhile is refused at once (its "
        "connection closed), as a board another program holds; it may connect once the "
        "first has disconnected."};
    app.name("q70-board-sim");
    app.allow_windows_style_options(false);  // /x stays a path on Windows too
    app.get_formatter()->column_width(34);

    std::string listenPath;
    sim::BoardCli boardCli;
    std::uint32_t unplugMs = 1000;
    std::string stateFile;
    std::string logFile;
    bool verbose = false;

    app.add_option("--listen", listenPath, texts.listenHelp)->required();
    boardCli.addTo(app, texts.replugHow);
    app.add_option("--unplug-ms", unplugMs,
                   "How long an unplug keeps the board away (default 1000)");
    app.add_option("--state", stateFile,
                   "File that keeps settings, clock and version across restarts (read at start "
                   "when it exists, rewritten on every change; command-line values win)");
    app.add_option("--log", logFile, "Append every request as hex, one line each");
    app.add_flag("-v,--verbose", verbose, "Also write every request as hex to stderr");
    // Laid out for help2man as well: a heading, then items of a word and its text.
    app.footer(sim::BoardCli::faultHelp(texts.replugHow) + "\n\n" + texts.controlHelp + R"(
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
    if (std::string error; !boardCli.build(options, state, error)) {
        std::cerr << "q70-board-sim: " << error << '\n';
        return 2;
    }

    std::ofstream log;
    if (!logFile.empty()) {
        log.open(logFile, std::ios::app);
        if (!log) {
            std::cerr << "q70-board-sim: cannot open the log file " << logFile << '\n';
            return 2;
        }
    }
    system::SteadyClock clock;
    sim::SimulatedBoard board(clock, options);
    sim::BoardServerHooks hooks;
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
    if (!sim::serveBoard(listenPath, board, unplugMs, hooks, error)) {
        std::cerr << "q70-board-sim: " << error << '\n';
        return 1;
    }
    sim::boardEvent("stopped");
    return 0;
}
