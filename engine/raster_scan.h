#pragma once
// Inside the rasterizer: the general scanline fill, for any polygon or set of polygons. Three
// ways to cover a pixel:
//  - ExactArea: the signed area of each edge's part in a row is accumulated per cell and summed
//    along the row; cells between edges get the running sum, blended as one span.
//  - Sampled: 16 sub-scanlines per row, each with exact horizontal coverage; for unions of
//    overlapping shapes, where summing areas would count an overlap twice.
//  - Aliased: the pixel centre decides.
#include <cstddef>

#include "raster_cells.h"

namespace raster_internal {

enum class Coverage { ExactArea, Sampled, Aliased };

// Collects edges, then fills what they enclose within a clip.
class ScanFill {
public:
    ScanFill(Picture& dst, const ClipBox& clip)
        : m_dst(dst), m_clip(clip), m_edges(ThreadScratch().edges) {
        m_edges.clear();
    }

    void AddEdge(double x0, double y0, double x1, double y1) {
        if (!(y0 != y1)) return;  // horizontal, or NaN
        if (y0 < y1)
            m_edges.push_back({x0, y0, x1, y1, (x1 - x0) / (y1 - y0), 1});
        else
            m_edges.push_back({x1, y1, x0, y0, (x0 - x1) / (y0 - y1), -1});
    }

    void AddPolygon(const PointF* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const PointF& a = p[i];
            const PointF& b = p[i + 1 < n ? i + 1 : 0];
            AddEdge(a.x, a.y, b.x, b.y);
        }
    }

    // Adds the polygon with the given orientation (reversing it in place if need be), so that a
    // nonzero fill counts it +1 or -1.
    void AddOriented(PointF* p, size_t n, bool positive) {
        const double a = SignedArea(p, n);
        if (a == 0) return;
        if ((a > 0) != positive) std::reverse(p, p + n);
        AddPolygon(p, n);
    }

    void Fill(ARGB color, FillRule rule, Coverage mode);

private:
    Picture& m_dst;
    ClipBox m_clip;
    std::vector<Edge>& m_edges;
};

}  // namespace raster_internal
