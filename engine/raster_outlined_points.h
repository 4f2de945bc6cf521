#pragma once
// Inside DrawMeshOutlined only (included by raster_outlined_impl.h, like it built once per
// processor): a pixel's 16 x 16 points as bit masks, and which of them lie inside a convex shape
// or below a line.
//
// Points lie at ((g + 0.5) / 16, (j + 0.5) / 16) in pixel units; a point on a shape's border
// counts as inside it.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "raster.h"
#include "raster_pixels.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace {
namespace outlined {

using namespace raster_internal;

constexpr int kN = 16;  // points a pixel has along each side

// Which of a pixel's 256 points: row j in bits 16 (j % 4) up of word j / 4.
struct Mask {
    uint64_t w[4];
};

inline bool None(const Mask& m) {
    return (m.w[0] | m.w[1] | m.w[2] | m.w[3]) == 0;
}
inline Mask And(const Mask& a, const Mask& b) {
    return {{a.w[0] & b.w[0], a.w[1] & b.w[1], a.w[2] & b.w[2], a.w[3] & b.w[3]}};
}
inline Mask AndNot(const Mask& a, const Mask& b) {
    return {{a.w[0] & ~b.w[0], a.w[1] & ~b.w[1], a.w[2] & ~b.w[2], a.w[3] & ~b.w[3]}};
}
inline Mask Or(const Mask& a, const Mask& b) {
    return {{a.w[0] | b.w[0], a.w[1] | b.w[1], a.w[2] | b.w[2], a.w[3] | b.w[3]}};
}
inline int Count(const Mask& m) {
    return std::popcount(m.w[0]) + std::popcount(m.w[1]) + std::popcount(m.w[2]) +
           std::popcount(m.w[3]);
}
constexpr Mask kAll = {{~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}}};

// A convex polygon as the points' columns it holds on each row of points: sides that bound it
// on the left and on the right, each a line x(y), and the rows it spans.
struct ConvexSides {
    struct Side {
        double x0, y0, slope;  // x(y) = x0 + (y - y0) slope
    };
    Side left[6], right[6];
    int nl = 0, nr = 0;
    double ymin = 0, ymax = 0;
    bool empty = true;
};

ConvexSides SidesOf(const PointF* p, size_t n) {
    ConvexSides s;
    if (n < 3 || n > 6) return s;
    const double area = SignedArea(p, n);
    if (!(area != 0) || !std::isfinite(area)) return s;
    s.ymin = s.ymax = p[0].y;
    for (size_t i = 0; i < n; ++i) {
        const PointF &u = p[i], &e = p[(i + 1) % n];
        s.ymin = std::min(s.ymin, u.y);
        s.ymax = std::max(s.ymax, u.y);
        const double dy = e.y - u.y;
        if (dy == 0) continue;  // a level side only ends the rows, which ymin and ymax do
        const ConvexSides::Side side{u.x, u.y, (e.x - u.x) / dy};
        // Inside lies where (e - u) x (q - u) has the sign of the area.
        if ((dy > 0) == (area > 0))
            s.right[s.nr++] = side;
        else
            s.left[s.nl++] = side;
    }
    s.empty = s.nl == 0 || s.nr == 0;
    return s;
}

// Columns of points [lo[j], hi[j]] (picture-wide, clamped to [-1, limit]) inside the shape on
// the 16 rows of points of pixel row y; lo > hi where none.
struct RowSpans {
    int lo[kN], hi[kN];
    int minLo, maxHi;  // the columns touched at all (minLo > maxHi: none)
    int maxLo, minHi;  // the columns every row holds (maxLo > minHi: not all rows)
};

