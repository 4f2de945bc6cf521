#pragma once
// Inside DrawMeshOutlined only (included by raster_outlined_impl.h): what a row of pixels keeps
// while layers pile up on it, pixel by pixel: strips along an edge, or groups of points.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "raster_outlined_points.h"
#include "raster_outlined_strips.h"

namespace {
namespace outlined {

using namespace raster_internal;

// A group of a pixel's points and the colour they have come to.
struct Group {
    Mask m;
    float c[3];
};

// A colour to lerp towards, as floats.
struct Tint {
    alignas(16) float c[4];  // the fourth 0
    float a;                 // 0..1
    uint32_t rgb;
    uint32_t alpha;  // 0..255
};

Tint MakeTint(ARGB color, uint32_t alpha) {
    Tint t;
    t.c[0] = static_cast<float>((color >> 16) & 0xFF);
    t.c[1] = static_cast<float>((color >> 8) & 0xFF);
    t.c[2] = static_cast<float>(color & 0xFF);
    t.c[3] = 0;
    t.alpha = alpha;
    t.a = static_cast<float>(alpha) / 255.0f;
    t.rgb = color & 0xFFFFFF;
    return t;
}

inline void Lerp(float* c, const Tint& t) {
    if (t.alpha == 255) {
        c[0] = t.c[0], c[1] = t.c[1], c[2] = t.c[2];
        return;
    }
    for (int k = 0; k < 3; ++k) c[k] += t.a * (t.c[k] - c[k]);
}

// The same for a colour held as four floats (the fourth unused), in one vector operation.
inline void Lerp4(float* c, const Tint& t) {
    if (t.alpha == 255) {
        std::memcpy(c, t.c, sizeof t.c);
        return;
    }
    for (int k = 0; k < 4; ++k) c[k] += t.a * (t.c[k] - c[k]);
}

// Groups a pixel keeps at most; past that the two of nearest colour merge (a pixel where many
// vertices meet).
constexpr int kMaxGroups = 12;

// The records of one row of pixels, by pixel: strips along an edge, or groups of points.
class RowRecords {
public:
    enum Kind : uint8_t { kNone, kStrips, kGroups };

    void Reset(int width) {
        m_kind.assign(static_cast<size_t>(width), kNone);
        m_stripsUsed = 0;
        m_block.resize(static_cast<size_t>(width));
        m_count.resize(static_cast<size_t>(width));
        m_used.clear();
        m_groups.clear();
    }

    bool Has(int x) const { return m_kind[static_cast<size_t>(x)] != kNone; }
    // A layer over every point of pixels [x0, x1], for those with a record: eight at a time,
    // as inside a triangle there are seldom any.
    void ApplyWhole(int x0, int x1, const Tint& t, const StripLayer& whole) {
        if (m_used.empty()) return;
        const uint8_t* kind = m_kind.data();
        int x = x0;
        for (; x + 8 <= x1 + 1; x += 8) {
            uint64_t eight;
            std::memcpy(&eight, kind + x, 8);
            if (eight == 0) continue;
            for (int i = x; i < x + 8; ++i)
                if (kind[i] != kNone) ApplyAll(i, t, whole);
        }
        for (; x <= x1; ++x)
            if (kind[x] != kNone) ApplyAll(x, t, whole);
    }

    // A layer over all of pixel x, which has a record (`whole`: the same layer for strips).
    void ApplyAll(int x, const Tint& t, const StripLayer& whole) {
        if (m_kind[static_cast<size_t>(x)] == kStrips) return ApplyStrips(x, whole);
        Apply(x, nullptr, t);
    }

    void ApplyStrips(int x, const StripLayer& layer) {
        Strips& st = m_strips[static_cast<size_t>(m_block[static_cast<size_t>(x)])];
        for (int i = 0; i < 8; ++i) st.mu[i] = st.mu[i] * layer.mul[i] + layer.add[i];
    }

