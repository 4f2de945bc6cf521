// The closed-form row code of raster.cpp built with AVX2, which raster.cpp calls only on
// processors that have it. No FMA: both builds must round alike and give the same bytes.
#include <immintrin.h>

#include "raster_rows.h"

namespace raster_rows {

namespace {

// Four opaque pixels as 16-bit channels, pixels 0 and 1 in the low half, 2 and 3 in the high.
inline __m256i Widen(__m128i p) { return _mm256_cvtepu8_epi16(p); }
inline __m128i Narrow(__m256i p16) {
    return _mm_packus_epi16(_mm256_castsi256_si128(p16), _mm256_extracti128_si256(p16, 1));
}

// Lerp4 on widened pixels: the same arithmetic, so the same bytes; a second layer goes on
// without narrowing in between.
inline __m256i Lerp16(__m256i d16, __m256i s16, __m128i alphas) {
    // Each pixel's alpha (the low byte of its lane) into the four 16-bit channels of that pixel.
    const __m256i spread = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 4, -1, 4, -1, 4, -1, 4, -1,  //
                                            8, -1, 8, -1, 8, -1, 8, -1, 12, -1, 12, -1, 12, -1, 12, -1);
    const __m256i a16 = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(alphas), spread);
    const __m256i v = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(d16, _mm256_sub_epi16(_mm256_set1_epi16(255), a16)),
                                                        _mm256_mullo_epi16(s16, a16)),
                                       _mm256_set1_epi16(128));
    return _mm256_mulhi_epu16(v, _mm256_set1_epi16(257));
}

}  // namespace

template <int layers>
void DrawRunAvx2(uint32_t* row, int n, const Piece* pieces, size_t count, const float* sum, const Paint* paints) {
    __m256i s16[layers];
    __m128 alpha[layers];
    for (int k = 0; k < layers; ++k) {
        s16[k] = Widen(_mm_set1_epi32(static_cast<int>(0xFF000000u | paints[k].rgb)));
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
        __m128i* q = reinterpret_cast<__m128i*>(row + b);
        __m256i d16 = Widen(_mm_loadu_si128(q));
        for (int L = 0; L < layers; ++L) d16 = Lerp16(d16, s16[L], CoverageAlpha4(cover[L], alpha[L]));
        _mm_storeu_si128(q, Narrow(d16));
    }
}

template void DrawRunAvx2<1>(uint32_t*, int, const Piece*, size_t, const float*, const Paint*);
template void DrawRunAvx2<2>(uint32_t*, int, const Piece*, size_t, const float*, const Paint*);

}  // namespace raster_rows
