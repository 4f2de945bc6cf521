// The general scanline fill: edges sorted by their top, kept active while they cross the row.
#include "raster_scan.h"

namespace raster_internal {

Scratch& ThreadScratch() {
    thread_local Scratch s;
    return s;
}

namespace {

class ScanRows : CellRows {
public:
    ScanRows(Picture& dst, const ClipBox& clip) : CellRows(dst, clip) {}

    void Run(ARGB color, FillRule rule, Coverage mode) {
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
        std::sort(edges.begin(), edges.end(),
                  [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
        if (m_s.cells.size() < static_cast<size_t>(m_w) + 3)
            m_s.cells.assign(static_cast<size_t>(m_w) + 3, 0.0f);
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
                    if (rule == FillRule::EvenOdd)
                        RowExact<FillRule::EvenOdd>(y, color);
                    else
                        RowExact<FillRule::NonZero>(y, color);
                    break;
                case Coverage::Sampled:
                    RowSampled(y, color, rule);
                    break;
                case Coverage::Aliased:
                    RowAliased(y, color, rule);
                    break;
            }
        }
    }

    // Exact-area fill of one convex polygon, or of the ring between a convex polygon and a
    // convex hole inside it, with no edge list to sort and no active edges to keep: per row

private:
    // Adds the signed area right of the segment, within the row band, to the cells it crosses.
    // y relative to the row top, x already within [0, w].
    void Accumulate(double xa, double ya, double xb, double yb) {
        if (yb == ya) return;
        m_s.intervals.push_back(AddCells(m_s.cells.data(), xa, ya, xb, yb));
    }

    // sides; the parts outside become vertical runs on the border (those on the left still
    // cover the row).
    void AccumulateClipped(double xa, double ya, double xb, double yb) {
        // Nearly always inside: kept small so that it joins the row loop.
        if (xa >= m_cx0 && xa <= m_cx1 && xb >= m_cx0 && xb <= m_cx1)
            Accumulate(xa, ya, xb, yb);
        else
            AccumulateSplit(xa, ya, xb, yb);
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
            std::sort(cr.begin(), cr.end(),
                      [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
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
        std::sort(cr.begin(), cr.end(),
                  [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
        int winding = 0;
        uint32_t* row = m_dst.Row(y);
        for (size_t i = 0; i + 1 < cr.size(); ++i) {
            winding += rule == FillRule::EvenOdd ? 1 : cr[i].dir;
            if (rule == FillRule::EvenOdd ? (winding & 1) == 0 : winding == 0) continue;
            // Pixels whose centre lies in (xa, xb].
            const int x0 =
                static_cast<int>(std::floor(Clamp(cr[i].x - 0.5, m_cx0 - 1, m_cx1 - 1))) + 1;
            const int x1 =
                static_cast<int>(std::floor(Clamp(cr[i + 1].x - 0.5, m_cx0 - 1, m_cx1 - 1))) + 1;
            BlendSpanAnyDst(row + x0, x1 - x0, color & 0xFFFFFF, color >> 24);
        }
    }
};

}  // namespace

void ScanFill::Fill(ARGB color, FillRule rule, Coverage mode) {
    ScanRows(m_dst, m_clip).Run(color, rule, mode);
}

}  // namespace raster_internal
