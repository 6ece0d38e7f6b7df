// The test-image decoder and buildBitmap, two ways:
//  - any header values with any data (what a faulty board or a stray rawdata.bin given to
//    `q70ctl decode` can hold): no crash, no read outside the data, and a bitmap, when one
//    is built, of the promised shape with the padding columns white;
//  - any scan lines through the encoder with any of its options: the bitmap must show
//    exactly those lines, rotated (a round trip through every code form).

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "fuzz_check.hpp"
#include "link/protocol.hpp"
#include "testimage/decoder.hpp"
#include "testimage/encoder.hpp"
#include "testimage/test_image.hpp"

namespace {

using namespace q70;

// Bitmaps above this are scaled down (see anyHeader): large ones only repeat the same paths.
constexpr std::uint64_t kBitmapBudget = 32u << 10;

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// The bitmap's fixed parts, and white in every column at or past `width`.
void checkShape(const testimage::TestImage& image) {
    const std::uint32_t width = image.width();
    const std::uint32_t height = image.height();
    const std::uint32_t stride = (width + 31) / 32 * 4;
    FUZZ_CHECK(image.bitmapWidth() == stride * 8);
    FUZZ_CHECK(image.bitmapHeight() == height);
    FUZZ_CHECK(image.stride() == stride);
    const auto dib = image.dib();
    FUZZ_CHECK(dib.size() == std::size_t{stride} * height + 48);
    FUZZ_CHECK(le32(&dib[0]) == 40 && le32(&dib[4]) == stride * 8 && le32(&dib[8]) == height);
    FUZZ_CHECK(le32(&dib[20]) == stride * height);
    FUZZ_CHECK(le32(&dib[40]) == 0x00FFFFFF && le32(&dib[44]) == 0);

    const auto bits = image.bits();
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = bits.data() + std::size_t{y} * stride;
        if (width % 8 != 0) FUZZ_CHECK((row[width / 8] & (0xFF >> (width % 8))) == 0);
        for (std::uint32_t b = (width + 7) / 8; b < stride; ++b) FUZZ_CHECK(row[b] == 0);
    }

    const auto file = image.bitmapFileBytes();
    FUZZ_CHECK(file.size() == dib.size() + 14);
    FUZZ_CHECK(file[0] == 'B' && file[1] == 'M' && le32(&file[2]) == file.size());
    FUZZ_CHECK(le32(&file[10]) == 62);
}

// Data that no header describes: the raw file write fails (no such folder), as it may, and
// the bitmap is built all the same.
void anyHeader(FuzzedDataProvider& in) {
    // Extremes of either word are kept; a pair whose bitmap lies between the budget and
    // the refusal limit has its height scaled down, so that a run stays fast (the sizes in
    // between take the same paths). Pairs past the limit go in as they are: refused.
    std::uint16_t width = in.ConsumeIntegral<std::uint16_t>();
    std::uint16_t bytesPerLine = in.ConsumeIntegral<std::uint16_t>();
    const std::uint64_t stride = (std::uint64_t{width} + 31) / 32 * 4;
    const std::uint64_t bitmap = stride * bytesPerLine * 8;
    if (bitmap > kBitmapBudget && bitmap <= link::kMaxImageBytes) {
        bytesPerLine =
            static_cast<std::uint16_t>(bytesPerLine % (kBitmapBudget / (stride * 8) + 1));
    }
    const auto dataSize = in.ConsumeIntegral<std::uint32_t>();
    const auto type = static_cast<char>(in.ConsumeIntegral<std::uint8_t>());
    const std::vector<std::uint8_t> data = in.ConsumeRemainingBytes<std::uint8_t>();
    const std::vector<std::uint8_t> before = data;

    testimage::TestImage image;
    image.setProgramFolder((fuzz::scratchFolder() / "no-such-folder").string());
    image.setHeader(width, std::uint32_t{bytesPerLine} * 8, dataSize, type);
    FUZZ_CHECK(!image.saveRawData(data));
    if (image.buildBitmap()) checkShape(image);
    image.releaseData();
    FUZZ_CHECK(data == before);  // decoding never touches the received bytes
}

void roundTrip(FuzzedDataProvider& in) {
    const auto width = in.ConsumeIntegralInRange<std::uint32_t>(1, 160);
    const auto bytesPerLine = in.ConsumeIntegralInRange<std::uint32_t>(1, 48);
    testimage::EncoderOptions options;
    options.seed = in.ConsumeIntegral<std::uint32_t>();
    options.maxLiteral = in.ConsumeIntegralInRange<std::uint32_t>(1, 128);
    options.maxRun = in.ConsumeIntegralInRange<std::uint32_t>(2, 33);
    options.minRun = in.ConsumeIntegralInRange<std::uint32_t>(2, options.maxRun);
    options.trailingPercent = in.ConsumeIntegralInRange<std::uint32_t>(0, 100);
    options.explicitZeroPercent = in.ConsumeIntegralInRange<std::uint32_t>(0, 100);
    options.randomLengths = in.ConsumeBool();
    options.crossRows = in.ConsumeBool();
    options.rowsPerBlock = in.ConsumeIntegralInRange<std::uint32_t>(1, 64);
    options.midRowEndPercent = in.ConsumeIntegralInRange<std::uint32_t>(0, 100);
    options.emptyBlockPercent = in.ConsumeIntegralInRange<std::uint32_t>(0, 100);
    options.maxCodesPerBlock = in.ConsumeIntegralInRange<std::uint32_t>(0, 50);

    // The ink, repeated to fill the lines so that short inputs still make whole pictures.
    std::vector<std::uint8_t> lines(std::size_t{width} * bytesPerLine, 0);
    const std::vector<std::uint8_t> ink = in.ConsumeRemainingBytes<std::uint8_t>();
    if (!ink.empty()) {
        for (std::size_t i = 0; i < lines.size(); ++i) lines[i] = ink[i % ink.size()];
    }

    const std::vector<std::uint8_t> data =
        testimage::encodeLines(lines, width, bytesPerLine, options);
    testimage::TestImage image;
    image.setProgramFolder((fuzz::scratchFolder() / "no-such-folder").string());
    image.setHeader(width, bytesPerLine * 8, static_cast<std::uint32_t>(data.size()), 'W');
    image.saveRawData(data);
    FUZZ_CHECK(image.buildBitmap());
    checkShape(image);

    const std::size_t stride = image.stride();
    std::vector<std::uint8_t> expected(stride * bytesPerLine * 8, 0);
    testimage::rotateLinesPerPixel(lines.data(), width, bytesPerLine, bytesPerLine * 8,
                                   expected.data(), stride);
    const auto bits = image.bits();
    FUZZ_CHECK(bits.size() == expected.size());
    FUZZ_CHECK(std::memcmp(bits.data(), expected.data(), expected.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        roundTrip(in);
    } else {
        anyHeader(in);
    }
    return 0;
}
