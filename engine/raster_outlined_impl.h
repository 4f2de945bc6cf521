#pragma once
// The code behind DrawMeshOutlined (raster.h), built into each file that includes it for that
// file's processor: raster_outlined.cpp for any, raster_outlined_avx2.cpp for those with AVX2.
// Integer masks and the same double arithmetic (no FMA) in both: the same bytes.
//
// A mesh with outlines: every triangle's fill and then its outline ring, in mesh order, over
// an opaque picture. Layers of two colours pile up along every edge (a ring over its own fill,
// the next triangle's fill and ring over both), so unlike the fills alone the pixels there
// cannot be summed from areas. Each pixel a layer only partly covers keeps its own small
// record instead: the 16 x 16 points of the pixel split into groups of one colour each, every
// layer lerps the groups it covers (splitting those it covers in part), and the pixel ends
// as the mean of its points. Pixels inside a layer are blended whole, as a span.
//
// Points lie at ((g + 0.5) / 16, (j + 0.5) / 16) in pixel units; a point on a shape's border
// counts as inside it.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "raster.h"
#include "raster_cells.h"
#include "raster_pixels.h"
#include "raster_stroke.h"

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

// A group of a pixel's points and the colour they have come to.
struct Group {
    Mask m;
    float c[3];
};

// A colour to lerp towards, as floats.
struct Tint {
    alignas(16) float c[4];  // the fourth 0
    float a;                 // 0..1
    uint32_t rgb;
    uint32_t alpha;  // 0..255
};

Tint MakeTint(ARGB color, uint32_t alpha) {
    Tint t;
    t.c[0] = static_cast<float>((color >> 16) & 0xFF);
    t.c[1] = static_cast<float>((color >> 8) & 0xFF);
    t.c[2] = static_cast<float>(color & 0xFF);
    t.c[3] = 0;
    t.alpha = alpha;
    t.a = static_cast<float>(alpha) / 255.0f;
    t.rgb = color & 0xFFFFFF;
    return t;
}

inline void Lerp(float* c, const Tint& t) {
    if (t.alpha == 255) {
        c[0] = t.c[0], c[1] = t.c[1], c[2] = t.c[2];
        return;
    }
    for (int k = 0; k < 3; ++k) c[k] += t.a * (t.c[k] - c[k]);
}

// The same for a colour held as four floats (the fourth unused), in one vector operation.
inline void Lerp4(float* c, const Tint& t) {
    if (t.alpha == 255) {
        std::memcpy(c, t.c, sizeof t.c);
        return;
    }
    for (int k = 0; k < 4; ++k) c[k] += t.a * (t.c[k] - c[k]);
}

// Groups a pixel keeps at most; past that the two of nearest colour merge (a pixel where many
// vertices meet).
constexpr int kMaxGroups = 12;

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

// The records of one row of pixels, by pixel: strips along an edge, or groups of points.
class RowRecords {
public:
    enum Kind : uint8_t { kNone, kStrips, kGroups };

    void Reset(int width) {
        m_kind.assign(static_cast<size_t>(width), kNone);
        m_stripsUsed = 0;
        m_block.resize(static_cast<size_t>(width));
        m_count.resize(static_cast<size_t>(width));
        m_used.clear();
        m_groups.clear();
    }

    bool Has(int x) const { return m_kind[static_cast<size_t>(x)] != kNone; }
    // A layer over every point of pixels [x0, x1], for those with a record: eight at a time,
    // as inside a triangle there are seldom any.
    void ApplyWhole(int x0, int x1, const Tint& t, const StripLayer& whole) {
        if (m_used.empty()) return;
        const uint8_t* kind = m_kind.data();
        int x = x0;
        for (; x + 8 <= x1 + 1; x += 8) {
            uint64_t eight;
            std::memcpy(&eight, kind + x, 8);
            if (eight == 0) continue;
            for (int i = x; i < x + 8; ++i)
                if (kind[i] != kNone) ApplyAll(i, t, whole);
        }
        for (; x <= x1; ++x)
            if (kind[x] != kNone) ApplyAll(x, t, whole);
    }

