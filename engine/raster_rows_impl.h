#pragma once
// The code behind raster_rows.h, built into each file that includes it for that file's
// processor (internal linkage): raster_rows_plain.cpp for any, raster_avx2.cpp for those with AVX2.
// Both builds round alike (no FMA) and give the same bytes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster_pixels.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace {
namespace rows {

using raster_internal::CoverageAlpha;
using raster_internal::FillRule;
using raster_rows::LeanEdge;
using raster_rows::Paint;
#if defined(FACETTA_RASTER_SSE2)
using raster_internal::CoverageAlpha4;
using raster_internal::Lerp4;
#endif

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

#if defined(FACETTA_RASTER_SSE2)
// Span at the coverage of a row's inside: nothing at alpha 0, a plain fill at 255.
inline void LerpSpanAtCoverage(uint32_t* p, int n, const Paint& paint, float sum) {
    const uint32_t a = CoverageAlpha<FillRule::NonZero>(sum, paint.alpha);
    if (a == 0 || n <= 0) return;
    if (a == 255)
        std::fill(p, p + n, 0xFF000000u | paint.rgb);
    else
        LerpSpan(p, n, paint.rgb, a);
}

// A piece of edge within a row, h high (signed, for its own layer, 0 for the other), from lo
// to hi across it, w = hi - lo wide, x relative to its run's first pixel. Right of x = c it
// leaves the area h G(c), G(c) = u^2 / 2w + max(c - hi, 0) with u = c - lo clamped to [0, w]:
// 0 up to lo, (c - lo)^2 / 2w across, c - (lo + hi) / 2 beyond.
struct Piece {
    float lo, hi, w, inv2w;  // inv2w = 1 / 2w, 0 for a piece taken as vertical
    float h[2];
};

// Where a piece lies in the row, in pixels.
struct Extent {
    double lo, hi;
    int first, last;  // pixels it crosses
};

#if defined(__AVX2__)
// Four opaque pixels as 16-bit channels, pixels 0 and 1 in the low half, 2 and 3 in the high.
inline __m256i Widen(__m128i p) {
    return _mm256_cvtepu8_epi16(p);
}
inline __m128i Narrow(__m256i p16) {
    return _mm_packus_epi16(_mm256_castsi256_si128(p16), _mm256_extracti128_si256(p16, 1));
}

// Lerp4 on widened pixels: the same arithmetic, so the same bytes; a second layer goes on
// without narrowing in between.
inline __m256i Lerp16(__m256i d16, __m256i s16, __m128i alphas) {
    // Each pixel's alpha (the low byte of its lane) into the four 16-bit channels of that pixel.
    const __m256i spread =
        _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 4, -1, 4, -1, 4, -1, 4, -1,  //
                         8, -1, 8, -1, 8, -1, 8, -1, 12, -1, 12, -1, 12, -1, 12, -1);
    const __m256i a16 = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(alphas), spread);
    const __m256i v = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(d16, _mm256_sub_epi16(_mm256_set1_epi16(255), a16)),
                         _mm256_mullo_epi16(s16, a16)),
        _mm256_set1_epi16(128));
    return _mm256_mulhi_epu16(v, _mm256_set1_epi16(257));
}
#endif

// The area piece r leaves in each pixel of the group of four from x = b on (x relative to the
// piece's run): G at the pixels' right ends less G at their left ends.
#if defined(__AVX2__)
struct GroupEnds {
    __m256 c;  // the four left ends, then the four right ends
    explicit GroupEnds(int b)
        : c(_mm256_add_ps(_mm256_set1_ps(static_cast<float>(b)),
                          _mm256_setr_ps(0, 1, 2, 3, 1, 2, 3, 4))) {}
};
inline __m128 Area4(const GroupEnds& at, float lo, float hi, float w, float inv2w) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 u = _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(at.c, _mm256_set1_ps(lo)), zero),
                                   _mm256_set1_ps(w));
    const __m256 g = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(u, u), _mm256_set1_ps(inv2w)),
                                   _mm256_max_ps(_mm256_sub_ps(at.c, _mm256_set1_ps(hi)), zero));
    return _mm_sub_ps(_mm256_extractf128_ps(g, 1), _mm256_castps256_ps128(g));
}
#else
struct GroupEnds {
    __m128 c0, c1;  // the four left ends, the four right ends
    explicit GroupEnds(int b)
        : c0(_mm_add_ps(_mm_set1_ps(static_cast<float>(b)), _mm_setr_ps(0, 1, 2, 3))),
          c1(_mm_add_ps(c0, _mm_set1_ps(1))) {}
};
inline __m128 Area4(const GroupEnds& at, float lo, float hi, float w, float inv2w) {
    const __m128 zero = _mm_setzero_ps(), vlo = _mm_set1_ps(lo), vhi = _mm_set1_ps(hi),
                 vw = _mm_set1_ps(w), vinv2w = _mm_set1_ps(inv2w);
    auto g = [&](__m128 c) {
        const __m128 u = _mm_min_ps(_mm_max_ps(_mm_sub_ps(c, vlo), zero), vw);
        return _mm_add_ps(_mm_mul_ps(_mm_mul_ps(u, u), vinv2w),
                          _mm_max_ps(_mm_sub_ps(c, vhi), zero));
    };
    return _mm_sub_ps(g(at.c1), g(at.c0));
}
#endif

