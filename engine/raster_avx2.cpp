// The closed-form row code (raster_rows_impl.h) built with AVX2; raster.cpp calls it only on
// processors that have it.
#include "raster_rows_impl.h"

namespace raster_rows {

template <int layers>
int DrawRowsAvx2(const Rows& job) {
    return rows::DrawRows<layers>(job);
}
template int DrawRowsAvx2<1>(const Rows&);
template int DrawRowsAvx2<2>(const Rows&);

void BlendSpanAvx2(uint32_t* p, int n, uint32_t s, uint32_t a) { rows::Span(p, n, s, a); }

}  // namespace raster_rows