    // A layer over all of pixel x, which has a record (`whole`: the same layer for strips).
    void ApplyAll(int x, const Tint& t, const StripLayer& whole) {
        if (m_kind[static_cast<size_t>(x)] == kStrips) return ApplyStrips(x, whole);
        Apply(x, nullptr, t);
    }

    void ApplyStrips(int x, const StripLayer& layer) {
        Strips& st = m_strips[static_cast<size_t>(m_block[static_cast<size_t>(x)])];
        for (int i = 0; i < 8; ++i) st.mu[i] = st.mu[i] * layer.mul[i] + layer.add[i];
    }

    // The fill and outline of a triangle over pixel (x, y) of its row, which only the edge's
    // lines cut: onto the pixel's strips along that edge, started from the pixel's colour if it
    // has no record. False when it has another record (the caller takes its points).
    bool Along(int x, int y, uint32_t pixel, const EdgeLine& e, const StripLayer& layer) {
        const uint8_t kind = m_kind[static_cast<size_t>(x)];
        Strips* st;
        if (kind == kNone) {
            st = Open(x, y, pixel, e);
            // Over strips that all hold the pixel's colour (m = 1, u = 0).
            std::memcpy(st->mu, layer.mul, 4 * sizeof(float));
            std::memcpy(st->mu + 4, layer.add + 4, 4 * sizeof(float));
            return true;
        } else {
            if (kind != kStrips) return false;
            st = &m_strips[static_cast<size_t>(m_block[static_cast<size_t>(x)])];
            if (st->key0 != e.key0 || st->key1 != e.key1) return false;
        }
        for (int i = 0; i < 8; ++i) st->mu[i] = st->mu[i] * layer.mul[i] + layer.add[i];
        return true;
    }

    // The same for pixel (x, y) with points, or strips along another line: the fill over the
    // edge's half-plane and the outline over its band, as points.
    void AlongOnPoints(int x, int y, const EdgeLine& e, bool fills, const Tint& fill,
                       const Tint& pen) {
        ToGroups(x, y);
        Mask below[3];
        HalfPlaneMasks(e.nx, e.ny, e.c, x, y, below);
        if (fills) {
            const Mask side = e.positive ? AndNot(kAll, below[1]) : below[1];
            Apply(x, &side, fill);
        }
        const Mask band = AndNot(below[2], below[0]);
        Apply(x, &band, pen);
    }

    // Starts groups for pixel x, from its colour.
    void Open(int x, uint32_t pixel) {
        Start(x, kGroups);
        Group* g = NewBlock(x);
        m_count[static_cast<size_t>(x)] = 1;
        g[0].m = kAll;
        SetColor(g[0].c, pixel);
    }

    // New strips for pixel (x, y) along the edge, over the pixel's colour; their colours are
    // left for the caller to set.
    Strips* Open(int x, int y, uint32_t pixel, const EdgeLine& e) {
        Start(x, kStrips);
        const size_t at = m_stripsUsed++;
        m_block[static_cast<size_t>(x)] = static_cast<int>(at);
        if (at == m_strips.size()) {
            m_strips.resize(at * 2 + 64);
            m_stripBase.resize(m_strips.size());
            m_stripLine.resize(m_strips.size());
        }
        Strips& st = m_strips[at];
        st.key0 = e.key0, st.key1 = e.key1;
        m_stripLine[at] = &e;
        m_stripBase[at] = pixel;
        // The lines at s = -1/2, 0, 1/2 across the pixel: a u + b v <= c + (i - 1) / 2.
        const double c = e.c0 - e.nx * x - e.ny * y;
        Areas(e, c, st.area);
        return &st;
    }

    // Pixel (x, y)'s strips, if it holds strips, as groups of points.
    void ToGroups(int x, int y) {
        if (m_kind[static_cast<size_t>(x)] != kStrips) return;
        m_kind[static_cast<size_t>(x)] = kGroups;
        const size_t at = static_cast<size_t>(m_block[static_cast<size_t>(x)]);
        const Strips& st = m_strips[at];
        Group* g = NewBlock(x);
        const EdgeLine& e = *m_stripLine[at];
        Mask below[3];
        HalfPlaneMasks(e.nx, e.ny, e.c, x, y, below);
        const Mask parts[4] = {below[0], AndNot(below[1], below[0]), AndNot(below[2], below[1]),
                               AndNot(kAll, below[2])};
        float base[3];
        SetColor(base, m_stripBase[at]);
        int n = 0;
        for (int i = 0; i < 4; ++i) {
            if (None(parts[i])) continue;
            g[n].m = parts[i];
            const float m = st.mu[i], u = st.mu[i + 4], v = 1 - m - u;
            for (int k = 0; k < 3; ++k) g[n].c[k] = m * base[k] + u * m_fill[k] + v * m_pen[k];
            ++n;
        }
        m_count[static_cast<size_t>(x)] = n;
    }

