#pragma once
// Inside DrawMeshOutlined only (included by raster_outlined_impl.h): a pixel along one edge of
// the mesh as four strips of exact area, and the layers over them.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "raster_pixels.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace {
namespace outlined {

using namespace raster_internal;

// An edge of the mesh as a line: s(q) = n . q - c, the same for both triangles that share the
// edge (its ends in one order whichever triangle names them), with key naming the edge.
struct EdgeLine {
    uint64_t key0 = 0, key1 = 0;
    double nx = 0, ny = 0, c = 0;
    double near = 0;        // a pixel whose centre has |s| above this misses the lines at +-1/2
    bool positive = false;  // the triangle lies where s > 0
    // For strips' areas: the line as a u + b v <= c0 - nx x - ny y across pixel (x, y), with
    // a, b >= 0; level with a side when the smaller is below 1e-7.
    double a = 0, b = 0, c0 = 0, inv = 0;
    bool level = false;
};

// Pixels along one edge, away from its ends, are cut by three lines only: the edge and the
// outline's two sides, s = -1/2, 0, 1/2. Each of their four strips has an exact area, and every
// fill or outline of the triangles along the edge covers whole strips. Layers only ever lerp
// towards the fill's colour or the pen's, so a strip's colour is m B + u F + (1 - m - u) P for
// the pixel's colour B before the strips began: two numbers a strip, m in lanes 0-3 and u in
// lanes 4-7, and a layer is one multiply and add over the eight.
struct alignas(64) Strips {
    float mu[8];
    float area[4];
    uint64_t key0, key1;  // the edge's
};

// The pixel's areas between the lines a u + b v = c + (i - 1) / 2, i = 0, 1, 2 (the pixel being
// the unit square): below each line, the square's area past each corner it passes, added and
// taken off; then the differences. The same operations in every build.
inline void Areas(const EdgeLine& e, double c, float* area) {
#if defined(__AVX2__)
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1);
    const __m256d ci = _mm256_add_pd(_mm256_set1_pd(c), _mm256_setr_pd(-0.5, 0, 0.5, 1));
    __m256d v;
    if (e.level) {
        v = _mm256_mul_pd(ci, _mm256_set1_pd(e.inv));
    } else {
        const __m256d a = _mm256_set1_pd(e.a), b = _mm256_set1_pd(e.b);
        const __m256d t0 = _mm256_max_pd(ci, zero), t1 = _mm256_max_pd(_mm256_sub_pd(ci, a), zero),
                      t2 = _mm256_max_pd(_mm256_sub_pd(ci, b), zero),
                      t3 = _mm256_max_pd(_mm256_sub_pd(_mm256_sub_pd(ci, a), b), zero);
        v = _mm256_mul_pd(
            _mm256_add_pd(_mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(t0, t0), _mm256_mul_pd(t1, t1)),
                                        _mm256_mul_pd(t2, t2)),
                          _mm256_mul_pd(t3, t3)),
            _mm256_set1_pd(e.inv));
    }
    const __m256d below = _mm256_min_pd(_mm256_max_pd(v, zero), one);
    // (b0, b1, b2, 1) less (0, b0, b1, b2).
    const __m256d upper = _mm256_blend_pd(below, one, 8);
    const __m256d lower = _mm256_blend_pd(_mm256_permute4x64_pd(below, 0x90), zero, 1);
    _mm_storeu_ps(area, _mm256_cvtpd_ps(_mm256_sub_pd(upper, lower)));
#else
    double below[4];
#if defined(FACETTA_RASTER_SSE2)
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1), a = _mm_set1_pd(e.a),
                  b = _mm_set1_pd(e.b), inv = _mm_set1_pd(e.inv), cv = _mm_set1_pd(c);
    const __m128d offsets[2] = {_mm_setr_pd(-0.5, 0), _mm_setr_pd(0.5, 1)};
    for (int h = 0; h < 2; ++h) {
        const __m128d ci = _mm_add_pd(cv, offsets[h]);
        __m128d v;
        if (e.level) {
            v = _mm_mul_pd(ci, inv);
        } else {
            const __m128d t0 = _mm_max_pd(ci, zero), t1 = _mm_max_pd(_mm_sub_pd(ci, a), zero),
                          t2 = _mm_max_pd(_mm_sub_pd(ci, b), zero),
                          t3 = _mm_max_pd(_mm_sub_pd(_mm_sub_pd(ci, a), b), zero);
            v = _mm_mul_pd(_mm_add_pd(_mm_sub_pd(_mm_sub_pd(_mm_mul_pd(t0, t0), _mm_mul_pd(t1, t1)),
                                                 _mm_mul_pd(t2, t2)),
                                      _mm_mul_pd(t3, t3)),
                           inv);
        }
        _mm_storeu_pd(below + 2 * h, _mm_min_pd(_mm_max_pd(v, zero), one));
    }
#else
    for (int i = 0; i < 4; ++i) {
        const double ci = c + 0.5 * (i - 1);
        double v;
        if (e.level) {
            v = ci * e.inv;
        } else {
            const double t0 = ci > 0 ? ci : 0, t1 = ci - e.a > 0 ? ci - e.a : 0,
                         t2 = ci - e.b > 0 ? ci - e.b : 0,
                         t3 = ci - e.a - e.b > 0 ? ci - e.a - e.b : 0;
            v = (t0 * t0 - t1 * t1 - t2 * t2 + t3 * t3) * e.inv;
        }
        below[i] = v > 0 ? (v < 1 ? v : 1) : 0;
    }
#endif
    area[0] = static_cast<float>(below[0] - 0.0);
    area[1] = static_cast<float>(below[1] - below[0]);
    area[2] = static_cast<float>(below[2] - below[1]);
    area[3] = static_cast<float>(1 - below[2]);
#endif
}

// A layer (or two, one after the other) over some strips: mu = mu mul + add.
struct StripLayer {
    alignas(32) float mul[8];
    alignas(32) float add[8];
};

// Lerping towards colour F (fill) or P (pen) at alpha a over strips [first, last], after `in`.
inline StripLayer Then(const StripLayer& in, int first, int last, float a, bool fill) {
    StripLayer out = in;
    for (int i = first; i <= last; ++i) {
        for (const int lane : {i, i + 4}) {
            out.mul[lane] = in.mul[lane] * (1 - a);
            out.add[lane] = in.add[lane] * (1 - a);
        }
        if (fill) out.add[i + 4] += a;
    }
    return out;
}

constexpr StripLayer kNoLayer = {{1, 1, 1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0}};

}  // namespace outlined
}  // namespace