    // The fill and outline of a triangle over pixel (x, y) of its row, which only the edge's
    // lines cut: onto the pixel's strips along that edge, started from the pixel's colour if it
    // has no record. False when it has another record (the caller takes its points).
    bool Along(int x, int y, uint32_t pixel, const EdgeLine& e, const StripLayer& layer) {
        const uint8_t kind = m_kind[static_cast<size_t>(x)];
        Strips* st;
        if (kind == kNone) {
            st = Open(x, y, pixel, e);
            // Over strips that all hold the pixel's colour (m = 1, u = 0).
            std::memcpy(st->mu, layer.mul, 4 * sizeof(float));
            std::memcpy(st->mu + 4, layer.add + 4, 4 * sizeof(float));
            return true;
        } else {
            if (kind != kStrips) return false;
            st = &m_strips[static_cast<size_t>(m_block[static_cast<size_t>(x)])];
            if (st->key0 != e.key0 || st->key1 != e.key1) return false;
        }
        for (int i = 0; i < 8; ++i) st->mu[i] = st->mu[i] * layer.mul[i] + layer.add[i];
        return true;
    }

    // The same for pixel (x, y) with points, or strips along another line: the fill over the
    // edge's half-plane and the outline over its band, as points.
    void AlongOnPoints(int x, int y, const EdgeLine& e, bool fills, const Tint& fill,
                       const Tint& pen) {
        ToGroups(x, y);
        Mask below[3];
        HalfPlaneMasks(e.nx, e.ny, e.c, x, y, below);
        if (fills) {
            const Mask side = e.positive ? AndNot(kAll, below[1]) : below[1];
            Apply(x, &side, fill);
        }
        const Mask band = AndNot(below[2], below[0]);
        Apply(x, &band, pen);
    }

    // Starts groups for pixel x, from its colour.
    void Open(int x, uint32_t pixel) {
        Start(x, kGroups);
        Group* g = NewBlock(x);
        m_count[static_cast<size_t>(x)] = 1;
        g[0].m = kAll;
        SetColor(g[0].c, pixel);
    }

    // New strips for pixel (x, y) along the edge, over the pixel's colour; their colours are
    // left for the caller to set.
    Strips* Open(int x, int y, uint32_t pixel, const EdgeLine& e) {
        Start(x, kStrips);
        const size_t at = m_stripsUsed++;
        m_block[static_cast<size_t>(x)] = static_cast<int>(at);
        if (at == m_strips.size()) {
            m_strips.resize(at * 2 + 64);
            m_stripBase.resize(m_strips.size());
            m_stripLine.resize(m_strips.size());
        }
        Strips& st = m_strips[at];
        st.key0 = e.key0, st.key1 = e.key1;
        m_stripLine[at] = &e;
        m_stripBase[at] = pixel;
        // The lines at s = -1/2, 0, 1/2 across the pixel: a u + b v <= c + (i - 1) / 2.
        const double c = e.c0 - e.nx * x - e.ny * y;
        Areas(e, c, st.area);
        return &st;
    }

    // Pixel (x, y)'s strips, if it holds strips, as groups of points.
    void ToGroups(int x, int y) {
        if (m_kind[static_cast<size_t>(x)] != kStrips) return;
        m_kind[static_cast<size_t>(x)] = kGroups;
        const size_t at = static_cast<size_t>(m_block[static_cast<size_t>(x)]);
        const Strips& st = m_strips[at];
        Group* g = NewBlock(x);
        const EdgeLine& e = *m_stripLine[at];
        Mask below[3];
        HalfPlaneMasks(e.nx, e.ny, e.c, x, y, below);
        const Mask parts[4] = {below[0], AndNot(below[1], below[0]), AndNot(below[2], below[1]),
                               AndNot(kAll, below[2])};
        float base[3];
        SetColor(base, m_stripBase[at]);
        int n = 0;
        for (int i = 0; i < 4; ++i) {
            if (None(parts[i])) continue;
            g[n].m = parts[i];
            const float m = st.mu[i], u = st.mu[i + 4], v = 1 - m - u;
            for (int k = 0; k < 3; ++k) g[n].c[k] = m * base[k] + u * m_fill[k] + v * m_pen[k];
            ++n;
        }
        m_count[static_cast<size_t>(x)] = n;
    }