    // The layer over pixel x, which holds groups: over the points of m, or all of them.
    void Apply(int x, const Mask* m, const Tint& t) {
        Group* g = &m_groups[static_cast<size_t>(m_block[static_cast<size_t>(x)]) * kMaxGroups];
        int& n = m_count[static_cast<size_t>(x)];
        if (t.alpha == 255) {
            // Whatever it covers becomes one colour: one group.
            if (!m) {
                n = 1;
                g[0].m = kAll;
                Lerp(g[0].c, t);
                return;
            }
            if (None(*m)) return;
            int k = 0;
            for (int i = 0; i < n; ++i) {
                const Mask out = AndNot(g[i].m, *m);
                if (None(out)) continue;
                g[k] = g[i];
                g[k++].m = out;
            }
            g[k].m = *m;
            g[k].c[0] = t.c[0], g[k].c[1] = t.c[1], g[k].c[2] = t.c[2];
            n = k + 1;
            return;
        }
        if (!m) {
            for (int i = 0; i < n; ++i) Lerp(g[i].c, t);
            return;
        }
        Group more[kMaxGroups];
        int added = 0;
        for (int i = 0; i < n; ++i) {
            const Mask in = And(g[i].m, *m);
            if (None(in)) continue;
            const Mask out = AndNot(g[i].m, *m);
            if (None(out)) {
                Lerp(g[i].c, t);
                continue;
            }
            g[i].m = out;
            Group& split = more[added++];
            split = {in, {g[i].c[0], g[i].c[1], g[i].c[2]}};
            Lerp(split.c, t);
        }
        for (int i = 0; i < added; ++i) {
            if (n == kMaxGroups) MergeNearest(g, n);
            g[n++] = more[i];
        }
    }

    // Every recorded pixel of the row as the mean of its points.
    void Resolve(uint32_t* row) {
        for (const int x : m_used) {
            const size_t at = static_cast<size_t>(m_block[static_cast<size_t>(x)]);
            if (m_kind[static_cast<size_t>(x)] == kStrips) {
                row[x] = Mix(m_strips[at], m_stripBase[at]);
            } else {
                float sum[3] = {0, 0, 0};
                const Group* g = &m_groups[at * kMaxGroups];
                for (int i = 0; i < m_count[static_cast<size_t>(x)]; ++i) {
                    const float w = static_cast<float>(Count(g[i].m)) / (kN * kN);
                    for (int k = 0; k < 3; ++k) sum[k] += w * g[i].c[k];
                }
                row[x] = Pack(sum);
            }
            m_kind[static_cast<size_t>(x)] = kNone;
        }
        m_used.clear();
        m_groups.clear();
        m_stripsUsed = 0;
    }

