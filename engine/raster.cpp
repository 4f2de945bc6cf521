#include "raster.h"
#include "raster_rows_impl.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// x / 255 rounded to nearest, exact for 0 <= x <= 255 * 255.
inline uint32_t Div255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// Clamps a double to [lo, hi] (NaN gives lo) before any conversion to int.
inline double Clamp(double v, double lo, double hi) { return v >= lo ? (v <= hi ? v : hi) : lo; }

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

#if defined(FACETTA_AVX2_ROWS)
// Whether to take the AVX2 code; FACETTA_NO_AVX2 in the environment keeps to the plain code,
// so that the tests can check both on one machine.
bool UseAvx2() {
    static const bool use = __builtin_cpu_supports("avx2") && !std::getenv("FACETTA_NO_AVX2");
    return use;
}
#endif

// Blends colour s at constant alpha a over n opaque pixels.
void BlendSpanOpaque(uint32_t* p, int n, uint32_t s, uint32_t a) {
    if (a == 0 || n <= 0) return;
    if (a == 255) {
        std::fill(p, p + n, 0xFF000000u | s);
        return;
    }
#if defined(FACETTA_AVX2_ROWS)
    if (UseAvx2()) return raster_rows::BlendSpanAvx2(p, n, s, a);
#endif
    raster_rows::BlendSpan(p, n, s, a);
}

// Blends colour s at constant alpha a over n pixels.
void BlendSpan(uint32_t* p, int n, uint32_t s, uint32_t a) {
    if (a == 0 || n <= 0) return;
    uint32_t all = 0xFF000000u;
    for (int i = 0; i < n; ++i) all &= p[i];
    if (all != 0xFF000000u) {
        for (int i = 0; i < n; ++i) p[i] = BlendPixel(p[i], s, a);
        return;
    }
    BlendSpanOpaque(p, n, s, a);
}

// Blends n source pixels, each at its own alpha, over n destination pixels.
void BlendRow(uint32_t* d, const uint32_t* s, int n) {
    uint32_t all = 0xFF000000u;
    for (int i = 0; i < n; ++i) all &= d[i];
    if (all != 0xFF000000u) {
        for (int i = 0; i < n; ++i) d[i] = BlendPixel(d[i], s[i] & 0xFFFFFF, s[i] >> 24);
        return;
    }
    for (int i = 0; i < n; ++i) {
        const uint32_t a = s[i] >> 24, ia = 255 - a, c = s[i], p = d[i];
        uint32_t rb = (c & 0xFF00FF) * a + (p & 0xFF00FF) * ia + 0x800080;
        rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
        uint32_t g = ((c >> 8) & 0xFF) * a + ((p >> 8) & 0xFF) * ia + 0x80;
        g = ((g + (g >> 8)) >> 8) & 0xFF;
        d[i] = 0xFF000000u | rb | (g << 8);
    }
}

// ---------------------------------------------------------------------------------------------
// Scanline polygon rasterizer. Edges are kept in doubles and clipped to the picture before any
// conversion to int, so every int32 input is safe. Three ways to cover a pixel:
//  - ExactArea: the signed area of each edge's part in a row is accumulated per cell and summed
//    along the row; cells between edges get the running sum, blended as one span.
//  - Sampled: 16 sub-scanlines per row, each with exact horizontal coverage; for unions of
//    overlapping shapes, where summing areas would count an overlap twice.
//  - Aliased: the pixel centre decides.

enum class FillRule { EvenOdd, NonZero };
enum class Coverage { ExactArea, Sampled, Aliased };

struct Edge {
    double x0, y0, x1, y1;  // y0 < y1
    double dxdy;
    int dir;  // +1 when the original edge went down, -1 up
    double XAt(double y) const { return x0 + (y - y0) * dxdy; }
};

struct Interval {
    int lo, hi;  // cells touched, inclusive
};

struct Crossing {
    double x;
    int dir;
};

// A shape of FillConvexLayers: a convex polygon, less a convex hole when nh > 0, in a colour.
struct ConvexLayer {
    const PointF* outer;
    size_t no;
    const PointF* hole;
    size_t nh;
    ARGB color;
};

using raster_rows::Paint;

using raster_rows::LeanEdge;

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
// and clear a row buffer each.
struct Scratch {
    std::vector<float> cells;          // all zero between calls
    std::vector<float> layerCells[2];  // the same, per layer of FillConvexLayers
    std::vector<float> sums[2];        // running sums of an interval's cells, per layer
    std::vector<Edge> edges;
    std::vector<const Edge*> active;
    std::vector<Interval> intervals;
    std::vector<Crossing> crossings;
};

Scratch& ThreadScratch() {
    thread_local Scratch s;
    return s;
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

// Blends n opaque pixels with each layer's colour in turn, at the coverage its running sums
// give pixel by pixel; the last one to three through a copy, for the end of a row.
template <int layers>
void BlendCovered(uint32_t* p, int n, float* const* sums, const Paint* paints) {
#if defined(__SSE2__)
    __m128i s16[layers];
    __m128 alpha[layers];
    for (int k = 0; k < layers; ++k) {
        s16[k] = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(0xFF000000u | paints[k].rgb)), _mm_setzero_si128());
        alpha[k] = _mm_set1_ps(paints[k].alpha);
    }
    const int groups = n & ~3;
    int i = 0;
    for (; i < groups; i += 4) {
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        for (int k = 0; k < layers; ++k) d = Lerp4(d, s16[k], CoverageAlpha4(_mm_loadu_ps(sums[k] + i), alpha[k]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), d);
    }
    if (i < n) {
        // The last one to three pixels, through a copy.
        const int m = n - i;
        alignas(16) uint32_t px[4] = {0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u};
        alignas(16) float cover[layers][4] = {};
        std::memcpy(px, p + i, static_cast<size_t>(m) * 4);
        for (int k = 0; k < layers; ++k) std::memcpy(cover[k], sums[k] + i, static_cast<size_t>(m) * 4);
        __m128i d = _mm_load_si128(reinterpret_cast<const __m128i*>(px));
        for (int k = 0; k < layers; ++k) d = Lerp4(d, s16[k], CoverageAlpha4(_mm_load_ps(cover[k]), alpha[k]));
        _mm_store_si128(reinterpret_cast<__m128i*>(px), d);
        std::memcpy(p + i, px, static_cast<size_t>(m) * 4);
    }
#else
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < layers; ++k)
            p[i] = LerpOpaque(p[i], paints[k].rgb, CoverageAlpha<FillRule::NonZero>(sums[k][i], paints[k].alpha));
#endif
}

}  // namespace

