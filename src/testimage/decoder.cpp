#include "testimage/decoder.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "testimage/rotate_kernels.hpp"

namespace q70::testimage {

bool BandDecoder::startCode() {
    const std::size_t avail = data_.size() - pos_;
    if (avail == 0) return false;
    const std::uint8_t ctl = data_[pos_];
    std::uint32_t size = 0;
    if (ctl < 0x80) {
        const std::uint32_t count = ctl + 1u;
        size = 1 + count;
        // A literal cut short by the end of the data still gives the bytes that are there.
        const std::size_t have = std::min<std::size_t>(count, avail - 1);
        if (have == 0) {
            pos_ = data_.size();
            return false;
        }
        literal_ = true;
        source_ = data_.data() + pos_ + 1;
        owed_ = static_cast<std::uint32_t>(have);
        pos_ += 1 + have;
    } else {
        const std::size_t withValue = (ctl & 0x40) ? 1 : 0;
        const bool trailing = (ctl & 0x20) == 0;
        size = static_cast<std::uint32_t>(1 + withValue + (trailing ? 1 : 0));
        if (avail < 1 + withValue) {
            pos_ = data_.size();
            return false;
        }
        literal_ = false;
        value_ = withValue ? data_[pos_ + 1] : 0;
        hasTrailing_ = trailing && avail >= size;
        trailing_ = hasTrailing_ ? data_[pos_ + 1 + withValue] : 0;
        owed_ = 33u - (ctl & 0x1Fu);
        pos_ += std::min<std::size_t>(size, avail);
    }
    // A code reaching past its block's length ends the block; the next block header is
    // read right after the code.
    blockLeft_ = blockLeft_ > size ? blockLeft_ - size : 0;
    return true;
}

namespace {
constexpr std::size_t kLongestCode = 1 + 128;
}  // namespace

// The common case, kept tight: whole codes whose output ends before `limit`, with enough
// data left that every read is in bounds. The rows of a band lie end to end, so a code that
// runs on into the next row needs nothing special. With Spare (at least 128 bytes of band after
// `limit`), copies and fills are of fixed size and may write past the code's output, never
// past the band; what follows rewrites those bytes. Stops in front of anything else (the
// band's end, a block's last code, whose row end rules are the careful path's, a code
// longer than its block, the last bytes of the data).
template <bool Spare>
void BandDecoder::decodeInsideBand(std::uint8_t*& out, std::uint8_t* limit) {
    const std::uint8_t* p = data_.data() + pos_;
    const std::uint8_t* const last = data_.data() + data_.size() - kLongestCode;
    std::uint8_t* o = out;
    std::uint32_t left = blockLeft_;
    while (p < last && left != 0) {
        const std::uint8_t ctl = *p;
        std::size_t room = static_cast<std::size_t>(limit - o);
        if (ctl >= 0x80) {
            const std::uint32_t withValue = (ctl >> 6) & 1u;
            const std::uint32_t trailing = ((ctl >> 5) & 1u) ^ 1u;
            const std::uint32_t reps = 33u - (ctl & 0x1Fu);
            const std::uint32_t size = 1 + withValue + trailing;
            const std::uint32_t output = reps + trailing;
            const std::uint8_t valueMask = withValue ? 0xFF : 0x00;
            if (output >= room || size >= left) break;
            // Runs come in trains (long white stretches): while the next code has the same
            // control byte, its size is known before it is read.
            do {
                const std::uint8_t value = p[1] & valueMask;
                if constexpr (Spare) {
                    // Short runs are the most common: one 16-byte fill, the same for the
                    // whole train.
                    std::memset(o, value, 16);
                    if (reps > 16) std::memset(o + 16, value, 17);
                    // Without a trailing byte this lands on the next output byte, which is
                    // written again later.
                    o[reps] = p[size - 1];
                } else {
                    std::memset(o, value, reps);
                    if (trailing) o[reps] = p[size - 1];
                }
                o += output;
                room -= output;
                p += size;
                left -= size;
            } while (p < last && *p == ctl && output < room && size < left);
        } else {
            const std::uint32_t n = ctl + 1u;
            if (n >= room || n + 1 >= left) break;
            if (Spare && n <= 16) {
                std::memcpy(o, p + 1, 16);
            } else if (Spare) {
                std::memcpy(o, p + 1, 128);
            } else {
                std::memcpy(o, p + 1, n);
            }
            o += n;
            p += n + 1;
            left -= n + 1;
        }
    }
    out = o;
    pos_ = static_cast<std::size_t>(p - data_.data());
    blockLeft_ = left;
}

void BandDecoder::decodeBand(std::uint8_t* out, std::uint32_t dots, std::uint32_t rows) {
    const std::size_t lineBytes = (static_cast<std::size_t>(dots) + 7) / 8;
    if (rows == 0 || lineBytes == 0) return;
    std::uint8_t* const end = out + lineBytes * rows;
    std::uint8_t* o = out;
    std::uint8_t* rowEnd = out + lineBytes;

    if (exhausted_) {
        std::memset(out, 0, lineBytes * rows);
        return;
    }

    // A trailing byte that fell past the previous band opens this one, as a one-byte
    // literal: it may complete the row, or end its block and have the row cleared.
    if (trailingDue_) {
        trailingDue_ = false;
        *o++ = trailing_;
        if (o < rowEnd && blockLeft_ == 0) {
            std::memset(o, 0, static_cast<std::size_t>(rowEnd - o));
            o = rowEnd;
        }
        if (o >= rowEnd) rowEnd += lineBytes;
    }

    while (rowEnd <= end) {
        if (owed_ == 0) {
            if (blockLeft_ == 0) {
                if (data_.size() - pos_ < 2) {
                    pos_ = data_.size();
                    exhausted_ = true;
                    break;
                }
                blockLeft_ = static_cast<std::uint32_t>(data_[pos_] << 8 | data_[pos_ + 1]);
                pos_ += 2;
                continue;
            }
            if (data_.size() - pos_ > kLongestCode) {
                std::uint8_t* const before = o;
                if (end - o > 128) decodeInsideBand<true>(o, end - 128);
                decodeInsideBand<false>(o, end);
                if (o != before) {
                    while (o >= rowEnd) rowEnd += lineBytes;
                    continue;
                }
            }
            if (!startCode()) {
                exhausted_ = true;
                break;
            }
        }

        const std::size_t room = static_cast<std::size_t>(rowEnd - o);
        const std::size_t n = owed_ < room ? owed_ : room;
        if (literal_) {
            std::memcpy(o, source_, n);
            source_ += n;
        } else {
            std::memset(o, value_, n);
        }
        o += n;
        owed_ -= static_cast<std::uint32_t>(n);

        if (owed_ == 0 && !literal_ && hasTrailing_) {
            hasTrailing_ = false;
            // Written even when the row is full: it then opens the next row, or the next band.
            if (o < end) {
                *o++ = trailing_;
            } else {
                trailingDue_ = true;
            }
        }

        if (o >= rowEnd) {
            rowEnd += lineBytes;
        } else if (blockLeft_ == 0) {
            // The block's last code is done inside the row: the rest of the row is white.
            std::memset(o, 0, static_cast<std::size_t>(rowEnd - o));
            o = rowEnd;
            rowEnd += lineBytes;
        }
    }

    if (exhausted_) {
        std::memset(o, 0, static_cast<std::size_t>(end - o));
        return;
    }

    // A run code cannot say "once": a run interrupted with one repetition left goes on as a
    // literal of that byte and its trailing byte, and so ends its row like a literal.
    if (owed_ == 1 && !literal_) {
        spill_[0] = value_;
        owed_ = 1;
        if (hasTrailing_) {
            spill_[1] = trailing_;
            owed_ = 2;
            hasTrailing_ = false;
        }
        literal_ = true;
        source_ = spill_;
    }
}

namespace {

// The rotation works on words of eight line bytes in memory order: byte i in bits
// 8i .. 8i + 7, so on the usual little-endian machines a load is a plain copy. Dot (or
// pixel) c of a word is then bit 8 * (c / 8) + 7 - c % 8.
std::uint64_t byteSwap(std::uint64_t v) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(v);
#else
    v = (v & 0x00000000FFFFFFFFull) << 32 | (v >> 32);
    v = (v & 0x0000FFFF0000FFFFull) << 16 | ((v >> 16) & 0x0000FFFF0000FFFFull);
    return (v & 0x00FF00FF00FF00FFull) << 8 | ((v >> 8) & 0x00FF00FF00FF00FFull);
#endif
}

std::uint64_t loadWord(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = byteSwap(v);
    return v;
}

void storeWord(std::uint8_t* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = byteSwap(v);
    std::memcpy(p, &v, 8);
}

std::uint64_t loadWord(const std::uint8_t* p, std::size_t count) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < count; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}