    // The fill's colour and the pen's, which strips lerp towards.
    void SetColors(const Tint& fill, const Tint& pen) {
        std::copy(fill.c, fill.c + 3, m_fill);
        std::copy(pen.c, pen.c + 3, m_pen);
#if defined(FACETTA_RASTER_SSE2)
        // In the pixel's byte order: blue, green, red.
        m_fill4 = _mm_setr_ps(m_fill[2], m_fill[1], m_fill[0], 0);
        m_pen4 = _mm_setr_ps(m_pen[2], m_pen[1], m_pen[0], 0);
#endif
    }

private:
    // Strips' pixel: each strip's m B + u F + (1 - m - u) P, weighted by its area.
    uint32_t Mix(const Strips& st, uint32_t base) const {
#if defined(FACETTA_RASTER_SSE2)
        const __m128 area = _mm_load_ps(st.area);
        const __m128 pm = _mm_mul_ps(area, _mm_load_ps(st.mu)),
                     pu = _mm_mul_ps(area, _mm_load_ps(st.mu + 4));
        // Added up in order, one lane after the other.
        auto sum = [](__m128 t) {
            __m128 r = _mm_add_ss(t, _mm_shuffle_ps(t, t, 1));
            r = _mm_add_ss(r, _mm_movehl_ps(t, t));
            return _mm_add_ss(r, _mm_shuffle_ps(t, t, 3));
        };
        const __m128 m1 = sum(pm), u1 = sum(pu);
        const __m128 v1 = _mm_sub_ss(_mm_sub_ss(_mm_set_ss(1), m1), u1);
        const __m128 m = _mm_shuffle_ps(m1, m1, 0), u = _mm_shuffle_ps(u1, u1, 0),
                     v = _mm_shuffle_ps(v1, v1, 0);
        const __m128i zero = _mm_setzero_si128();
        const __m128 b = _mm_cvtepi32_ps(_mm_unpacklo_epi16(
            _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(base)), zero), zero));
        const __m128 mixed =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(m, b), _mm_mul_ps(u, m_fill4)), _mm_mul_ps(v, m_pen4));
        const __m128 held = _mm_min_ps(
            _mm_max_ps(_mm_add_ps(mixed, _mm_set1_ps(0.5f)), _mm_setzero_ps()), _mm_set1_ps(255));
        const __m128i i32 = _mm_cvttps_epi32(held);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(i32, zero), zero);
        return static_cast<uint32_t>(_mm_cvtsi128_si32(bytes)) | 0xFF000000u;
#else
        float m = 0, u = 0;
        for (int i = 0; i < 4; ++i) m += st.area[i] * st.mu[i], u += st.area[i] * st.mu[i + 4];
        float b[3], sum[3];
        SetColor(b, base);
        const float v = 1 - m - u;
        for (int k = 0; k < 3; ++k) sum[k] = m * b[k] + u * m_fill[k] + v * m_pen[k];
        return Pack(sum);
#endif
    }

    static uint32_t Pack(const float* sum) {
        uint32_t p = 0xFF000000u;
        for (int k = 0; k < 3; ++k)
            p |= static_cast<uint32_t>(Clamp(sum[k] + 0.5f, 0, 255)) << (16 - 8 * k);
        return p;
    }

    static void SetColor(float* c, uint32_t pixel) {
        c[0] = static_cast<float>((pixel >> 16) & 0xFF);
        c[1] = static_cast<float>((pixel >> 8) & 0xFF);
        c[2] = static_cast<float>(pixel & 0xFF);
    }

    void Start(int x, Kind kind) {
        m_kind[static_cast<size_t>(x)] = kind;
        m_used.push_back(x);
    }

    Group* NewBlock(int x) {
        const size_t block = m_groups.size() / kMaxGroups;
        m_block[static_cast<size_t>(x)] = static_cast<int>(block);
        m_groups.resize(m_groups.size() + kMaxGroups);
        return &m_groups[block * kMaxGroups];
    }

    static void MergeNearest(Group* g, int& n) {
        int bi = 0, bj = 1;
        float best = 1e30f;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
                float d = 0;
                for (int k = 0; k < 3; ++k) d += std::fabs(g[i].c[k] - g[j].c[k]);
                if (d < best) best = d, bi = i, bj = j;
            }
        const float wi = static_cast<float>(Count(g[bi].m)),
                    wj = static_cast<float>(Count(g[bj].m));
        for (int k = 0; k < 3; ++k) g[bi].c[k] = (wi * g[bi].c[k] + wj * g[bj].c[k]) / (wi + wj);
        g[bi].m = Or(g[bi].m, g[bj].m);
        g[bj] = g[--n];
    }

    std::vector<uint8_t> m_kind;               // per pixel
    std::vector<Strips> m_strips;              // m_stripsUsed of them in use
    std::vector<uint32_t> m_stripBase;         // each one's pixel colour before it began
    std::vector<const EdgeLine*> m_stripLine;  // and its edge
    size_t m_stripsUsed = 0;
    std::vector<int> m_block;  // per pixel: its strips, or its block of m_groups
    float m_fill[3] = {0, 0, 0}, m_pen[3] = {0, 0, 0};
