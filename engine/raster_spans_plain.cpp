// The span lerps (raster_spans_impl.h) built for any x86-64 processor.
#include "raster_spans_impl.h"

namespace raster_spans {

void LerpSpanPlain(uint32_t* p, int n, uint32_t s, uint32_t a) {
    spans::LerpSpan(p, n, s, a);
}

void LerpSpanFromPlain(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a) {
    spans::LerpSpanFrom(p, from, n, s, a);
}

}  // namespace raster_spans
