#pragma once
// Inside the rasterizer: the geometry of a polygon's outline drawn with a 1-pixel pen, as
// shapes to fill. Pure geometry: no pixels.
#include <cstddef>
#include <vector>

#include "raster.h"

namespace raster_internal {

// The stroke of a convex polygon with a 1-pixel pen and bevelled corners is the region between
// two convex polygons: the outline pushed out by half a pixel (corners cut) and pulled in by
// half a pixel. Exact area coverage of "outer minus inner" then blends every pixel once.
// Returns false when the points do not make a convex polygon; otherwise the two polygons
// (held per thread until the next call), the inner one empty when the pen covers the whole inside.
bool ConvexStroke(const PointI* points, size_t count, const std::vector<PointF>*& outerOut,
                  const std::vector<PointF>*& innerOut);

// Any other outline: the union of one quad per edge and a bevel at each corner, in the order
// they are to be filled (nonzero, each counted positive).
std::vector<std::vector<PointF>> StrokeUnion(const PointI* points, size_t count);

}  // namespace raster_internal
