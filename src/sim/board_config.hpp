#pragma once
// Text forms of the simulated board's knobs: fault rules as q70-board-sim takes them on
// its command line, and the state file that keeps settings across restarts.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "link/protocol.hpp"
#include "sim/simulated_board.hpp"

namespace q70::sim {

// KIND[:key=value]... with KIND one of fe, ff, short, mismatch, silence, lose, forget and the keys
// code, from, skip, times (all kinds), size (short), answer (mismatch), after and down
// (lose). Numbers are decimal or 0x-prefixed hex.
bool parseFault(std::string_view text, Fault& out, std::string& error);
std::string describeFault(const Fault& fault);

// A setting's value from 0/1 or its words: disable/enable, a4/letter, original/match.
bool parseSettingWord(std::string_view text, std::uint8_t& value);

// YYYY-MM-DDTHH:MM

// What survives a restart of q70-board-sim: the five settings, the clock and the version.
struct BoardState {
    BoardSettings settings;
    link::DateTime dateTime;
    std::string version;
};
// False with a reason when the file cannot be read or holds a bad line. Keys it does not
// know are skipped, so that older simulators read newer files.
bool loadBoardState(const std::filesystem::path& file, BoardState& state, std::string& error);
// Written beside the target and renamed over it, so a crash never leaves half a file.
bool saveBoardState(const std::filesystem::path& file, const BoardState& state, std::string& error);

}  // namespace q70::sim