void storeWord(std::uint8_t* p, std::uint64_t v, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The word with dots 0 .. count - 1 set.
std::uint64_t firstDots(std::size_t count) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8 && 8 * i < count; ++i) {
        const std::size_t inByte = std::min<std::size_t>(8, count - 8 * i);
        v |= static_cast<std::uint64_t>((0xFF00u >> inByte) & 0xFFu) << (8 * i);
    }
    return v;
}

// Exchanges the bits of x selected by Mask with the bits of y Shift places higher.
template <unsigned Shift, std::uint64_t Mask>
inline void exchange(std::uint64_t& x, std::uint64_t& y) {
    const std::uint64_t t = (x ^ (y >> Shift)) & Mask;
    x ^= t;
    y ^= t << Shift;
}

// Eight words as two 8 x 8 transposes. transposeBytes: the words as an 8 x 8 matrix of
// bytes (byte j of word i to byte i of word j). transposeBits: the eight 8 x 8 bit
// matrices the words hold side by side (byte lane j of word i is row i of matrix j).
struct EightWords {
    std::uint64_t w0, w1, w2, w3, w4, w5, w6, w7;

    [[gnu::always_inline]] void transposeBytes() {
        exchange<32, 0x00000000FFFFFFFFull>(w4, w0);
        exchange<32, 0x00000000FFFFFFFFull>(w5, w1);
        exchange<32, 0x00000000FFFFFFFFull>(w6, w2);
        exchange<32, 0x00000000FFFFFFFFull>(w7, w3);
        exchange<16, 0x0000FFFF0000FFFFull>(w2, w0);
        exchange<16, 0x0000FFFF0000FFFFull>(w3, w1);
        exchange<16, 0x0000FFFF0000FFFFull>(w6, w4);
        exchange<16, 0x0000FFFF0000FFFFull>(w7, w5);
        exchange<8, 0x00FF00FF00FF00FFull>(w1, w0);
        exchange<8, 0x00FF00FF00FF00FFull>(w3, w2);
        exchange<8, 0x00FF00FF00FF00FFull>(w5, w4);
        exchange<8, 0x00FF00FF00FF00FFull>(w7, w6);
    }

