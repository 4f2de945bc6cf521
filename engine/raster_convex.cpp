// Convex shapes with no edge list to sort and no active edges to keep: per row each edge's
// part is added straight into the cells, and each side of each polygon touches one run of
// cells. Rows without a vertex go in closed form where the picture is opaque.
#include "raster_convex.h"

#include <cstring>

#include "raster_rows.h"

#if defined(FACETTA_RASTER_SSE2)
#include <emmintrin.h>
#endif

namespace raster_internal {

namespace {

using raster_rows::LeanEdge;
using raster_rows::Paint;

// Up to two convex shapes (see ConvexLayer), prepared for drawing a row at a time, and where
// that drawing has got to: rows are drawn in order, from rowBegin to rowEnd.
struct ConvexPlan {
    static constexpr size_t kMaxEdges = 16;
    LeanEdge edges[kMaxEdges];     // in slot order
    double breaks[2 * kMaxEdges];  // the edges' ends, sorted
    Paint paints[2];
    uint8_t ne = 0, np = 0;
    bool clamp = false;       // may reach the clip's sides
    bool closedForm = false;  // rows may be drawn in closed form (raster_rows)
    int rowBegin = 0, rowEnd = 0;
    // Rows before segEnd have no vertex inside them and share the active edges.
    size_t next = 0;  // first break below the rows done
    int segEnd = INT32_MIN;
    uint8_t na = 0;
    LeanEdge active[kMaxEdges];  // the edges of those rows
};

// Per-thread scratch kept between calls: a picture's worth of triangles must not allocate

// give pixel by pixel; the last one to three through a copy, for the end of a row.
template <int layers>
void BlendCovered(uint32_t* p, int n, float* const* sums, const Paint* paints) {
#if defined(FACETTA_RASTER_SSE2)
    __m128i s16[layers];
    __m128 alpha[layers];
    for (int k = 0; k < layers; ++k) {
        s16[k] = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(0xFF000000u | paints[k].rgb)),
                                   _mm_setzero_si128());
        alpha[k] = _mm_set1_ps(paints[k].alpha);
    }
    const int groups = n & ~3;
    int i = 0;
    for (; i < groups; i += 4) {
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        for (int k = 0; k < layers; ++k)
            d = Lerp4(d, s16[k], CoverageAlpha4(_mm_loadu_ps(sums[k] + i), alpha[k]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), d);
    }
    if (i < n) {
        // The last one to three pixels, through a copy.
        const int m = n - i;
        alignas(16) uint32_t px[4] = {0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u};
        alignas(16) float cover[layers][4] = {};
        std::memcpy(px, p + i, static_cast<size_t>(m) * 4);
        for (int k = 0; k < layers; ++k)
            std::memcpy(cover[k], sums[k] + i, static_cast<size_t>(m) * 4);
        __m128i d = _mm_load_si128(reinterpret_cast<const __m128i*>(px));
        for (int k = 0; k < layers; ++k)
            d = Lerp4(d, s16[k], CoverageAlpha4(_mm_load_ps(cover[k]), alpha[k]));
        _mm_store_si128(reinterpret_cast<__m128i*>(px), d);
        std::memcpy(p + i, px, static_cast<size_t>(m) * 4);
    }
#else
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < layers; ++k)
            p[i] = LerpOpaque(p[i], paints[k].rgb,
                              CoverageAlpha<FillRule::NonZero>(sums[k][i], paints[k].alpha));
#endif
}

class ConvexFill : CellRows {
public:
    ConvexFill(Picture& dst, const ClipBox& clip) : CellRows(dst, clip) {}

