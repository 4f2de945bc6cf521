// Convex shapes with no edge list to sort and no active edges to keep: per row each edge's
// part is added straight into the cells, and each side of the shape touches one run of cells.
#include "raster_convex.h"

#include <algorithm>

namespace raster_internal {

namespace {

// An edge of a convex shape, for adding to the cells row by row.
struct LeanEdge {
    double x0, y0, y1, dxdy, dir;  // y0 < y1; dir +1 where the edge goes down, -1 up
    int8_t side;                   // the slot of its side's run of cells
};

// A convex shape prepared for drawing a row at a time, and where that drawing has got to:
// rows are drawn in order, from rowBegin to rowEnd.
struct ConvexPlan {
    static constexpr size_t kMaxEdges = 16;
    LeanEdge edges[kMaxEdges];     // in slot order
    double breaks[2 * kMaxEdges];  // the edges' ends, sorted
    ARGB color = 0;
    uint8_t ne = 0;
    bool clamp = false;  // may reach the clip's sides
    int rowBegin = 0, rowEnd = 0;
    // Rows before segEnd have no vertex inside them and share the active edges.
    size_t next = 0;  // first break below the rows done
    int segEnd = INT32_MIN;
    uint8_t na = 0;
    LeanEdge active[kMaxEdges];  // the edges of those rows
};

class ConvexFill : CellRows {
public:
    ConvexFill(Picture& dst, const ClipBox& clip) : CellRows(dst, clip) {}

    bool Fill(const ConvexLayer& shape) {
        ConvexPlan plan;
        if (!PlanConvex(shape, plan)) return false;
        for (int y = plan.rowBegin; y < plan.rowEnd;)
            y = plan.clamp ? ConvexRows<true>(plan, y) : ConvexRows<false>(plan, y);
        return true;
    }

    // Prepares a shape for drawing row by row. Returns false for what it cannot take (not
    // convex, too many edges, not finite); a plan with no rows draws nothing.
    bool PlanConvex(const ConvexLayer& shape, ConvexPlan& plan) {
        constexpr size_t kMax = ConvexPlan::kMaxEdges;
        LeanEdge edges[kMax];
        size_t ne = 0;
        double ymin = 0, ymax = 0, xmin = 0, xmax = 0;
        bool any = false;
        const PointF* polys[2] = {shape.outer, shape.hole};
        const size_t counts[2] = {shape.no, shape.nh};
        for (int k = 0; k < 2; ++k) {
            const PointF* p = polys[k];
            const size_t n = counts[k];
            if (n == 0) continue;
            if (n < 3 || ne + n > kMax) return false;
            // The hole counts the other way round from the outer polygon.
            const double area = SignedArea(p, n);
            if (!(area != 0) || !std::isfinite(area)) return false;
            const double sign = (area > 0) == (k == 0) ? 1 : -1;
            // Each side's run of cells gets a slot in the order the runs usually lie from left
            // to right (the hole inside the polygon), so that sorting them seldom moves
            // anything. With a positive area (y pointing down) the edges going down make the
            // right side.
            static constexpr int8_t kLeftSlot[2] = {0, 1}, kRightSlot[2] = {3, 2};
            const int8_t down = area > 0 ? kRightSlot[k] : kLeftSlot[k];
            const int8_t up = area > 0 ? kLeftSlot[k] : kRightSlot[k];
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
                // Edges going down make one side of a convex polygon, edges going up the other.
                const double dxdy = (b.x - a.x) / (b.y - a.y);
                if (a.y < b.y)
                    edges[ne++] = {a.x, a.y, b.y, dxdy, sign, down};
                else
                    edges[ne++] = {b.x, b.y, a.y, dxdy, -sign, up};
            }
        }
        plan.color = shape.color;
        plan.ne = 0;
        plan.rowBegin = plan.rowEnd = 0;
        // A shape that draws nothing is left out.
        if (m_dst.IsNull() || (shape.color >> 24) == 0) return true;
        // Edges in slot order (stable), so that every way through adds to a cell in one order.
        for (size_t i = 0; i < ne; ++i) {
            size_t j = plan.ne++;
            for (; j > 0 && plan.edges[j - 1].side > edges[i].side; --j)
                plan.edges[j] = plan.edges[j - 1];
            plan.edges[j] = edges[i];
        }
        if (plan.ne == 0) return true;
        SortBreaks(plan);
        plan.rowBegin = static_cast<int>(std::floor(Clamp(ymin, m_cy0, m_cy1)));
        plan.rowEnd = static_cast<int>(std::ceil(Clamp(ymax, m_cy0, m_cy1)));
        // Rounding may take an x a hair beyond its vertices: only shapes near the clip's sides
        // need care there. At the picture's own sides a hair beyond is harmless: it leaves the
        // outer pixel's cover all but the same.
        const double left = m_cx0 == 0 ? 0.0 : m_cx0 + 1.0,
                     right = m_cx1 == m_w ? m_w : m_cx1 - 1.0;
        plan.clamp = !(xmin >= left && xmax <= right);
        // An edge at the right side touches two cells past it.
        const size_t need = static_cast<size_t>(m_w) + 3;
        if (m_s.cells.size() < need) m_s.cells.assign(need, 0.0f);
        return true;
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

    // One edge's part in a row, added to the cells; returns the cells it touched.
    template <bool clamp>
    Interval AddEdgeRow(const LeanEdge& e, double top, double ya, double yb) {
        float* acc = m_s.cells.data();
        const double xa = e.x0 + (ya - e.y0) * e.dxdy, xb = e.x0 + (yb - e.y0) * e.dxdy;
        const double dya = (ya - top) * e.dir, dyb = (yb - top) * e.dir;
        if constexpr (clamp) {
            if (!(xa >= m_cx0 && xa <= m_cx1 && xb >= m_cx0 && xb <= m_cx1))
                return AddCellsClipped(acc, xa, dya, xb, dyb);
        }
        return AddCells(acc, xa, dya, xb, dyb);
    }

    // Row y of a plan; returns the row to go on from.
    template <bool clamp>
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
        Interval runs[ConvexPlan::kMaxEdges];
        size_t n = 0;
        if (y < P.segEnd) {
            for (; n < P.na; ++n) runs[n] = AddEdgeRow<clamp>(P.active[n], top, top, bottom);
        } else {
            Interval slots[4];
            for (Interval& s : slots) s = {INT32_MAX, -1};
            for (size_t i = 0; i < P.ne; ++i) {
                const LeanEdge& e = P.edges[i];
                const double ya = std::max(e.y0, top), yb = std::min(e.y1, bottom);
                if (!(ya < yb)) continue;
                const Interval touched = AddEdgeRow<clamp>(e, top, ya, yb);
                Interval& s = slots[e.side];
                s.lo = std::min(s.lo, touched.lo);
                s.hi = std::max(s.hi, touched.hi);
            }
            for (const Interval& s : slots)
                if (s.hi >= 0) runs[n++] = s;
        }
        BlendCells<FillRule::NonZero>(y, P.color, runs, n);
        return y + 1;
    }
};

}  // namespace

bool FillConvex(Picture& dst, const ClipBox& clip, const ConvexLayer& shape) {
    return ConvexFill(dst, clip).Fill(shape);
}

}  // namespace raster_internal