    // The layer over pixel x, which holds groups: over the points of m, or all of them.
    void Apply(int x, const Mask* m, const Tint& t) {
        Group* g = &m_groups[static_cast<size_t>(m_block[static_cast<size_t>(x)]) * kMaxGroups];
        int& n = m_count[static_cast<size_t>(x)];
        if (t.alpha == 255) {
            // Whatever it covers becomes one colour: one group.
            if (!m) {
                n = 1;
                g[0].m = kAll;
                Lerp(g[0].c, t);
                return;
            }
            if (None(*m)) return;
            int k = 0;
            for (int i = 0; i < n; ++i) {
                const Mask out = AndNot(g[i].m, *m);
                if (None(out)) continue;
                g[k] = g[i];
                g[k++].m = out;
            }
            g[k].m = *m;
            g[k].c[0] = t.c[0], g[k].c[1] = t.c[1], g[k].c[2] = t.c[2];
            n = k + 1;
            return;
        }
        if (!m) {
            for (int i = 0; i < n; ++i) Lerp(g[i].c, t);
            return;
        }
        Group more[kMaxGroups];
        int added = 0;
        for (int i = 0; i < n; ++i) {
            const Mask in = And(g[i].m, *m);
            if (None(in)) continue;
            const Mask out = AndNot(g[i].m, *m);
            if (None(out)) {
                Lerp(g[i].c, t);
                continue;
            }
            g[i].m = out;
            Group& split = more[added++];
            split = {in, {g[i].c[0], g[i].c[1], g[i].c[2]}};
            Lerp(split.c, t);
        }
        for (int i = 0; i < added; ++i) {
            if (n == kMaxGroups) MergeNearest(g, n);
            g[n++] = more[i];
        }
    }

    // Every recorded pixel of the row as the mean of its points.
    void Resolve(uint32_t* row) {
        for (const int x : m_used) {
            const size_t at = static_cast<size_t>(m_block[static_cast<size_t>(x)]);
            if (m_kind[static_cast<size_t>(x)] == kStrips) {
                row[x] = Mix(m_strips[at], m_stripBase[at]);
            } else {
                float sum[3] = {0, 0, 0};
                const Group* g = &m_groups[at * kMaxGroups];
                for (int i = 0; i < m_count[static_cast<size_t>(x)]; ++i) {
                    const float w = static_cast<float>(Count(g[i].m)) / (kN * kN);
                    for (int k = 0; k < 3; ++k) sum[k] += w * g[i].c[k];
                }
                row[x] = Pack(sum);
            }
            m_kind[static_cast<size_t>(x)] = kNone;
        }
        m_used.clear();
        m_groups.clear();
        m_stripsUsed = 0;
    }

    // The fill's colour and the pen's, which strips lerp towards.
    void SetColors(const Tint& fill, const Tint& pen) {
        std::copy(fill.c, fill.c + 3, m_fill);
        std::copy(pen.c, pen.c + 3, m_pen);
#if defined(FACETTA_RASTER_SSE2)
        // In the pixel's byte order: blue, green, red.
        m_fill4 = _mm_setr_ps(m_fill[2], m_fill[1], m_fill[0], 0);
        m_pen4 = _mm_setr_ps(m_pen[2], m_pen[1], m_pen[0], 0);
#endif
    }

private:
    // Strips' pixel: each strip's m B + u F + (1 - m - u) P, weighted by its area.
    uint32_t Mix(const Strips& st, uint32_t base) const {
#if defined(FACETTA_RASTER_SSE2)
        const __m128 area = _mm_load_ps(st.area);
        const __m128 pm = _mm_mul_ps(area, _mm_load_ps(st.mu)),
                     pu = _mm_mul_ps(area, _mm_load_ps(st.mu + 4));
        // Added up in order, one lane after the other.
        auto sum = [](__m128 t) {
            __m128 r = _mm_add_ss(t, _mm_shuffle_ps(t, t, 1));
            r = _mm_add_ss(r, _mm_movehl_ps(t, t));
            return _mm_add_ss(r, _mm_shuffle_ps(t, t, 3));
        };
        const __m128 m1 = sum(pm), u1 = sum(pu);
        const __m128 v1 = _mm_sub_ss(_mm_sub_ss(_mm_set_ss(1), m1), u1);
        const __m128 m = _mm_shuffle_ps(m1, m1, 0), u = _mm_shuffle_ps(u1, u1, 0),
                     v = _mm_shuffle_ps(v1, v1, 0);
        const __m128i zero = _mm_setzero_si128();
        const __m128 b = _mm_cvtepi32_ps(_mm_unpacklo_epi16(
            _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(base)), zero), zero));
        const __m128 mixed =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(m, b), _mm_mul_ps(u, m_fill4)), _mm_mul_ps(v, m_pen4));
        const __m128 held = _mm_min_ps(
            _mm_max_ps(_mm_add_ps(mixed, _mm_set1_ps(0.5f)), _mm_setzero_ps()), _mm_set1_ps(255));
        const __m128i i32 = _mm_cvttps_epi32(held);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(i32, zero), zero);
        return static_cast<uint32_t>(_mm_cvtsi128_si32(bytes)) | 0xFF000000u;