#if defined(FACETTA_RASTER_SSE2)
    __m128 m_fill4 = _mm_setzero_ps(), m_pen4 = _mm_setzero_ps();
#endif
    std::vector<int> m_count;     // and how many of the block it uses
    std::vector<int> m_used;      // the pixels with a record
    std::vector<Group> m_groups;  // kMaxGroups per block
};

// A triangle's shapes, ready for rows.
struct Prepared {
    ConvexSides fill;
    ConvexSides outer, inner;  // the outline: outer less inner (hasInner), or outer alone
    bool hasInner = false;
    int piecesAt = 0, pieces = 0;  // else the union of pieces, in the pool given to Prepare
    Tint tint;                     // the fill's
    uint32_t alpha = 0;
    int top = 0, bottom = 0;  // pixel rows it may touch, [top, bottom]
    // Strips: the edges as lines.
    bool strips = false;
    EdgeLine edges[3];
    StripLayer along[3];  // the fill and the outline over the strips of each edge
    StripLayer whole;     // the fill over all four strips
    // Each edge's s at pixel centres, signed to grow into the triangle: ax[k] x + b0[k] +
    // by[k] (y + 1/2); and 1 / ax[k] where ax[k] is not 0.
    double ax[3], b0[3], by[3], invAx[3];
};

void PrepareStrips(const PointI* v, int64_t shift, Prepared& p) {
    p.strips = true;
    double x[3], y[3];
    for (int k = 0; k < 3; ++k) x[k] = v[k].x, y[k] = static_cast<double>(v[k].y - shift);
    for (int k = 0; k < 3; ++k) {
        int i = k, j = (k + 1) % 3;
        // The same order for both triangles that share the edge.
        if (y[j] < y[i] || (y[j] == y[i] && x[j] < x[i])) std::swap(i, j);
        const double dx = x[j] - x[i], dy = y[j] - y[i], len = std::hypot(dx, dy);
        if (!(len > 0) || !std::isfinite(len)) {
            p.strips = false;
            return;
        }
        EdgeLine& e = p.edges[k];
        e.key0 = (uint64_t{static_cast<uint32_t>(v[i].x)} << 32) | static_cast<uint32_t>(v[i].y);
        e.key1 = (uint64_t{static_cast<uint32_t>(v[j].x)} << 32) | static_cast<uint32_t>(v[j].y);
        e.nx = -dy / len, e.ny = dx / len;
        e.c = e.nx * x[i] + e.ny * y[i];
        const int o = (k + 2) % 3;
        e.positive = e.nx * x[o] + e.ny * y[o] - e.c > 0;
        e.near = 0.5 + 0.5 * (std::fabs(e.nx) + std::fabs(e.ny));
        e.a = std::fabs(e.nx), e.b = std::fabs(e.ny);
        e.c0 = e.c - std::min(e.nx, 0.0) - std::min(e.ny, 0.0);
        e.level = std::min(e.a, e.b) < 1e-7;
        // Level: a plain fraction along the larger.
        e.inv = e.level ? 1 / std::max(e.a, e.b) : 1 / (2 * e.a * e.b);
    }
}

