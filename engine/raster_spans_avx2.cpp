// The span lerps (raster_spans_impl.h) built with AVX2; used only on processors that
// have it, while selected (raster.h's SetRowCode).
#include "raster_spans_impl.h"

namespace raster_spans {

void LerpSpanAvx2(uint32_t* p, int n, uint32_t s, uint32_t a) {
    spans::LerpSpan(p, n, s, a);
}

void LerpSpanFromAvx2(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a) {
    spans::LerpSpanFrom(p, from, n, s, a);
}

}  // namespace raster_spans
