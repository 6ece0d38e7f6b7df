#pragma once
// Mapping tables of the legacy code pages (generated into code_page_tables.cpp by
// scripts/gen_code_pages.py).

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace q70::config::codepage {

// Values of DoubleBytePage::single besides code points.
inline constexpr std::uint16_t kUnmapped = 0x0000;
inline constexpr std::uint16_t kLeadByte = 0xFFFF;
inline constexpr unsigned kFirstLeadByte = 0x81;

// A stretch of numbered double-byte codes: linear ones map onto consecutive code points
// from `value`, the others read their code points from the pool at offset `value`.
struct Segment {
    std::uint16_t start;
    std::uint16_t length;
    std::uint16_t value;
    std::uint8_t linear;
};

struct DoubleBytePage {
    const std::uint16_t* single;  // bytes 0x80 to 0xFF: code point, kUnmapped or kLeadByte
    std::uint8_t trailLow1, trailHigh1, trailLow2, trailHigh2;  // the two trail byte ranges
    const Segment* segments;                                    // sorted by start
    std::size_t segmentCount;
    const char16_t* pool;
};

// CP1252 bytes 0x80 to 0x9F (32 entries; kUnmapped where the code page has no character).
const std::uint16_t* cp1252High();
const DoubleBytePage& cp932();
const DoubleBytePage& gbk();

}  // namespace q70::config::codepage