bool Prepare(const MeshFillTriangle& t, int64_t shift, ARGB color, const Tint& pen, Prepared& p,
             std::vector<ConvexSides>& pool) {
    PointI pts[3];
    for (int k = 0; k < 3; ++k) pts[k] = t.p[k];
    const PointF tri[3] = {{double(pts[0].x), double(pts[0].y - shift)},
                           {double(pts[1].x), double(pts[1].y - shift)},
                           {double(pts[2].x), double(pts[2].y - shift)}};
    p.fill = SidesOf(tri, 3);
    p.alpha = t.alpha;
    p.tint = MakeTint(color, t.alpha);
    p.pieces = 0;
    p.hasInner = false;
    p.outer.empty = true;
    const std::vector<PointF>*outer = nullptr, *inner = nullptr;
    PointI moved[3];
    for (int k = 0; k < 3; ++k) moved[k] = {pts[k].x, static_cast<int32_t>(pts[k].y - shift)};
    p.strips = false;
    double ymin = 1e300, ymax = -1e300;
    auto reach = [&](const ConvexSides& c) {
        if (c.empty) return;
        ymin = std::min(ymin, c.ymin);
        ymax = std::max(ymax, c.ymax);
    };
    if (ConvexStroke(moved, 3, outer, inner)) {
        p.outer = SidesOf(outer->data(), outer->size());
        reach(p.outer);
        if (!inner->empty()) {
            p.inner = SidesOf(inner->data(), inner->size());
            p.hasInner = !p.inner.empty;
        }
        if (p.hasInner) PrepareStrips(pts, shift, p);
        if (p.strips) {
            for (int k = 0; k < 3; ++k) {
                const EdgeLine& e = p.edges[k];
                const double sign = e.positive ? 1 : -1;
                p.ax[k] = sign * e.nx;
                p.b0[k] = sign * (e.nx * 0.5 - e.c);
                p.by[k] = sign * e.ny;
                p.invAx[k] = p.ax[k] != 0 ? 1 / p.ax[k] : 0;
            }
            const float a = p.tint.a;
            p.whole = Then(kNoLayer, 0, 3, a, true);
            for (int k = 0; k < 3; ++k) {
                const bool positive = p.edges[k].positive;
                const StripLayer fill = Then(kNoLayer, positive ? 2 : 0, positive ? 3 : 1, a, true);
                p.along[k] = Then(fill, 1, 2, pen.a, false);
            }
        }
    } else {
        p.piecesAt = static_cast<int>(pool.size());
        for (const std::vector<PointF>& piece : StrokeUnion(moved, 3)) {
            pool.push_back(SidesOf(piece.data(), piece.size()));
            reach(pool.back());
        }
        p.pieces = static_cast<int>(pool.size()) - p.piecesAt;
    }
    reach(p.fill);
    if (ymin > ymax) return false;
    p.top = static_cast<int>(Clamp(std::floor(ymin), -2, 2e9));
    p.bottom = static_cast<int>(Clamp(std::floor(ymax), -2, 2e9));
    return true;
}

// Floor of a / b for b > 0.
inline int FloorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// The pixels of the row a shape covers whole: [first, last], empty when first > last.
inline void WholePixels(const RowSpans& r, int& first, int& last) {
    first = FloorDiv(r.maxLo + kN - 1, kN);
    last = FloorDiv(r.minHi - (kN - 1), kN);
}

class OutlinedMesh {
public:
    OutlinedMesh(Picture& dst, const ClipBox& clip) : m_dst(dst), m_clip(clip) {}

    void Draw(int firstRow, const MeshFillTriangle* tris, size_t count, ARGB color, ARGB pen) {
        const Tint penTint = MakeTint(pen, pen >> 24);
        thread_local std::vector<Prepared> prepared;
        thread_local std::vector<ConvexSides> pool;
        prepared.resize(count);
        pool.clear();
        m_pool = &pool;
        size_t n = 0;
        for (size_t i = 0; i < count; ++i) {
            Prepared& p = prepared[n];
            if (Prepare(tris[i], firstRow, color, penTint, p, pool) && p.bottom >= m_clip.y0 &&
                p.top < m_clip.y1)
                ++n;
        }
        prepared.resize(n);
        size_t most = 0;
        for (const Prepared& p : prepared) most = std::max(most, static_cast<size_t>(p.pieces));
        m_pieceSpans.resize(most);
        thread_local RowRecords records;
        records.Reset(m_dst.Width());
        records.SetColors(MakeTint(color, 255), penTint);
        // The rows each triangle reaches, side by side: a row looks through them all.
        thread_local std::vector<int> top, bottom;
        top.resize(n);
        bottom.resize(n);
        for (size_t i = 0; i < n; ++i) top[i] = prepared[i].top, bottom[i] = prepared[i].bottom;
        for (int y = m_clip.y0; y < m_clip.y1; ++y) {
            uint32_t* row = m_dst.Row(y);
            for (size_t i = 0; i < n; ++i)
                if (y >= top[i] && y <= bottom[i]) DrawRow(prepared[i], y, row, pen, records);
            records.Resolve(row);
        }
    }

private:
    void DrawRow(const Prepared& p, int y, uint32_t* row, ARGB pen, RowRecords& records) {
        const Tint& fillTint = p.tint;
        const Tint penTint = MakeTint(pen, pen >> 24);
        if (p.strips) return DrawStripRow(p, y, row, fillTint, penTint, records);
        Spans(p, y);
        int x0 = INT32_MAX, x1 = INT32_MIN;
        auto widen = [&](const RowSpans& r) {
            if (r.minLo > r.maxHi) return;
            x0 = std::min(x0, FloorDiv(r.minLo, kN));
            x1 = std::max(x1, FloorDiv(r.maxHi, kN));
        };
        if (p.alpha != 0) widen(m_fill);
        widen(m_outer);
        for (int i = 0; i < p.pieces; ++i) widen(m_pieceSpans[static_cast<size_t>(i)]);
        x0 = std::max(x0, m_clip.x0);
        x1 = std::min(x1, m_clip.x1 - 1);
        for (int x = x0; x <= x1; ++x) Pixel(p, x, y, row, fillTint, penTint, records);
    }

