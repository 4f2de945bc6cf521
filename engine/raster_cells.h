#pragma once
// Inside the rasterizer: rows of cells that collect the exact area a shape's edges leave in
// each pixel, summed along the row and blended; shared by the general scanline fill and the
// convex one. Edges are kept in doubles and clipped to the picture before any conversion to
// int, so every int32 input is safe.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "raster.h"
#include "raster_pixels.h"

namespace raster_internal {

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

// An edge of a mesh's fill layer, top to bottom, with the cover it adds to the right of it
// (1 is a full cover): a triangle's edges weigh its alpha.
struct WeightedEdge {
    double x0, y0, x1, y1;  // y0 < y1
    double weight;
};

// A mesh triangle's edge, its ends packed as sortable integers, y first.
struct KeyedEdge {
    uint64_t top, bottom;
    double weight;
};

// Where mesh triangles overlap: a convex polygon (corners in a shared list) and its weight.
struct OverlapPart {
    size_t corner;
    uint8_t n;
    double weight;
};

// A triangle's bounding box, its place in a list of triangles and a bucket of rows it is in.
struct TriangleBox {
    int32_t x0, x1, y0, y1;
    uint32_t id;
    int32_t bucket;
};

// Per-thread scratch kept between calls: a picture's worth of triangles must not allocate
// and clear a row buffer each.
struct Scratch {
    std::vector<float> cells;  // all zero between calls
    std::vector<Edge> edges;
    std::vector<const Edge*> active;
    std::vector<Interval> intervals;
    std::vector<Crossing> crossings;
    std::vector<KeyedEdge> meshKeyed;
    std::vector<WeightedEdge> meshEdges;
    std::vector<float> meshCells;  // a band of rows of cells, all zero between calls
    std::vector<PointF> meshCorners;
    std::vector<OverlapPart> meshParts;
    std::vector<size_t> meshFirst;
    std::vector<std::pair<uint32_t, uint32_t>> meshPairs;
    std::vector<TriangleBox> meshBoxes, meshActive;
    std::vector<uint64_t> meshBlocks;  // per row of meshCells, its blocks of cells touched
};

Scratch& ThreadScratch();

inline double SignedArea(const PointF* p, size_t n) {
    double a = 0;
    for (size_t i = 0; i < n; ++i) {
        const PointF& u = p[i];
        const PointF& v = p[i + 1 < n ? i + 1 : 0];
        a += u.x * v.y - v.x * u.y;
    }
    return a / 2;
}

// The part of a picture a call draws in: [x0, x1) x [y0, y1).
struct ClipBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Intersection of rect with the picture as [x0, x1) x [y0, y1); 64-bit so that x + width
// cannot overflow.
inline bool ClipRect(const Picture& dst, const RectI& r, ClipBox& box) {
    if (dst.IsNull() || r.width <= 0 || r.height <= 0) return false;
    const int64_t l = std::max<int64_t>(r.x, 0);
    const int64_t t = std::max<int64_t>(r.y, 0);
    const int64_t rr = std::min<int64_t>(int64_t{r.x} + r.width, dst.Width());
    const int64_t b = std::min<int64_t>(int64_t{r.y} + r.height, dst.Height());
    if (l >= rr || t >= b) return false;
    box = {static_cast<int>(l), static_cast<int>(t), static_cast<int>(rr), static_cast<int>(b)};
    return true;
}

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

// The cells of one row within a clip, and how they are blended onto the picture.
class CellRows {
protected:
    CellRows(Picture& dst, const ClipBox& c)
        : m_dst(dst),
          m_w(dst.Width()),
          m_cx0(c.x0),
          m_cy0(c.y0),
          m_cx1(c.x1),
          m_cy1(c.y1),
          m_s(ThreadScratch()) {}

    // outside onto the side they are beyond, as vertical runs (those on the left still cover
    // the row). Returns the number of pieces; piece i runs from point i to point i + 1.
    int SplitAtSides(double xa, double ya, double xb, double yb, double (&xs)[4],
                     double (&ys)[4]) const {
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

    // Between them the coverage is the constant running sum.
    static size_t MergeIntervals(Interval* iv, size_t count) {
        for (size_t i = 1; i < count; ++i)  // a handful per row: insertion sort
            for (size_t j = i; j > 0 && iv[j].lo < iv[j - 1].lo; --j) std::swap(iv[j], iv[j - 1]);
        size_t m = 0;
        for (size_t i = 1; i < count; ++i) {
            if (iv[i].lo <= iv[m].hi + 1)
                iv[m].hi = std::max(iv[m].hi, iv[i].hi);
            else
                iv[++m] = iv[i];
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
                    BlendSpanAnyDst(row + gapLo, gapHi - gapLo, rgb,
                                    CoverageAlpha<rule>(sum, alpha));
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

    Picture& m_dst;
    int m_w;
    int m_cx0, m_cy0, m_cx1, m_cy1;
    Scratch& m_s;
};
}  // namespace raster_internal
