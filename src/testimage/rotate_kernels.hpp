#pragma once
// The vector forms of the rotation's inner step, each in its own translation unit and
// compiled for its instruction set by function attributes only, so that one binary runs on
// any x86-64 processor and picks what it may use at start (see rotateLines).

#include <cstddef>
#include <cstdint>

namespace q70::testimage::kernels {

#if defined(__x86_64__) || defined(__i386__)
#define Q70_ROTATE_X86 1

// 64 scan lines by 256 dots (32 bytes of each line) into 256 bitmap rows of 8 bytes: four
// 64 x 64 tiles side by side, each transposed exactly as the scalar code does.
inline constexpr unsigned kAvx2Lines = 64;
inline constexpr unsigned kAvx2Dots = 256;
void rotateBlockAvx2(const std::uint8_t* lines, std::size_t lineBytes, std::uint8_t* bits,
                     std::size_t stride);

// 128 scan lines by 128 dots into 128 bitmap rows of 16 bytes: byte permutes bring each
// 8 x 8 bit block into one word, which one affine step transposes.
inline constexpr unsigned kAvx512Lines = 128;
inline constexpr unsigned kAvx512Dots = 128;
void rotateBlockAvx512(const std::uint8_t* lines, std::size_t lineBytes, std::uint8_t* bits,
                       std::size_t stride);
#endif

}  // namespace q70::testimage::kernels
