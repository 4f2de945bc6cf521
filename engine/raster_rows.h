#pragma once
// Inside the rasterizer only: rows of convex shapes drawn in closed form onto an opaque
// picture. raster_rows_impl.h holds the code; raster.cpp builds it for any x86-64 processor
// and raster_avx2.cpp once more for those with AVX2, chosen at run time.
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

// An edge of a convex shape for drawing row by row.
struct LeanEdge {
    double x0, y0, y1, dxdy, dir;  // y0 < y1; dir +1 where the edge goes down, -1 up
    float halfRowsPerColumn;       // 0.5 / |dxdy|, 0 for vertical edges
    int8_t side;                   // the slot of its side's run of cells
    int8_t layer;                  // which of the two shapes it belongs to
};

// Rows [y, yEnd) of up to two convex shapes (layers), each in its colour over the one before.
struct Rows {
    uint32_t* pixels;  // the picture's row 0
    size_t stride;     // pixels from one row to the next
    int width;         // pixels from width on are left alone
    int y, yEnd;
    const LeanEdge* edges;  // in the order the cells of their sides usually lie, left to right
    size_t count;
    bool whole;  // each edge crosses every row whole (no vertex inside the rows), else cut to the row
    const Paint* paints;
};

// Draws the rows from y on and returns the first one it could not draw (yEnd when it drew
// them all: it stops only for more edges than it takes). The edges must lie right of x = 0 and
// short of x = 2^30; what lies from width on is left alone.
template <int layers>
int DrawRows(const Rows& rows);

// A span of n opaque pixels blended with colour s at alpha a (1..254).
void BlendSpan(uint32_t* p, int n, uint32_t s, uint32_t a);

#if defined(FACETTA_AVX2_ROWS)  // set by the build where it compiles raster_avx2.cpp
template <int layers>
int DrawRowsAvx2(const Rows& rows);
void BlendSpanAvx2(uint32_t* p, int n, uint32_t s, uint32_t a);
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

}  // namespace
#endif