    // The shapes' points on the rows of points of pixel row y.
    void Spans(const Prepared& p, int y) {
        const int limit = m_dst.Width() * kN;
        if (p.alpha != 0) SpansOf(p.fill, y, limit, m_fill);
        SpansOf(p.outer, y, limit, m_outer);
        for (int i = 0; i < p.pieces; ++i)
            SpansOf((*m_pool)[static_cast<size_t>(p.piecesAt + i)], y, limit,
                    m_pieceSpans[static_cast<size_t>(i)]);
        if (p.hasInner) SpansOf(p.inner, y, limit, m_inner);
    }

    // A row of a triangle whose edges can take strips: pixels inside the inner shape get the
    // fill as a span, pixels along one edge strips, pixels round a corner groups of points.
    void DrawStripRow(const Prepared& p, int y, uint32_t* row, const Tint& fillTint,
                      const Tint& penTint, RowRecords& records) {
        const double py = y + 0.5;
        // Columns by edge: where s_k >= near_k (clear of its lines), s_k >= -near_k (may meet
        // them or lie inside), and between (near).
        double b[3];
        double glo = -1e18, ghi = 1e18, ilo = -1e18, ihi = 1e18;
        int nearLo[3], nearHi[3];
        for (int k = 0; k < 3; ++k) {
            b[k] = p.b0[k] + p.by[k] * py;
            const double near = p.edges[k].near;
            if (p.ax[k] != 0) {
                const double reach = (-b[k] - near) * p.invAx[k],
                             clear = (near - b[k]) * p.invAx[k];
                // Near: reach <= x < clear, or the other way round.
                if (p.ax[k] > 0) {
                    glo = std::max(glo, reach), ilo = std::max(ilo, clear);
                    nearLo[k] = INT32_MIN;
                    nearHi[k] = static_cast<int>(std::ceil(Clamp(clear, -4, 2e9))) - 1;
                } else {
                    ghi = std::min(ghi, reach), ihi = std::min(ihi, clear);
                    nearLo[k] = static_cast<int>(std::floor(Clamp(clear, -4, 2e9))) + 1;
                    nearHi[k] = INT32_MAX;
                }
            } else {
                if (b[k] + near < 0) return;
                const bool isNear = b[k] < near;
                if (isNear) ilo = 1, ihi = 0;
                nearLo[k] = isNear ? INT32_MIN : INT32_MAX;
                nearHi[k] = isNear ? INT32_MAX : INT32_MIN;
            }
        }
        const int x0 = std::max(m_clip.x0, static_cast<int>(std::ceil(Clamp(glo, -4, 2e9))));
        const int x1 = std::min(m_clip.x1 - 1, static_cast<int>(std::floor(Clamp(ghi, -4, 2e9))));
        if (x0 > x1) return;
        int in0 = std::max(x0, static_cast<int>(std::ceil(Clamp(ilo, -4, 2e9))));
        int in1 = std::min(x1, static_cast<int>(std::floor(Clamp(ihi, -4, 2e9))));
        if (in0 > in1) in0 = x1 + 1, in1 = x1;
        if (p.alpha != 0 && in0 <= in1) {
            BlendSpanOntoOpaque(row + in0, in1 - in0 + 1, fillTint.rgb, fillTint.alpha);
            records.ApplyWhole(in0, in1, fillTint, p.whole);
        }
        bool spans = false;
        auto run = [&](int from, int to) {
            for (int x = from; x <= to; ++x) {
                // A pixel that clears the inner side of two edges meets only the third edge's
                // lines: strips. Nearer two edges (a corner), groups of points.
                const int n0 = x >= nearLo[0] && x <= nearHi[0];
                const int n1 = x >= nearLo[1] && x <= nearHi[1];
                const int n2 = x >= nearLo[2] && x <= nearHi[2];
                if (n0 + n1 + n2 == 1) {
                    const int edge = n0 ? 0 : n1 ? 1 : 2;
                    if (!records.Along(x, y, row[x], p.edges[edge], p.along[edge]))
                        records.AlongOnPoints(x, y, p.edges[edge], p.alpha != 0, fillTint, penTint);
                    continue;
                }
                if (!spans) {
                    Spans(p, y);
                    spans = true;
                }
                Pixel(p, x, y, row, fillTint, penTint, records);
            }
        };
        run(x0, in0 - 1);
        run(in1 + 1, x1);
    }