#else
        float m = 0, u = 0;
        for (int i = 0; i < 4; ++i) m += st.area[i] * st.mu[i], u += st.area[i] * st.mu[i + 4];
        float b[3], sum[3];
        SetColor(b, base);
        const float v = 1 - m - u;
        for (int k = 0; k < 3; ++k) sum[k] = m * b[k] + u * m_fill[k] + v * m_pen[k];
        return Pack(sum);
#endif
    }

    static uint32_t Pack(const float* sum) {
        uint32_t p = 0xFF000000u;
        for (int k = 0; k < 3; ++k)
            p |= static_cast<uint32_t>(Clamp(sum[k] + 0.5f, 0, 255)) << (16 - 8 * k);
        return p;
    }

    static void SetColor(float* c, uint32_t pixel) {
        c[0] = static_cast<float>((pixel >> 16) & 0xFF);
        c[1] = static_cast<float>((pixel >> 8) & 0xFF);
        c[2] = static_cast<float>(pixel & 0xFF);
    }

    void Start(int x, Kind kind) {
        m_kind[static_cast<size_t>(x)] = kind;
        m_used.push_back(x);
    }

    Group* NewBlock(int x) {
        const size_t block = m_groups.size() / kMaxGroups;
        m_block[static_cast<size_t>(x)] = static_cast<int>(block);
        m_groups.resize(m_groups.size() + kMaxGroups);
        return &m_groups[block * kMaxGroups];
    }

    static void MergeNearest(Group* g, int& n) {
        int bi = 0, bj = 1;
        float best = 1e30f;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
                float d = 0;
                for (int k = 0; k < 3; ++k) d += std::fabs(g[i].c[k] - g[j].c[k]);
                if (d < best) best = d, bi = i, bj = j;
            }
        const float wi = static_cast<float>(Count(g[bi].m)),
                    wj = static_cast<float>(Count(g[bj].m));
        for (int k = 0; k < 3; ++k) g[bi].c[k] = (wi * g[bi].c[k] + wj * g[bj].c[k]) / (wi + wj);
        g[bi].m = Or(g[bi].m, g[bj].m);
        g[bj] = g[--n];
    }

    std::vector<uint8_t> m_kind;               // per pixel
    std::vector<Strips> m_strips;              // m_stripsUsed of them in use
    std::vector<uint32_t> m_stripBase;         // each one's pixel colour before it began
    std::vector<const EdgeLine*> m_stripLine;  // and its edge
    size_t m_stripsUsed = 0;
    std::vector<int> m_block;  // per pixel: its strips, or its block of m_groups
    float m_fill[3] = {0, 0, 0}, m_pen[3] = {0, 0, 0};
#if defined(FACETTA_RASTER_SSE2)
    __m128 m_fill4 = _mm_setzero_ps(), m_pen4 = _mm_setzero_ps();
#endif
    std::vector<int> m_count;     // and how many of the block it uses
    std::vector<int> m_used;      // the pixels with a record
    std::vector<Group> m_groups;  // kMaxGroups per block
};

}  // namespace outlined
}  // namespace
