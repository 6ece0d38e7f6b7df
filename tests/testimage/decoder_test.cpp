#include "testimage/decoder.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "testimage/pictures.hpp"
#include "testimage/rewriting_decoder.hpp"

namespace q70::testimage {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xA5;

// Decodes band by band, each band into its own buffer with guard bytes on both sides; the
// guards must survive. Returns the concatenated rows.
Bytes decodeBands(BandDecoder& decoder, std::size_t lineBytes,
                  const std::vector<std::uint32_t>& bands, std::uint8_t prefill = 0xCC) {
    Bytes all;
    for (std::uint32_t rows : bands) {
        Bytes buf(kGuard + lineBytes * rows + kGuard, prefill);
        std::fill_n(buf.begin(), kGuard, kGuardByte);
        std::fill_n(buf.end() - kGuard, kGuard, kGuardByte);
        decoder.decodeBand(buf.data() + kGuard, static_cast<std::uint32_t>(lineBytes * 8), rows);
        for (std::size_t k = 0; k < kGuard; ++k) {
            EXPECT_EQ(buf[k], kGuardByte) << "write in front of the band";
            EXPECT_EQ(buf[buf.size() - 1 - k], kGuardByte) << "write past the band";
        }
        all.insert(all.end(), buf.begin() + kGuard, buf.end() - kGuard);
    }
    return all;
}

Bytes decode(const Bytes& data, std::size_t lineBytes, const std::vector<std::uint32_t>& bands) {
    BandDecoder decoder(data);
    return decodeBands(decoder, lineBytes, bands);
}

Bytes decodeWithRewrites(const Bytes& data, std::size_t lineBytes,
                         const std::vector<std::uint32_t>& bands) {
    testing::RewritingDecoder decoder(data);
    Bytes all;
    for (std::uint32_t rows : bands) {
        Bytes band(lineBytes * rows, 0xCC);
        decoder.decodeBand(band.data(), lineBytes, rows);
        all.insert(all.end(), band.begin(), band.end());
    }
    return all;
}

Bytes repeat(std::size_t n, std::uint8_t v) {
    return Bytes(n, v);
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(BandDecoder, RunThenLiteralEndsItsRowAndLeavesTheEmptyBlockForTheNextBand) {
    const Bytes data = {0x00, 0x05, 0xBD, 0x02, 0x11, 0x22, 0x33, 0x00, 0x00};
    BandDecoder decoder(data);
    EXPECT_EQ(decodeBands(decoder, 4, {2}), (Bytes{0, 0, 0, 0, 0x11, 0x22, 0x33, 0x00}));
    EXPECT_EQ(decoder.position(), 7u);
    // Nothing left after the empty block: the next row stays white.
    EXPECT_EQ(decodeBands(decoder, 4, {1}), (Bytes{0, 0, 0, 0}));
    EXPECT_TRUE(decoder.exhausted());
}

TEST(BandDecoder, RunForms) {
    // Two zeros, then the trailing byte.
    EXPECT_EQ(decode({0x00, 0x02, 0x9F, 0x55}, 3, {1}), (Bytes{0x00, 0x00, 0x55}));
    // 33 copies of the value, no trailing byte.
    EXPECT_EQ(decode({0x00, 0x02, 0xE0, 0xFF}, 33, {1}), repeat(33, 0xFF));
    // 33 copies, then the trailing byte.
    EXPECT_EQ(decode({0x00, 0x03, 0xC0, 0xFF, 0x01}, 34, {1}), repeat(33, 0xFF) + Bytes{0x01});
    // A run without value byte writes zeros over whatever the buffer held.
    EXPECT_EQ(decode({0x00, 0x01, 0xA0}, 33, {1}), repeat(33, 0x00));
}

TEST(BandDecoder, LongestLiteralTakes129BytesOfItsBlock) {
    Bytes literal(128);
    for (std::size_t k = 0; k < literal.size(); ++k) literal[k] = static_cast<std::uint8_t>(k + 1);
    const Bytes data = Bytes{0x00, 0x81, 0x7F} + literal + Bytes{0x00, 0x02, 0x00, 0xAA};
    BandDecoder decoder(data);
    EXPECT_EQ(decodeBands(decoder, 128, {1}), literal);
    EXPECT_EQ(decodeBands(decoder, 128, {1}), Bytes{0xAA} + repeat(127, 0x00));
    EXPECT_EQ(decoder.position(), data.size());
}

TEST(BandDecoder, BlocksFillRowsContinuouslyAndEndTheirLastRow) {
    // A block ending exactly at a row end: no fill, the next block opens the next row.
    EXPECT_EQ(decode({0x00, 0x05, 0x03, 1, 2, 3, 4, 0x00, 0x03, 0x01, 5, 6}, 4, {2}),
              (Bytes{1, 2, 3, 4, 5, 6, 0, 0}));
    // One and a half rows: the second row's rest is cleared, the next block starts row 2.
    EXPECT_EQ(decode({0x00, 0x07, 0x05, 1, 2, 3, 4, 5, 6, 0x00, 0x02, 0x00, 7}, 4, {3}),
              (Bytes{1, 2, 3, 4, 5, 6, 0, 0, 7, 0, 0, 0}));
    // Empty blocks change nothing.
    const Bytes plain = {0x00, 0x05, 0x03, 1, 2, 3, 4, 0x00, 0x02, 0x00, 5};
    const Bytes withEmpty = {0x00, 0x00, 0x00, 0x05, 0x03, 1,    2, 3,
                             4,    0x00, 0x00, 0x00, 0x02, 0x00, 5};
    EXPECT_EQ(decode(withEmpty, 4, {2}), decode(plain, 4, {2}));
    EXPECT_EQ(decode(withEmpty, 4, {1, 1}), (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
    // A white row needs a code of its own; the fill completes it.
    EXPECT_EQ(decode({0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 9}, 4, {2}),
              (Bytes{0, 0, 0, 0, 9, 0, 0, 0}));
}

// Each case decoded in one call and in bands of one row: the rows must agree.
TEST(BandDecoder, CodesInterruptedByABandEndResumeExactly) {
    const std::vector<Bytes> cases = {
        // A run of 6 with value and trailing byte across two rows, then a literal.
        {0x00, 0x05, 0xDB, 0x77, 0x99, 0x00, 0xAA},
        // 5 repetitions: one left at the band end (with value, with trailing byte).
        {0x00, 0x06, 0xDC, 0x77, 0x99, 0x01, 0xAA, 0xBB},
        // One left, with value, no trailing byte.
        {0x00, 0x06, 0xFC, 0x77, 0x02, 0xAA, 0xBB, 0xCC},
        // One left, no value: the zero, then the trailing byte.
        {0x00, 0x05, 0x9C, 0x99, 0x01, 0xAA, 0xBB},
        // One left, no value, no trailing byte.
        {0x00, 0x05, 0xBC, 0x02, 0xAA, 0xBB, 0xCC},
        // A run that fills the row exactly: its trailing byte opens the next band.
        {0x00, 0x07, 0xDD, 0x11, 0x22, 0x02, 0x33, 0x44, 0x55},
        // A literal cut by the band end.
        {0x00, 0x07, 0x05, 1, 2, 3, 4, 5, 6},
        // Between codes.
        {0x00, 0x0A, 0x03, 1, 2, 3, 4, 0x03, 5, 6, 7, 8},
    };
    for (const Bytes& data : cases) {
        SCOPED_TRACE(::testing::PrintToString(data));
        const Bytes whole = decode(data, 4, {2});
        EXPECT_EQ(decode(data, 4, {1, 1}), whole);
        EXPECT_EQ(decodeWithRewrites(data, 4, {1, 1}), whole);
    }
    EXPECT_EQ(decode(cases[0], 4, {1, 1}), (Bytes{0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x99, 0xAA}));
    EXPECT_EQ(decode(cases[5], 4, {1, 1}), (Bytes{0x11, 0x11, 0x11, 0x11, 0x22, 0x33, 0x44, 0x55}));
}

// Blocks of arbitrary codes ending anywhere, decoded in random bands, must come out exactly
// as from the decoder that rewrites the interrupted code into the data.
TEST(BandDecoder, MatchesTheRewritingDecoderForAnyBandSplit) {
    std::mt19937 gen(7);
    for (std::uint32_t seed = 1; seed <= 1000; ++seed) {
        const std::size_t d =
            std::vector<std::size_t>{1, 2, 3, 4, 5, 8, 13, 33, 34, 188}[seed % 10];
        const auto rows = static_cast<std::uint32_t>(1 + gen() % 40);
        const Bytes data = testing::randomBlocks(2 * rows * d + 200, seed);
        const auto bands = testing::randomSplit(rows, gen);
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " row length " << d);
        ASSERT_EQ(decode(data, d, bands), decodeWithRewrites(data, d, bands));
    }
}

TEST(BandDecoder, RunningOutOfDataLeavesTheRestWhite) {
    // Block length past the end of the data: the codes that are there, then white.
    EXPECT_EQ(decode({0xFF, 0xFF, 0x01, 0xAA, 0xBB}, 4, {2}),
              (Bytes{0xAA, 0xBB, 0, 0, 0, 0, 0, 0}));
    // A literal cut short gives the bytes that exist.
    EXPECT_EQ(decode({0x00, 0x10, 0x0F, 1, 2, 3}, 4, {2}), (Bytes{1, 2, 3, 0, 0, 0, 0, 0}));
    // A run whose value byte is missing gives nothing.
    EXPECT_EQ(decode({0x00, 0x02, 0xC0}, 2, {1}), (Bytes{0, 0}));
    // A lone byte is no block header.
    EXPECT_EQ(decode({0x00}, 2, {1, 1}), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(decode({}, 3, {8}), Bytes(24, 0));
    // Nothing but empty blocks: ends, white.
    EXPECT_EQ(decode(Bytes(1000, 0x00), 2, {8, 8}), Bytes(32, 0));
}

TEST(BandDecoder, CodeLongerThanItsBlockEndsTheBlock) {
    // The block claims one byte; its literal takes three. The next block follows the code.
    EXPECT_EQ(decode({0x00, 0x01, 0x01, 0xAA, 0xBB, 0x00, 0x02, 0x00, 0xCC}, 4, {2}),
              (Bytes{0xAA, 0xBB, 0, 0, 0xCC, 0, 0, 0}));
}

TEST(BandDecoder, CutDataDecodesAsAPrefixOfTheWholeThenWhite) {
    const std::size_t d = 6;
    const Bytes data = testing::randomBlocks(400, 99);
    const std::vector<std::uint32_t> bands = {3, 8, 1, 8, 8, 8, 8, 8, 8, 8};
    const Bytes whole = decode(data, d, bands);
    for (std::size_t cut = 0; cut < data.size(); ++cut) {
        const Bytes part =
            decode(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut)), d, bands);
        ASSERT_EQ(part.size(), whole.size());
        std::size_t same = 0;
        while (same < part.size() && part[same] == whole[same]) ++same;
        for (std::size_t k = same; k < part.size(); ++k)
            ASSERT_EQ(part[k], 0) << "cut " << cut << " byte " << k;
    }
}

TEST(BandDecoder, RandomBytesStayInsideTheDataAndTheBand) {
    std::mt19937 gen(11);
    for (int round = 0; round < 300; ++round) {
        Bytes data(gen() % 600);
        for (auto& b : data) b = static_cast<std::uint8_t>(gen());
        // Bias some rounds towards plausible headers so the codes get exercised.
        if (data.size() > 2 && round % 2 == 0) {
            data[0] = 0;
            data[1] = static_cast<std::uint8_t>(gen() % 64);
        }
        const std::size_t d = 1 + gen() % 40;
        const auto bands = testing::randomSplit(static_cast<std::uint32_t>(1 + gen() % 60), gen);
        BandDecoder decoder(data);
        decodeBands(decoder, d, bands);
        EXPECT_LE(decoder.position(), data.size());
    }
}

TEST(Rotation, ScanLinesBecomeColumnsAndDotZeroTheBottomRow) {
    // Two scan lines of 16 dots: line 0 has dot 0, line 5 has dot 9.
    Bytes lines(8 * 2, 0);
    lines[0 * 2 + 0] = 0x80;
    lines[5 * 2 + 1] = 0x40;
    for (auto rotate : {rotateLines, rotateLinesPerPixel}) {
        Bytes bits(16 * 4, 0);
        rotate(lines.data(), 8, 2, 16, bits.data(), 4);
        Bytes expected(16 * 4, 0);
        expected[0 * 4 + 0] = 0x80;
        expected[9 * 4 + 0] = 0x80 >> 5;
        EXPECT_EQ(bits, expected);
    }
}

TEST(Rotation, FastEqualsPerPixelForManySizes) {
    std::mt19937 gen(3);
    const std::vector<std::uint32_t> rowCounts = {1, 7, 8, 31, 32, 63, 64, 65, 100, 128, 130, 200};
    const std::vector<std::uint32_t> dotCounts = {1, 7, 8, 9, 63, 64, 65, 72, 128, 130, 200};
    for (std::uint32_t rows : rowCounts) {
        for (std::uint32_t dots : dotCounts) {
            const std::size_t lineBytes = (dots + 7) / 8 + gen() % 3;
            const std::size_t used = (rows + 7) / 8;
            const std::size_t stride = used + gen() % 3;
            Bytes lines(rows * lineBytes);
            for (auto& b : lines) b = static_cast<std::uint8_t>(gen());
            // One spare bitmap row and the bytes right of each row must stay as they were.
            Bytes before((dots + 1) * stride, 0x5A);
            for (std::size_t y = 0; y < dots; ++y)
                std::fill_n(before.begin() + static_cast<std::ptrdiff_t>(y * stride), used, 0);
            Bytes fast = before, slow = before;
            rotateLines(lines.data(), rows, lineBytes, dots, fast.data(), stride);
            rotateLinesPerPixel(lines.data(), rows, lineBytes, dots, slow.data(), stride);
            ASSERT_EQ(fast, slow) << rows << " scan lines of " << dots << " dots";
        }
    }
}

// Every vector kernel against the scalar one, byte for byte, on sizes around its block
// edges (partial blocks in both directions), at several densities of ink, and with the
// bytes outside the bitmap's rows untouched.
class RotationKernel : public ::testing::TestWithParam<RotateKernel> {};

TEST_P(RotationKernel, GivesTheScalarBytes) {
    const RotateKernel kernel = GetParam();
    if (!rotateKernelAvailable(kernel))
        GTEST_SKIP() << "this processor lacks the instructions of the " << rotateKernelName(kernel)
                     << " kernel";
    std::mt19937 gen(11);
    const std::vector<std::uint32_t> rowCounts = {1, 8, 63, 64, 65, 129, 511, 512, 520, 2176};
    const std::vector<std::uint32_t> dotCounts = {1, 9, 63, 64, 72, 255, 256, 257, 520, 1504};
    int combination = 0;
    for (std::uint32_t rows : rowCounts) {
        for (std::uint32_t dots : dotCounts) {
            if (std::uint64_t{rows} * dots > 600'000 && !(rows == 2176 && dots == 1504)) continue;
            const int density = combination++ % 4;
            const std::size_t lineBytes = (dots + 7) / 8 + gen() % 3;
            const std::size_t used = (rows + 7) / 8;
            const std::size_t stride = used + gen() % 3;
            Bytes lines(rows * lineBytes);
            for (auto& b : lines) {
                const auto v = static_cast<std::uint8_t>(gen());
                // Random ink, sparse ink (white blocks beside inked ones), black, white.
                b = density == 0   ? v
                    : density == 1 ? (gen() % 97 == 0 ? v : 0)
                    : density == 2 ? 0xFF
                                   : 0;
            }
            Bytes before((dots + 1) * stride, 0x5A);
            for (std::size_t y = 0; y < dots; ++y)
                std::fill_n(before.begin() + static_cast<std::ptrdiff_t>(y * stride), used, 0xA5);
            Bytes fast = before, reference = before;
            rotateLinesWith(kernel, lines.data(), rows, lineBytes, dots, fast.data(), stride);
            rotateLinesWith(RotateKernel::Scalar, lines.data(), rows, lineBytes, dots,
                            reference.data(), stride);
            ASSERT_EQ(fast, reference) << rotateKernelName(kernel) << ": " << rows
                                       << " scan lines of " << dots << " dots, density " << density;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, RotationKernel,
                         ::testing::Values(RotateKernel::Avx2, RotateKernel::Avx512),
                         [](const auto& info) {
                             return std::string(rotateKernelName(info.param));
                         });

}  // namespace
}  // namespace q70::testimage