    [[gnu::always_inline]] void transposeBits() {
        exchange<4, 0x0F0F0F0F0F0F0F0Full>(w0, w4);
        exchange<4, 0x0F0F0F0F0F0F0F0Full>(w1, w5);
        exchange<4, 0x0F0F0F0F0F0F0F0Full>(w2, w6);
        exchange<4, 0x0F0F0F0F0F0F0F0Full>(w3, w7);
        exchange<2, 0x3333333333333333ull>(w0, w2);
        exchange<2, 0x3333333333333333ull>(w1, w3);
        exchange<2, 0x3333333333333333ull>(w4, w6);
        exchange<2, 0x3333333333333333ull>(w5, w7);
        exchange<1, 0x5555555555555555ull>(w0, w1);
        exchange<1, 0x5555555555555555ull>(w2, w3);
        exchange<1, 0x5555555555555555ull>(w4, w5);
        exchange<1, 0x5555555555555555ull>(w6, w7);
    }
};

// Transposes a 64 x 64 bit tile: `load(k)` gives word k, `store(j, word)` takes word j of
// the result. The 8 x 8 sub-blocks first move to their mirrored places (words k, k + 8, ...
// exchange bytes), then each sub-block is transposed in place (words 8g .. 8g + 7 exchange
// bits).
template <typename Load, typename Store>
inline void transposeTile(Load load, Store store) {
    std::array<std::uint64_t, 64> tile;
    for (unsigned m = 0; m < 8; ++m) {
        EightWords b{load(m),      load(m + 8),  load(m + 16), load(m + 24),
                     load(m + 32), load(m + 40), load(m + 48), load(m + 56)};
        b.transposeBytes();
        tile[m] = b.w0;
        tile[m + 8] = b.w1;
        tile[m + 16] = b.w2;
        tile[m + 24] = b.w3;
        tile[m + 32] = b.w4;
        tile[m + 40] = b.w5;
        tile[m + 48] = b.w6;
        tile[m + 56] = b.w7;
    }
    for (unsigned g = 0; g < 64; g += 8) {
        EightWords b{tile[g],     tile[g + 1], tile[g + 2], tile[g + 3],
                     tile[g + 4], tile[g + 5], tile[g + 6], tile[g + 7]};
        // Eight white pixel rows stay white.
        if ((b.w0 | b.w1 | b.w2 | b.w3 | b.w4 | b.w5 | b.w6 | b.w7) != 0) b.transposeBits();
        store(g, b.w0);
        store(g + 1, b.w1);
        store(g + 2, b.w2);
        store(g + 3, b.w3);
        store(g + 4, b.w4);
        store(g + 5, b.w5);
        store(g + 6, b.w6);
        store(g + 7, b.w7);
    }
}

}  // namespace