    // Up to two such shapes, each over the one before, in one pass over the rows: a pixel is
    // loaded and stored once for both. With opaqueDst the caller vouches that every pixel of
    // the picture is opaque, which lets whole groups of pixels blend at once.
    bool FillConvexLayers(const ConvexLayer* layers, int count, bool opaqueDst) {
        ConvexPlan plan;
        if (!PlanConvex(layers, count, plan)) return false;
        if (opaqueDst) {
            for (int y = plan.rowBegin; y < plan.rowEnd;) y = PlanRows(plan, y);
            return true;
        }
        // Any destination: one layer at a time, each pixel blended on its own.
        for (int k = 0; k < plan.np; ++k) {
            ConvexPlan one = plan;
            one.ne = 0;
            for (size_t i = 0; i < plan.ne; ++i)
                if (plan.edges[i].layer == k) one.edges[one.ne++] = plan.edges[i];
            one.paints[0] = plan.paints[k];
            one.np = 1;
            SortBreaks(one);
            for (int y = one.rowBegin; y < one.rowEnd;)
                y = one.clamp ? ConvexRows<true, 0>(one, y) : ConvexRows<false, 0>(one, y);
        }
        return true;
    }

    // Prepares up to two shapes for drawing row by row. Returns false for what it cannot take
    // (not convex, too many edges, not finite); a plan with no rows draws nothing.
    bool PlanConvex(const ConvexLayer* layers, int count, ConvexPlan& plan) {
        constexpr size_t kMax = ConvexPlan::kMaxEdges;
        LeanEdge edges[kMax];
        size_t ne = 0;
        double ymin = 0, ymax = 0, xmin = 0, xmax = 0;
        bool any = false;
        for (int L = 0; L < count; ++L) {
            const PointF* polys[2] = {layers[L].outer, layers[L].hole};
            const size_t counts[2] = {layers[L].no, layers[L].nh};
            for (int k = 0; k < 2; ++k) {
                const PointF* p = polys[k];
                const size_t n = counts[k];
                if (n == 0) continue;
                if (n < 3 || ne + n > kMax) return false;
                // The hole counts the other way round from the outer polygon.
                const double area = SignedArea(p, n);
                if (!(area != 0) || !std::isfinite(area)) return false;
                const double sign = (area > 0) == (k == 0) ? 1 : -1;
                // Each side's run of cells gets a slot in the order the runs usually lie from
                // left to right (a layer's hole inside its polygon, the second layer's outline
                // around the first one's fill), so that sorting them seldom moves anything. With
                // a positive area (y pointing down) the edges going down make the right side.
                static constexpr int8_t kLeftSlot[2][2] = {{1, 2}, {0, 3}},
                                        kRightSlot[2][2] = {{6, 5}, {7, 4}};
                const int8_t down = area > 0 ? kRightSlot[L][k] : kLeftSlot[L][k];
                const int8_t up = area > 0 ? kLeftSlot[L][k] : kRightSlot[L][k];
                for (size_t i = 0; i < n; ++i) {
                    const PointF& a = p[i];
                    const PointF& b = p[i + 1 < n ? i + 1 : 0];
                    if (!std::isfinite(a.x) || !std::isfinite(a.y)) return false;
                    if (!any) {
                        ymin = ymax = a.y;
                        xmin = xmax = a.x;
                        any = true;
                    }
                    ymin = std::min(ymin, a.y);
                    ymax = std::max(ymax, a.y);
                    xmin = std::min(xmin, a.x);
                    xmax = std::max(xmax, a.x);
                    if (a.y == b.y) continue;
                    const int8_t layer = static_cast<int8_t>(L);
                    // Edges going down make one side of a convex polygon, edges going up the other.
                    const double dxdy = (b.x - a.x) / (b.y - a.y);
                    const float half = dxdy != 0 ? static_cast<float>(0.5 / std::fabs(dxdy)) : 0.0f;
                    if (a.y < b.y)
                        edges[ne++] = {a.x, a.y, b.y, dxdy, sign, half, down, layer};
                    else
                        edges[ne++] = {b.x, b.y, a.y, dxdy, -sign, half, up, layer};
                }
            }
        }
        // Layers that draw nothing are left out; what is left is drawn in order.
        int layerOf[2] = {-1, -1};
        plan.np = 0;
        for (int L = 0; L < count; ++L)
            if ((layers[L].color >> 24) != 0) {
                layerOf[L] = plan.np;
                plan.paints[plan.np++] = {layers[L].color & 0xFFFFFF,
                                          static_cast<float>(layers[L].color >> 24)};
            }
        // Edges in slot order (stable), so that every way through adds to a cell in one order.
        plan.ne = 0;
        for (size_t i = 0; i < ne; ++i) {
            if (layerOf[edges[i].layer] < 0) continue;
            LeanEdge e = edges[i];
            e.layer = static_cast<int8_t>(layerOf[e.layer]);
            size_t j = plan.ne++;
            for (; j > 0 && plan.edges[j - 1].side > e.side; --j) plan.edges[j] = plan.edges[j - 1];
            plan.edges[j] = e;
        }
        SortBreaks(plan);
        plan.rowBegin = plan.rowEnd = 0;
        if (m_dst.IsNull() || plan.ne == 0) return true;
        plan.rowBegin = static_cast<int>(std::floor(Clamp(ymin, m_cy0, m_cy1)));
        plan.rowEnd = static_cast<int>(std::ceil(Clamp(ymax, m_cy0, m_cy1)));
        // Rounding may take an x a hair beyond its vertices: only shapes near the clip's sides
        // need care there. At the picture's own sides a hair beyond is harmless: it leaves the
        // outer pixel's cover all but the same, and the row code stops at the row's end.
        const double left = m_cx0 == 0 ? 0.0 : m_cx0 + 1.0,
                     right = m_cx1 == m_w ? m_w : m_cx1 - 1.0;
        plan.clamp = !(xmin >= left && xmax <= right);
        // The closed form also takes shapes reaching past the picture's right side: it draws
        // nothing from the row's end on.
        plan.closedForm =
            xmin >= left && (xmax <= right || (m_cx1 == m_w && xmax <= m_w + 65536.0));
        const size_t need =
            static_cast<size_t>(m_w) + 3;  // an edge at the right side touches two cells past it
        for (auto& c : m_s.layerCells)
            if (c.size() < need) c.assign(need, 0.0f);
        for (auto& c : m_s.sums)
            if (c.size() < need) c.resize(need);
        return true;
    }

