#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace q70::testimage {

// How the encoder chooses among the code forms. The defaults give compact data, close to
// what a board sends; the other knobs exist so tests and the simulated board can exercise
// every form of the format. Every choice stays well formed: a block's last code never
// produces bytes past the end of a row.
struct EncoderOptions {
    std::uint32_t seed = 1;  // drives every randomised choice below

    // Longest literal in data bytes (1..128).
    std::uint32_t maxLiteral = 128;
    // Longest run (2..33); runs shorter than minRun are sent as literals.
    std::uint32_t maxRun = 33;
    std::uint32_t minRun = 2;
    // Chance, in percent, that a run that could take the next byte as its trailing byte does.
    std::uint32_t trailingPercent = 100;
    // Chance, in percent, that a 0x00 run still spells out its value byte.
    std::uint32_t explicitZeroPercent = 0;
    // Randomise literal and run lengths below their maxima (splits stretches at random).
    bool randomLengths = false;

    // Let runs and literals continue across row boundaries inside a block (never into its
    // last row, so that the block always ends its last row).
    bool crossRows = true;
    // Rows per block, at most; a block always ends at a row end or mid-row (see below).
    std::uint32_t rowsPerBlock = 8;
    // Chance, in percent, that a block ends mid-row once a row's rest is all white
    // (the white tail then comes from the block-end fill).
    std::uint32_t midRowEndPercent = 100;
    // Chance, in percent, of an empty block (00 00) before each block.
    std::uint32_t emptyBlockPercent = 0;
    // Most codes in one block (0 = no limit besides the 65535-byte block length).
    std::uint32_t maxCodesPerBlock = 0;
};

// `lines`: `width` scan lines of `bytesPerLine` bytes each, scan line r at r*bytesPerLine,
// dot 0 in bit 0x80 of its first byte. Returns well-formed compressed data (blocks).
std::vector<std::uint8_t> encodeLines(std::span<const std::uint8_t> lines, std::uint32_t width,
                                      std::uint32_t bytesPerLine,
                                      const EncoderOptions& options = {});

}  // namespace q70::testimage