// The four pixels at p blended with each layer's colour in turn at its coverage.
template <int layers>
struct GroupBlender {
    __m128 alpha[layers];
#if defined(__AVX2__)
    __m256i s16[layers];
#else
    __m128i s16[layers];
#endif
    explicit GroupBlender(const Paint* paints) {
        for (int k = 0; k < layers; ++k) {
            alpha[k] = _mm_set1_ps(paints[k].alpha);
            const __m128i s = _mm_set1_epi32(static_cast<int>(0xFF000000u | paints[k].rgb));
#if defined(__AVX2__)
            s16[k] = Widen(s);
#else
            s16[k] = _mm_unpacklo_epi8(s, _mm_setzero_si128());
#endif
        }
    }
    // Of the four pixels at p, the first `count` only where the row ends before the group does.
    void Blend(uint32_t* p, const __m128* cover, int count) const {
        if (count >= 4) {
            __m128i* q = reinterpret_cast<__m128i*>(p);
            _mm_storeu_si128(q, Blend(_mm_loadu_si128(q), cover));
            return;
        }
#if defined(__AVX2__)
        int* q = reinterpret_cast<int*>(p);
        const __m128i mask = _mm_cmpgt_epi32(_mm_set1_epi32(count), _mm_setr_epi32(0, 1, 2, 3));
        _mm_maskstore_epi32(q, mask, Blend(_mm_maskload_epi32(q, mask), cover));
#else
        alignas(16) uint32_t px[4] = {0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u};
        for (int i = 0; i < count; ++i) px[i] = p[i];
        _mm_store_si128(reinterpret_cast<__m128i*>(px),
                        Blend(_mm_load_si128(reinterpret_cast<const __m128i*>(px)), cover));
        for (int i = 0; i < count; ++i) p[i] = px[i];
#endif
    }

private:
    __m128i Blend(__m128i d, const __m128* cover) const {
#if defined(__AVX2__)
        __m256i d16 = Widen(d);
        for (int L = 0; L < layers; ++L)
            d16 = Lerp16(d16, s16[L], CoverageAlpha4(cover[L], alpha[L]));
        return Narrow(d16);
#else
        for (int L = 0; L < layers; ++L) d = Lerp4(d, s16[L], CoverageAlpha4(cover[L], alpha[L]));
        return d;
#endif
    }
};

// Pixels [0, n) of row (n a multiple of four; those from `limit` on are past the row's end and
// left alone), four at a time: each layer's coverage is `sum` (what lies left of the run) plus
// the pieces' areas, every piece taken whatever side of the group it lies on (left of it the
// closed form gives whole pixels, right of it nothing).
template <int layers>
inline void Groups(uint32_t* row, int n, int limit, const Piece* pieces, size_t count,
                   const float* sum, const Paint* paints) {
    const GroupBlender<layers> blender(paints);
    for (int b = 0; b < n && b < limit; b += 4) {
        const GroupEnds at(b);
        __m128 cover[layers];
        for (int L = 0; L < layers; ++L) cover[L] = _mm_set1_ps(sum[L]);
        for (size_t i = 0; i < count; ++i) {
            const Piece& r = pieces[i];
            const __m128 area = Area4(at, r.lo, r.hi, r.w, r.inv2w);
            for (int L = 0; L < layers; ++L)
                cover[L] = _mm_add_ps(cover[L], _mm_mul_ps(area, _mm_set1_ps(r.h[L])));
        }
        blender.Blend(row + b, cover, limit - b);
    }
}