    // Draws row y of a plan onto an opaque picture, or more rows at once where it can; returns
    // the row to go on from. Rows are to come in order.
    int PlanRows(ConvexPlan& plan, int y) {
        if (y < plan.rowBegin || y >= plan.rowEnd) return plan.rowEnd;
        if (plan.np == 2)
            return plan.clamp ? ConvexRows<true, 2>(plan, y) : ConvexRows<false, 2>(plan, y);
        if (plan.np == 1)
            return plan.clamp ? ConvexRows<true, 1>(plan, y) : ConvexRows<false, 1>(plan, y);
        return plan.rowEnd;
    }

private:
    static void SortBreaks(ConvexPlan& plan) {
        for (size_t i = 0; i < plan.ne; ++i) {
            plan.breaks[2 * i] = plan.edges[i].y0;
            plan.breaks[2 * i + 1] = plan.edges[i].y1;
        }
        std::sort(plan.breaks, plan.breaks + 2 * plan.ne);
        plan.next = 0;
        plan.segEnd = INT32_MIN;
    }

    // One edge's part in a row, added to its layer's cells; returns the cells it touched.
    template <bool clamp, int layers>
    Interval AddEdgeRow(const LeanEdge& e, double top, double ya, double yb) {
        float* acc = m_s.layerCells[layers == 2 ? e.layer : 0].data();
        const double xa = e.x0 + (ya - e.y0) * e.dxdy, xb = e.x0 + (yb - e.y0) * e.dxdy;
        const double dya = (ya - top) * e.dir, dyb = (yb - top) * e.dir;
        if constexpr (clamp) {
            if (!(xa >= m_cx0 && xa <= m_cx1 && xb >= m_cx0 && xb <= m_cx1))
                return AddCellsClipped(acc, xa, dya, xb, dyb);
        }
        return AddCells(acc, xa, dya, xb, dyb);
    }

