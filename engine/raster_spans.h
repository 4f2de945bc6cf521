#pragma once
// Inside the rasterizer only: spans of opaque pixels lerped towards one colour, the most
// common blend of all. raster_spans_impl.h holds the code; raster_spans_plain.cpp builds it for
// any x86-64 processor and raster_spans_avx2.cpp once more for those with AVX2, chosen at run
// time.
#include <cstddef>
#include <cstdint>

// The vector code; FACETTA_PORTABLE_RASTER builds the plain C++ everywhere instead.
#if defined(__SSE2__) && !defined(FACETTA_PORTABLE_RASTER)
#define FACETTA_RASTER_SSE2 1
#endif

namespace raster_spans {

// A span of n opaque pixels lerped towards colour s at alpha a (1..254).
void LerpSpanPlain(uint32_t* p, int n, uint32_t s, uint32_t a);
// The same with the pixels read from `from` and written to p.
void LerpSpanFromPlain(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a);

#if defined(FACETTA_AVX2_ROWS)  // set by the build where it compiles raster_spans_avx2.cpp
void LerpSpanAvx2(uint32_t* p, int n, uint32_t s, uint32_t a);
void LerpSpanFromAvx2(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a);
#endif

}  // namespace raster_spans