namespace raster_rows {

#if defined(__SSE2__)
template <int layers>
int DrawRows(const Rows& job) {
    return rows::DrawRows<layers>(job);
}
template int DrawRows<1>(const Rows&);
template int DrawRows<2>(const Rows&);
#endif

void BlendSpan(uint32_t* p, int n, uint32_t s, uint32_t a) { rows::Span(p, n, s, a); }

}  // namespace raster_rows

namespace {

double SignedArea(const PointF* p, size_t n) {
    double a = 0;
    for (size_t i = 0; i < n; ++i) {
        const PointF& u = p[i];
        const PointF& v = p[i + 1 < n ? i + 1 : 0];
        a += u.x * v.y - v.x * u.y;
    }
    return a / 2;
}

class Rasterizer {
public:
    // Draws within [x0, x1) x [y0, y1), a part of the picture.
    Rasterizer(Picture& dst, int x0, int y0, int x1, int y1)
        : m_dst(dst), m_w(dst.Width()), m_cx0(x0), m_cy0(y0), m_cx1(x1), m_cy1(y1), m_s(ThreadScratch()) {
        m_s.edges.clear();
    }

    void AddEdge(double x0, double y0, double x1, double y1) {
        if (!(y0 != y1)) return;  // horizontal, or NaN
        if (y0 < y1) m_s.edges.push_back({x0, y0, x1, y1, (x1 - x0) / (y1 - y0), 1});
        else m_s.edges.push_back({x1, y1, x0, y0, (x0 - x1) / (y0 - y1), -1});
    }

    void AddPolygon(const PointF* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const PointF& a = p[i];
            const PointF& b = p[i + 1 < n ? i + 1 : 0];
            AddEdge(a.x, a.y, b.x, b.y);
        }
    }

    void Fill(ARGB color, FillRule rule, Coverage mode) {
        auto& edges = m_s.edges;
        if (m_dst.IsNull() || edges.empty() || (color >> 24) == 0) return;
        double ymin = edges[0].y0, ymax = edges[0].y1;
        for (const Edge& e : edges) {
            ymin = std::min(ymin, e.y0);
            ymax = std::max(ymax, e.y1);
        }
        const int rowBegin = static_cast<int>(std::floor(Clamp(ymin, m_cy0, m_cy1)));
        const int rowEnd = static_cast<int>(std::ceil(Clamp(ymax, m_cy0, m_cy1)));
        if (rowBegin >= rowEnd) return;
        std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
        if (m_s.cells.size() < static_cast<size_t>(m_w) + 3) m_s.cells.assign(static_cast<size_t>(m_w) + 3, 0.0f);
        auto& active = m_s.active;
        active.clear();
        size_t next = 0;
        for (int y = rowBegin; y < rowEnd; ++y) {
            // Edges reaching into this row band join; those ending above it leave.
            while (next < edges.size() && edges[next].y0 < y + 1) active.push_back(&edges[next++]);
            size_t keep = 0;
            for (const Edge* e : active)
                if (e->y1 > y) active[keep++] = e;
            active.resize(keep);
            if (active.empty()) continue;
            switch (mode) {
                case Coverage::ExactArea:
                    if (rule == FillRule::EvenOdd) RowExact<FillRule::EvenOdd>(y, color);
                    else RowExact<FillRule::NonZero>(y, color);
                    break;
                case Coverage::Sampled: RowSampled(y, color, rule); break;
                case Coverage::Aliased: RowAliased(y, color, rule); break;
            }
        }
    }

    // Exact-area fill of one convex polygon, or of the ring between a convex polygon and a
    // convex hole inside it, with no edge list to sort and no active edges to keep: per row
    // each edge's part is added straight into the cells, and each side of each polygon touches
    // one run of cells. Returns false, having drawn nothing, for shapes it cannot take.
    bool FillConvex(const PointF* outer, size_t no, const PointF* hole, size_t nh, ARGB color) {
        const ConvexLayer layer{outer, no, hole, nh, color};
        return FillConvexLayers(&layer, 1, false);
    }

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
                static constexpr int8_t kLeftSlot[2][2] = {{1, 2}, {0, 3}}, kRightSlot[2][2] = {{6, 5}, {7, 4}};
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
                    if (a.y < b.y) edges[ne++] = {a.x, a.y, b.y, dxdy, sign, half, down, layer};
                    else edges[ne++] = {b.x, b.y, a.y, dxdy, -sign, half, up, layer};
                }
            }
        }
        // Layers that draw nothing are left out; what is left is drawn in order.
        int layerOf[2] = {-1, -1};
        plan.np = 0;
        for (int L = 0; L < count; ++L)
            if ((layers[L].color >> 24) != 0) {
                layerOf[L] = plan.np;
                plan.paints[plan.np++] = {layers[L].color & 0xFFFFFF, static_cast<float>(layers[L].color >> 24)};
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
        const double left = m_cx0 == 0 ? 0.0 : m_cx0 + 1.0, right = m_cx1 == m_w ? m_w : m_cx1 - 1.0;
        plan.clamp = !(xmin >= left && xmax <= right);
        // The closed form also takes shapes reaching past the picture's right side: it draws
        // nothing from the row's end on.
        plan.closedForm = xmin >= left && (xmax <= right || (m_cx1 == m_w && xmax <= m_w + 65536.0));
        const size_t need = static_cast<size_t>(m_w) + 3;  // an edge at the right side touches two cells past it
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
        if (plan.np == 2) return plan.clamp ? ConvexRows<true, 2>(plan, y) : ConvexRows<false, 2>(plan, y);
        if (plan.np == 1) return plan.clamp ? ConvexRows<true, 1>(plan, y) : ConvexRows<false, 1>(plan, y);
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
            if (!(xa >= m_cx0 && xa <= m_cx1 && xb >= m_cx0 && xb <= m_cx1)) return AddCellsClipped(acc, xa, dya, xb, dyb);
        }
        return AddCells(acc, xa, dya, xb, dyb);
    }

    // Splits a segment where it crosses the clip's left and right sides, and moves the parts
    // outside onto the side they are beyond, as vertical runs (those on the left still cover
    // the row). Returns the number of pieces; piece i runs from point i to point i + 1.
    int SplitAtSides(double xa, double ya, double xb, double yb, double (&xs)[4], double (&ys)[4]) const {
        const double l = m_cx0, r = m_cx1;
        xs[0] = xa;
        ys[0] = ya;
        int n = 1;
        auto split = [&](double bound) {
            if ((xa < bound && xb > bound) || (xa > bound && xb < bound)) {
                xs[n] = bound;
                ys[n] = ya + (yb - ya) * ((bound - xa) / (xb - xa));
                ++n;
            }
        };
        if (xa <= xb) {
            split(l);
            split(r);
        } else {
            split(r);
            split(l);
        }
        xs[n] = xb;
        ys[n] = yb;
        for (int i = 0; i <= n; ++i) xs[i] = Clamp(xs[i], l, r);
        return n;
    }

    // AddCells for a segment reaching past the clip's left or right side.
    Interval AddCellsClipped(float* acc, double xa, double ya, double xb, double yb) {
        double xs[4], ys[4];
        const int n = SplitAtSides(xa, ya, xb, yb, xs, ys);
        Interval all{INT32_MAX, -1};
        for (int i = 0; i < n; ++i) {
            if (ys[i] == ys[i + 1] && i + 1 < n) continue;
            const Interval t = AddCells(acc, xs[i], ys[i], xs[i + 1], ys[i + 1]);
            all.lo = std::min(all.lo, t.lo);
            all.hi = std::max(all.hi, t.hi);
        }
        return all;
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
            const int cleanEnd = P.next < nb ? static_cast<int>(std::min<double>(P.rowEnd, std::floor(P.breaks[P.next])))
                                             : P.rowEnd;
            P.segEnd = INT32_MIN;
            if (cleanEnd - y >= 2) {
                P.na = 0;
                for (uint8_t i = 0; i < P.ne; ++i)
                    if (P.edges[i].y0 <= top && P.edges[i].y1 >= cleanEnd) P.active[P.na++] = P.edges[i];
                P.segEnd = cleanEnd;
            }
        }
