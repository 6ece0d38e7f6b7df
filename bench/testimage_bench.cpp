// The test image's hot path: decoding the board's compressed scan lines and turning them
// into bitmap rows, against the per-pixel rotation it replaces and a plain copy of the
// bitmap's bytes (the floor).

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "testimage/decoder.hpp"
#include "testimage/encoder.hpp"
#include "testimage/test_image.hpp"

namespace {

using namespace q70::testimage;

constexpr std::uint32_t kWidth = 2160;        // scan lines
constexpr std::uint32_t kBytesPerLine = 188;  // 1504 dots
constexpr std::uint32_t kHeight = kBytesPerLine * 8;
constexpr std::uint32_t kRoundedWidth = (kWidth + 31) / 32 * 32;
constexpr std::size_t kStride = kRoundedWidth / 8;
constexpr std::size_t kImageBytes = kStride * kHeight;  // 409088

// 5 x 7 glyphs, top row first, bit 4 the left column.
constexpr std::array<std::uint8_t, 7> glyph(char c) {
    switch (c) {
        case 'Q':
            return {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D};
        case '7':
            return {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08};
        case '0':
            return {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E};
        case 'T':
            return {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04};
        case 'E':
            return {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F};
        case 'S':
            return {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E};
        default:
            return {};
    }
}

// A scanned test sheet: a frame, a grid and a line of block text. Pixel (x, y) with y from
// the top is dot (height - 1 - y) of scan line x.
std::vector<std::uint8_t> testSheet() {
    std::vector<std::uint8_t> lines(std::size_t{kWidth} * kBytesPerLine, 0);
    auto set = [&](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t dot = kHeight - 1 - y;
        lines[std::size_t{x} * kBytesPerLine + dot / 8] |=
            static_cast<std::uint8_t>(0x80 >> (dot % 8));
    };
    for (std::uint32_t x = 0; x < kWidth; ++x) {
        for (std::uint32_t y = 0; y < kHeight; ++y) {
            const bool frame = x < 12 || y < 12 || x >= kWidth - 12 || y >= kHeight - 12;
            const bool grid = x % 120 < 2 || y % 120 < 2;
            if (frame || grid) set(x, y);
        }
    }
    constexpr std::string_view text = "Q70 TEST SHEET";
    constexpr std::uint32_t scale = 20, left = 200, top = 600;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto g = glyph(text[i]);
        for (std::uint32_t row = 0; row < 7 * scale; ++row)
            for (std::uint32_t col = 0; col < 5 * scale; ++col)
                if (g[row / scale] & (0x10 >> (col / scale)))
                    set(left + static_cast<std::uint32_t>(i) * 6 * scale + col, top + row);
    }
    return lines;
}

// A page with ink everywhere, half its dots at random: no white scan line or tile to skip.
std::vector<std::uint8_t> densePage() {
    std::vector<std::uint8_t> lines(std::size_t{kWidth} * kBytesPerLine);
    std::mt19937 gen(7);
    for (auto& b : lines) b = static_cast<std::uint8_t>(gen());
    return lines;
}

void decodeRotate(benchmark::State& state, const std::vector<std::uint8_t>& lines) {
    const std::vector<std::uint8_t> data = encodeLines(lines, kWidth, kBytesPerLine);
    TestImage image;
    image.setHeader(kWidth, kHeight, static_cast<std::uint32_t>(data.size()), 'W');
    // The data as the engine hands it over, without the file write.
    image.setProgramFolder("/nonexistent-q70-bench-folder");
    image.saveRawData(data);
    for (auto _ : state) {
        if (!image.buildBitmap()) state.SkipWithError("no bitmap");
        benchmark::DoNotOptimize(image.bits().data());
    }
    state.SetLabel(rotateKernelName(rotateKernel()));
    state.counters["data_bytes"] = static_cast<double>(data.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
}

void BM_DecodeRotate(benchmark::State& state) {
    decodeRotate(state, testSheet());
}
BENCHMARK(BM_DecodeRotate)->Unit(benchmark::kMicrosecond);

void BM_DecodeRotateDense(benchmark::State& state) {
    decodeRotate(state, densePage());
}
BENCHMARK(BM_DecodeRotateDense)->Unit(benchmark::kMicrosecond);

// The decoder alone, into a line store of the whole page, for telling its share apart.
void decodeOnly(benchmark::State& state, const std::vector<std::uint8_t>& lines) {
    const std::vector<std::uint8_t> data = encodeLines(lines, kWidth, kBytesPerLine);
    std::vector<std::uint8_t> store(lines.size());
    for (auto _ : state) {
        BandDecoder decoder(data);
        for (std::uint32_t line = 0; line < kWidth; line += 8)
            decoder.decodeBand(store.data() + std::size_t{line} * kBytesPerLine, kHeight, 8);
        benchmark::DoNotOptimize(store.data());
        benchmark::ClobberMemory();
    }
    if (store != lines) state.SkipWithError("decoded lines differ");
    state.counters["data_bytes"] = static_cast<double>(data.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * lines.size());
}

void BM_Decode(benchmark::State& state) {
    decodeOnly(state, testSheet());
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMicrosecond);

void BM_DecodeDense(benchmark::State& state) {
    decodeOnly(state, densePage());
}
BENCHMARK(BM_DecodeDense)->Unit(benchmark::kMicrosecond);

// The rotation alone, one kernel at a time, on the dense page (every tile transposed).
void BM_Rotate(benchmark::State& state, RotateKernel kernel) {
    if (!rotateKernelAvailable(kernel)) {
        state.SkipWithError("this processor lacks the kernel's instructions");
        return;
    }
    std::vector<std::uint8_t> store(std::size_t{kRoundedWidth} * kBytesPerLine, 0);
    const std::vector<std::uint8_t> lines = densePage();
    std::memcpy(store.data(), lines.data(), lines.size());
    std::vector<std::uint8_t> bits(kImageBytes);
    for (auto _ : state) {
        rotateLinesWith(kernel, store.data(), kRoundedWidth, kBytesPerLine, kHeight, bits.data(),
                        kStride);
        benchmark::DoNotOptimize(bits.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK_CAPTURE(BM_Rotate, scalar, RotateKernel::Scalar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Rotate, avx2, RotateKernel::Avx2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Rotate, avx512, RotateKernel::Avx512)->Unit(benchmark::kMicrosecond);

void BM_NaiveRotate(benchmark::State& state) {
    std::vector<std::uint8_t> store(std::size_t{kRoundedWidth} * kBytesPerLine, 0);
    const std::vector<std::uint8_t> lines = testSheet();
    std::memcpy(store.data(), lines.data(), lines.size());
    std::vector<std::uint8_t> bits(kImageBytes);
    for (auto _ : state) {
        rotateLinesPerPixel(store.data(), kRoundedWidth, kBytesPerLine, kHeight, bits.data(),
                            kStride);
        benchmark::DoNotOptimize(bits.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_NaiveRotate)->Unit(benchmark::kMicrosecond);

void BM_Memcpy(benchmark::State& state) {
    std::vector<std::uint8_t> from(kImageBytes, 0x5A), to(kImageBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kImageBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);

}  // namespace
