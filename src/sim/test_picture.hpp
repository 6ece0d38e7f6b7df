#pragma once
// The picture the simulated board "scans": a frame, a grid, the board's name in big
// block letters and a line of small print, laid out as scan lines the way the board
// sends them.

#include <cstdint>
#include <string>
#include <vector>

namespace q70::sim {

inline constexpr std::uint16_t kPictureWidth = 2160;        // scan lines
inline constexpr std::uint16_t kPictureBytesPerLine = 188;  // 1504 dots per scan line

struct PictureText {
    std::string name;        // big letters across the middle
    std::string smallPrint;  // one line under them
};

// Where the big name landed, in picture coordinates (x to the right from scan line 0,
// y downwards from the top of the picture), so that tests can look at its pixels.
struct TextBox {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t scale = 0;  // pixels per font dot; each glyph is 5 x 7 dots
};

struct ScanLines {
    std::uint32_t width = 0;          // scan lines
    std::uint32_t bytesPerLine = 0;   // bytes per scan line
    std::vector<std::uint8_t> bytes;  // scan line r at r * bytesPerLine
    TextBox nameBox;

    // Ink at picture x (scan line) and y counted from the top: dot 0 of a scan line is the
    // bottom row of the picture, and dot 0 sits in bit 0x80 of the line's first byte.
    bool inkAt(std::uint32_t x, std::uint32_t yFromTop) const;
};

// Draws the picture. Letters outside the built-in font are drawn as '?'; lower case is
// drawn as upper case.
ScanLines drawTestPicture(const PictureText& text, std::uint32_t width = kPictureWidth,
                          std::uint32_t bytesPerLine = kPictureBytesPerLine);

// The 5 x 7 glyph of a character: seven rows top to bottom, bit 0x10 the leftmost dot.
const std::uint8_t* glyphRows(char c);

}  // namespace q70::sim