    // Pixel x of a triangle's row y, by its points (Spans() done for the row).
    void Pixel(const Prepared& p, int x, int y, uint32_t* row, const Tint& fillTint,
               const Tint& penTint, RowRecords& records) {
        const bool fills = p.alpha != 0;
        const bool outline = p.pieces == 0;  // outer less inner (or outer alone), else a union
        const Cover f = fills ? CoverAt(m_fill, x) : Cover::None;
        Cover o = Cover::None, in = Cover::None;
        if (outline) {
            o = CoverAt(m_outer, x);
            if (o != Cover::None && p.hasInner) in = CoverAt(m_inner, x);
        } else {
            for (int i = 0; i < p.pieces && o != Cover::Whole; ++i) {
                const Cover c = CoverAt(m_pieceSpans[static_cast<size_t>(i)], x);
                if (c != Cover::None) o = c;
            }
        }
        const Cover r = in == Cover::Whole ? Cover::None : in == Cover::Part ? Cover::Part : o;
        if (f == Cover::None && r == Cover::None) return;
        const bool part = f == Cover::Part || r == Cover::Part;
        if (!part && !records.Has(x)) {
            if (f == Cover::Whole) row[x] = LerpOpaque(row[x], fillTint.rgb, fillTint.alpha);
            if (r == Cover::Whole) row[x] = LerpOpaque(row[x], penTint.rgb, penTint.alpha);
            return;
        }
        if (!records.Has(x))
            records.Open(x, row[x]);
        else
            records.ToGroups(x, y);
        if (f == Cover::Whole) {
            records.Apply(x, nullptr, fillTint);
        } else if (f == Cover::Part) {
            const Mask m = MaskAt(m_fill, x);
            records.Apply(x, &m, fillTint);
        }
        if (r == Cover::Whole) {
            records.Apply(x, nullptr, penTint);
        } else if (r == Cover::Part) {
            Mask m;
            if (outline) {
                m = o == Cover::Whole ? kAll : MaskAt(m_outer, x);
                if (in == Cover::Part) m = AndNot(m, MaskAt(m_inner, x));
            } else {
                m = Mask{};
                for (int i = 0; i < p.pieces; ++i)
                    m = Or(m, MaskAt(m_pieceSpans[static_cast<size_t>(i)], x));
            }
            records.Apply(x, &m, penTint);
        }
    }

    Picture& m_dst;
    ClipBox m_clip;
    RowSpans m_fill, m_outer, m_inner;
    std::vector<RowSpans> m_pieceSpans;  // of a union's pieces
    const std::vector<ConvexSides>* m_pool = nullptr;
};

inline void Draw(Picture& dst, const ClipBox& clip, int firstRow, const MeshFillTriangle* tris,
                 size_t count, ARGB color, ARGB pen) {
    OutlinedMesh(dst, clip).Draw(firstRow, tris, count, color, pen);
}

}  // namespace outlined
}  // namespace