    // Row y of a plan, or more rows at once where it can; returns the row to go on from.
    // Layers 0: one layer onto any destination; 1 or 2: that many onto an opaque one.
    template <bool clamp, int layers>
    int ConvexRows(ConvexPlan& P, int y) {
        const double top = y, bottom = y + 1.0;
        if (y >= P.segEnd) {
            // Rows with no vertex inside them, up to the next vertex's height, have the same
            // edges throughout, one per side and each across the whole row: those rows go
            // without looking for edges.
            const size_t nb = 2 * size_t{P.ne};
            while (P.next < nb && P.breaks[P.next] <= top) ++P.next;
            const int cleanEnd =
                P.next < nb
                    ? static_cast<int>(std::min<double>(P.rowEnd, std::floor(P.breaks[P.next])))
                    : P.rowEnd;
            P.segEnd = INT32_MIN;
            if (cleanEnd - y >= 2) {
                P.na = 0;
                for (uint8_t i = 0; i < P.ne; ++i)
                    if (P.edges[i].y0 <= top && P.edges[i].y1 >= cleanEnd)
                        P.active[P.na++] = P.edges[i];
                P.segEnd = cleanEnd;
            }
        }
#if defined(FACETTA_RASTER_SSE2)
        // Onto an opaque picture, where the shape allows it: in closed form, a run of rows
        // without a vertex at once.
        if constexpr (layers > 0) {
            if (P.closedForm) {
                const bool whole = y < P.segEnd;
                const raster_rows::Rows job{m_dst.Row(0),
                                            static_cast<size_t>(m_w),
                                            m_w,
                                            y,
                                            whole ? P.segEnd : y + 1,
                                            whole ? P.active : P.edges,
                                            whole ? P.na : P.ne,
                                            whole,
                                            P.paints};
                const int stop = DrawClosedFormRows<layers>(job);
                if (stop > y) return stop;
            }
        }
#endif
        Interval runs[ConvexPlan::kMaxEdges];
        size_t n = 0;
        if (y < P.segEnd) {
            for (; n < P.na; ++n)
                runs[n] = AddEdgeRow<clamp, layers>(P.active[n], top, top, bottom);
        } else {
            Interval slots[8];
            for (Interval& s : slots) s = {INT32_MAX, -1};
            for (size_t i = 0; i < P.ne; ++i) {
                const LeanEdge& e = P.edges[i];
                const double ya = std::max(e.y0, top), yb = std::min(e.y1, bottom);
                if (!(ya < yb)) continue;
                const Interval touched = AddEdgeRow<clamp, layers>(e, top, ya, yb);
                Interval& s = slots[e.side];
                s.lo = std::min(s.lo, touched.lo);
                s.hi = std::max(s.hi, touched.hi);
            }
            for (const Interval& s : slots)
                if (s.hi >= 0) runs[n++] = s;
        }
        if constexpr (layers == 0) {
            m_s.cells.swap(m_s.layerCells[0]);  // BlendCells works on m_s.cells
            BlendCells<FillRule::NonZero>(
                y, (static_cast<uint32_t>(P.paints[0].alpha) << 24) | P.paints[0].rgb, runs, n);
            m_s.cells.swap(m_s.layerCells[0]);
        } else {
            BlendCellsOpaque<layers>(y, P.paints, runs, n);
        }
        return y + 1;
    }

#if defined(FACETTA_RASTER_SSE2)
    // The closed form in the selected build of the row code.
    template <int layers>
    static int DrawClosedFormRows(const raster_rows::Rows& job) {
#if defined(FACETTA_AVX2_ROWS)
        if (UseAvx2()) return raster_rows::DrawClosedFormAvx2<layers>(job);
#endif
        return raster_rows::DrawClosedFormPlain<layers>(job);
    }
#endif

