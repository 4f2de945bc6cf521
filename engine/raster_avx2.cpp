// The closed-form row code (raster_rows_impl.h) built with AVX2; used only on processors that
// have it, while selected (raster.h's SetRowCode).
#include "raster_rows_impl.h"

namespace raster_rows {

template <int layers>
int DrawClosedFormAvx2(const Rows& job) {
    return rows::DrawClosedForm<layers>(job);
}
template int DrawClosedFormAvx2<1>(const Rows&);
template int DrawClosedFormAvx2<2>(const Rows&);

void LerpSpanAvx2(uint32_t* p, int n, uint32_t s, uint32_t a) {
    rows::LerpSpan(p, n, s, a);
}

void LerpSpanFromAvx2(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a) {
    rows::LerpSpanFrom(p, from, n, s, a);
}

}  // namespace raster_rows