// The 16 rows of points of pixel row y hold the shape's points in columns [lo[j], hi[j]]
// (picture-wide, held to [-1, limit]); lo > hi where none. Loops written for the vectoriser.
void SpansOf(const ConvexSides& s, int y, int limit, RowSpans& r) {
    // Rows of points outside the shape's height hold nothing.
    int j0 = kN, j1 = -1;
    if (!s.empty && s.ymax >= y && s.ymin < y + 1) {
        const double a = Clamp((s.ymin - y) * kN - 0.5, -1, kN),
                     b = Clamp((s.ymax - y) * kN - 0.5, -1, kN);
        j0 = std::max(0, static_cast<int>(a) + (static_cast<int>(a) < a));
        j1 = std::min(kN - 1, static_cast<int>(b) - (static_cast<int>(b) > b));
    }
#if defined(__AVX2__)
    // Four rows of points a register; the same sums as below (no FMA), so the same columns.
    __m256d l[4], rr[4];
    const __m256d jv[4] = {_mm256_setr_pd(0, 1, 2, 3), _mm256_setr_pd(4, 5, 6, 7),
                           _mm256_setr_pd(8, 9, 10, 11), _mm256_setr_pd(12, 13, 14, 15)};
    for (int q = 0; q < 4; ++q) l[q] = _mm256_set1_pd(-2), rr[q] = _mm256_set1_pd(limit + 2.0);
    for (int k = 0; k < s.nl; ++k) {
        const ConvexSides::Side& d = s.left[k];
        const __m256d c = _mm256_set1_pd((d.x0 + (y + 0.5 / kN - d.y0) * d.slope) * kN - 0.5);
        const __m256d m = _mm256_set1_pd(d.slope);
        for (int q = 0; q < 4; ++q)
            l[q] = _mm256_max_pd(l[q], _mm256_add_pd(c, _mm256_mul_pd(jv[q], m)));
    }
    for (int k = 0; k < s.nr; ++k) {
        const ConvexSides::Side& d = s.right[k];
        const __m256d c = _mm256_set1_pd((d.x0 + (y + 0.5 / kN - d.y0) * d.slope) * kN - 0.5);
        const __m256d m = _mm256_set1_pd(d.slope);
        for (int q = 0; q < 4; ++q)
            rr[q] = _mm256_min_pd(rr[q], _mm256_add_pd(c, _mm256_mul_pd(jv[q], m)));
    }
    const __m256d lowest = _mm256_set1_pd(-1), highest = _mm256_set1_pd(limit);
    __m128i lo4[4], hi4[4];
    for (int q = 0; q < 4; ++q) {
        lo4[q] = _mm256_cvttpd_epi32(
            _mm256_ceil_pd(_mm256_min_pd(_mm256_max_pd(l[q], lowest), highest)));
        hi4[q] = _mm256_cvttpd_epi32(
            _mm256_floor_pd(_mm256_min_pd(_mm256_max_pd(rr[q], lowest), highest)));
    }
    const __m256i rowIndex[2] = {_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                 _mm256_setr_epi32(8, 9, 10, 11, 12, 13, 14, 15)};
    const __m256i first = _mm256_set1_epi32(j0), last = _mm256_set1_epi32(j1);
    __m256i minLo8 = _mm256_set1_epi32(INT32_MAX), maxHi8 = _mm256_set1_epi32(INT32_MIN);
    __m256i maxLo8 = maxHi8, minHi8 = minLo8;
    for (int h = 0; h < 2; ++h) {
        const __m256i in =
            _mm256_andnot_si256(_mm256_or_si256(_mm256_cmpgt_epi32(first, rowIndex[h]),
                                                _mm256_cmpgt_epi32(rowIndex[h], last)),
                                _mm256_set1_epi32(-1));
        __m256i lo = _mm256_set_m128i(lo4[2 * h + 1], lo4[2 * h]);
        __m256i hi = _mm256_set_m128i(hi4[2 * h + 1], hi4[2 * h]);
        lo = _mm256_blendv_epi8(_mm256_set1_epi32(1), lo, in);
        hi = _mm256_and_si256(hi, in);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r.lo + 8 * h), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r.hi + 8 * h), hi);
        const __m256i none = _mm256_cmpgt_epi32(lo, hi);
        minLo8 =
            _mm256_min_epi32(minLo8, _mm256_blendv_epi8(lo, _mm256_set1_epi32(INT32_MAX), none));
        maxHi8 =
            _mm256_max_epi32(maxHi8, _mm256_blendv_epi8(hi, _mm256_set1_epi32(INT32_MIN), none));
        maxLo8 = _mm256_max_epi32(maxLo8, lo);
        minHi8 = _mm256_min_epi32(minHi8, hi);
    }
    alignas(32) int v[4][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(v[0]), minLo8);
    _mm256_store_si256(reinterpret_cast<__m256i*>(v[1]), maxHi8);
    _mm256_store_si256(reinterpret_cast<__m256i*>(v[2]), maxLo8);
    _mm256_store_si256(reinterpret_cast<__m256i*>(v[3]), minHi8);
    int minLo = v[0][0], maxHi = v[1][0], maxLo = v[2][0], minHi = v[3][0];
    for (int i = 1; i < 8; ++i) {
        minLo = std::min(minLo, v[0][i]);
        maxHi = std::max(maxHi, v[1][i]);
        maxLo = std::max(maxLo, v[2][i]);
        minHi = std::min(minHi, v[3][i]);
    }
