#include "raster_stroke.h"

#include <cmath>
#include <numbers>

#include "raster_cells.h"

namespace raster_internal {

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
        const double dot =
            (b.x - a.x) * (p[(i + 1) % n].x - p[i].x) + (b.y - a.y) * (p[(i + 1) % n].y - p[i].y);
        hole = dot > 0;
    }
    if (!hole && n > 3) return false;
    if (!hole) inner.clear();
    outerOut = &outer;
    innerOut = &inner;
    return true;
}

std::vector<std::vector<PointF>> StrokeUnion(const PointI* points, size_t count) {
    std::vector<std::vector<PointF>> out;
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
        out.push_back({{a.x + n.x, a.y + n.y},
                       {b.x + n.x, b.y + n.y},
                       {b.x - n.x, b.y - n.y},
                       {a.x - n.x, a.y - n.y}});
    }
    for (size_t i = 0; i < count; ++i) {
        if (!valid[i]) continue;
        size_t j = (i + 1) % count;
        while (j != i && !valid[j]) j = (j + 1) % count;
        if (j == i) continue;
        const PointF v{static_cast<double>(points[(i + 1) % count].x),
                       static_cast<double>(points[(i + 1) % count].y)};
        const PointF n1 = normals[i], n2 = normals[j];
        out.push_back({v, {v.x + n1.x, v.y + n1.y}, {v.x + n2.x, v.y + n2.y}});
        out.push_back({v, {v.x - n1.x, v.y - n1.y}, {v.x - n2.x, v.y - n2.y}});
    }
    return out;
}

}  // namespace raster_internal
