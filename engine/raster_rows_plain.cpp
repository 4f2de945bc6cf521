// The closed-form row code (raster_rows_impl.h) built for any x86-64 processor.
#include "raster_rows_impl.h"

namespace raster_rows {

#if defined(FACETTA_RASTER_SSE2)
template <int layers>
int DrawClosedFormPlain(const Rows& job) {
    return rows::DrawClosedForm<layers>(job);
}
template int DrawClosedFormPlain<1>(const Rows&);
template int DrawClosedFormPlain<2>(const Rows&);
#endif

void LerpSpanPlain(uint32_t* p, int n, uint32_t s, uint32_t a) {
    rows::LerpSpan(p, n, s, a);
}

void LerpSpanFromPlain(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a) {
    rows::LerpSpanFrom(p, from, n, s, a);
}

}  // namespace raster_rows