#if defined(__SSE2__)
        // Onto an opaque picture, where the shape allows it: in closed form, a run of rows
        // without a vertex at once.
        if constexpr (layers > 0) {
            if (P.closedForm) {
                const bool whole = y < P.segEnd;
                const raster_rows::Rows job{m_dst.Row(0), static_cast<size_t>(m_w), m_w, y, whole ? P.segEnd : y + 1,
                                            whole ? P.active : P.edges, whole ? P.na : P.ne, whole, P.paints};
                const int stop = DrawRows<layers>(job);
                if (stop > y) return stop;
            }
        }
#endif
        Interval runs[ConvexPlan::kMaxEdges];
        size_t n = 0;
        if (y < P.segEnd) {
            for (; n < P.na; ++n) runs[n] = AddEdgeRow<clamp, layers>(P.active[n], top, top, bottom);
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
            BlendCells<FillRule::NonZero>(y, (static_cast<uint32_t>(P.paints[0].alpha) << 24) | P.paints[0].rgb, runs, n);
            m_s.cells.swap(m_s.layerCells[0]);
        } else {
            BlendCellsOpaque<layers>(y, P.paints, runs, n);
        }
        return y + 1;
    }

#if defined(__SSE2__)
    template <int layers>
    static int DrawRows(const raster_rows::Rows& job) {
#if defined(FACETTA_AVX2_ROWS)
        if (UseAvx2()) return raster_rows::DrawRowsAvx2<layers>(job);
#endif
        return raster_rows::DrawRows<layers>(job);
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
                        BlendSpanOpaque(row + gapLo, gapHi - gapLo, paints[k].rgb,
                                        CoverageAlpha<FillRule::NonZero>(sum[k], paints[k].alpha));
            }
            const int lo = iv[i].lo, hi = iv[i].hi;
#if defined(__SSE2__)
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