#else
    double l[kN], rr[kN];
    for (int j = 0; j < kN; ++j) l[j] = -2, rr[j] = limit + 2.0;
    // Each side's column, 16 x - 0.5, goes up by its slope from one row of points to the next.
    for (int k = 0; k < s.nl; ++k) {
        const ConvexSides::Side& d = s.left[k];
        const double c = (d.x0 + (y + 0.5 / kN - d.y0) * d.slope) * kN - 0.5;
        for (int j = 0; j < kN; ++j) l[j] = std::max(l[j], c + j * d.slope);
    }
    for (int k = 0; k < s.nr; ++k) {
        const ConvexSides::Side& d = s.right[k];
        const double c = (d.x0 + (y + 0.5 / kN - d.y0) * d.slope) * kN - 0.5;
        for (int j = 0; j < kN; ++j) rr[j] = std::min(rr[j], c + j * d.slope);
    }
    int minLo = INT32_MAX, maxHi = INT32_MIN, maxLo = INT32_MIN, minHi = INT32_MAX;
    for (int j = 0; j < kN; ++j) {
        const double lv = std::min(std::max(l[j], -1.0), double(limit));
        const double rv = std::min(std::max(rr[j], -1.0), double(limit));
        const int li = static_cast<int>(lv), ri = static_cast<int>(rv);
        const bool in = j >= j0 && j <= j1;
        const int lo = in ? li + (li < lv) : 1;  // rounded up
        const int hi = in ? ri - (ri > rv) : 0;  // rounded down
        r.lo[j] = lo;
        r.hi[j] = hi;
        const bool any = lo <= hi;
        minLo = std::min(minLo, any ? lo : INT32_MAX);
        maxHi = std::max(maxHi, any ? hi : INT32_MIN);
        maxLo = std::max(maxLo, lo);
        minHi = std::min(minHi, hi);
    }
#endif
    r.minLo = minLo, r.maxHi = maxHi, r.maxLo = maxLo, r.minHi = minHi;
}

// The points of pixel x the spans hold. Written for the vectoriser: with AVX2 it is a handful
// of instructions.
#if defined(__AVX2__)
// The points of pixel x in columns [lo, hi] of each row of points (rows 0-7 in the first of
// each pair, 8-15 in the second).
inline Mask MaskOf(const __m256i* los, const __m256i* his, int x) {
    const int base = x * kN;
    Mask m;
    const __m256i zero = _mm256_setzero_si256(), n = _mm256_set1_epi32(kN),
                  one = _mm256_set1_epi32(1), b0 = _mm256_set1_epi32(base),
                  b1 = _mm256_set1_epi32(base - 1);
    __m256i bits[2];
    for (int h = 0; h < 2; ++h) {
        const __m256i lo = los[h], hi = his[h];
        const __m256i a = _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(lo, b0), zero), n);
        const __m256i b = _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(hi, b1), zero), n);
        const __m256i v = _mm256_sub_epi32(_mm256_sllv_epi32(one, b), _mm256_sllv_epi32(one, a));
        bits[h] = _mm256_and_si256(v, _mm256_cmpgt_epi32(b, a));
    }
    // 32-bit lanes to 16-bit ones, rows back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(bits[0], bits[1]), 0xD8);
    std::memcpy(&m, &packed, sizeof m);
    return m;
}
#endif

inline Mask MaskAt(const RowSpans& r, int x) {
#if defined(__AVX2__)
    const __m256i los[2] = {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.lo)),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.lo + 8))};
    const __m256i his[2] = {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.hi)),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.hi + 8))};
    return MaskOf(los, his, x);
