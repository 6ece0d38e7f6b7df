#include "testimage/rotate_kernels.hpp"

#ifdef Q70_ROTATE_X86

// GCC's intrinsics start many operations from an "undefined" register, which its own flow
// analysis then reports as a read of an uninitialised value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstdint>

// Nothing here may be inlined into code built for the baseline: every function carries the
// instruction set it needs.
#define Q70_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,gfni")))

namespace q70::testimage::kernels {
namespace {

struct Tables {
    // Byte 8 b + k of a permute's result is byte 8 k + b: the 8 x 8 byte transpose.
    alignas(64) std::uint8_t byteTranspose[64];
    // One level H of an 8 x 8 qword transpose across registers: the qwords H apart in two
    // registers swap places (low: into the first register, high: into the second).
    alignas(64) std::int64_t low[3][8];
    alignas(64) std::int64_t high[3][8];
    // From four 16-byte pieces of scan lines in each of two registers (lines 8 g .. 8 g + 3,
    // then 8 g + 4 .. 8 g + 7), tile t's register: byte 8 b + k is byte 8 t + b of line k.
    alignas(64) std::uint8_t tileBytes[2][64];
};

constexpr Tables makeTables() {
    Tables t{};
    for (unsigned b = 0; b < 8; ++b)
        for (unsigned k = 0; k < 8; ++k)
            t.byteTranspose[8 * b + k] = static_cast<std::uint8_t>(8 * k + b);
    for (unsigned level = 0; level < 3; ++level) {
        const unsigned h = 1u << level;
        for (unsigned b = 0; b < 8; ++b) {
            t.low[level][b] = (b & h) ? 8 + (b - h) : b;
            t.high[level][b] = (b & h) ? 8 + b : b + h;
        }
    }
    for (unsigned tile = 0; tile < 2; ++tile)
        for (unsigned b = 0; b < 8; ++b)
            for (unsigned k = 0; k < 8; ++k)
                t.tileBytes[tile][8 * b + k] =
                    static_cast<std::uint8_t>((k < 4 ? 16 * k : 64 + 16 * (k - 4)) + 8 * tile + b);
    return t;
}

alignas(64) constexpr Tables kTables = makeTables();

// Four 16-byte pieces at `stride` apart, in order.
Q70_AVX512 inline __m512i loadFour(const std::uint8_t* p, std::size_t stride) {
    auto piece = [&](std::size_t i) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i * stride));
    };
    const __m256i a = _mm256_set_m128i(piece(1), piece(0));
    const __m256i b = _mm256_set_m128i(piece(3), piece(2));
    return _mm512_inserti64x4(_mm512_castsi256_si512(a), b, 1);
}

// Rows 2 j (from lo) and 2 j + 1 (from hi) of a pair of tiles side by side: 128-bit lane j
// of each holds one 16-byte row.
Q70_AVX512 inline void storeRowPairs(std::uint8_t* p, std::size_t stride, __m512i lo, __m512i hi) {
    auto row = [&](std::size_t i, __m128i x) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i * stride), x);
    };
    row(0, _mm512_castsi512_si128(lo));
    row(1, _mm512_castsi512_si128(hi));
    row(2, _mm512_extracti32x4_epi32(lo, 1));
    row(3, _mm512_extracti32x4_epi32(hi, 1));
    row(4, _mm512_extracti32x4_epi32(lo, 2));
    row(5, _mm512_extracti32x4_epi32(hi, 2));
    row(6, _mm512_extracti32x4_epi32(lo, 3));
    row(7, _mm512_extracti32x4_epi32(hi, 3));
}

Q70_AVX512 inline __m512i permuteBytes(__m512i index, __m512i v) {
    return _mm512_permutexvar_epi8(index, v);
}

template <unsigned Level>
Q70_AVX512 inline void swapQwords(__m512i& x, __m512i& y) {
    const __m512i a = _mm512_permutex2var_epi64(x, _mm512_load_si512(kTables.low[Level]), y);
    y = _mm512_permutex2var_epi64(x, _mm512_load_si512(kTables.high[Level]), y);
    x = a;
}