#if defined(__SSE2__)
    // The cells [lo, hi] of each layer summed into its running sum and cleared, and the pixels
    // [lo, last] blended, four at a time: the row has room for the last group of four, whose
    // pixels past `last` are left as they are. The sums go from registers into the vector, not
    // through memory: the cells were just written one by one, and a wide load of narrow stores
    // would wait for them to reach the cache.
    template <int layers>
    static void BlendGroups(uint32_t* row, int lo, int hi, int last, float* const* cells, float* sum,
                            const Paint* paints) {
        __m128i s16[layers];
        __m128 alpha[layers];
        for (int k = 0; k < layers; ++k) {
            s16[k] = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(0xFF000000u | paints[k].rgb)), _mm_setzero_si128());
            alpha[k] = _mm_set1_ps(paints[k].alpha);
        }
        const __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
        int x = lo;
        for (; x <= last; x += 4) {
            __m128i* q = reinterpret_cast<__m128i*>(row + x);
            __m128i d = _mm_loadu_si128(q);
            const int own = hi - x + 1;  // lanes whose cells belong to this interval
            const __m128 drawn = _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_set1_epi32(last - x + 1), lane));
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

    // Adds the signed area right of the segment, within the row band, to the cells it crosses.
    // y relative to the row top, x already within [0, w].
    void Accumulate(double xa, double ya, double xb, double yb) {
        if (yb == ya) return;
        m_s.intervals.push_back(AddCells(m_s.cells.data(), xa, ya, xb, yb));
    }

    // The cells of Accumulate; returns the ones it touched, without noting them.
    static Interval AddCells(float* acc, double xa, double ya, double xb, double yb) {
        const double dy = yb - ya;
        if (xa > xb) std::swap(xa, xb);  // walk left to right; the pieces keep dy's sign
        int ix = static_cast<int>(xa);
        const double split = ix + 1.0;
        if (xb <= split + 1) {
            // Within two cells, as most edges are in a row: a piece in each, the second one
            // empty when the segment stays in the first cell. No branch to mispredict.
            const double xm = std::min(xb, split), width = xb - xa;
            const double dy1 = width > 0 ? dy * ((xm - xa) / width) : dy, dy2 = dy - dy1;
            const double m1 = (xa + xm) * 0.5 - ix, m2 = (xm + xb) * 0.5 - split;
            acc[ix] += static_cast<float>(dy1 * (1 - m1));
            acc[ix + 1] += static_cast<float>(dy1 * m1 + dy2 * (1 - m2));
            acc[ix + 2] += static_cast<float>(dy2 * m2);
            return {ix, ix + 1 + (xb > split)};
        }
        const int ixEnd = static_cast<int>(xb);
        const Interval touched{ix, ixEnd + 1};
        const double dydx = dy / (xb - xa);
        // First cell (partial), then whole cells, each crossed by the same height and at its
        // middle on average, then the last cell (partial).
        const double firstEnd = ix + 1;
        double dyp = (firstEnd - xa) * dydx;
        double mid = (xa + firstEnd) * 0.5 - ix;
        acc[ix] += static_cast<float>(dyp * (1 - mid));
        // What a piece leaves for the next cell is carried in a register rather than through
        // memory, so that the cells are independent.
        float carry = static_cast<float>(dyp * mid);
        const float half = static_cast<float>(dydx * 0.5);
        for (++ix; ix < ixEnd; ++ix) {
            acc[ix] += carry + half;
            carry = half;
        }
        dyp = (xb - ixEnd) * dydx;
        mid = (ixEnd + xb) * 0.5 - ixEnd;
        acc[ixEnd] += carry + static_cast<float>(dyp * (1 - mid));
        acc[ixEnd + 1] += static_cast<float>(dyp * mid);
        return touched;
    }

    // One edge's part within a row band, split where it crosses the clip's left and right
    // sides; the parts outside become vertical runs on the border (those on the left still
    // cover the row).
    void AccumulateClipped(double xa, double ya, double xb, double yb) {
        // Nearly always inside: kept small so that it joins the row loop.
        if (xa >= m_cx0 && xa <= m_cx1 && xb >= m_cx0 && xb <= m_cx1) Accumulate(xa, ya, xb, yb);
        else AccumulateSplit(xa, ya, xb, yb);
    }

    void AccumulateSplit(double xa, double ya, double xb, double yb) {
        double xs[4], ys[4];
        const int n = SplitAtSides(xa, ya, xb, yb, xs, ys);
        for (int i = 0; i < n; ++i) Accumulate(xs[i], ys[i], xs[i + 1], ys[i + 1]);
    }

    template <FillRule rule>
    void RowExact(int y, ARGB color) {
        m_s.intervals.clear();
        const double top = y, bottom = y + 1;
        for (const Edge* e : m_s.active) {
            const double ya = std::max(e->y0, top), yb = std::min(e->y1, bottom);
            if (!(ya < yb)) continue;
            AccumulateClipped(e->XAt(ya), (ya - top) * e->dir, e->XAt(yb), (yb - top) * e->dir);
        }
        BlendCells<rule>(y, color, m_s.intervals.data(), m_s.intervals.size());
    }

    // Sorts the intervals and merges touching ones, in place; returns how many are left.
    // Between them the coverage is the constant running sum.
    static size_t MergeIntervals(Interval* iv, size_t count) {
        for (size_t i = 1; i < count; ++i)  // a handful per row: insertion sort
            for (size_t j = i; j > 0 && iv[j].lo < iv[j - 1].lo; --j) std::swap(iv[j], iv[j - 1]);
        size_t m = 0;
        for (size_t i = 1; i < count; ++i) {
            if (iv[i].lo <= iv[m].hi + 1) iv[m].hi = std::max(iv[m].hi, iv[i].hi);
            else iv[++m] = iv[i];
        }
        return m + 1;
    }

    // Blends the accumulated cells of row y, given the intervals of cells touched (sorted and
    // merged here), and clears them.
    template <FillRule rule>
    void BlendCells(int y, ARGB color, Interval* iv, size_t count) {
        if (count == 0) return;
        const size_t merged = MergeIntervals(iv, count);

        float* acc = m_s.cells.data();
        uint32_t* row = m_dst.Row(y);
        const uint32_t rgb = color & 0xFFFFFF;
        const float alpha = static_cast<float>(color >> 24);
        float sum = 0;
        for (size_t i = 0; i < merged; ++i) {
            if (i > 0) {
                const int gapLo = iv[i - 1].hi + 1, gapHi = std::min(iv[i].lo, m_cx1);
                if (gapLo < gapHi)
                    BlendSpan(row + gapLo, gapHi - gapLo, rgb, CoverageAlpha<rule>(sum, alpha));
            }
            const int hi = iv[i].hi, last = std::min(hi, m_cx1 - 1);
            int x = iv[i].lo;
            for (; x <= last; ++x) {
                sum += acc[x];
                acc[x] = 0;
                row[x] = BlendPixel(row[x], rgb, CoverageAlpha<rule>(sum, alpha));
            }
            for (; x <= hi; ++x) acc[x] = 0;  // beyond the right edge: only clear
        }
    }

    void RowSampled(int y, ARGB color, FillRule rule) {
        constexpr int kSubRows = 16;
        constexpr float kWeight = 1.0f / kSubRows;
        float* acc = m_s.cells.data();
        const double l = m_cx0, w = m_cx1;
        int lo = m_cx1, hi = -1;
        for (int k = 0; k < kSubRows; ++k) {
            const double ys = y + (k + 0.5) / kSubRows;
            auto& cr = m_s.crossings;
            cr.clear();
            for (const Edge* e : m_s.active)
                if (e->y0 <= ys && ys < e->y1) cr.push_back({e->XAt(ys), e->dir});
            std::sort(cr.begin(), cr.end(), [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
            int winding = 0;
            for (size_t i = 0; i + 1 < cr.size(); ++i) {
                winding += rule == FillRule::EvenOdd ? 1 : cr[i].dir;
                if (rule == FillRule::EvenOdd ? (winding & 1) == 0 : winding == 0) continue;
                const double a = Clamp(cr[i].x, l, w), b = Clamp(cr[i + 1].x, l, w);
                if (!(a < b)) continue;
                const int ia = static_cast<int>(a), ib = static_cast<int>(b);
                lo = std::min(lo, ia);
                hi = std::max(hi, std::min(ib, m_cx1 - 1));
                if (ia == ib) {
                    acc[ia] += static_cast<float>(b - a) * kWeight;
                    continue;
                }
                acc[ia] += static_cast<float>(ia + 1 - a) * kWeight;
                for (int x = ia + 1; x < ib; ++x) acc[x] += kWeight;
                acc[ib] += static_cast<float>(b - ib) * kWeight;
            }
        }
        uint32_t* row = m_dst.Row(y);
        for (int x = lo; x <= hi; ++x) {
            const uint32_t c = static_cast<uint32_t>(std::min(acc[x], 1.0f) * 255.0f + 0.5f);
            acc[x] = 0;
            row[x] = BlendPixel(row[x], color & 0xFFFFFF, Div255(c * (color >> 24)));
        }
        acc[m_cx1] = 0;
    }

    void RowAliased(int y, ARGB color, FillRule rule) {
        const double yc = y + 0.5;
        auto& cr = m_s.crossings;
        cr.clear();
        for (const Edge* e : m_s.active)
            if (e->y0 <= yc && yc < e->y1) cr.push_back({e->XAt(yc), e->dir});
        if (cr.empty()) return;
        std::sort(cr.begin(), cr.end(), [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
        int winding = 0;
        uint32_t* row = m_dst.Row(y);
        for (size_t i = 0; i + 1 < cr.size(); ++i) {
            winding += rule == FillRule::EvenOdd ? 1 : cr[i].dir;
            if (rule == FillRule::EvenOdd ? (winding & 1) == 0 : winding == 0) continue;
            // Pixels whose centre lies in (xa, xb].
            const int x0 = static_cast<int>(std::floor(Clamp(cr[i].x - 0.5, m_cx0 - 1, m_cx1 - 1))) + 1;
            const int x1 = static_cast<int>(std::floor(Clamp(cr[i + 1].x - 0.5, m_cx0 - 1, m_cx1 - 1))) + 1;
            BlendSpan(row + x0, x1 - x0, color & 0xFFFFFF, color >> 24);
        }
    }

    Picture& m_dst;
    int m_w;
    int m_cx0, m_cy0, m_cx1, m_cy1;
    Scratch& m_s;
};

// Intersection of rect with the picture as [x0, x1) x [y0, y1); 64-bit so that x + width
// cannot overflow.
bool ClipRect(const Picture& dst, const RectI& r, int& x0, int& y0, int& x1, int& y1) {
    if (dst.IsNull() || r.width <= 0 || r.height <= 0) return false;
    const int64_t l = std::max<int64_t>(r.x, 0);
    const int64_t t = std::max<int64_t>(r.y, 0);
    const int64_t rr = std::min<int64_t>(int64_t{r.x} + r.width, dst.Width());
    const int64_t b = std::min<int64_t>(int64_t{r.y} + r.height, dst.Height());
    if (l >= rr || t >= b) return false;
    x0 = static_cast<int>(l);
    y0 = static_cast<int>(t);
    x1 = static_cast<int>(rr);
    y1 = static_cast<int>(b);
    return true;
}

// A mirrored-repeat gradient as a table over one period: position t in [0, 2) is held as a
// 32-bit fraction of the period, so stepping along a row is one wrapping integer add.
class GradientTable {
public:
    static constexpr int kBits = 12;  // table entries per half period

    GradientTable(ARGB c1, ARGB c2) {
        for (int i = 0; i <= (1 << kBits); ++i) {
            const double t = static_cast<double>(i) / (1 << kBits);
            uint32_t c = 0;
            for (int k = 0; k < 32; k += 8) {
                const double a = (c1 >> k) & 0xFF, b = (c2 >> k) & 0xFF;
                c |= static_cast<uint32_t>(std::lround(a + (b - a) * t)) << k;
            }
            m_colors[static_cast<size_t>(i)] = c;
        }
    }

    // t (in units of the segment) as a fraction of the period 2.
    static uint32_t Phase(double t) {
        double f = std::fmod(t, 2.0);
        if (!std::isfinite(f)) f = 0;
        if (f < 0) f += 2.0;
        return static_cast<uint32_t>(static_cast<uint64_t>(std::llround(f * 2147483648.0)) & 0xFFFFFFFFu);
    }

    uint32_t At(uint32_t phase) const {
        const uint32_t m = phase <= 0x80000000u ? phase : 0u - phase;  // mirror the second half
        return m_colors[(m + (1u << (30 - kBits))) >> (31 - kBits)];
    }

private:
    uint32_t m_colors[(1 << kBits) + 1];
};

}  // namespace

void FillRectangle(Picture& dst, const RectI& rect, ARGB color) {
    int x0, y0, x1, y1;
    if (!ClipRect(dst, rect, x0, y0, x1, y1)) return;
    for (int y = y0; y < y1; ++y) BlendSpan(dst.Row(y) + x0, x1 - x0, color & 0xFFFFFF, color >> 24);
}

static void DoFillRectangleGradient(Picture& dst, const RectI& rect, PointF p1, PointF p2, ARGB c1, ARGB c2) {
    int x0, y0, x1, y1;
    if (!ClipRect(dst, rect, x0, y0, x1, y1)) return;
    const double dx = p2.x - p1.x, dy = p2.y - p1.y;
    const double len2 = dx * dx + dy * dy;
    // A gradient without a direction has no defined colours: nothing is drawn.
    if (!(len2 > 0) || !std::isfinite(len2) || !std::isfinite(p1.x) || !std::isfinite(p1.y)) return;
    const double ux = dx / len2, uy = dy / len2;  // t per pixel step in x and y
    // Drawing a picture a run of rows at a time asks for the same table many times: keep the last one.
    thread_local struct {
        bool valid = false;
        ARGB c1 = 0, c2 = 0;
        std::unique_ptr<GradientTable> table;
    } last;
    if (!last.valid || last.c1 != c1 || last.c2 != c2) {
        last.table = std::make_unique<GradientTable>(c1, c2);
        last.valid = true;
        last.c1 = c1;
        last.c2 = c2;
    }
    const GradientTable& table = *last.table;
    const bool opaque = (c1 >> 24) == 255 && (c2 >> 24) == 255;
    const uint32_t step = GradientTable::Phase(ux);
    const int n = x1 - x0;
    if (ux == 0) {
        // Constant along each row.
        for (int y = y0; y < y1; ++y) {
            const uint32_t c = table.At(GradientTable::Phase((y + 0.5 - p1.y) * uy));
            BlendSpan(dst.Row(y) + x0, n, c & 0xFFFFFF, c >> 24);
        }
        return;
    }
    std::vector<uint32_t> colors(static_cast<size_t>(n));
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = dst.Row(y) + x0;
        if (uy != 0 || y == y0) {
            // Horizontal gradients are constant down the columns: one row serves all.
            uint32_t phase = GradientTable::Phase((x0 + 0.5 - p1.x) * ux + (y + 0.5 - p1.y) * uy);
            for (uint32_t& c : colors) {
                c = table.At(phase);
                phase += step;
            }
        }
        if (opaque) std::memcpy(row, colors.data(), colors.size() * 4);
        else BlendRow(row, colors.data(), n);
    }
}

namespace {

// Adds the polygon with the given orientation (reversing it in place if need be), so that a
// nonzero fill counts it +1 or -1.
void AddOriented(Rasterizer& r, PointF* p, size_t n, bool positive) {
    const double a = SignedArea(p, n);
    if (a == 0) return;
    if ((a > 0) != positive) std::reverse(p, p + n);
    r.AddPolygon(p, n);
}

void AddOriented(Rasterizer& r, std::vector<PointF> p, bool positive) { AddOriented(r, p.data(), p.size(), positive); }

// The stroke of a convex polygon with a 1-pixel pen and bevelled corners is the region between
// two convex polygons: the outline pushed out by half a pixel (corners cut) and pulled in by
// half a pixel. Exact area coverage of "outer minus inner" then blends every pixel once.
// Returns false when the points do not make a convex polygon; otherwise the two polygons,
// the inner one empty when the pen covers the whole inside.
bool ConvexStroke(const PointI* points, size_t count, const std::vector<PointF>*& outerOut,
                  const std::vector<PointF>*& innerOut) {
    // Called for every triangle of a picture, band by band: buffers are kept per thread.
    thread_local std::vector<PointF> p, inward, outer, inner;
    p.clear();
    for (size_t i = 0; i < count; ++i) {
        const PointF q{static_cast<double>(points[i].x), static_cast<double>(points[i].y)};
        if (p.empty() || q.x != p.back().x || q.y != p.back().y) p.push_back(q);
    }
    while (p.size() > 1 && p.front().x == p.back().x && p.front().y == p.back().y) p.pop_back();
    if (p.size() < 3) return false;
    const size_t n = p.size();
    const double area = SignedArea(p.data(), n);
    if (area == 0) return false;
    const double sign = area > 0 ? 1 : -1;
    // Every corner must turn the same way, and (beyond triangles) the turns must add up to one
    // revolution.
    double turning = 0;
    inward.resize(n);  // half-pixel inward normal of edge i (p[i] -> p[i+1])
    for (size_t i = 0; i < n; ++i) {
        const PointF &a = p[i], &b = p[(i + 1) % n], &c = p[(i + 2) % n];
        const double ex = b.x - a.x, ey = b.y - a.y, fx = c.x - b.x, fy = c.y - b.y;
        const double cross = ex * fy - ey * fx;
        if (cross * sign <= 0) return false;
        if (n > 3) turning += std::atan2(cross, ex * fx + ey * fy);
        const double len = std::hypot(ex, ey);
        inward[i] = {-ey / len * 0.5 * sign, ex / len * 0.5 * sign};
    }
    if (n > 3 && std::fabs(std::fabs(turning) - 2 * std::numbers::pi) > 1e-3) return false;

    outer.clear();
    for (size_t i = 0; i < n; ++i) {
        const PointF& v = p[(i + 1) % n];  // corner between edge i and edge i + 1
        const PointF n1 = inward[i], n2 = inward[(i + 1) % n];
        outer.push_back({v.x - n1.x, v.y - n1.y});
        outer.push_back({v.x - n2.x, v.y - n2.y});
    }

    // Inner polygon: the edges moved inwards, meeting where neighbouring ones cross. If an
    // edge turns round, the pen covers the whole inside of a triangle; other shapes are left to
    // the general outline.
    inner.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t j = (i + 1) % n;
        const PointF a{p[i].x + inward[i].x, p[i].y + inward[i].y};
        const PointF d{p[j].x - p[i].x, p[j].y - p[i].y};
        const PointF b{p[j].x + inward[j].x, p[j].y + inward[j].y};
        const PointF e{p[(j + 1) % n].x - p[j].x, p[(j + 1) % n].y - p[j].y};
        const double den = d.x * e.y - d.y * e.x;
        const double t = ((b.x - a.x) * e.y - (b.y - a.y) * e.x) / den;
        inner[j] = {a.x + d.x * t, a.y + d.y * t};
    }
    bool hole = true;
    for (size_t i = 0; i < n && hole; ++i) {
        const PointF& a = inner[i];
        const PointF& b = inner[(i + 1) % n];
        const double dot = (b.x - a.x) * (p[(i + 1) % n].x - p[i].x) + (b.y - a.y) * (p[(i + 1) % n].y - p[i].y);
        hole = dot > 0;
    }
    if (!hole && n > 3) return false;
    if (!hole) inner.clear();
    outerOut = &outer;
    innerOut = &inner;
    return true;
}

// Any other outline: the union of one quad per edge and a bevel at each corner.
void AddStrokeUnion(Rasterizer& r, const PointI* points, size_t count) {
    std::vector<PointF> normals(count);
    std::vector<bool> valid(count);
    for (size_t i = 0; i < count; ++i) {
        const PointI& a = points[i];
        const PointI& b = points[(i + 1) % count];
        const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
        const double len = std::hypot(dx, dy);
        valid[i] = len > 0;
        if (!valid[i]) continue;
        const PointF n{-dy / len * 0.5, dx / len * 0.5};
        normals[i] = n;
        AddOriented(r, {{a.x + n.x, a.y + n.y}, {b.x + n.x, b.y + n.y}, {b.x - n.x, b.y - n.y}, {a.x - n.x, a.y - n.y}},
                    true);
    }
    for (size_t i = 0; i < count; ++i) {
        if (!valid[i]) continue;
        size_t j = (i + 1) % count;
        while (j != i && !valid[j]) j = (j + 1) % count;
        if (j == i) continue;
        const PointF v{static_cast<double>(points[(i + 1) % count].x), static_cast<double>(points[(i + 1) % count].y)};
        const PointF n1 = normals[i], n2 = normals[j];
        AddOriented(r, {v, {v.x + n1.x, v.y + n1.y}, {v.x + n2.x, v.y + n2.y}}, true);
        AddOriented(r, {v, {v.x - n1.x, v.y - n1.y}, {v.x - n2.x, v.y - n2.y}}, true);
    }
}

}  // namespace