#else
    const int base = x * kN;
    Mask m;
    uint16_t bits[kN];
    for (int j = 0; j < kN; ++j) {
        const int a = std::clamp(r.lo[j] - base, 0, kN);
        const int b = std::clamp(r.hi[j] - base + 1, 0, kN);
        bits[j] = static_cast<uint16_t>(b > a ? (1u << b) - (1u << a) : 0u);
    }
    std::memcpy(&m, bits, sizeof bits);  // row j in bits 16 (j % 4) of word j / 4
    return m;
#endif
}

// How a shape covers pixel x of its row.
enum class Cover { None, Part, Whole };

inline Cover CoverAt(const RowSpans& r, int x) {
    const int a = x * kN, b = a + kN - 1;
    if (r.minLo > r.maxHi || r.maxHi < a || r.minLo > b) return Cover::None;
    if (r.maxLo <= a && r.minHi >= b) return Cover::Whole;
    return Cover::Part;
}

// The points of pixel (x, y) where a u + b v <= c + (i - 1) / 2, for i = 0, 1, 2, as masks: on
// each row of points the bound on the column, 16 (u - x) - 1/2, moves by -16 b / a from one row
// to the next, and by 8 / a from one line to the next.
inline void HalfPlaneMasks(double a, double b, double c, int x, int y, Mask* out) {
    uint16_t bits[3][kN];
    if (a == 0) {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < kN; ++j)
                bits[i][j] = b * (y + (j + 0.5) / kN) <= c + 0.5 * (i - 1) ? 0xFFFF : 0;
    } else {
        // From one row of points to the next (a power of two apart: exact).
        const double first = ((c - b * (y + 0.5 / kN)) / a - x) * kN - 0.5, step = -b / a,
                     apart = 0.5 / a * kN;
#if defined(__AVX2__)
        // The same bounds, four rows a register, as spans for MaskAt.
        const __m256d lowest = _mm256_set1_pd(-1), highest = _mm256_set1_pd(kN),
                      stepv = _mm256_set1_pd(step);
        const __m128i base = _mm_set1_epi32(x * kN), last = _mm_set1_epi32(x * kN + kN - 1);
        for (int i = 0; i < 3; ++i) {
            const __m256d start = _mm256_set1_pd(first + (i - 1) * apart);
            __m128i los[4], his[4];
            for (int q = 0; q < 4; ++q) {
                const __m256d j = _mm256_setr_pd(4 * q, 4 * q + 1, 4 * q + 2, 4 * q + 3);
                const __m256d bound = _mm256_min_pd(
                    _mm256_max_pd(_mm256_add_pd(start, _mm256_mul_pd(j, stepv)), lowest), highest);
                __m128i lo, hi;
                if (a > 0) {
                    lo = base;
                    hi = _mm_add_epi32(base, _mm256_cvttpd_epi32(_mm256_floor_pd(bound)));
                } else {
                    lo = _mm_add_epi32(base, _mm256_cvttpd_epi32(_mm256_ceil_pd(bound)));
                    hi = last;
                }
                los[q] = lo, his[q] = hi;
            }
            const __m256i lo8[2] = {_mm256_set_m128i(los[1], los[0]),
                                    _mm256_set_m128i(los[3], los[2])};
            const __m256i hi8[2] = {_mm256_set_m128i(his[1], his[0]),
                                    _mm256_set_m128i(his[3], his[2])};
            out[i] = MaskOf(lo8, hi8, x);
        }
        return;
#endif
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < kN; ++j) {
                const double bound = Clamp(first + (i - 1) * apart + j * step, -1, kN);
                uint32_t row;
                if (a > 0) {
                    // Columns up to the bound.
                    const int hi = static_cast<int>(std::floor(bound));
                    row = hi < 0 ? 0u : (2u << std::min(hi, kN - 1)) - 1;
                } else {
                    const int lo = static_cast<int>(std::ceil(bound));
                    row = 0xFFFFu & ~((1u << std::max(lo, 0)) - 1);
                }
                bits[i][j] = static_cast<uint16_t>(row);
            }
    }
    for (int i = 0; i < 3; ++i)
        std::memcpy(&out[i], bits[i], sizeof bits[i]);  // row j in bits 16 (j % 4) of word j / 4
}

}  // namespace outlined
}  // namespace