namespace {

// One 64 x 64 tile (or the part of it that exists) of rotateLines.
void rotateTile(const std::uint8_t* lines, std::uint32_t rows, std::size_t lineBytes,
                std::uint64_t dots, std::uint8_t* bits, std::size_t stride, std::uint32_t r0,
                std::uint64_t y0) {
    const std::size_t dotsHere = static_cast<std::size_t>(std::min<std::uint64_t>(64, dots - y0));
    const std::size_t rowsHere = std::min<std::uint32_t>(64, rows - r0);
    const std::uint8_t* src = lines + static_cast<std::size_t>(r0) * lineBytes + y0 / 8;
    std::uint8_t* dst = bits + static_cast<std::size_t>(y0) * stride + r0 / 8;
    if (rowsHere == 64 && dotsHere == 64) {
        // Scans are mostly white: a white tile needs no transposing.
        std::size_t k = 0;
        while (k < 64 && loadWord(src + k * lineBytes) == 0) ++k;
        if (k == 64) {
            for (std::size_t j = 0; j < 64; ++j) storeWord(dst + j * stride, 0);
            return;
        }
        transposeTile([&](unsigned i) { return loadWord(src + i * lineBytes); },
                      [&](unsigned j, std::uint64_t v) { storeWord(dst + j * stride, v); });
        return;
    }
    // Edge tile: missing scan lines read as white, stray dots of a last partial byte are
    // masked off, and only the columns and rows that exist are written.
    const std::size_t inBytes = (dotsHere + 7) / 8;
    const std::uint64_t dotMask = firstDots(dotsHere);
    const std::size_t outBytes = (rowsHere + 7) / 8;
    transposeTile(
        [&](unsigned i) -> std::uint64_t {
            if (i >= rowsHere) return 0;
            const std::uint8_t* line = src + i * lineBytes;
            return (inBytes == 8 ? loadWord(line) : loadWord(line, inBytes)) & dotMask;
        },
        [&](unsigned j, std::uint64_t v) {
            if (j >= dotsHere) return;
            if (outBytes == 8) {
                storeWord(dst + j * stride, v);
            } else {
                storeWord(dst + j * stride, v, outBytes);
            }
        });
}

}  // namespace

