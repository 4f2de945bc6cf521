// The span blenders and the choice between the plain and the AVX2 row code.
#include <atomic>
#include <cstdlib>

#include "raster.h"
#include "raster_pixels.h"
#include "raster_spans.h"

namespace raster_internal {

namespace {

#if defined(FACETTA_AVX2_ROWS)
bool CpuHasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}
#endif
// Whether to take the AVX2 code (see SetRowCode): -1 until first asked.
std::atomic<int> g_useAvx2{-1};

}  // namespace

bool UseAvx2() {
#if defined(FACETTA_AVX2_ROWS)
    int use = g_useAvx2.load(std::memory_order_relaxed);
    if (use < 0) {
        use = CpuHasAvx2() && !std::getenv("FACETTA_NO_AVX2") ? 1 : 0;
        g_useAvx2.store(use, std::memory_order_relaxed);
    }
    return use != 0;
#else
    return false;
#endif
}

// Blends colour s at constant alpha a over n opaque pixels.
void BlendSpanOntoOpaque(uint32_t* p, int n, uint32_t s, uint32_t a) {
    if (a == 0 || n <= 0) return;
    if (a == 255) {
        std::fill(p, p + n, 0xFF000000u | s);
        return;
    }
#if defined(FACETTA_AVX2_ROWS)
    if (UseAvx2()) return raster_spans::LerpSpanAvx2(p, n, s, a);
#endif
    raster_spans::LerpSpanPlain(p, n, s, a);
}

// The same over a copy of n opaque pixels from `from`.
void BlendSpanOntoCopy(uint32_t* p, const uint32_t* from, int n, uint32_t s, uint32_t a) {
    if (n <= 0) return;
    if (a == 0) {
        std::copy(from, from + n, p);
        return;
    }
    if (a == 255) {
        std::fill(p, p + n, 0xFF000000u | s);
        return;
    }
#if defined(FACETTA_AVX2_ROWS)
    if (UseAvx2()) return raster_spans::LerpSpanFromAvx2(p, from, n, s, a);
#endif
    raster_spans::LerpSpanFromPlain(p, from, n, s, a);
}

// Blends colour s at constant alpha a over n pixels.
void BlendSpanAnyDst(uint32_t* p, int n, uint32_t s, uint32_t a) {
    if (a == 0 || n <= 0) return;
    uint32_t all = 0xFF000000u;
    for (int i = 0; i < n; ++i) all &= p[i];
    if (all != 0xFF000000u) {
        for (int i = 0; i < n; ++i) p[i] = BlendPixel(p[i], s, a);
        return;
    }
    BlendSpanOntoOpaque(p, n, s, a);
}

// Blends n source pixels, each at its own alpha, over n destination pixels.
void BlendRowColors(uint32_t* d, const uint32_t* s, int n) {
    uint32_t all = 0xFF000000u;
    for (int i = 0; i < n; ++i) all &= d[i];
    if (all != 0xFF000000u) {
        for (int i = 0; i < n; ++i) d[i] = BlendPixel(d[i], s[i] & 0xFFFFFF, s[i] >> 24);
        return;
    }
    for (int i = 0; i < n; ++i) d[i] = LerpOpaque(d[i], s[i], s[i] >> 24);
}

}  // namespace raster_internal

#if defined(FACETTA_AVX2_ROWS)
using raster_internal::CpuHasAvx2;
using raster_internal::g_useAvx2;
using raster_internal::UseAvx2;
#endif

bool HasAvx2RowCode() {
#if defined(FACETTA_AVX2_ROWS)
    return CpuHasAvx2();
#else
    return false;
#endif
}

void SetRowCode(RowCode code) {
#if defined(FACETTA_AVX2_ROWS)
    g_useAvx2.store(code == RowCode::Avx2 && CpuHasAvx2() ? 1 : 0, std::memory_order_relaxed);
#else
    (void)code;
#endif
}

RowCode CurrentRowCode() {
#if defined(FACETTA_AVX2_ROWS)
    if (UseAvx2()) return RowCode::Avx2;
#endif
    return RowCode::Plain;
}
