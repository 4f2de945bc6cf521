// DrawMeshOutlined: the code of raster_outlined_impl.h built for any processor, and the choice
// of the AVX2 build where the processor has it.
#include "raster_outlined_impl.h"

namespace raster_internal {

void DrawOutlinedPlain(Picture& dst, const ClipBox& clip, int firstRow,
                       const MeshFillTriangle* tris, size_t count, ARGB color, ARGB pen) {
    outlined::Draw(dst, clip, firstRow, tris, count, color, pen);
}

#if defined(FACETTA_AVX2_ROWS)
void DrawOutlinedAvx2(Picture& dst, const ClipBox& clip, int firstRow, const MeshFillTriangle* tris,
                      size_t count, ARGB color, ARGB pen);
#endif

}  // namespace raster_internal

void DrawMeshOutlined(Picture& dst, int firstRow, const MeshFillTriangle* tris, size_t count,
                      ARGB color, ARGB pen, const RectI& clip) {
    using namespace raster_internal;
    Guarded(dst, [&] {
        ClipBox box;
        if (!ClipRect(dst, clip, box) || !tris || (pen >> 24) == 0) return;
#if defined(FACETTA_AVX2_ROWS)
        if (UseAvx2())
            return DrawOutlinedAvx2(dst, box, firstRow, tris, count, color & 0xFFFFFF, pen);
#endif
        DrawOutlinedPlain(dst, box, firstRow, tris, count, color & 0xFFFFFF, pen);
    });
}
