#include "testimage/encoder.hpp"

#include <algorithm>
#include <stdexcept>

namespace q70::testimage {

namespace {

constexpr std::size_t kMaxBlockLength = 0xFFFF;

// splitmix64: small, and the same sequence on every platform, so a seed names one encoding.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // lo..hi inclusive
    std::size_t between(std::size_t lo, std::size_t hi) {
        return hi <= lo ? lo : lo + static_cast<std::size_t>(next() % (hi - lo + 1));
    }
    bool chance(std::uint32_t percent) {
        return percent >= 100 || (percent > 0 && next() % 100 < percent);
    }

  private:
    std::uint64_t state_;
};

struct Limits {
    std::size_t maxLiteral;
    std::size_t maxRun;
    std::size_t minRun;
    std::size_t breakRun;  // a literal stops in front of a run this long
};

Limits limitsOf(const EncoderOptions& o) {
    Limits l{};
    l.maxLiteral = std::clamp<std::size_t>(o.maxLiteral, 1, 128);
    l.maxRun = std::clamp<std::size_t>(o.maxRun, 2, 33);
    l.minRun = std::clamp<std::size_t>(o.minRun, 2, l.maxRun);
    l.breakRun = std::max<std::size_t>(l.minRun, 3);
    return l;
}

std::size_t runLength(const std::uint8_t* s, std::size_t n, std::size_t limit) {
    std::size_t k = 1;
    while (k < n && k < limit && s[k] == s[0]) ++k;
    return k;
}

// Codes for s[0..n), appended to `out`; returns how many codes.
std::size_t encodeStream(const std::uint8_t* s, std::size_t n, const EncoderOptions& options,
                         const Limits& limits, Random& random, std::vector<std::uint8_t>& out) {
    std::size_t codes = 0;
    std::size_t p = 0;
    while (p < n) {
        ++codes;
        const std::size_t run = runLength(s + p, n - p, limits.maxRun);
        if (run >= limits.minRun) {
            const std::size_t reps =
                options.randomLengths ? random.between(limits.minRun, run) : run;
            const std::uint8_t value = s[p];
            const bool withValue = value != 0 || random.chance(options.explicitZeroPercent);
            const bool trailing = p + reps < n && random.chance(options.trailingPercent);
            out.push_back(static_cast<std::uint8_t>(0x80 | (withValue ? 0x40 : 0) |
                                                    (trailing ? 0 : 0x20) | ((33 - reps) & 0x1F)));
            if (withValue) out.push_back(value);
            if (trailing) out.push_back(s[p + reps]);
            p += reps + (trailing ? 1 : 0);
            continue;
        }
        const std::size_t most =
            options.randomLengths ? random.between(1, limits.maxLiteral) : limits.maxLiteral;
        const std::size_t limit = std::min(n, p + most);
        std::size_t q = p + 1;
        while (q < limit && runLength(s + q, n - q, limits.breakRun) < limits.breakRun) ++q;
        out.push_back(static_cast<std::uint8_t>(q - p - 1));
        out.insert(out.end(), s + p, s + q);
        p = q;
    }
    return codes;
}

}  // namespace

std::vector<std::uint8_t> encodeLines(std::span<const std::uint8_t> lines, std::uint32_t width,
                                      std::uint32_t bytesPerLine, const EncoderOptions& options) {
    const std::size_t d = bytesPerLine;
    if (lines.size() / std::max<std::size_t>(d, 1) < width)
        throw std::invalid_argument("encodeLines: fewer scan lines than the width");
    std::vector<std::uint8_t> out;
    if (width == 0 || d == 0) return out;

    const Limits limits = limitsOf(options);
    Random random(options.seed);
    const std::size_t rowsPerBlock = std::max<std::uint32_t>(options.rowsPerBlock, 1);
    std::vector<std::uint8_t> codes;

    for (std::size_t r = 0; r < width;) {
        if (random.chance(options.emptyBlockPercent)) out.insert(out.end(), {0, 0});
        std::size_t rows = std::min<std::size_t>(rowsPerBlock, width - r);
        if (options.randomLengths) rows = random.between(1, rows);
        for (;;) {
            // The block may stop inside its last row when the rest of that row is white:
            // the decoder clears it. It always gives that row at least one byte.
            const std::uint8_t* last = lines.data() + (r + rows - 1) * d;
            std::size_t inked = d;
            while (inked > 0 && last[inked - 1] == 0) --inked;
            std::size_t lastBytes = d;
            const std::size_t shortest = std::max<std::size_t>(inked, 1);
            if (shortest < d && random.chance(options.midRowEndPercent))
                lastBytes = options.randomLengths ? random.between(shortest, d - 1) : shortest;

            codes.clear();
            std::size_t count = 0;
            const std::uint8_t* first = lines.data() + r * d;
            if (options.crossRows) {
                // Codes may run from row to row, but not into the block's last row: the
                // last code must lie inside that row, or the decoder would not end it.
                count = encodeStream(first, (rows - 1) * d, options, limits, random, codes);
                count +=
                    encodeStream(first + (rows - 1) * d, lastBytes, options, limits, random, codes);
            } else {
                for (std::size_t k = 0; k < rows; ++k)
                    count += encodeStream(first + k * d, k + 1 < rows ? d : lastBytes, options,
                                          limits, random, codes);
            }
            const bool tooLong = codes.size() > kMaxBlockLength;
            const bool tooMany = options.maxCodesPerBlock != 0 && count > options.maxCodesPerBlock;
            if (rows == 1 && tooLong)
                throw std::length_error("encodeLines: a scan line does not fit in one block");
            if (rows > 1 && (tooLong || tooMany)) {
                rows /= 2;
                continue;
            }
            break;
        }
        out.push_back(static_cast<std::uint8_t>(codes.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(codes.size()));
        out.insert(out.end(), codes.begin(), codes.end());
        r += rows;
    }
    return out;
}

}  // namespace q70::testimage