static void DoFillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                          const RectI& clip) {
    int x0, y0, x1, y1;
    if (!points || count < 3 || !ClipRect(dst, clip, x0, y0, x1, y1)) return;
    Rasterizer r(dst, x0, y0, x1, y1);
    if (antiAlias && count == 3) {
        const PointF tri[3] = {{static_cast<double>(points[0].x), static_cast<double>(points[0].y)},
                               {static_cast<double>(points[1].x), static_cast<double>(points[1].y)},
                               {static_cast<double>(points[2].x), static_cast<double>(points[2].y)}};
        if (r.FillConvex(tri, 3, nullptr, 0, color)) return;
    }
    for (size_t i = 0; i < count; ++i) {
        const PointI& a = points[i];
        const PointI& b = points[i + 1 < count ? i + 1 : 0];
        r.AddEdge(a.x, a.y, b.x, b.y);
    }
    r.Fill(color, FillRule::EvenOdd, antiAlias ? Coverage::ExactArea : Coverage::Aliased);
}

void FillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias) {
    FillPolygon(dst, points, count, color, antiAlias, RectI{0, 0, dst.Width(), dst.Height()});
}

static void DoDrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                          const RectI& clip) {
    int x0, y0, x1, y1;
    if (!points || count < 2 || !ClipRect(dst, clip, x0, y0, x1, y1)) return;
    Rasterizer r(dst, x0, y0, x1, y1);
    const std::vector<PointF>*outer, *inner;
    if (ConvexStroke(points, count, outer, inner)) {
        if (antiAlias && r.FillConvex(outer->data(), outer->size(), inner->data(), inner->size(), color)) return;
        std::vector<PointF> o = *outer, i = *inner;
        AddOriented(r, o.data(), o.size(), true);
        if (!i.empty()) AddOriented(r, i.data(), i.size(), false);
        r.Fill(color, FillRule::NonZero, antiAlias ? Coverage::ExactArea : Coverage::Aliased);
        return;
    }
    AddStrokeUnion(r, points, count);
    r.Fill(color, FillRule::NonZero, antiAlias ? Coverage::Sampled : Coverage::Aliased);
}

void DrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias) {
    DrawPolygon(dst, points, count, color, antiAlias, RectI{0, 0, dst.Width(), dst.Height()});
}

static void DoDrawMeshTriangle(Picture& dst, const PointI* points, ARGB fill, ARGB pen, const RectI& clip) {
    int x0, y0, x1, y1;
    if (!points || !ClipRect(dst, clip, x0, y0, x1, y1)) return;
    Rasterizer r(dst, x0, y0, x1, y1);
    const PointF tri[3] = {{static_cast<double>(points[0].x), static_cast<double>(points[0].y)},
                           {static_cast<double>(points[1].x), static_cast<double>(points[1].y)},
                           {static_cast<double>(points[2].x), static_cast<double>(points[2].y)}};
    ConvexLayer layers[2] = {{tri, 3, nullptr, 0, fill}, {}};
    int count = 1;
    const std::vector<PointF>*outer = nullptr, *inner = nullptr;
    if ((pen >> 24) != 0) {
        if (ConvexStroke(points, 3, outer, inner))
            layers[count++] = {outer->data(), outer->size(), inner->data(), inner->size(), pen};
        else
            count = 0;
    }
    if (count > 0 && r.FillConvexLayers(layers, count, true)) return;
    // Slivers: the general way.
    DoFillPolygon(dst, points, 3, fill, true, clip);
    if ((pen >> 24) != 0) DoDrawPolygon(dst, points, 3, pen, true, clip);
}

