#pragma once
// The code behind DrawMeshOutlined (raster.h), built into each file that includes it for that
// file's processor: raster_outlined.cpp for any, raster_outlined_avx2.cpp for those with AVX2.
// Integer masks and the same double arithmetic (no FMA) in both: the same bytes.
//
// A mesh with outlines: every triangle's fill and then its outline ring, in mesh order, over
// an opaque picture. Layers of two colours pile up along every edge (a ring over its own fill,
// the next triangle's fill and ring over both), so unlike the fills alone the pixels there
// cannot be summed from areas. A pixel a layer covers only in part keeps a small record instead
// (raster_outlined_records.h): along one edge, away from its ends, four strips of exact area
// (raster_outlined_strips.h); round a corner, its 16 x 16 points in groups of one colour
// (raster_outlined_points.h). Every layer updates the records it touches, and the pixel ends as
// their mean. Pixels inside a layer are blended whole, as a span. Here: the triangles prepared,
// and the rows walked.
#include <algorithm>
#include <cmath>
#include <vector>

#include "raster.h"
#include "raster_cells.h"
#include "raster_outlined_records.h"
#include "raster_pixels.h"
#include "raster_stroke.h"

namespace {
namespace outlined {

using namespace raster_internal;

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
                if (y >= top[i] && y <= bottom[i]) DrawRow(prepared[i], y, row, penTint, records);
            records.Resolve(row);
        }
    }

private:
    void DrawRow(const Prepared& p, int y, uint32_t* row, const Tint& penTint,
                 RowRecords& records) {
        const Tint& fillTint = p.tint;
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
