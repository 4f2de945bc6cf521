#pragma once
// The engine's own rasterizer: the handful of drawing operations the renderer, the preview
// and the banner need, done in software on a Picture.
//
// Geometry: pixel (x, y) is the unit square [x, x+1) x [y, y+1); a polygon covers a pixel by
// the exact area of their intersection when anti-aliased, or by the pixel centre when not.
// Blending is source-over with straight alpha. Everything is clipped to the picture: any
// coordinates (far outside, huge, degenerate) are safe. A call that cannot get the working
// memory it needs stops where it is and sets the picture's LastStatus() to OutOfMemory.
//
// Route map (which shape goes where, and why):
//  - FillRectangle, FillRectangleGradient: raster_gradient.cpp, a row at a time through the
//    span blenders of raster_pixels.cpp (a gradient from a table over one mirrored period).
//  - DrawPicture: raster_scale.cpp, rows combined first, then columns.
//  - FillPolygon of a triangle, anti-aliased, and DrawPolygon of a convex outline (the ring
//    between two convex polygons, raster_stroke.cpp): raster_convex.cpp, the convex fill, which
//    needs no edge list to sort; each row's edge pieces go into cells (raster_cells.h).
//  - DrawMeshFills, a mesh without outlines: raster_mesh.cpp, every triangle's edges weighted
//    by its alpha into one band of cells, whose running sums are the pixels' mean alphas:
//    exact areas, and no seams between neighbours.
//  - DrawMeshOutlined, a mesh with outlines: raster_outlined_impl.h (built plain and for AVX2)
//    and its parts. Fills and rings pile up in two colours along every edge, so areas alone
//    cannot sum them: a pixel a layer covers only in part keeps exact strips along one edge
//    (raster_outlined_strips.h), or 16 x 16 points round a corner (raster_outlined_points.h),
//    and ends as their mean; pixels a layer covers whole go as spans.
//  - Anything else (more corners, not convex, aliased, outlines that overlap themselves):
//    raster_scan.cpp, the general scanline fill with an active edge list.
// Every route blends with the helpers of raster_pixels.h, so that they round alike.
#include <cstddef>
#include <cstdint>

#include "image_settings.h"
#include "picture.h"

struct PointI {
    int32_t x = 0;
    int32_t y = 0;
};
struct PointF {
    double x = 0;
    double y = 0;
};
struct RectI {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};
struct RectF {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// Solid fill of a rectangle.
void FillRectangle(Picture& dst, const RectI& rect, ARGB color);

// Linear gradient over a rectangle: c1 at p1, c2 at p2, each channel linear along p1->p2 and
// constant across it, repeated beyond the segment with every second repeat mirrored. Points
// that coincide give no direction and draw nothing.
void FillRectangleGradient(Picture& dst, const RectI& rect, PointF p1, PointF p2, ARGB c1, ARGB c2);

// Polygon fill, alternate (even-odd) rule.
void FillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias);

// Closed outline through the points with a 1-pixel pen, drawn as one shape so that corners
// and overlapping edges are blended once.
void DrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias);

// The same two, drawing only inside `clip`: a caller can draw a picture a band of rows at a
// time, so that the band stays in the processor's cache for every layer.
void FillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                 const RectI& clip);
void DrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias,
                 const RectI& clip);

// A triangle of a mesh's fill layer: its corners and its alpha.
struct MeshFillTriangle {
    PointI p[3];
    uint8_t alpha = 0;
};

// The fills of a mesh's triangles, all in color's RGB, each at its own alpha, as one layer over
// an opaque picture: each pixel gets what compositing every point of it on its own and
// averaging would give, so triangles sharing an edge leave no seam and the quarter two
// triangles of a cell both cover is tinted twice. Row r of dst is row firstRow + r of the
// mesh; only rows within clip are drawn, and with all the triangles that reach them given (in
// mesh order), each row comes out the same whichever band of rows it is drawn in. With `under`
// (pixels from x = 0 to the clip's right side), each row is drawn over those pixels rather than
// over what it holds: one pass instead of copying a background row in first.
void DrawMeshFills(Picture& dst, int firstRow, const MeshFillTriangle* tris, size_t count,
                   ARGB color, const RectI& clip, const uint32_t* under = nullptr);

// A mesh's triangles with outlines, as one picture of layers over an opaque picture: each
// triangle's fill in color's RGB at its own alpha, then its outline ring with pen (pen's alpha
// above 0), in mesh order. Each pixel gets what compositing 16 x 16 points of it one by one
// and averaging would give, so layers sharing an edge leave no seam. Rows and bands as for
// DrawMeshFills.
void DrawMeshOutlined(Picture& dst, int firstRow, const MeshFillTriangle* tris, size_t count,
                      ARGB color, ARGB pen, const RectI& clip);

// Which build of the row code draws. The AVX2 build is taken where the processor has it,
// unless FACETTA_NO_AVX2 is set in the environment; tests switch between the two in one
// process to compare their bytes. Both builds give the same bytes.
enum class RowCode { Plain, Avx2 };
// Whether this build and processor have the AVX2 row code at all.
bool HasAvx2RowCode();
// Selects the row code for every thread; asking for AVX2 where there is none keeps to the plain
// code.
void SetRowCode(RowCode code);
RowCode CurrentRowCode();

// Draws srcRect of src scaled into dstRect, honouring src's alpha, with its alpha further
// multiplied by opacity (0..1). Bilinear when enlarging, area-averaging when reducing.
void DrawPicture(Picture& dst, const Picture& src, const RectI& srcRect, const RectF& dstRect,
                 float opacity = 1.0f);
