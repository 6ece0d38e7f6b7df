#pragma once
// The board's side of a firmware file: each Motorola S-record line is checked before it
// is kept, and the S0 header record carries the version the board reports afterwards.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q70::sim {

struct SRecord {
    char type = '0';                  // '0' to '9'
    std::vector<std::uint8_t> bytes;  // address and data, without count and checksum
};

// Parses one line (no line end): "S", a type digit, a count byte, count - 1 bytes of
// address and data, and a checksum byte that makes the low byte of the sum of count,
// address and data 0xFF. Empty optional for anything else, including a wrong checksum.
std::optional<SRecord> parseSRecord(std::string_view line);

// The S0 record's data (after its 2-byte address) as text: printable bytes, stopping at
// the first 0 byte.
std::string headerText(const SRecord& s0);

}  // namespace q70::sim
