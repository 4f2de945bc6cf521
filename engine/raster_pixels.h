#pragma once
// Inside the rasterizer: blending one pixel or a run of pixels with a colour, the arithmetic
// every route shares so that they all round alike.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "raster_spans.h"

#if defined(FACETTA_RASTER_SSE2)
#include <emmintrin.h>
#endif

namespace raster_internal {

enum class FillRule { EvenOdd, NonZero };

// Internal linkage on purpose: each file that includes this gets the helpers built for its own
// processor, so the AVX2 build's copies never stand in for the plain ones.
namespace {

// x / 255 rounded to nearest, exact for 0 <= x <= 255 * 255.
inline uint32_t Div255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// Clamps a double to [lo, hi] (NaN gives lo) before any conversion to int.
inline double Clamp(double v, double lo, double hi) {
    return v >= lo ? (v <= hi ? v : hi) : lo;
}

// Source-over of colour s at alpha a onto an opaque d: a plain lerp, red and blue in one
// multiply. Exact at a = 0 and a = 255, so it needs no branches.
inline uint32_t LerpOpaque(uint32_t d, uint32_t s, uint32_t a) {
    const uint32_t ia = 255 - a;
    uint32_t rb = (s & 0xFF00FF) * a + (d & 0xFF00FF) * ia + 0x800080;
    rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
    uint32_t g = ((s >> 8) & 0xFF) * a + ((d >> 8) & 0xFF) * ia + 0x80;
    g = ((g + (g >> 8)) >> 8) & 0xFF;
    return 0xFF000000u | rb | (g << 8);
}

// Source-over of colour s (its own alpha ignored) at alpha a onto d, straight alpha.
inline uint32_t BlendPixel(uint32_t d, uint32_t s, uint32_t a) {
    if (a == 0) return d;
    const uint32_t da = d >> 24;
    if (da == 255) return LerpOpaque(d, s, a);
    if (a == 255 || da == 0) return (a << 24) | (s & 0xFFFFFF);
    // ao = as + ad (1 - as); colour = (cs as + cd ad (1 - as)) / ao, all scaled by 255.
    const uint32_t wd = da * (255 - a);
    const uint32_t ws = a * 255;
    const uint32_t den = ws + wd;
    uint32_t out = ((den + 127) / 255) << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t cs = (s >> shift) & 0xFF, cd = (d >> shift) & 0xFF;
        out |= ((cs * ws + cd * wd + den / 2) / den) << shift;
    }
    return out;
}

// The alpha to blend with where the accumulated coverage is `sum`, for a colour of alpha `alpha`.
template <FillRule rule>
inline uint32_t CoverageAlpha(float sum, float alpha) {
    float v = std::fabs(sum);
    if (v > 1) {
        if constexpr (rule == FillRule::EvenOdd) {
            v = std::fmod(v, 2.0f);
            if (v > 1) v = 2 - v;
        } else {
            v = 1;
        }
    }
    return static_cast<uint32_t>(v * alpha + 0.5f);
}

#if defined(FACETTA_RASTER_SSE2)
// LerpOpaque of four pixels at four alphas (0..255 in 32-bit lanes) towards the colour held as
// 16-bit channels twice over: the same rounding, so both ways give the same bytes.
inline __m128i Lerp4(__m128i d, __m128i s16, __m128i alphas) {
    const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255),
                  k128 = _mm_set1_epi16(128), k257 = _mm_set1_epi16(257);
    __m128i a = _mm_packs_epi32(alphas, alphas);
    a = _mm_unpacklo_epi16(a, a);
    const __m128i aLo = _mm_unpacklo_epi32(a, a), aHi = _mm_unpackhi_epi32(a, a);
    auto half = [&](__m128i d16, __m128i a16) {
        const __m128i v =
            _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(d16, _mm_sub_epi16(k255, a16)),
                                        _mm_mullo_epi16(s16, a16)),
                          k128);
        return _mm_mulhi_epu16(v, k257);
    };
    return _mm_packus_epi16(half(_mm_unpacklo_epi8(d, zero), aLo),
                            half(_mm_unpackhi_epi8(d, zero), aHi));
}

// CoverageAlpha<NonZero> of four running sums, in the same float operations.
inline __m128i CoverageAlpha4(__m128 sum, __m128 alpha) {
    const __m128 v = _mm_min_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), sum), _mm_set1_ps(1.0f));
    return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, alpha), _mm_set1_ps(0.5f)));
}
#endif

}  // namespace

// Colour s at constant alpha a over n pixels already opaque: a plain fill at 255, the vector
// lerp of the selected row code otherwise.
void BlendSpanOntoOpaque(uint32_t* p, int n, uint32_t s, uint32_t a);
// The same over a copy of n opaque pixels from `from`, written to p: one pass instead of a
// copy and a blend.
void BlendSpanOntoCopy(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a);
// The same over pixels of any alpha (each blended on its own where any is not opaque).
void BlendSpanAnyDst(uint32_t* p, int n, uint32_t s, uint32_t a);
// n source pixels, each with its own colour and alpha, over n destination pixels.
void BlendRowColors(uint32_t* d, const uint32_t* s, int n);

// Whether the AVX2 build of the row code is selected (raster.h's SetRowCode).
bool UseAvx2();

}  // namespace raster_internal
