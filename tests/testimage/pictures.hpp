#pragma once
// Random scan lines and random code streams for the test-image tests.

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace q70::testimage::testing {

// Scan lines that look like a scan: white stretches, solid ink, short and long repeats of
// one byte and noise, mixed at random within each line.
inline std::vector<std::uint8_t> randomLines(std::size_t width, std::size_t bytesPerLine,
                                             std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> lines(width * bytesPerLine);
    std::size_t p = 0;
    while (p < lines.size()) {
        const std::size_t len = std::min<std::size_t>(1 + gen() % 70, lines.size() - p);
        switch (gen() % 5) {
            case 0:
            case 1:
                break;  // white
            case 2:
                std::fill_n(lines.begin() + static_cast<std::ptrdiff_t>(p), len, 0xFF);
                break;
            case 3:
                std::fill_n(lines.begin() + static_cast<std::ptrdiff_t>(p), len,
                            static_cast<std::uint8_t>(gen()));
                break;
            default:
                for (std::size_t k = 0; k < len; ++k)
                    lines[p + k] = static_cast<std::uint8_t>(gen() % 3 == 0 ? 0 : gen());
        }
        p += len;
    }
    return lines;
}

// Blocks whose lengths match their codes, but with codes of every form at random and block
// ends anywhere, also inside a row and inside a row's last code. Produces at least
// `minOutput` bytes of code output.
inline std::vector<std::uint8_t> randomBlocks(std::size_t minOutput, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> data;
    std::size_t produced = 0;
    while (produced < minOutput) {
        std::vector<std::uint8_t> codes;
        const std::size_t count = gen() % 6;  // 0: an empty block
        for (std::size_t c = 0; c < count; ++c) {
            if (gen() % 2 == 0) {
                const std::size_t n = gen() % 4 == 0 ? 1 + gen() % 128 : 1 + gen() % 4;
                codes.push_back(static_cast<std::uint8_t>(n - 1));
                for (std::size_t k = 0; k < n; ++k)
                    codes.push_back(static_cast<std::uint8_t>(gen()));
                produced += n;
            } else {
                const std::uint8_t ctl = static_cast<std::uint8_t>(0x80 | (gen() & 0x7F));
                codes.push_back(ctl);
                if (ctl & 0x40) codes.push_back(static_cast<std::uint8_t>(gen()));
                if (!(ctl & 0x20)) codes.push_back(static_cast<std::uint8_t>(gen()));
                produced += 33 - (ctl & 0x1F) + ((ctl & 0x20) ? 0 : 1);
            }
        }
        data.push_back(static_cast<std::uint8_t>(codes.size() >> 8));
        data.push_back(static_cast<std::uint8_t>(codes.size()));
        data.insert(data.end(), codes.begin(), codes.end());
    }
    return data;
}

// Rows per band, at random (1 to 8), covering `rows` rows.
inline std::vector<std::uint32_t> randomSplit(std::uint32_t rows, std::mt19937& gen) {
    std::vector<std::uint32_t> bands;
    while (rows > 0) {
        const std::uint32_t n = std::min<std::uint32_t>(rows, 1 + gen() % 8);
        bands.push_back(n);
        rows -= n;
    }
    return bands;
}

}  // namespace q70::testimage::testing
