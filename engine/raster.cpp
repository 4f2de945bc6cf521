// Polygons and outlines: each call picks its route (see raster.h) and hands the shape to it.
#include <vector>

#include "raster.h"
#include "raster_convex.h"
#include "raster_scan.h"
#include "raster_stroke.h"

using namespace raster_internal;

namespace {

PointF ToF(const PointI& p) {
    return {static_cast<double>(p.x), static_cast<double>(p.y)};
}

void DoFillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                   const RectI& clip) {
    ClipBox box;
    if (!points || count < 3 || !ClipRect(dst, clip, box)) return;
    if (antiAlias && count == 3) {
        const PointF tri[3] = {ToF(points[0]), ToF(points[1]), ToF(points[2])};
        const ConvexLayer layer{tri, 3, nullptr, 0, color};
        if (FillConvex(dst, box, layer)) return;
    }
    ScanFill r(dst, box);
    for (size_t i = 0; i < count; ++i) {
        const PointI& a = points[i];
        const PointI& b = points[i + 1 < count ? i + 1 : 0];
        r.AddEdge(a.x, a.y, b.x, b.y);
    }
    r.Fill(color, FillRule::EvenOdd, antiAlias ? Coverage::ExactArea : Coverage::Aliased);
}

void DoDrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                   const RectI& clip) {
    ClipBox box;
    if (!points || count < 2 || !ClipRect(dst, clip, box)) return;
    const std::vector<PointF>*outer, *inner;
    if (ConvexStroke(points, count, outer, inner)) {
        if (antiAlias) {
            const ConvexLayer ring{outer->data(), outer->size(), inner->data(), inner->size(),
                                   color};
            if (FillConvex(dst, box, ring)) return;
        }
        std::vector<PointF> o = *outer, i = *inner;
        ScanFill r(dst, box);
        r.AddOriented(o.data(), o.size(), true);
        if (!i.empty()) r.AddOriented(i.data(), i.size(), false);
        r.Fill(color, FillRule::NonZero, antiAlias ? Coverage::ExactArea : Coverage::Aliased);
        return;
    }
    ScanFill r(dst, box);
    for (std::vector<PointF>& piece : StrokeUnion(points, count))
        r.AddOriented(piece.data(), piece.size(), true);
    r.Fill(color, FillRule::NonZero, antiAlias ? Coverage::Sampled : Coverage::Aliased);
}

}  // namespace

void FillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias) {
    FillPolygon(dst, points, count, color, antiAlias, RectI{0, 0, dst.Width(), dst.Height()});
}

void DrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias) {
    DrawPolygon(dst, points, count, color, antiAlias, RectI{0, 0, dst.Width(), dst.Height()});
}

void FillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                 const RectI& clip) {
    Guarded(dst, [&] { DoFillPolygon(dst, points, count, color, antiAlias, clip); });
}

void DrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                 const RectI& clip) {
    Guarded(dst, [&] { DoDrawPolygon(dst, points, count, color, antiAlias, clip); });
}
