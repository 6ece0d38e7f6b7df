#pragma once
// Serves the simulated board to one client at a time over the system's own kind of
// message channel: a Unix-domain SOCK_SEQPACKET socket on Linux, a named pipe in message
// mode on Windows. Each system also has its own way of poking the running board (offer a
// test image, unplug it, stop): signals on Linux, a control pipe on Windows.

#include <cstdint>
#include <functional>
#include <iostream>
#include <span>
#include <string>

#include "sim/simulated_board.hpp"

namespace q70::sim {

struct BoardServerHooks {
    std::function<void(std::span<const std::uint8_t>)> onRequest;  // before the board sees it
    std::function<void()> afterRequest;                            // after it has answered
};

// What q70-board-sim's --help says about the parts that differ between systems.
struct BoardServerTexts {
    std::string summary;      // the program's description
    std::string listenHelp;   // the --listen option
    std::string replugHow;    // how to bring back a board that is away until further notice
    std::string controlHelp;  // a help section: the control channel, laid out for help2man
};
BoardServerTexts boardServerTexts();

// Serves `board` at `address` until told to stop (true) or until it cannot go on (false,
// with the reason in `error`).
bool serveBoard(const std::string& address, sim::SimulatedBoard& board, std::uint32_t unplugMs,
                const BoardServerHooks& hooks, std::string& error);

// Events go to stdout, one line each and flushed at once: scripts and tests wait on them.
inline void boardEvent(const std::string& text) {
    std::cout << "q70-board-sim: " << text << std::endl;
}

// The pokes, the same on every system: offer a test image now; unplug the board for
// `unplugMs`, or plug it back in at once when it is away.
inline void offerTestImageNow(sim::SimulatedBoard& board) {
    board.offerTestImage();
    boardEvent("test image offered");
}
inline void unplugOrReplug(sim::SimulatedBoard& board, std::uint32_t unplugMs) {
    if (board.present()) {
        board.unplug(unplugMs);
        boardEvent("unplugging for " + std::to_string(unplugMs) + " ms");
    } else {
        // Away until further notice (a loss with down=0): back in at once.
        board.replug();
        boardEvent("plugged back in");
    }
}

}  // namespace q70::sim