namespace {

void rotateLinesScalar(const std::uint8_t* lines, std::uint32_t rows, std::size_t lineBytes,
                       std::uint32_t dots, std::uint8_t* bits, std::size_t stride) {
    // Never read past a scan line, whatever `dots` says.
    const std::uint64_t usableDots = std::min<std::uint64_t>(dots, std::uint64_t{lineBytes} * 8);
    // Tiles in groups of 8 x 8, so that the cache lines read and written are used whole.
    constexpr std::uint32_t kGroup = 8 * 64;
    for (std::uint32_t r1 = 0; r1 < rows; r1 += kGroup) {
        const std::uint32_t rEnd = std::min<std::uint32_t>(rows, r1 + kGroup);
        for (std::uint64_t y1 = 0; y1 < usableDots; y1 += kGroup) {
            const std::uint64_t yEnd = std::min<std::uint64_t>(usableDots, y1 + kGroup);
            for (std::uint64_t y0 = y1; y0 < yEnd; y0 += 64)
                for (std::uint32_t r0 = r1; r0 < rEnd; r0 += 64)
                    rotateTile(lines, rows, lineBytes, usableDots, bits, stride, r0, y0);
        }
    }
}

#ifdef Q70_ROTATE_X86
using BlockKernel = void (*)(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t);
constexpr unsigned kMaxBlockLines = 128;
constexpr unsigned kMaxBlockDots = 256;

// Blocks of `blockLines` scan lines by `blockDots` dots through a vector kernel. A block cut
// by the edge of the image goes through a padded copy: missing scan lines read as white, and
// only the rows and columns that exist are written back.
void rotateBlocks(BlockKernel block, unsigned blockLines, unsigned blockDots,
                  const std::uint8_t* lines, std::uint32_t rows, std::size_t lineBytes,
                  std::uint32_t dots, std::uint8_t* bits, std::size_t stride) {
    const std::uint64_t usableDots = std::min<std::uint64_t>(dots, std::uint64_t{lineBytes} * 8);
    const std::size_t blockBytes = blockDots / 8;
    const std::size_t blockRowBytes = blockLines / 8;
    // Groups of about 512 x 512, so that the cache lines read and written are used whole.
    constexpr std::uint32_t kGroup = 8 * 64;
    const std::uint64_t yStep = std::max<std::uint64_t>(kGroup, blockDots);
    for (std::uint32_t r1 = 0; r1 < rows; r1 += kGroup) {
        const std::uint32_t rEnd = std::min<std::uint32_t>(rows, r1 + kGroup);
        for (std::uint64_t y1 = 0; y1 < usableDots; y1 += yStep) {
            const std::uint64_t yEnd = std::min<std::uint64_t>(usableDots, y1 + yStep);
            for (std::uint64_t y0 = y1; y0 < yEnd; y0 += blockDots) {
                for (std::uint32_t r0 = r1; r0 < rEnd; r0 += blockLines) {
                    const std::size_t rowsHere = std::min<std::uint32_t>(blockLines, rows - r0);
                    const auto dotsHere = static_cast<std::size_t>(
                        std::min<std::uint64_t>(blockDots, usableDots - y0));
                    const std::uint8_t* src =
                        lines + static_cast<std::size_t>(r0) * lineBytes + y0 / 8;
                    std::uint8_t* dst = bits + static_cast<std::size_t>(y0) * stride + r0 / 8;
                    if (rowsHere == blockLines && dotsHere == blockDots) {
                        block(src, lineBytes, dst, stride);
                        continue;
                    }
                    alignas(64) std::uint8_t in[kMaxBlockLines * kMaxBlockDots / 8] = {};
                    alignas(64) std::uint8_t out[kMaxBlockDots * kMaxBlockLines / 8];
                    const std::size_t inBytes = (dotsHere + 7) / 8;
                    for (std::size_t i = 0; i < rowsHere; ++i)
                        std::memcpy(in + i * blockBytes, src + i * lineBytes, inBytes);
                    block(in, blockBytes, out, blockRowBytes);
                    const std::size_t outBytes = (rowsHere + 7) / 8;
                    for (std::size_t j = 0; j < dotsHere; ++j)
                        std::memcpy(dst + j * stride, out + j * blockRowBytes, outBytes);
                }
            }
        }
    }
}

RotateKernel bestKernel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("gfni"))
        return RotateKernel::Avx512;
    if (__builtin_cpu_supports("avx2")) return RotateKernel::Avx2;
    return RotateKernel::Scalar;
}
#else
RotateKernel bestKernel() {
    return RotateKernel::Scalar;
}
#endif

}  // namespace

