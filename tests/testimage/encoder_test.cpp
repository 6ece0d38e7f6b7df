#include "testimage/encoder.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "testimage/decoder.hpp"
#include "testimage/pictures.hpp"
#include "testimage/rewriting_decoder.hpp"

namespace q70::testimage {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What a stream of blocks is made of, walked the way a decoder would.
struct Forms {
    std::set<std::string> seen;
    bool wellFormed = true;  // every block's last code lies inside one row
};

Forms formsOf(const Bytes& data, std::size_t d) {
    Forms f;
    std::size_t p = 0, column = 0;  // column: bytes already in the current row
    while (p + 2 <= data.size()) {
        const std::size_t length = std::size_t{data[p]} << 8 | data[p + 1];
        p += 2;
        if (length == 0) {
            f.seen.insert("empty block");
            continue;
        }
        const std::size_t end = p + length;
        std::size_t produced = 0;
        bool crossed = false;
        while (p < end) {
            const std::uint8_t ctl = data[p];
            std::size_t out = 0;
            if (ctl < 0x80) {
                out = ctl + 1u;
                f.seen.insert("literal " + std::to_string(out));
                p += 1 + out;
            } else {
                out = 33 - (ctl & 0x1Fu);
                const bool value = ctl & 0x40, trailing = !(ctl & 0x20);
                f.seen.insert("run " + std::to_string(out));
                f.seen.insert(std::string("run") + (value ? " with value" : " of zeros") +
                              (trailing ? " and trailing byte" : ""));
                if (column + out > d) crossed = true;
                out += trailing ? 1 : 0;
                p += 1 + (value ? 1 : 0) + (trailing ? 1 : 0);
            }
            const std::size_t before = column;
            column = (column + out) % d;
            produced += out;
            if (p == end && before + out > d) f.wellFormed = false;
            if (p == end) break;
        }
        if (crossed) f.seen.insert("run across rows");
        if (produced > 0 && column != 0) {
            f.seen.insert("block ends mid-row");
            column = 0;
        } else {
            f.seen.insert("block ends at row end");
        }
    }
    return f;
}

Bytes decodeInBands(const Bytes& data, std::size_t width, std::size_t d,
                    const std::vector<std::uint32_t>& bands) {
    BandDecoder decoder(data);
    Bytes out(width * d, 0xCC);
    std::size_t row = 0;
    for (std::uint32_t n : bands) {
        decoder.decodeBand(out.data() + row * d, static_cast<std::uint32_t>(d * 8), n);
        row += n;
    }
    return out;
}

TEST(Encoder, KnobsReachEveryCodeForm) {
    const std::size_t width = 64, d = 188;
    Bytes lines = testing::randomLines(width, d, 5);
    for (std::size_t k = 0; k < d; ++k) lines[3 * d + k] = static_cast<std::uint8_t>(k * 7 + 1);
    std::set<std::string> seen;
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        EncoderOptions o;
        o.seed = seed;
        o.randomLengths = seed % 2 == 0;
        o.trailingPercent = 50;
        o.explicitZeroPercent = 30;
        o.emptyBlockPercent = 20;
        o.midRowEndPercent = 50;
        o.rowsPerBlock = 1 + seed % 8;
        o.crossRows = seed % 4 != 1;
        const Bytes data = encodeLines(lines, width, d, o);
        const Forms f = formsOf(data, d);
        EXPECT_TRUE(f.wellFormed) << "seed " << seed;
        seen.insert(f.seen.begin(), f.seen.end());
    }
    for (const char* form :
         {"literal 1", "literal 128", "run 2", "run 33", "run of zeros", "run with value",
          "run of zeros and trailing byte", "run with value and trailing byte", "run across rows",
          "empty block", "block ends mid-row", "block ends at row end"})
        EXPECT_TRUE(seen.count(form)) << form;
}

TEST(Encoder, DefaultsGiveCompactData) {
    const std::size_t width = 2160, d = 188;
    Bytes lines(width * d, 0);
    for (std::size_t r = 0; r < width; r += 50) std::fill_n(lines.begin() + r * d, d, 0xFF);
    const Bytes data = encodeLines(lines, width, d);
    // White costs about a byte per 33; a solid line a few bytes.
    EXPECT_LT(data.size(), width * 12);
    EXPECT_EQ(decodeInBands(data, width, d, std::vector<std::uint32_t>(width / 8, 8)), lines);
}

// Random pictures, encoded with many seeds and knob settings, decode back exactly whatever
// the band split, and the rewriting decoder agrees.
TEST(Encoder, RandomPicturesDecodeBackExactly) {
    std::mt19937 gen(21);
    for (std::uint32_t seed = 1; seed <= 150; ++seed) {
        const std::size_t width = 1 + gen() % 70;
        const std::size_t d = std::vector<std::size_t>{1, 2, 3, 7, 16, 33, 40, 188}[seed % 8];
        const Bytes lines = testing::randomLines(width, d, seed);
        EncoderOptions o;
        o.seed = seed;
        o.maxLiteral = 1 + gen() % 128;
        o.maxRun = 2 + gen() % 32;
        o.minRun = 2 + gen() % 4;
        o.trailingPercent = gen() % 101;
        o.explicitZeroPercent = gen() % 101;
        o.randomLengths = gen() % 2;
        o.crossRows = gen() % 3 != 0;
        o.rowsPerBlock = 1 + gen() % 12;
        o.midRowEndPercent = gen() % 101;
        o.emptyBlockPercent = gen() % 30;
        o.maxCodesPerBlock = gen() % 3 == 0 ? 1 + gen() % 20 : 0;
        const Bytes data =
            encodeLines(lines, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(d), o);
        SCOPED_TRACE(::testing::Message() << "seed " << seed << ", " << width << " x " << d);
        ASSERT_TRUE(formsOf(data, d).wellFormed);

        const auto w = static_cast<std::uint32_t>(width);
        ASSERT_EQ(decodeInBands(data, width, d, {w}), lines);
        const auto bands = testing::randomSplit(w, gen);
        ASSERT_EQ(decodeInBands(data, width, d, bands), lines);

        testing::RewritingDecoder rewriting(data);
        Bytes out(width * d);
        std::size_t row = 0;
        for (std::uint32_t n : bands) {
            rewriting.decodeBand(out.data() + row * d, d, n);
            row += n;
        }
        ASSERT_EQ(out, lines);
    }
}

TEST(Encoder, RefusesWhatItCannotExpress) {
    const Bytes lines(10, 0);
    EXPECT_THROW(encodeLines(lines, 3, 4), std::invalid_argument);
    EXPECT_TRUE(encodeLines(lines, 0, 4).empty());
    // A line of noise longer than a block can hold.
    Bytes noise(65500);
    std::mt19937 gen(1);
    for (auto& b : noise) b = static_cast<std::uint8_t>(gen() | 1);
    EXPECT_THROW(encodeLines(noise, 1, 65500), std::length_error);
}

}  // namespace
}  // namespace q70::testimage
