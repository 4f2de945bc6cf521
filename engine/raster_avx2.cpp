// The closed-form row code of raster.cpp built with AVX2, which raster.cpp calls only on
// processors that have it. No FMA: both builds must round alike and give the same bytes.
#include <immintrin.h>

#include "raster_rows.h"

namespace raster_rows {

template <int layers>
void DrawRunAvx2(uint32_t* row, int n, const Piece* pieces, size_t count, const float* sum, const Paint* paints) {
    __m128i s16[layers];
    __m128 alpha[layers];
    for (int k = 0; k < layers; ++k) {
        s16[k] = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(0xFF000000u | paints[k].rgb)), _mm_setzero_si128());
        alpha[k] = _mm_set1_ps(paints[k].alpha);
    }
    // A piece's G at the group's four left ends (low half) and four right ends (high half) at once.
    const __m256 ends = _mm256_setr_ps(0, 1, 2, 3, 1, 2, 3, 4), zero = _mm256_setzero_ps();
    for (int b = 0; b < n; b += 4) {
        const __m256 c = _mm256_add_ps(_mm256_set1_ps(static_cast<float>(b)), ends);
        __m128 cover[layers];
        for (int L = 0; L < layers; ++L) cover[L] = _mm_set1_ps(sum[L]);
        for (size_t i = 0; i < count; ++i) {
            const Piece& r = pieces[i];
            const __m256 u = _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(c, _mm256_set1_ps(r.lo)), zero), _mm256_set1_ps(r.w));
            const __m256 g = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(u, u), _mm256_set1_ps(r.inv2w)),
                                           _mm256_max_ps(_mm256_sub_ps(c, _mm256_set1_ps(r.hi)), zero));
            const __m128 area = _mm_sub_ps(_mm256_extractf128_ps(g, 1), _mm256_castps256_ps128(g));
            for (int L = 0; L < layers; ++L) cover[L] = _mm_add_ps(cover[L], _mm_mul_ps(area, _mm_set1_ps(r.h[L])));
        }
        BlendGroup<layers>(row + b, cover, s16, alpha);
    }
}

template void DrawRunAvx2<1>(uint32_t*, int, const Piece*, size_t, const float*, const Paint*);
template void DrawRunAvx2<2>(uint32_t*, int, const Piece*, size_t, const float*, const Paint*);

}  // namespace raster_rows
