#pragma once
// The band decoder for the board's compressed scan lines, and the rotation of the decoded
// scan lines into bitmap rows.
//
// Compressed data is a sequence of blocks: a 16-bit big-endian length, then that many code
// bytes. A code is a literal (ctl 0x00..0x7F: ctl + 1 data bytes follow) or a run (ctl
// 0x80..0xFF: 33 - (ctl & 0x1F) copies of a value byte, present when 0x40 is set and 0x00
// otherwise, then a trailing byte when 0x20 is clear). Output fills the scan lines one after
// another; a block that ends inside a line clears the rest of that line.

#include <cstddef>
#include <cstdint>
#include <span>

namespace q70::testimage {

// Decodes scan lines a band at a time, resuming where the previous band stopped. The data
// is never modified: the state a band leaves behind is held here. The output is the same
// as that of a decoder that re-expresses the interrupted code in the data itself, for any
// band split; for well-formed data it does not depend on the split at all.
//
// Malformed data is contained: reads stay inside the data, writes inside the band, every
// step consumes data or completes a row, and rows past the end of the data come out 0x00.
class BandDecoder {
  public:
    explicit BandDecoder(std::span<const std::uint8_t> data) : data_(data) {}
    // The state may point into the object itself.
    BandDecoder(const BandDecoder&) = delete;
    BandDecoder& operator=(const BandDecoder&) = delete;

    // Decodes exactly `rows` scan lines of (dots + 7) / 8 bytes each into `out`, which must
    // hold rows * ((dots + 7) / 8) bytes.
    void decodeBand(std::uint8_t* out, std::uint32_t dots, std::uint32_t rows);

    // Position of the next unread byte of the data.
    std::size_t position() const { return pos_; }
    // The data ran out; every later row is 0x00.
    bool exhausted() const { return exhausted_; }

  private:
    bool startCode();
    template <bool Spare>
    void decodeInsideBand(std::uint8_t*& out, std::uint8_t* limit);

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;          // next unread byte
    std::uint32_t blockLeft_ = 0;  // code bytes of the current block not yet taken by a code
    std::uint32_t owed_ = 0;       // output bytes the current code still owes
    bool literal_ = false;
    const std::uint8_t* source_ = nullptr;  // next literal byte to copy
    std::uint8_t value_ = 0;                // run value
    bool hasTrailing_ = false;              // the current run ends with a trailing byte
    std::uint8_t trailing_ = 0;
    bool trailingDue_ = false;  // a trailing byte fell past the last band: next band's first
    bool exhausted_ = false;
    std::uint8_t spill_[2] = {};  // a run's last repetition (+ trailing byte) as a literal
};

// The ways rotateLines can do its work: the portable one, and vector forms for processors
// that have the instructions. All give the same bytes.
enum class RotateKernel { Scalar, Avx2, Avx512 };
const char* rotateKernelName(RotateKernel kernel);
bool rotateKernelAvailable(RotateKernel kernel);
// The kernel rotateLines uses: the best this processor has, chosen on first use.
RotateKernel rotateKernel();

// Turns `rows` scan lines (`lineBytes` bytes each, dot 0 in bit 0x80 of the first byte)
// into `dots` bitmap rows: scan line r becomes pixel column r, dot y becomes stored row y
// (pixel x of a row in bit 0x80 >> (x % 8) of byte x / 8). `stride` >= (rows + 7) / 8.
// Columns from `rows` to the end of the last written byte come out clear; bytes past
// (rows + 7) / 8 in a row are not touched.
void rotateLines(const std::uint8_t* lines, std::uint32_t rows, std::size_t lineBytes,
                 std::uint32_t dots, std::uint8_t* bits, std::size_t stride);
// The same with the kernel given; one this processor lacks falls back to the scalar one.
void rotateLinesWith(RotateKernel kernel, const std::uint8_t* lines, std::uint32_t rows,
                     std::size_t lineBytes, std::uint32_t dots, std::uint8_t* bits,
                     std::size_t stride);

// The same, one pixel at a time: the yardstick for rotateLines.
void rotateLinesPerPixel(const std::uint8_t* lines, std::uint32_t rows, std::size_t lineBytes,
                         std::uint32_t dots, std::uint8_t* bits, std::size_t stride);

}  // namespace q70::testimage
