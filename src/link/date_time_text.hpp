#pragma once
// The one text form of a date and time that q70ctl and q70-board-sim read and write:
// YYYY-MM-DDTHH:MM, local time, no seconds (the board has none).

#include <string>
#include <string_view>

#include "link/protocol.hpp"

namespace q70::link {

// Strict: the exact shape and a real calendar date; `error` says what was wrong.
bool parseDateTime(std::string_view text, DateTime& out, std::string& error);
std::string formatDateTime(const DateTime& dt);

}  // namespace q70::link
