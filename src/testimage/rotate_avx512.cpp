#include "testimage/rotate_kernels.hpp"

#ifdef Q70_ROTATE_X86

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
    return t;
}

alignas(64) constexpr Tables kTables = makeTables();

// The masked forms: the plain ones start from an undefined register, which GCC takes for
// a read of an uninitialised value.
Q70_AVX512 inline __m512i permuteBytes(__m512i index, __m512i v) {
    return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, v);
}

template <unsigned Level>
Q70_AVX512 inline void swapQwords(__m512i& x, __m512i& y) {
    const __m512i a = _mm512_permutex2var_epi64(x, _mm512_load_si512(kTables.low[Level]), y);
    y = _mm512_permutex2var_epi64(x, _mm512_load_si512(kTables.high[Level]), y);
    x = a;
}

}  // namespace

Q70_AVX512 void rotateBlockAvx512(const std::uint8_t* lines, std::size_t lineBytes,
                                  std::uint8_t* bits, std::size_t stride) {
    const auto L = static_cast<long long>(lineBytes);
    const __m512i lineIndex = _mm512_set_epi64(7 * L, 6 * L, 5 * L, 4 * L, 3 * L, 2 * L, L, 0);
    const __m512i transposeIdx = _mm512_load_si512(kTables.byteTranspose);

    // z[g], qword k, byte b: byte b of scan line 8 g + k.
    __m512i z[8];
    __m512i any = _mm512_setzero_si512();
    for (unsigned g = 0; g < 8; ++g) {
        z[g] = _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xFF, lineIndex,
                                           lines + 8 * g * lineBytes, 1);
        any = _mm512_or_si512(any, z[g]);
    }
    const auto S = static_cast<long long>(stride);
    const __m512i rowIndex = _mm512_set_epi64(7 * S, 6 * S, 5 * S, 4 * S, 3 * S, 2 * S, S, 0);
    if (_mm512_test_epi64_mask(any, any) == 0) {
        // Scans are mostly white: so is the bitmap here.
        for (unsigned b = 0; b < 8; ++b)
            _mm512_i64scatter_epi64(bits + 8 * b * stride, rowIndex, _mm512_setzero_si512(), 1);
        return;
    }
    // z[g], qword b, byte k.
    for (unsigned g = 0; g < 8; ++g) z[g] = permuteBytes(transposeIdx, z[g]);
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
    for (unsigned b = 0; b < 8; ++b) {
        const __m512i t = _mm512_gf2p8affine_epi64_epi8(flip, z[b], 0);
        _mm512_i64scatter_epi64(bits + 8 * b * stride, rowIndex, permuteBytes(transposeIdx, t), 1);
    }
}

}  // namespace q70::testimage::kernels

#endif