    // BlendCells for one or two layers onto an opaque row: the running sums of each interval
    // are taken first, then its pixels blended four at a time.
    template <int layers>
    void BlendCellsOpaque(int y, const Paint* paints, Interval* iv, size_t count) {
        if (count == 0) return;
        const size_t merged = MergeIntervals(iv, count);
        uint32_t* row = m_dst.Row(y);
        float* cells[2] = {m_s.layerCells[0].data(), m_s.layerCells[1].data()};
        float* sums[2] = {m_s.sums[0].data(), m_s.sums[1].data()};
        float sum[2] = {0, 0};
        for (size_t i = 0; i < merged; ++i) {
            if (i > 0) {
                const int gapLo = iv[i - 1].hi + 1, gapHi = std::min(iv[i].lo, m_cx1);
                if (gapLo < gapHi)
                    for (int k = 0; k < layers; ++k)
                        BlendSpanOntoOpaque(
                            row + gapLo, gapHi - gapLo, paints[k].rgb,
                            CoverageAlpha<FillRule::NonZero>(sum[k], paints[k].alpha));
            }
            const int lo = iv[i].lo, hi = iv[i].hi;
#if defined(FACETTA_RASTER_SSE2)
            const int last = std::min(hi, m_cx1 - 1);
            if (last >= lo && lo + ((last - lo + 4) & ~3) <= m_w) {
                BlendGroups<layers>(row, lo, hi, last, cells, sum, paints);
                continue;
            }
#endif
            for (int k = 0; k < layers; ++k) {
                float s = sum[k];
                float* c = cells[k];
                float* out = sums[k] - lo;
                for (int x = lo; x <= hi; ++x) {
                    s += c[x];
                    c[x] = 0;
                    out[x] = s;
                }
                sum[k] = s;
            }
            // Cells beyond the clip's right side are only cleared.
            const int n = std::min(hi, m_cx1 - 1) - lo + 1;
            if (n <= 0) continue;
            BlendCovered<layers>(row + lo, n, sums, paints);
        }
    }

#if defined(FACETTA_RASTER_SSE2)
    // The cells [lo, hi] of each layer summed into its running sum and cleared, and the pixels
    // [lo, last] blended, four at a time: the row has room for the last group of four, whose
    // pixels past `last` are left as they are. The sums go from registers into the vector, not
    // through memory: the cells were just written one by one, and a wide load of narrow stores
    // would wait for them to reach the cache.
    template <int layers>
    static void BlendGroups(uint32_t* row, int lo, int hi, int last, float* const* cells,
                            float* sum, const Paint* paints) {
        __m128i s16[layers];
        __m128 alpha[layers];
        for (int k = 0; k < layers; ++k) {
            s16[k] = _mm_unpacklo_epi8(
                _mm_set1_epi32(static_cast<int>(0xFF000000u | paints[k].rgb)), _mm_setzero_si128());
            alpha[k] = _mm_set1_ps(paints[k].alpha);
        }
        const __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
        int x = lo;
        for (; x <= last; x += 4) {
            __m128i* q = reinterpret_cast<__m128i*>(row + x);
            __m128i d = _mm_loadu_si128(q);
            const int own = hi - x + 1;  // lanes whose cells belong to this interval
            const __m128 drawn =
                _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_set1_epi32(last - x + 1), lane));
            for (int k = 0; k < layers; ++k) {
                float* c = cells[k] + x;
                float c0 = c[0], c1 = 0, c2 = 0, c3 = 0;
                c[0] = 0;
                if (own >= 4) {
                    c1 = c[1], c2 = c[2], c3 = c[3];
                    c[1] = c[2] = c[3] = 0;
                } else if (own == 3) {
                    c1 = c[1], c2 = c[2];
                    c[1] = c[2] = 0;
                } else if (own == 2) {
                    c1 = c[1];
                    c[1] = 0;
                }
                const float s0 = sum[k] + c0, s1 = s0 + c1, s2 = s1 + c2, s3 = s2 + c3;
                sum[k] = s3;
                const __m128 v = _mm_and_ps(_mm_setr_ps(s0, s1, s2, s3), drawn);
                d = Lerp4(d, s16[k], CoverageAlpha4(v, alpha[k]));
            }
            _mm_storeu_si128(q, d);
        }
        // Cells beyond the clip's right side are only cleared.
        for (; x <= hi; ++x)
            for (int k = 0; k < layers; ++k) cells[k][x] = 0;
    }
#endif
};

}  // namespace

bool FillConvexLayers(Picture& dst, const ClipBox& clip, const ConvexLayer* layers, int count,
                      bool opaqueDst) {
    return ConvexFill(dst, clip).FillConvexLayers(layers, count, opaqueDst);
}

}  // namespace raster_internal