namespace {

// One destination index's share of source indices along one axis.
struct Contribution {
    int first = 0;               // first source index
    std::vector<float> weights;  // normalised
    float coverage = 0;          // fraction of the destination pixel inside the rectangle
};

// Weights per destination pixel along one axis for source [s0, s0 + sn) drawn onto destination
// [d0, d0 + dn), for destination pixels [from, to).
std::vector<Contribution> AxisContributions(int s0, int sn, double d0, double dn, int from, int to) {
    std::vector<Contribution> out(static_cast<size_t>(to - from));
    const double scale = dn / sn;  // destination pixels per source pixel
    for (int i = from; i < to; ++i) {
        Contribution& c = out[static_cast<size_t>(i - from)];
        const double a = std::max<double>(i, d0), b = std::min<double>(i + 1, d0 + dn);
        c.coverage = static_cast<float>(std::max(0.0, b - a));
        if (c.coverage <= 0) continue;
        const double sa = (a - d0) / scale, sb = (b - d0) / scale;  // source units from s0
        if (scale >= 1) {
            // Enlarging: bilinear between the two nearest source pixel centres.
            const double centre = Clamp((sa + sb) * 0.5 - 0.5, 0, sn - 1);
            const int j = static_cast<int>(centre);
            const double f = centre - j;
            c.first = s0 + j;
            if (j + 1 < sn && f > 0) c.weights = {static_cast<float>(1 - f), static_cast<float>(f)};
            else c.weights = {1.0f};
        } else {
            // Reducing: the source pixels weighted by their overlap with [sa, sb).
            const int j0 = static_cast<int>(Clamp(std::floor(sa), 0, sn - 1));
            const int j1 = static_cast<int>(Clamp(std::ceil(sb), j0 + 1, sn));
            c.first = s0 + j0;
            double total = 0;
            for (int j = j0; j < j1; ++j) {
                const double ov = std::max(0.0, std::min<double>(j + 1, sb) - std::max<double>(j, sa));
                c.weights.push_back(static_cast<float>(ov));
                total += ov;
            }
            if (total <= 0) {
                std::fill(c.weights.begin(), c.weights.end(), 0.0f);
                c.weights[0] = 1;
                total = 1;
            }
            for (float& w : c.weights) w = static_cast<float>(w / total);
        }
    }
    return out;
}

// The alpha byte of a pixel in memory.
constexpr size_t kA = std::endian::native == std::endian::little ? 3 : 0;

// acc[i] += v[i] * w. Separate, with unaliased pointers, so that the compiler uses 16-bit
// multiplies giving 32-bit products.
template <typename T>
void AddWeighted(uint32_t* __restrict acc, const T* __restrict v, size_t n, uint16_t w) {
    for (size_t i = 0; i < n; ++i) {
        const uint16_t x = v[i];
        acc[i] += static_cast<uint32_t>(x * w);
    }
}

struct RowSum {
    uint32_t total;  // sum of the row weights; 0: nothing to draw
    bool opaque;     // acc holds plain channels; otherwise colour * alpha and alpha * 255
};

// Combines the source rows of one destination row into acc (4 channels per source column from
// cFirst), in integers with 15-bit weights: the pass that reads the whole source, written so
// that the compiler vectorises it. Rows with transparency are premultiplied first, so that
// transparent pixels do not darken their neighbours.
RowSum SumRows(const Picture& src, const Contribution& rc, int cFirst, std::vector<uint32_t>& acc,
               std::vector<uint16_t>& premul) {
    const size_t n = acc.size(), rows = rc.weights.size();
    auto row = [&](size_t k) {
        return reinterpret_cast<const uint8_t*>(src.Row(rc.first + static_cast<int>(k)) + cFirst);
    };
    if (rows > 4096) {
        // So many rows that 15-bit weights would vanish: double sums, stored premultiplied at
        // the same scale.
        std::vector<double> sums(n, 0.0);
        for (size_t k = 0; k < rows; ++k) {
            const uint8_t* s8 = row(k);
            for (size_t i = 0; i < n; i += 4) {
                const double a = s8[i + kA] * static_cast<double>(rc.weights[k]);
                for (size_t c = 0; c < 4; ++c) sums[i + c] += (c == kA ? 255 : s8[i + c]) * a;
            }
        }
        for (size_t i = 0; i < n; ++i)
            acc[i] = static_cast<uint32_t>(std::lround(Clamp(sums[i] * 32768, 0, 65025.0 * 32768)));
        return {32768, false};
    }
    // Weights first, and whether every row is opaque (which also brings the rows into cache).
    uint16_t w[4096];
    uint32_t total = 0;
    bool opaque = true;
    for (size_t k = 0; k < rows; ++k) {
        w[k] = static_cast<uint16_t>(std::lround(Clamp(rc.weights[k], 0, 1) * 32768));
        total += w[k];
        if (w[k] == 0 || !opaque) continue;
        const uint32_t* s = reinterpret_cast<const uint32_t*>(row(k));
        uint32_t all = 0xFF000000u;
        for (size_t x = 0; x < n / 4; ++x) all &= s[x];
        opaque = all == 0xFF000000u;
    }
    std::fill(acc.begin(), acc.end(), 0u);
    // A strip of columns at a time, so that its sums stay in the first-level cache while every
    // row is added to them.
    constexpr size_t kStrip = 4096;
    premul.resize(kStrip);
    for (size_t i0 = 0; i0 < n; i0 += kStrip) {
        const size_t len = std::min(kStrip, n - i0);
        for (size_t k = 0; k < rows; ++k) {
            if (w[k] == 0) continue;
            const uint8_t* s8 = row(k) + i0;
            if (opaque) {
                AddWeighted(acc.data() + i0, s8, len, w[k]);
                continue;
            }
            for (size_t i = 0; i < len; i += 4) {
                const uint16_t a = s8[i + kA];
                for (size_t c = 0; c < 4; ++c) premul[i + c] = static_cast<uint16_t>((c == kA ? 255 : s8[i + c]) * a);
            }
            AddWeighted(acc.data() + i0, premul.data(), len, w[k]);
        }
    }
    return {total, opaque};
}

}  // namespace

