#include "testimage/decoder.hpp"

#include <algorithm>
#include <array>
#include <cstring>

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

std::uint64_t loadBigEndian(const std::uint8_t* p, std::size_t count) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < count; ++i) v |= static_cast<std::uint64_t>(p[i]) << (56 - 8 * i);
    return v;
}

std::uint64_t loadBigEndian8(const std::uint8_t* p) {
    std::array<std::uint8_t, 8> b;
    std::memcpy(b.data(), p, 8);
    return static_cast<std::uint64_t>(b[0]) << 56 | static_cast<std::uint64_t>(b[1]) << 48 |
           static_cast<std::uint64_t>(b[2]) << 40 | static_cast<std::uint64_t>(b[3]) << 32 |
           static_cast<std::uint64_t>(b[4]) << 24 | static_cast<std::uint64_t>(b[5]) << 16 |
           static_cast<std::uint64_t>(b[6]) << 8 | static_cast<std::uint64_t>(b[7]);
}

void storeBigEndian(std::uint8_t* p, std::uint64_t v, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) p[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
}

void storeBigEndian8(std::uint8_t* p, std::uint64_t v) {
    std::array<std::uint8_t, 8> b;
    for (std::size_t i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
    std::memcpy(p, b.data(), 8);
}

// Transposes a 64 x 64 bit matrix held as 64 words, column 0 in the top bit. The first
// three passes move whole 8 x 8 sub-blocks to their mirrored places (32, 16, 8); the last
// three transpose every 8 x 8 sub-block inside its words (4, 2, 1).
void transpose64(std::array<std::uint64_t, 64>& a) {
    std::uint64_t mask = 0x00000000FFFFFFFFull;
    for (unsigned shift = 32; shift != 0;) {
        for (unsigned base = 0; base < 64; base += 2 * shift) {
            for (unsigned k = base; k < base + shift; ++k) {
                const std::uint64_t t = (a[k] ^ (a[k + shift] >> shift)) & mask;
                a[k] ^= t;
                a[k + shift] ^= t << shift;
            }
        }
        shift >>= 1;
        mask ^= mask << shift;
    }
}

}  // namespace

void rotateLines(const std::uint8_t* lines, std::uint32_t rows, std::size_t lineBytes,
                 std::uint32_t dots, std::uint8_t* bits, std::size_t stride) {
    // Never read past a scan line, whatever `dots` says.
    const std::uint64_t usableDots = std::min<std::uint64_t>(dots, std::uint64_t{lineBytes} * 8);
    std::array<std::uint64_t, 64> tile;
    for (std::uint64_t y0 = 0; y0 < usableDots; y0 += 64) {
        const std::size_t dotsHere =
            static_cast<std::size_t>(std::min<std::uint64_t>(64, usableDots - y0));
        const std::size_t inBytes = (dotsHere + 7) / 8;
        const std::size_t inOffset = static_cast<std::size_t>(y0 / 8);
        for (std::uint32_t r0 = 0; r0 < rows; r0 += 64) {
            const std::size_t rowsHere = std::min<std::uint32_t>(64, rows - r0);
            const std::uint8_t* src = lines + static_cast<std::size_t>(r0) * lineBytes + inOffset;
            std::uint8_t* dst = bits + static_cast<std::size_t>(y0) * stride + r0 / 8;
            if (rowsHere == 64 && dotsHere == 64) {
                for (std::size_t k = 0; k < 64; ++k) tile[k] = loadBigEndian8(src + k * lineBytes);
                transpose64(tile);
                for (std::size_t j = 0; j < 64; ++j) storeBigEndian8(dst + j * stride, tile[j]);
                continue;
            }
            // Edge tile: missing scan lines read as white, stray dots of a last partial
            // byte are masked off, and only the columns and rows that exist are written.
            const std::uint64_t dotMask = ~std::uint64_t{0} << (64 - dotsHere);
            for (std::size_t k = 0; k < 64; ++k)
                tile[k] = k < rowsHere ? loadBigEndian(src + k * lineBytes, inBytes) & dotMask : 0;
            transpose64(tile);
            const std::size_t outBytes = (rowsHere + 7) / 8;
            for (std::size_t j = 0; j < dotsHere; ++j)
                storeBigEndian(dst + j * stride, tile[j], outBytes);
        }
    }
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