// One 64 x 64 tile. In: z[g], qword b, byte k holds byte b of scan line 8 g + k. Out:
// z[b], qword d is bitmap row 8 b + d.
Q70_AVX512 inline void transposeTile(__m512i z[8]) {
    // z[b], qword g, byte k: the 8 x 8 bit block of lines 8 g .. 8 g + 7, dots 8 b .. 8 b + 7.
    for (unsigned g = 0; g < 8; g += 2) swapQwords<0>(z[g], z[g + 1]);
    swapQwords<1>(z[0], z[2]);
    swapQwords<1>(z[1], z[3]);
    swapQwords<1>(z[4], z[6]);
    swapQwords<1>(z[5], z[7]);
    for (unsigned g = 0; g < 4; ++g) swapQwords<2>(z[g], z[g + 4]);
    // Transposed with dot 0 and line 0 in the high bits: byte d of qword g holds dot 8 b + d
    // of lines 8 g .. 8 g + 7. One more byte transpose makes qword d bitmap row 8 b + d.
    const __m512i flip = _mm512_set1_epi64(0x0102040810204080ll);
    const __m512i transposeIdx = _mm512_load_si512(kTables.byteTranspose);
    for (unsigned b = 0; b < 8; ++b)
        z[b] = permuteBytes(transposeIdx, _mm512_gf2p8affine_epi64_epi8(flip, z[b], 0));
}

Q70_AVX512 inline bool white(const __m512i z[8]) {
    __m512i any = z[0];
    for (unsigned g = 1; g < 8; ++g) any = _mm512_or_si512(any, z[g]);
    return _mm512_test_epi64_mask(any, any) == 0;
}

}  // namespace

Q70_AVX512 void rotateBlockAvx512(const std::uint8_t* lines, std::size_t lineBytes,
                                  std::uint8_t* bits, std::size_t stride) {
    const __m512i first = _mm512_load_si512(kTables.tileBytes[0]);
    const __m512i second = _mm512_load_si512(kTables.tileBytes[1]);
    // z[half][tile][g]: the tiles of scan lines 64 half .. 64 half + 63, dots 64 tile ..
    // 64 tile + 63.
    __m512i z[2][2][8];
    for (unsigned half = 0; half < 2; ++half) {
        for (unsigned g = 0; g < 8; ++g) {
            const std::uint8_t* p = lines + (64 * half + 8 * g) * lineBytes;
            const __m512i a = loadFour(p, lineBytes);
            const __m512i b = loadFour(p + 4 * lineBytes, lineBytes);
            z[half][0][g] = _mm512_permutex2var_epi8(a, first, b);
            z[half][1][g] = _mm512_permutex2var_epi8(a, second, b);
        }
    }
    for (unsigned tile = 0; tile < 2; ++tile) {
        std::uint8_t* out = bits + 64 * tile * stride;
        if (white(z[0][tile]) && white(z[1][tile])) {
            // Scans are mostly white: so is the bitmap here.
            const __m512i zero = _mm512_setzero_si512();
            for (unsigned b = 0; b < 8; ++b)
                storeRowPairs(out + 8 * b * stride, stride, zero, zero);
            continue;
        }
        transposeTile(z[0][tile]);
        transposeTile(z[1][tile]);
        // Each bitmap row: 8 bytes of the first 64 scan lines, then 8 of the next 64.
        for (unsigned b = 0; b < 8; ++b) {
            const __m512i lo = _mm512_unpacklo_epi64(z[0][tile][b], z[1][tile][b]);
            const __m512i hi = _mm512_unpackhi_epi64(z[0][tile][b], z[1][tile][b]);
            storeRowPairs(out + 8 * b * stride, stride, lo, hi);
        }
    }
}

}  // namespace q70::testimage::kernels

#endif
