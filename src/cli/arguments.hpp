#pragma once
// What q70ctl's arguments mean, apart from the parser: setting assignments, the clock,
// the exit codes and the names used in messages.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/outcome.hpp"
#include "link/protocol.hpp"
#include "settings/settings_model.hpp"

namespace q70::cli {

// Exit codes; --help lists them.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,    // a damaged or unexpected answer, a file that cannot be read or written
    kExitUsage = 2,     // bad arguments
    kExitNoDevice = 3,  // the device could not be opened
    kExitTimeout = 4,   // no answer within --timeout, or no test image within --wait
    kExitBusy = 5,      // another program is using the board
    kExitRefused = 6,   // the board did not take a write, a firmware chunk or an update's start
    kExitLost = 7,      // the board went away in the middle of the job
};

// What went wrong, as a script sees it: the "error" of the JSON on stderr, and the exit code
// that goes with it.
enum class ErrorClass { Usage, NoDevice, Timeout, Busy, Refused, Lost, BadAnswer, BadFile, Io };

const char* className(ErrorClass c);
int exitCodeOf(ErrorClass c);
// For an outcome other than Done.
ErrorClass classOf(link::Outcome outcome);

struct Failure {
    ErrorClass cls = ErrorClass::Io;
    std::string message;
};

struct SettingAssignment {
    settings::Setting setting;
    std::int32_t value;  // 0 or 1
};

// NAME=VALUE with NAME a setting's q70ctl name and VALUE 0, 1 or one of its two words
// (case does not matter). False with a message for the user in `error`.
bool parseAssignment(std::string_view text, SettingAssignment& out, std::string& error);
// Every assignment; a setting named twice is an error.
bool parseAssignments(const std::vector<std::string>& texts, std::vector<SettingAssignment>& out,
                      std::string& error);

// YYYY-MM-DDTHH:MM, a real calendar date (leap years counted), year 1 to 9999.

// Name of a request code for messages, e.g. "GetStatus (2)".
std::string requestName(std::uint8_t code);
// "0xFE" style, for answer codes.
std::string hexByte(std::uint8_t value);

}  // namespace q70::cli