// One row from its pieces, sorted by first pixel.
template <int layers>
inline void DrawPieces(uint32_t* row, int width, const Extent* ex, Piece* pc, size_t np,
                       const Paint* paints) {
    if (np == 0) return;
    // Runs of pieces whose groups of four pixels meet, and the groups' ends; the open run is
    // kept in registers (read back from memory, it would wait on the store).
    struct Run {
        size_t from, to;  // pieces [from, to)
        int first, end;   // pixels [first, end), a multiple of four long
    };
    Run runs[16];
    size_t nr = 0;
    int first = ex[0].first, end = first + ((ex[0].last - first + 4) & ~3);
    size_t from = 0;
    for (size_t i = 1; i < np; ++i) {
        if (ex[i].first < end) {
            end = std::max(end, first + ((ex[i].last - first + 4) & ~3));
        } else {
            runs[nr++] = {from, i, first, end};
            from = i;
            first = ex[i].first;
            end = first + ((ex[i].last - first + 4) & ~3);
        }
    }
    runs[nr++] = {from, np, first, end};
    for (size_t k = 0; k < nr; ++k) {
        const double base = runs[k].first;
        for (size_t i = runs[k].from; i < runs[k].to; ++i) {
            pc[i].lo = static_cast<float>(ex[i].lo - base);
            pc[i].hi = static_cast<float>(ex[i].hi - base);
            pc[i].w = pc[i].hi - pc[i].lo;
        }
    }
    float sum[2] = {0, 0};  // coverage left of the current run, per layer
    int done = 0;           // pixels before this are drawn
    for (size_t k = 0; k < nr; ++k) {
        const Run& run = runs[k];
        const int spanEnd = std::min(run.first, width);
        if (k > 0)
            for (int L = 0; L < layers; ++L)
                LerpSpanAtCoverage(row + done, spanEnd - done, paints[L], sum[L]);
        if (run.first >= width) break;  // the rest is past the row's end
        Groups<layers>(row + run.first, run.end - run.first, width - run.first, pc + run.from,
                       run.to - run.from, sum, paints);
        for (size_t i = run.from; i < run.to; ++i)
            for (int L = 0; L < layers; ++L) sum[L] += pc[i].h[L];
        done = run.end;
    }
}

// Rows without a vertex, where each shape has one edge on its left side and one on its
// right (slots 0 to 3 lie left, 4 to 7 right): each side's edges are drawn as one run, the
// inside between them as one span per layer at a coverage that stays the same all the way down.
// Where the two sides' groups would meet, both sides make one run.
template <int layers>
class Sides {
public:
    explicit Sides(const raster_rows::Rows& job) : m_job(job), m_blender(job.paints) {
        m_ok = job.count <= 2 * kMaxSide;
        for (size_t i = 0; m_ok && i < job.count; ++i) {
            const LeanEdge& e = job.edges[i];
            const int side = e.side < 4 ? 0 : 1, layer = layers == 2 ? e.layer : 0;
            if (m_n[side] == kMaxSide) {
                m_ok = false;
                break;
            }
            // A side's first layer's edges before the second's.
            size_t j = m_n[side]++;
            for (; j > m_count[side][0] && layer == 0; --j) m_edges[side][j] = m_edges[side][j - 1];
            m_edges[side][j] = &e;
            ++m_count[side][layer];
            if (side == 0) m_inside[layer] += static_cast<float>(e.dir);
        }
        m_ok = m_ok && m_n[0] > 0 && m_n[1] > 0;
        for (int L = 0; L < layers; ++L)
            m_insideAlpha[L] = CoverageAlpha<FillRule::NonZero>(m_inside[L], job.paints[L].alpha);
    }

    // Whether it takes these rows: one to four edges on each side.
    bool Ok() const { return m_ok; }

    void Row(int y) const {
        const double top = y;
        double lo[2][kMaxSide], hi[2][kMaxSide];
        int first[2], last[2];
        for (int side = 0; side < 2; ++side) {
            int f = INT32_MAX, l = INT32_MIN;
            for (size_t i = 0; i < m_n[side]; ++i) {
                const LeanEdge& e = *m_edges[side][i];
                const double xa = e.x0 + (top - e.y0) * e.dxdy,
                             xb = e.x0 + (top + 1.0 - e.y0) * e.dxdy;
                lo[side][i] = std::min(xa, xb);
                hi[side][i] = std::max(xa, xb);
                f = std::min(f, static_cast<int>(lo[side][i]));
                l = std::max(l, static_cast<int>(hi[side][i]));
            }
            first[side] = f;
            last[side] = l;
        }
        const int end0 = first[0] + ((last[0] - first[0] + 4) & ~3);
        const bool meet = end0 > first[1];
        const int base[2] = {first[0], meet ? first[0] : first[1]};
        Piece pieces[2][kMaxSide];
        for (int side = 0; side < 2; ++side)
            for (size_t i = 0; i < m_n[side]; ++i) {
                const LeanEdge& e = *m_edges[side][i];
                Piece& p = pieces[side][i];
                p.lo = static_cast<float>(lo[side][i] - base[side]);
                p.hi = static_cast<float>(hi[side][i] - base[side]);
                p.w = p.hi - p.lo;
                p.inv2w = e.halfRowsPerColumn;  // across the whole row the edge is |dxdy| wide
                p.h[0] = static_cast<float>(e.dir);
            }
        uint32_t* row = m_job.pixels + static_cast<size_t>(y) * m_job.stride;
        const float none[2] = {0, 0};
        if (meet) {
            const int l = std::max(last[0], last[1]);
            Draw<2>(row + first[0], (l - first[0] + 4) & ~3, m_job.width - first[0], pieces, none);
            return;
        }
        Draw<1>(row + first[0], end0 - first[0], m_job.width - first[0], &pieces[0], none);
        const int n = std::min(first[1], m_job.width) - end0;  // the inside, within the row
        for (int L = 0; L < layers && n > 0; ++L) {
            const uint32_t a = m_insideAlpha[L];
            uint32_t* p = row + end0;
            if (a == 255)
                std::fill(p, p + n, 0xFF000000u | m_job.paints[L].rgb);
            else if (a != 0)
                LerpSpan(p, n, m_job.paints[L].rgb, a);
        }
        Draw<1>(row + first[1], (last[1] - first[1] + 4) & ~3, m_job.width - first[1], &pieces[1],
                m_inside, 1);
    }

private:
    static constexpr size_t kMaxSide = 4;

