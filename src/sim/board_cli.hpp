#pragma once
// The simulated board's command-line options, shared by every program that runs one
// (q70-board-sim on a socket, q70-usb-emu behind an emulated USB device).

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/board_config.hpp"
#include "sim/simulated_board.hpp"

namespace q70::sim {

struct BoardCli {
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

    // `awayUntil` says what brings a board lost for good (down=0) back, e.g. "SIGUSR2".
    void addTo(CLI::App& app, const std::string& awayUntil);

    // The board's options; settings, clock and version not given on the command line come
    // from `base` (the defaults, or a saved state). False with a message on a bad value.
    bool build(BoardOptions& out, const BoardState& base, std::string& error) const;

    // The help text on faults, for the programs' footers.
    static std::string faultHelp(const std::string& awayUntil);
};

}  // namespace q70::sim
