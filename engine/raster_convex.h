#pragma once
// Inside the rasterizer: convex shapes (a triangle, or an outline's ring) without an edge list.
#include <cstddef>

#include "raster_cells.h"

namespace raster_internal {

// A shape of FillConvex: a convex polygon, less a convex hole when nh > 0, in a colour.
struct ConvexLayer {
    const PointF* outer;
    size_t no;
    const PointF* hole;
    size_t nh;
    ARGB color;
};

// Fills the shape within the clip. Returns false, having drawn nothing, for shapes it cannot
// take (not convex, too many edges, not finite).
bool FillConvex(Picture& dst, const ClipBox& clip, const ConvexLayer& shape);

}  // namespace raster_internal
