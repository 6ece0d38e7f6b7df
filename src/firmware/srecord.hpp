#pragma once
// One Motorola S-record line: the board checks each line of a firmware file with this
// before it keeps it, and q70ctl checks a file with it before sending it. The S0 header
// record carries the version the board reports afterwards.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q70::firmware {

struct SRecord {
    char type = '0';                  // '0' to '9'
    std::vector<std::uint8_t> bytes;  // address and data, without count and checksum
};

enum class SRecordProblem {
    None,
    NoRecord,       // does not start with "S" and a type digit
    NotHex,         // a character that is no hex digit, or an odd number of them
    CountMismatch,  // the count byte does not match the length of the line
    Checksum,       // the checksum does not match the record's bytes
};

// Parses one line (no line end): "S", a type digit, a count byte, count - 1 bytes of
// address and data, and a checksum byte that makes the low byte of the sum of count,
// address and data 0xFF. Empty optional for anything else, with the reason in `why`.
std::optional<SRecord> parseSRecord(std::string_view line, SRecordProblem* why = nullptr);

// The S0 record's data (after its 2-byte address) as text: printable bytes, stopping at
// the first 0 byte.
std::string headerText(const SRecord& s0);

}  // namespace q70::firmware
