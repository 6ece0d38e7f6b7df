#pragma once
// A firmware file checked before a byte of it goes to the board: every line a Motorola
// S-record that the board takes, and what the file holds. The window sends files as they
// are; q70ctl checks them first, so that a damaged or wrong file is refused at once
// rather than found out by the board part-way through.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q70::firmware {

// Bad and long lines are listed up to this many; the count goes on.
inline constexpr std::size_t kMaxListedLines = 20;

struct BadLine {
    std::uint64_t line = 0;  // from 1
    std::string why;
};

struct FirmwareCheck {
    std::string header;                         // the text of the first S0 record
    std::uint64_t records = 0;                  // lines that are S-records
    std::uint64_t dataBytes = 0;                // data bytes of the S1, S2 and S3 records
    std::uint64_t firstAddress = 0;             // the lowest address holding data (0 without data)
    std::uint64_t lastAddress = 0;              // the highest
    std::optional<std::uint64_t> startAddress;  // from the S7, S8 or S9 record
    std::vector<std::uint64_t> longLines;       // too long for one chunk of the update
    std::vector<BadLine> badLines;              // the first kMaxListedLines
    std::uint64_t badLineCount = 0;

    // No bad line, and at least one record.
    bool valid() const { return badLineCount == 0 && records > 0; }
};

// Checks the text of a file. Lines end with LF or CR LF; empty lines are passed over, as
// the board does. Lower-case hex digits are taken.
FirmwareCheck checkSRecords(std::string_view text);

// The whole file, as the update would send it: a plain file of at most the largest size
// an update takes. False with a message for the user in `error`.
bool readFirmwareFile(const std::string& path, std::string& text, std::string& error);

}  // namespace q70::firmware