    // Groups over the pieces of `sides` consecutive sides, the first being side `from` (a side's
    // pieces of the first layer before the second's, h in h[0]); `sum` is the coverage left of
    // them.
    template <int sides>
    void Draw(uint32_t* p, int n, int limit, const Piece (*pieces)[kMaxSide], const float* sum,
              int from = 0) const {
        for (int b = 0; b < n && b < limit; b += 4) {
            const GroupEnds at(b);
            __m128 cover[layers];
            for (int L = 0; L < layers; ++L) cover[L] = _mm_set1_ps(sum[L]);
            for (int k = 0; k < sides; ++k) {
                const Piece* r = pieces[k];
                for (int L = 0; L < layers; ++L)
                    for (const Piece* e = r + m_count[from + k][L]; r < e; ++r)
                        cover[L] =
                            _mm_add_ps(cover[L], _mm_mul_ps(Area4(at, r->lo, r->hi, r->w, r->inv2w),
                                                            _mm_set1_ps(r->h[0])));
            }
            m_blender.Blend(p + b, cover, limit - b);
        }
    }

    const raster_rows::Rows& m_job;
    GroupBlender<layers> m_blender;
    bool m_ok = false;
    const LeanEdge* m_edges[2][kMaxSide] = {};
    size_t m_n[2] = {0, 0};
    size_t m_count[2][2] = {{0, 0}, {0, 0}};  // per side, per layer
    float m_inside[2] = {0, 0};
    uint32_t m_insideAlpha[2] = {0, 0};
};

template <int layers>
int DrawClosedForm(const raster_rows::Rows& job) {
    constexpr size_t kMax = 16;
    if (job.count > kMax) return job.y;
    if (job.whole) {
        const Sides<layers> sides(job);
        if (sides.Ok()) {
            for (int y = job.y; y < job.yEnd; ++y) sides.Row(y);
            return job.yEnd;
        }
    }
    for (int y = job.y; y < job.yEnd; ++y) {
        Extent ex[kMax];
        Piece pc[kMax];
        size_t np = 0;
        const double top = y, bottom = y + 1.0;
        for (size_t i = 0; i < job.count; ++i) {
            const LeanEdge& e = job.edges[i];
            const double ya = job.whole ? top : std::max(e.y0, top),
                         yb = job.whole ? bottom : std::min(e.y1, bottom);
            if (!(ya < yb)) continue;
            const double xa = e.x0 + (ya - e.y0) * e.dxdy, xb = e.x0 + (yb - e.y0) * e.dxdy;
            const double lo = std::min(xa, xb), hi = std::max(xa, xb);
            // Across a whole row the edge is |dxdy| wide; a piece nearly vertical is taken as such.
            const float inv2w = job.whole
                                    ? e.halfRowsPerColumn
                                    : (hi - lo > 1e-6 ? static_cast<float>(0.5 / (hi - lo)) : 0.0f);
            const float h = static_cast<float>((yb - ya) * e.dir);
            const bool second = layers == 2 && e.layer == 1;
            const Extent x{lo, hi, static_cast<int>(lo), static_cast<int>(hi)};
            const Piece p{0, 0, 0, inv2w, {second ? 0.0f : h, second ? h : 0.0f}};
            // In slot order the pieces are nearly always sorted already.
            size_t j = np++;
            for (; j > 0 && ex[j - 1].first > x.first; --j) {
                ex[j] = ex[j - 1];
                pc[j] = pc[j - 1];
            }
            ex[j] = x;
            pc[j] = p;
        }
        DrawPieces<layers>(job.pixels + static_cast<size_t>(y) * job.stride, job.width, ex, pc, np,
                           job.paints);
    }
    return job.yEnd;
}
#endif  // FACETTA_RASTER_SSE2

}  // namespace rows
}  // namespace
