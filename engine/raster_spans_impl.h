#pragma once
// The code behind raster_spans.h, built into each file that includes it for that file's
// processor (internal linkage): raster_spans_plain.cpp for any, raster_spans_avx2.cpp for those
// with AVX2.
// Both builds round alike (no FMA) and give the same bytes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster_pixels.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace {
namespace spans {

// Blends colour s at alpha a (1..254) over n opaque pixels, byte by byte in 16-bit arithmetic,
// the pixels read from `from` (which may be p itself). The alpha byte works out as
// 255 * (255 - a) + 255 * a = 255 * 255, staying opaque.
inline void LerpSpanScalar(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a) {
    const uint16_t ia = static_cast<uint16_t>(255 - a);
    uint8_t sb[4];
    const uint32_t opaque = 0xFF000000u | s;
    std::memcpy(sb, &opaque, 4);  // the colour's bytes in memory order
    uint16_t terms[4];
    for (int k = 0; k < 4; ++k) terms[k] = static_cast<uint16_t>(sb[k] * a + 128);
    uint8_t* b = reinterpret_cast<uint8_t*>(p);
    const uint8_t* f = reinterpret_cast<const uint8_t*>(from);
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < 4; ++k) {
            const uint16_t v = static_cast<uint16_t>(f[4 * i + k] * ia + terms[k]);
            // (v + (v >> 8)) >> 8 as one high-half multiply (v * 257) >> 16.
            b[4 * i + k] = static_cast<uint8_t>((static_cast<uint32_t>(v) * 257) >> 16);
        }
    }
}

// The same; with AVX2 eight pixels at a time, else as the compiler vectorises LerpSpanScalar.
inline void LerpSpanFrom(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a) {
#if defined(__AVX2__)
    const __m256i zero = _mm256_setzero_si256(), k257 = _mm256_set1_epi16(257);
    const __m256i ia = _mm256_set1_epi16(static_cast<short>(255 - a));
    const __m256i s16 =
        _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(0xFF000000u | s)), zero);
    const __m256i terms = _mm256_add_epi16(
        _mm256_mullo_epi16(s16, _mm256_set1_epi16(static_cast<short>(a))), _mm256_set1_epi16(128));
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i* q = reinterpret_cast<__m256i*>(p + i);
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        const __m256i lo = _mm256_mulhi_epu16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(d, zero), ia), terms), k257);
        const __m256i hi = _mm256_mulhi_epu16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(d, zero), ia), terms), k257);
        _mm256_storeu_si256(q, _mm256_packus_epi16(lo, hi));
    }
    // The last one to seven four at a time, the very last through masks: for so few the plain
    // loop costs more than the whole span before them.
    auto four = [&](__m128i d) {
        const __m256i v = _mm256_mulhi_epu16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_cvtepu8_epi16(d), ia), terms), k257);
        return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    };
    if (i + 4 <= n) {
        __m128i* q = reinterpret_cast<__m128i*>(p + i);
        _mm_storeu_si128(q, four(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i))));
        i += 4;
    }
    if (i < n) {
        const __m128i mask = _mm_cmpgt_epi32(_mm_set1_epi32(n - i), _mm_setr_epi32(0, 1, 2, 3));
        _mm_maskstore_epi32(reinterpret_cast<int*>(p + i), mask,
                            four(_mm_maskload_epi32(reinterpret_cast<const int*>(from + i), mask)));
    }
#else
    LerpSpanScalar(p, from, n, s, a);
#endif
}

inline void LerpSpan(uint32_t* p, int n, uint32_t s, uint32_t a) {
    LerpSpanFrom(p, p, n, s, a);
}

}  // namespace spans
}  // namespace
