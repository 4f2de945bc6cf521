#pragma once
// Inside the rasterizer: convex shapes, and the two layers of a mesh triangle (its fill and
// its outline's ring) in one pass over the rows.
#include <cstddef>

#include "raster_cells.h"

namespace raster_internal {

// A shape of FillConvexLayers: a convex polygon, less a convex hole when nh > 0, in a colour.
struct ConvexLayer {
    const PointF* outer;
    size_t no;
    const PointF* hole;
    size_t nh;
    ARGB color;
};

// Fills up to two shapes, each over the one before, within the clip. With opaqueDst the caller
// vouches that every pixel of the picture is opaque, which lets whole groups of pixels blend at
// once and takes the closed-form rows (raster_rows.h) where the shape allows. Returns false,
// having drawn nothing, for shapes it cannot take (not convex, too many edges, not finite).
bool FillConvexLayers(Picture& dst, const ClipBox& clip, const ConvexLayer* layers, int count,
                      bool opaqueDst);

}  // namespace raster_internal