const char* rotateKernelName(RotateKernel kernel) {
    switch (kernel) {
        case RotateKernel::Avx512:
            return "avx512";
        case RotateKernel::Avx2:
            return "avx2";
        case RotateKernel::Scalar:
            break;
    }
    return "scalar";
}

RotateKernel rotateKernel() {
    static const RotateKernel chosen = bestKernel();
    return chosen;
}

bool rotateKernelAvailable(RotateKernel kernel) {
    // The kernels are ordered: a processor with the wider one has the narrower ones too.
    return static_cast<int>(kernel) <= static_cast<int>(rotateKernel());
}

void rotateLinesWith(RotateKernel kernel, const std::uint8_t* lines, std::uint32_t rows,
                     std::size_t lineBytes, std::uint32_t dots, std::uint8_t* bits,
                     std::size_t stride) {
#ifdef Q70_ROTATE_X86
    if (rotateKernelAvailable(kernel)) {
        if (kernel == RotateKernel::Avx512) {
            rotateBlocks(kernels::rotateBlockAvx512, kernels::kAvx512Lines, kernels::kAvx512Dots,
                         lines, rows, lineBytes, dots, bits, stride);
            return;
        }
        if (kernel == RotateKernel::Avx2) {
            rotateBlocks(kernels::rotateBlockAvx2, kernels::kAvx2Lines, kernels::kAvx2Dots, lines,
                         rows, lineBytes, dots, bits, stride);
            return;
        }
    }
#else
    (void)kernel;
#endif
    rotateLinesScalar(lines, rows, lineBytes, dots, bits, stride);
}

void rotateLines(const std::uint8_t* lines, std::uint32_t rows, std::size_t lineBytes,
                 std::uint32_t dots, std::uint8_t* bits, std::size_t stride) {
    rotateLinesWith(rotateKernel(), lines, rows, lineBytes, dots, bits, stride);
}

void rotateLinesPerPixel(const std::uint8_t* lines, std::uint32_t rows, std::size_t lineBytes,
                         std::uint32_t dots, std::uint8_t* bits, std::size_t stride) {
    const std::uint64_t usableDots = std::min<std::uint64_t>(dots, std::uint64_t{lineBytes} * 8);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint8_t* line = lines + static_cast<std::size_t>(r) * lineBytes;
        const std::uint8_t columnBit = static_cast<std::uint8_t>(0x80u >> (r % 8));
        for (std::uint64_t y = 0; y < usableDots; ++y) {
            const bool ink = (line[y / 8] & (0x80u >> (y % 8))) != 0;
            std::uint8_t& target = bits[y * stride + r / 8];
            target = ink ? static_cast<std::uint8_t>(target | columnBit)
                         : static_cast<std::uint8_t>(target & ~columnBit);
        }
    }
}

}  // namespace q70::testimage
