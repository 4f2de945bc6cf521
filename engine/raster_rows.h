#pragma once
// Inside the rasterizer only: rows of convex shapes drawn in closed form onto an opaque
// picture. raster_rows_impl.h holds the code; raster_rows_plain.cpp builds it for any x86-64
// processor and raster_avx2.cpp once more for those with AVX2, chosen at run time.
#include <cstddef>
#include <cstdint>

// The vector code; FACETTA_PORTABLE_RASTER builds the plain C++ everywhere instead.
#if defined(__SSE2__) && !defined(FACETTA_PORTABLE_RASTER)
#define FACETTA_RASTER_SSE2 1
#endif

namespace raster_rows {

struct Paint {
    uint32_t rgb;
    float alpha;  // 0..255
};

// An edge of a convex shape for drawing row by row.
struct LeanEdge {
    double x0, y0, y1, dxdy, dir;  // y0 < y1; dir +1 where the edge goes down, -1 up
    float halfRowsPerColumn;       // 0.5 / |dxdy|, 0 for vertical edges
    int8_t side;                   // the slot of its side's run of cells
    int8_t layer;                  // which of the two shapes it belongs to
};

// Rows [y, yEnd) of up to two convex shapes (layers), each in its colour over the one before.
struct Rows {
    uint32_t* pixels;  // the picture's row 0
    size_t stride;     // pixels from one row to the next
    int width;         // pixels from width on are left alone
    int y, yEnd;
    const LeanEdge* edges;  // in the order the cells of their sides usually lie, left to right
    size_t count;
    bool whole;  // each edge crosses every row whole (no vertex inside the rows), else cut to the
                 // row
    const Paint* paints;
};

// Draws the rows from y on and returns the first one it could not draw (yEnd when it drew
// them all: it stops only for more edges than it takes). The edges must lie right of x = 0 and
// short of x = 2^30; what lies from width on is left alone.
// Built for any x86-64 processor (raster_rows_plain.cpp) and for AVX2 (raster_avx2.cpp).
template <int layers>
int DrawClosedFormPlain(const Rows& rows);

// A span of n opaque pixels lerped towards colour s at alpha a (1..254).
void LerpSpanPlain(uint32_t* p, int n, uint32_t s, uint32_t a);
// The same with the pixels read from `from` and written to p.
void LerpSpanFromPlain(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a);

#if defined(FACETTA_AVX2_ROWS)  // set by the build where it compiles raster_avx2.cpp
template <int layers>
int DrawClosedFormAvx2(const Rows& rows);
void LerpSpanAvx2(uint32_t* p, int n, uint32_t s, uint32_t a);
void LerpSpanFromAvx2(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a);
#endif

}  // namespace raster_rows