static void DoDrawPicture(Picture& dst, const Picture& src, const RectI& srcRect, const RectF& dstRect,
                          float opacity) {
    if (dst.IsNull() || src.IsNull()) return;
    if (!(opacity > 0)) return;
    opacity = std::min(opacity, 1.0f);
    // The source rectangle within the source picture; a part outside it shrinks the
    // destination in proportion.
    const int64_t sx0 = std::max<int64_t>(srcRect.x, 0), sy0 = std::max<int64_t>(srcRect.y, 0);
    const int64_t sx1 = std::min<int64_t>(int64_t{srcRect.x} + srcRect.width, src.Width());
    const int64_t sy1 = std::min<int64_t>(int64_t{srcRect.y} + srcRect.height, src.Height());
    if (srcRect.width <= 0 || srcRect.height <= 0 || sx0 >= sx1 || sy0 >= sy1) return;
    if (!std::isfinite(dstRect.x) || !std::isfinite(dstRect.y) || !std::isfinite(dstRect.width) ||
        !std::isfinite(dstRect.height) || !(dstRect.width > 0) || !(dstRect.height > 0))
        return;
    const double kx = dstRect.width / srcRect.width, ky = dstRect.height / srcRect.height;
    const double dx0 = dstRect.x + (sx0 - srcRect.x) * kx, dx1 = dstRect.x + (sx1 - srcRect.x) * kx;
    const double dy0 = dstRect.y + (sy0 - srcRect.y) * ky, dy1 = dstRect.y + (sy1 - srcRect.y) * ky;
    if (!std::isfinite(dx0 + dx1 + dy0 + dy1)) return;
    const int px0 = static_cast<int>(std::floor(Clamp(dx0, 0, dst.Width())));
    const int px1 = static_cast<int>(std::ceil(Clamp(dx1, 0, dst.Width())));
    const int py0 = static_cast<int>(std::floor(Clamp(dy0, 0, dst.Height())));
    const int py1 = static_cast<int>(std::ceil(Clamp(dy1, 0, dst.Height())));
    if (px0 >= px1 || py0 >= py1) return;
    const int sw = static_cast<int>(sx1 - sx0), sh = static_cast<int>(sy1 - sy0);
    const auto cols = AxisContributions(static_cast<int>(sx0), sw, dx0, dx1 - dx0, px0, px1);
    const auto rows = AxisContributions(static_cast<int>(sy0), sh, dy0, dy1 - dy0, py0, py1);

    int cFirst = INT32_MAX, cLast = -1;  // source columns any destination column reads
    for (const Contribution& c : cols) {
        if (c.weights.empty()) continue;
        cFirst = std::min(cFirst, c.first);
        cLast = std::max(cLast, c.first + static_cast<int>(c.weights.size()) - 1);
    }
    if (cLast < cFirst) return;
    // Rows are combined first (SumRows), then columns.
    const size_t n = static_cast<size_t>(cLast - cFirst + 1) * 4;
    std::vector<uint32_t> acc(n);
    std::vector<uint16_t> premul(n);
    for (int y = py0; y < py1; ++y) {
        const Contribution& rc = rows[static_cast<size_t>(y - py0)];
        if (rc.weights.empty()) continue;
        const RowSum rs = SumRows(src, rc, cFirst, acc, premul);
        if (rs.total == 0) continue;
        const uint32_t total = rs.total;
        const bool opaque = rs.opaque;
        uint32_t* d = dst.Row(y);
        for (int x = px0; x < px1; ++x) {
            const Contribution& cc = cols[static_cast<size_t>(x - px0)];
            if (cc.weights.empty()) continue;
            float sum[4] = {0, 0, 0, 0};
            const uint32_t* l = &acc[static_cast<size_t>(cc.first - cFirst) * 4];
            for (size_t k = 0; k < cc.weights.size(); ++k, l += 4)
                // Sums stay below 2^31: as signed, they convert to float in one instruction.
                for (int c = 0; c < 4; ++c) sum[c] += static_cast<float>(static_cast<int32_t>(l[c])) * cc.weights[k];
            // Opaque rows hold plain channels; premultiplied ones colour * alpha and alpha * 255.
            const float alpha = opaque ? sum[kA] / total : sum[kA] / (255.0f * total);
            if (!(alpha > 0)) continue;
            const float toColour = opaque ? 1.0f / total : 255.0f / sum[kA];
            uint8_t bytes[4];
            for (int c = 0; c < 4; ++c) bytes[c] = static_cast<uint8_t>(Clamp(sum[c] * toColour + 0.5f, 0, 255));
            uint32_t colour;
            std::memcpy(&colour, bytes, 4);
            const float a = alpha * cc.coverage * rc.coverage * opacity;
            d[x] = BlendPixel(d[x], colour & 0xFFFFFF, static_cast<uint32_t>(Clamp(a + 0.5f, 0, 255)));
        }
    }
}

namespace {

// Working memory that cannot be had stops the call and says so in the picture's status, like
// a failed call of the platform's raster library; the row scratch is dropped, as a failure
// half-way may have left it dirty.
template <typename Draw>
void Guarded(Picture& dst, Draw&& draw) {
    try {
        draw();
    } catch (const std::bad_alloc&) {
        ThreadScratch() = Scratch();
        dst.SetStatus(Status::OutOfMemory);
    }
}

}  // namespace

void FillRectangleGradient(Picture& dst, const RectI& rect, PointF p1, PointF p2, ARGB c1,
                           ARGB c2) {
    Guarded(dst, [&] { DoFillRectangleGradient(dst, rect, p1, p2, c1, c2); });
}

void FillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                 const RectI& clip) {
    Guarded(dst, [&] { DoFillPolygon(dst, points, count, color, antiAlias, clip); });
}

void DrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                 const RectI& clip) {
    Guarded(dst, [&] { DoDrawPolygon(dst, points, count, color, antiAlias, clip); });
}

void DrawMeshTriangle(Picture& dst, const PointI* points, ARGB fill, ARGB pen, const RectI& clip) {
    Guarded(dst, [&] { DoDrawMeshTriangle(dst, points, fill, pen, clip); });
}

void DrawPicture(Picture& dst, const Picture& src, const RectI& srcRect, const RectF& dstRect,
                 float opacity) {
    Guarded(dst, [&] { DoDrawPicture(dst, src, srcRect, dstRect, opacity); });
}
