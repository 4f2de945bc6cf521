#pragma once
// Inside the rasterizer only: a row's edges drawn in closed form, shared by raster.cpp and
// raster_avx2.cpp, the same code built for processors with AVX2 and chosen at run time.
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace raster_rows {

struct Paint {
    uint32_t rgb;
    float alpha;  // 0..255
};

// A piece of edge within a row, h high (signed, for the layer it belongs to, 0 for the other),
// from lo to hi across it, w = hi - lo wide, x relative to its run's first pixel. Right of
// x = c it leaves the area h G(c), G(c) = u^2 / 2w + max(c - hi, 0) with u = c - lo clamped
// to [0, w]: 0 up to lo, (c - lo)^2 / 2w across, c - (lo + hi) / 2 beyond.
struct Piece {
    float lo, hi, w, inv2w;  // inv2w = 1 / 2w, 0 for a piece taken as vertical
    float h[2];
};

// Blends pixels [0, n) of row (n a multiple of four) with each layer's colour in turn, at
// the coverage `sum` (what lies left of the run) plus the pieces' areas.
template <int layers>
void DrawRun(uint32_t* row, int n, const Piece* pieces, size_t count, const float* sum, const Paint* paints);

#if defined(FACETTA_AVX2_ROWS)  // set by the build where it compiles raster_avx2.cpp
template <int layers>
void DrawRunAvx2(uint32_t* row, int n, const Piece* pieces, size_t count, const float* sum, const Paint* paints);
#endif

}  // namespace raster_rows

#if defined(__SSE2__)
// Internal linkage on purpose: each file that includes this gets the helpers built for its
// own processor, so the AVX2 build's copies never stand in for the plain ones.
namespace {

// LerpOpaque of four pixels at four alphas (0..255 in 32-bit lanes) towards the colour held as
// 16-bit channels twice over: the same rounding, so both ways give the same bytes.
inline __m128i Lerp4(__m128i d, __m128i s16, __m128i alphas) {
    const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255), k128 = _mm_set1_epi16(128),
                  k257 = _mm_set1_epi16(257);
    __m128i a = _mm_packs_epi32(alphas, alphas);
    a = _mm_unpacklo_epi16(a, a);
    const __m128i aLo = _mm_unpacklo_epi32(a, a), aHi = _mm_unpackhi_epi32(a, a);
    auto half = [&](__m128i d16, __m128i a16) {
        const __m128i v = _mm_add_epi16(
            _mm_add_epi16(_mm_mullo_epi16(d16, _mm_sub_epi16(k255, a16)), _mm_mullo_epi16(s16, a16)), k128);
        return _mm_mulhi_epu16(v, k257);
    };
    return _mm_packus_epi16(half(_mm_unpacklo_epi8(d, zero), aLo), half(_mm_unpackhi_epi8(d, zero), aHi));
}

// CoverageAlpha<NonZero> of four running sums, in the same float operations.
inline __m128i CoverageAlpha4(__m128 sum, __m128 alpha) {
    const __m128 v = _mm_min_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), sum), _mm_set1_ps(1.0f));
    return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, alpha), _mm_set1_ps(0.5f)));
}

// The four pixels of a group at their coverages, layer by layer.
template <int layers>
inline void BlendGroup(uint32_t* p, const __m128* cover, const __m128i* s16, const __m128* alpha) {
    __m128i* q = reinterpret_cast<__m128i*>(p);
    __m128i d = _mm_loadu_si128(q);
    for (int L = 0; L < layers; ++L) d = Lerp4(d, s16[L], CoverageAlpha4(cover[L], alpha[L]));
    _mm_storeu_si128(q, d);
}

}  // namespace
#endif
