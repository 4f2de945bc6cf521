// The code of raster_outlined_impl.h built with AVX2; used only on processors that have it,
// while selected (raster.h's SetRowCode).
#include "raster_outlined_impl.h"

namespace raster_internal {

void DrawOutlinedAvx2(Picture& dst, const ClipBox& clip, int firstRow, const MeshFillTriangle* tris,
                      size_t count, ARGB color, ARGB pen) {
    outlined::Draw(dst, clip, firstRow, tris, count, color, pen);
}

}  // namespace raster_internal
