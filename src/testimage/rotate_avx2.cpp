#include "testimage/rotate_kernels.hpp"

#ifdef Q70_ROTATE_X86

#include <immintrin.h>

// Nothing here may be inlined into code built for the baseline: every function carries the
// instruction set it needs.
#define Q70_AVX2 __attribute__((target("avx2")))

namespace q70::testimage::kernels {
namespace {

// Exchanges the bits of x selected by mask with the bits of y Shift places higher, in each
// 64-bit lane (the scalar code's exchange, four words at a time).
template <int Shift>
Q70_AVX2 inline void exchange(__m256i& x, __m256i& y, __m256i mask) {
    const __m256i t = _mm256_and_si256(_mm256_xor_si256(x, _mm256_srli_epi64(y, Shift)), mask);
    x = _mm256_xor_si256(x, t);
    y = _mm256_xor_si256(y, _mm256_slli_epi64(t, Shift));
}

Q70_AVX2 inline void transposeBytes(__m256i w[8]) {
    const __m256i m32 = _mm256_set1_epi64x(0x00000000FFFFFFFFll);
    const __m256i m16 = _mm256_set1_epi64x(0x0000FFFF0000FFFFll);
    const __m256i m8 = _mm256_set1_epi64x(0x00FF00FF00FF00FFll);
    exchange<32>(w[4], w[0], m32);
    exchange<32>(w[5], w[1], m32);
    exchange<32>(w[6], w[2], m32);
    exchange<32>(w[7], w[3], m32);
    exchange<16>(w[2], w[0], m16);
    exchange<16>(w[3], w[1], m16);
    exchange<16>(w[6], w[4], m16);
    exchange<16>(w[7], w[5], m16);
    exchange<8>(w[1], w[0], m8);
    exchange<8>(w[3], w[2], m8);
    exchange<8>(w[5], w[4], m8);
    exchange<8>(w[7], w[6], m8);
}

Q70_AVX2 inline void transposeBits(__m256i w[8]) {
    const __m256i m4 = _mm256_set1_epi64x(0x0F0F0F0F0F0F0F0Fll);
    const __m256i m2 = _mm256_set1_epi64x(0x3333333333333333ll);
    const __m256i m1 = _mm256_set1_epi64x(0x5555555555555555ll);
    exchange<4>(w[0], w[4], m4);
    exchange<4>(w[1], w[5], m4);
    exchange<4>(w[2], w[6], m4);
    exchange<4>(w[3], w[7], m4);
    exchange<2>(w[0], w[2], m2);
    exchange<2>(w[1], w[3], m2);
    exchange<2>(w[4], w[6], m2);
    exchange<2>(w[5], w[7], m2);
    exchange<1>(w[0], w[1], m1);
    exchange<1>(w[2], w[3], m1);
    exchange<1>(w[4], w[5], m1);
    exchange<1>(w[6], w[7], m1);
}

// Lane t of v is row j of tile t: bitmap row 64 t + j.
Q70_AVX2 inline void storeRow(std::uint8_t* bits, std::size_t stride, unsigned j, __m256i v) {
    const __m128i lo = _mm256_castsi256_si128(v);
    const __m128i hi = _mm256_extracti128_si256(v, 1);
    std::uint8_t* row = bits + j * stride;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 64 * stride), _mm_unpackhi_epi64(lo, lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 128 * stride), hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 192 * stride), _mm_unpackhi_epi64(hi, hi));
}

}  // namespace

Q70_AVX2 void rotateBlockAvx2(const std::uint8_t* lines, std::size_t lineBytes, std::uint8_t* bits,
                              std::size_t stride) {
    // Word k of each lane is the 8 bytes of scan line k that belong to that lane's tile.
    __m256i tile[64];
    __m256i any = _mm256_setzero_si256();
    for (unsigned m = 0; m < 8; ++m) {
        __m256i b[8];
        for (unsigned i = 0; i < 8; ++i) {
            b[i] = _mm256_loadu_si256(
                reinterpret_cast<const __m256i*>(lines + (m + 8 * i) * lineBytes));
            any = _mm256_or_si256(any, b[i]);
        }
        transposeBytes(b);
        for (unsigned i = 0; i < 8; ++i) tile[m + 8 * i] = b[i];
    }
    if (_mm256_testz_si256(any, any)) {
        // Scans are mostly white: so is the bitmap here.
        const __m256i zero = _mm256_setzero_si256();
        for (unsigned j = 0; j < 64; ++j) storeRow(bits, stride, j, zero);
        return;
    }
    for (unsigned g = 0; g < 64; g += 8) {
        transposeBits(tile + g);
        for (unsigned i = 0; i < 8; ++i) storeRow(bits, stride, g + i, tile[g + i]);
    }
}

}  // namespace q70::testimage::kernels

#endif
