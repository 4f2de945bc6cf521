// A mesh's fills as one layer. Every triangle has the same colour, so compositing each point
// of a pixel on its own and averaging gives that colour over the pixel at the mean of the
// points' alphas: a point inside one triangle has its alpha, a point inside two (the doubly
// tinted quarter of a cell) a1 + a2 - a1 a2. That mean is a sum: each triangle's exact area
// coverage times its alpha, less each overlap's times the product of the two alphas, all
// gathered in one band of cells. Triangles sharing an edge thus share its pixels by area,
// where blending one after the other let the background show through a seam; and an edge
// between two triangles of one alpha weighs nothing at all.
#include <algorithm>
#include <cmath>

#include "raster.h"
#include "raster_cells.h"

#if defined(FACETTA_RASTER_SSE2)
#include <emmintrin.h>
#endif

namespace raster_internal {

namespace {

// Corners of an overlap kept at most: three triangles' worth.
constexpr size_t kMaxCorners = 9;
// Cells a mark of a row's touched blocks stands for.
constexpr int kBlock = 8;
// Pixels between two touched blocks that go with them rather than as a span of their own.
constexpr int kShortGap = 8;
// Overlap parts a band works out at most; a mesh folded on itself beyond that (never one the
// generator makes) sums the alphas of what is left, capped at full.
constexpr size_t kMaxOverlaps = 1 << 16;

void AddEdge(std::vector<WeightedEdge>& out, const PointF& a, const PointF& b, double weight) {
    if (a.y == b.y) return;  // a level edge changes no row's cover
    if (a.y < b.y)
        out.push_back({a.x, a.y, b.x, b.y, weight});
    else
        out.push_back({b.x, b.y, a.x, a.y, -weight});
}

// A convex polygon's edges, `weight` inside it whichever way round it goes.
void AddPolygon(std::vector<WeightedEdge>& out, const PointF* p, size_t n, double weight) {
    const double area = SignedArea(p, n);
    if (!(area != 0) || !std::isfinite(area)) return;
    // With a negative area the edges going down have the inside on their right, where the
    // cells' running sum takes up what an edge adds.
    const double w = area < 0 ? weight : -weight;
    for (size_t i = 0; i < n; ++i) AddEdge(out, p[i], p[i + 1 < n ? i + 1 : 0], w);
}

// The part of convex polygon p inside triangle t: each of t's sides cuts off what lies beyond
// it. Appends the corners to out and returns their number.
size_t Intersect(const PointF* t, const PointF* p, size_t n, std::vector<PointF>& out) {
    const double sign = SignedArea(t, 3) > 0 ? 1 : -1;
    PointF a[kMaxCorners + 3], b[kMaxCorners + 3];
    std::copy(p, p + n, a);
    size_t m = n;
    for (int k = 0; k < 3 && m > 0; ++k) {
        const PointF& s = t[k];
        const PointF& e = t[(k + 1) % 3];
        auto side = [&](const PointF& q) {
            return sign * ((e.x - s.x) * (q.y - s.y) - (e.y - s.y) * (q.x - s.x));
        };
        size_t r = 0;
        for (size_t i = 0; i < m; ++i) {
            const PointF& u = a[i];
            const PointF& v = a[(i + 1) % m];
            const double su = side(u), sv = side(v);
            if (su >= 0) b[r++] = u;
            if ((su > 0 && sv < 0) || (su < 0 && sv > 0)) {
                const double f = su / (su - sv);
                b[r++] = {u.x + (v.x - u.x) * f, u.y + (v.y - u.y) * f};
            }
        }
        std::copy(b, b + r, a);
        m = r;
    }
    if (m < 3 || m > kMaxCorners || !(std::fabs(SignedArea(a, m)) > 1e-9)) return 0;
    out.insert(out.end(), a, a + m);
    return m;
}

// Twice a triangle's signed area, exact: differences of int32 take 33 bits, products 66.
__int128 TwiceArea(const PointI* t) {
    return __int128{int64_t{t[1].x} - t[0].x} * (int64_t{t[2].y} - t[0].y) -
           __int128{int64_t{t[1].y} - t[0].y} * (int64_t{t[2].x} - t[0].x);
}

// Whether two triangles share more than a boundary: no side of either has all of the other's
// corners on its far side or on it. Exact in integers.
bool Overlap(const PointI* a, const PointI* b) {
    auto separates = [](const PointI* t, const PointI* o) {
        for (int k = 0; k < 3; ++k) {
            const PointI &s = t[k], &e = t[(k + 1) % 3], &third = t[(k + 2) % 3];
            // Differences of int32 take 33 bits, their products 66: 128-bit sums.
            const __int128 dx = int64_t{e.x} - s.x, dy = int64_t{e.y} - s.y;
            auto side = [&](const PointI& q) {
                return dx * (int64_t{q.y} - s.y) - dy * (int64_t{q.x} - s.x);
            };
            const __int128 in = side(third);
            bool all = true;
            for (int i = 0; i < 3 && all; ++i) {
                const __int128 v = side(o[i]);
                all = in > 0 ? v <= 0 : v >= 0;
            }
            if (all) return true;
        }
        return false;
    };
    return !separates(a, b) && !separates(b, a);
}

class MeshFills : CellRows {
public:
    MeshFills(Picture& dst, const ClipBox& clip) : CellRows(dst, clip) {}

    void Draw(int firstRow, const MeshFillTriangle* tris, size_t count, uint32_t rgb,
              const uint32_t* under) {
        m_under = under;
        Gather(tris, count, static_cast<double>(firstRow) + m_cy0,
               static_cast<double>(firstRow) + m_cy1);
        if (m_s.meshEdges.empty()) {
            if (under)
                for (int y = m_cy0; y < m_cy1; ++y)
                    std::copy(under + m_cx0, under + m_cx1, m_dst.Row(y) + m_cx0);
            return;
        }
        // Rows a few at a time where the picture is very wide: no more than 4 MiB of cells.
        const int chunk = static_cast<int>(
            std::max<size_t>(1, (size_t{1} << 20) / (static_cast<size_t>(m_w) + 3)));
        for (int y = m_cy0; y < m_cy1; y += chunk)
            DrawRows(firstRow, y, static_cast<int>(std::min<int64_t>(int64_t{y} + chunk, m_cy1)),
                     rgb);
    }

private:
    // Rows [y0, y1) of the clip.
    void DrawRows(int firstRow, int y0, int y1, uint32_t rgb) {
        const size_t stride = static_cast<size_t>(m_w) + 3;
        const size_t rows = static_cast<size_t>(y1 - y0);
        if (m_s.meshCells.size() < stride * rows) m_s.meshCells.resize(stride * rows, 0.0f);
        const size_t words = (stride + kBlock * 64 - 1) / (kBlock * 64);
        if (m_s.meshBlocks.size() < words * rows) m_s.meshBlocks.resize(words * rows, 0);
        const double top = static_cast<double>(firstRow) + y0,
                     bottom = static_cast<double>(firstRow) + y1;
        float* cells = m_s.meshCells.data();
        uint64_t* blocks = m_s.meshBlocks.data();
        for (const WeightedEdge& e : m_s.meshEdges) {
            const double ya = std::max(e.y0, top), yb = std::min(e.y1, bottom);
            if (!(ya < yb)) continue;
            const double dxdy = (e.x1 - e.x0) / (e.y1 - e.y0);
            const double w = e.weight;
            const int r0 = static_cast<int>(std::floor(ya - top));
            const int r1 = static_cast<int>(std::ceil(yb - top));
            // Row by row down the edge, each row's piece starting where the last one ended.
            double ry0 = ya, x0 = e.x0 + (ya - e.y0) * dxdy;
            const double xEnd = e.x0 + (yb - e.y0) * dxdy;
            const double perX = dxdy != 0 ? w / std::fabs(dxdy) : 0;  // cover per unit across
            for (int r = r0; r < r1; ++r) {
                const double ry1 = r + 1 < r1 ? top + r + 1.0 : yb;
                const double x1 = r + 1 < r1 ? e.x0 + (ry1 - e.y0) * dxdy : xEnd;
                float* acc = cells + stride * static_cast<size_t>(r);
                const double dy = (ry1 - ry0) * w;
                // Decided piece by piece, so that a row comes out the same in any band.
                const bool inside = x0 >= m_cx0 && x0 <= m_cx1 && x1 >= m_cx0 && x1 <= m_cx1;
                const Interval t =
                    inside ? AddPiece(acc, x0, x1, dy, perX) : AddCellsClipped(acc, x0, 0, x1, dy);
                uint64_t* b = blocks + words * static_cast<size_t>(r);
                for (int k = t.lo / kBlock; k <= t.hi / kBlock; ++k)
                    b[k >> 6] |= uint64_t{1} << (k & 63);
                ry0 = ry1;
                x0 = x1;
            }
        }
        for (int y = y0; y < y1; ++y) {
            const size_t r = static_cast<size_t>(y - y0);
            BlendRow(m_dst.Row(y), cells + stride * r, blocks + words * r, words, rgb);
        }
    }

    // AddCells for a piece of an edge within the picture that adds perX of cover per unit
    // across: most pieces lie within two cells, which then need no division.
    static Interval AddPiece(float* acc, double xa, double xb, double dy, double perX) {
        if (xa > xb) std::swap(xa, xb);
        const int ix = static_cast<int>(xa);
        const double split = ix + 1.0;
        if (xb <= split) {
            const double m = (xa + xb) * 0.5 - ix;
            acc[ix] += static_cast<float>(dy * (1 - m));
            acc[ix + 1] += static_cast<float>(dy * m);
            return {ix, ix + 1};
        }
        if (xb > split + 1) return AddCells(acc, xa, 0, xb, dy);
        const double dy1 = (split - xa) * perX, dy2 = dy - dy1;
        const double m1 = (xa + split) * 0.5 - ix, m2 = (split + xb) * 0.5 - split;
        acc[ix] += static_cast<float>(dy1 * (1 - m1));
        acc[ix + 1] += static_cast<float>(dy1 * m1 + dy2 * (1 - m2));
        acc[ix + 2] += static_cast<float>(dy2 * m2);
        return {ix, ix + 2};
    }

    // The layer's edges, each once: the sides two triangles share are added up, and those
    // that come to nothing (neighbours of one alpha) are left out. Where triangles overlap,
    // the overlaps are taken off again so that a point has 1 - (1 - a1)(1 - a2)...: each
    // triangle is added, less its overlap with each part already added (inclusion-exclusion,
    // a part at a time in mesh order).
    void Gather(const MeshFillTriangle* tris, size_t count, double top, double bottom) {
        std::vector<WeightedEdge>& edges = m_s.meshEdges;
        edges.clear();
        std::vector<PointF>& corners = m_s.meshCorners;
        corners.clear();
        AddTriangleEdges(tris, count);
        FindOverlaps(tris, count, top, bottom);
        // Parts by the last triangle in them: parts[first[i], first[i + 1]) end with triangle i.
        std::vector<OverlapPart>& parts = m_s.meshParts;
        parts.clear();
        std::vector<size_t>& first = m_s.meshFirst;
        first.assign(count + 1, 0);
        const std::vector<std::pair<uint32_t, uint32_t>>& pairs =
            m_s.meshPairs;  // (later, earlier)
        size_t next = 0;
        for (size_t i = 0; i < count; ++i) {
            first[i] = parts.size();
            const MeshFillTriangle& t = tris[i];
            const PointF p[3] = {ToF(t.p[0]), ToF(t.p[1]), ToF(t.p[2])};
            const double a = t.alpha / 255.0;
            for (; next < pairs.size() && pairs[next].first == i; ++next) {
                const uint32_t j = pairs[next].second;
                // Triangle j itself, then the overlaps that end with it.
                const MeshFillTriangle& u = tris[j];
                const PointF q[3] = {ToF(u.p[0]), ToF(u.p[1]), ToF(u.p[2])};
                AddPart(p, q, 3, -a * (u.alpha / 255.0), parts, corners);
                for (size_t k = first[j]; k < first[j + 1] && parts.size() < kMaxOverlaps; ++k) {
                    const OverlapPart part = parts[k];
                    AddPart(p, &corners[part.corner], part.n, -a * part.weight, parts, corners);
                }
            }
        }
        first[count] = parts.size();
        for (const OverlapPart& part : parts)
            AddPolygon(edges, &corners[part.corner], part.n, part.weight);
    }

    // The part of polygon q inside triangle p, at `weight`, if it has an area.
    static void AddPart(const PointF* p, const PointF* q, size_t n, double weight,
                        std::vector<OverlapPart>& parts, std::vector<PointF>& corners) {
        if (parts.size() >= kMaxOverlaps) return;
        const size_t at = corners.size();
        const size_t m = Intersect(p, q, n, corners);
        if (m > 0) parts.push_back({at, static_cast<uint8_t>(m), weight});
    }

    // The pairs of triangles that overlap, as (later, earlier) in mesh order, sorted: a sweep
    // from left to right keeps the triangles whose columns reach the next one's.
    void FindOverlaps(const MeshFillTriangle* tris, size_t count, double top, double bottom) {
        std::vector<std::pair<uint32_t, uint32_t>>& pairs = m_s.meshPairs;
        pairs.clear();
        std::vector<TriangleBox>& boxes = m_s.meshBoxes;
        boxes.clear();
        // Only overlaps that reach the rows drawn matter: boxes are cut to them, and go into
        // buckets of rows, so that a sweep meets only the boxes of its rows.
        const int64_t lo = static_cast<int64_t>(std::floor(top)),
                      hi = static_cast<int64_t>(std::ceil(bottom));
        // First one box a triangle (kept in `active` for now), then one a bucket it is in.
        std::vector<TriangleBox>& active = m_s.meshActive;
        active.clear();
        int64_t heights = 0;
        for (size_t i = 0; i < count; ++i) {
            const MeshFillTriangle& t = tris[i];
            if (t.alpha == 0) continue;
            if (TwiceArea(t.p) == 0) continue;  // no area: overlaps nothing
            const PointI &a = t.p[0], &b = t.p[1], &c = t.p[2];
            const int64_t y0 = std::max<int64_t>(std::min({a.y, b.y, c.y}), lo),
                          y1 = std::min<int64_t>(std::max({a.y, b.y, c.y}), hi);
            if (y0 >= y1) continue;
            active.push_back({std::min({a.x, b.x, c.x}), std::max({a.x, b.x, c.x}),
                              static_cast<int32_t>(y0 - lo), static_cast<int32_t>(y1 - lo),
                              static_cast<uint32_t>(i), 0});
            heights += y1 - y0;
        }
        // Buckets about twice as high as the boxes: small triangles meet few others in a
        // sweep, and large ones are not copied into many buckets.
        const int rows = active.empty()
                             ? 1
                             : static_cast<int>(std::clamp<int64_t>(
                                   2 * heights / static_cast<int64_t>(active.size()), 2, 64));
        for (TriangleBox box : active)
            for (box.bucket = box.y0 / rows; box.bucket <= (box.y1 - 1) / rows; ++box.bucket)
                boxes.push_back(box);
        std::sort(boxes.begin(), boxes.end(), [](const TriangleBox& a, const TriangleBox& b) {
            return a.bucket != b.bucket ? a.bucket < b.bucket : a.x0 < b.x0;
        });
        active.clear();
        for (size_t n = 0; n < boxes.size(); ++n) {
            const TriangleBox& b = boxes[n];
            if (n > 0 && boxes[n - 1].bucket != b.bucket) active.clear();
            size_t keep = 0;
            for (const TriangleBox& o : active) {
                if (o.x1 <= b.x0) continue;  // ends before this one and all later ones start
                active[keep++] = o;
                // Each pair once: in the bucket where their rows begin to meet.
                if (o.y1 > b.y0 && b.y1 > o.y0 && std::max(o.y0, b.y0) / rows == b.bucket &&
                    Overlap(tris[o.id].p, tris[b.id].p))
                    pairs.push_back({std::max(o.id, b.id), std::min(o.id, b.id)});
            }
            active.resize(keep);
            active.push_back(b);
        }
        std::sort(pairs.begin(), pairs.end());
    }

    // The triangles' edges, each once: sorted by their ends as integers (cheaper than as
    // doubles), those that meet added up, those that come to nothing left out.
    void AddTriangleEdges(const MeshFillTriangle* tris, size_t count) {
        std::vector<KeyedEdge>& keyed = m_s.meshKeyed;
        keyed.clear();
        // Order-preserving for signed values: y first, then x.
        auto key = [](const PointI& p) {
            return (uint64_t{static_cast<uint32_t>(p.y) ^ 0x80000000u} << 32) |
                   (static_cast<uint32_t>(p.x) ^ 0x80000000u);
        };
        for (size_t i = 0; i < count; ++i) {
            const MeshFillTriangle& t = tris[i];
            if (t.alpha == 0) continue;
            const __int128 twice = TwiceArea(t.p);
            if (twice == 0) continue;
            // With a negative area the edges going down have the inside on their right, where
            // the cells' running sum takes up what an edge adds.
            const double w = twice < 0 ? t.alpha / 255.0 : -t.alpha / 255.0;
            for (int k = 0; k < 3; ++k) {
                const PointI &u = t.p[k], &v = t.p[(k + 1) % 3];
                if (u.y < v.y)
                    keyed.push_back({key(u), key(v), w});
                else if (u.y > v.y)
                    keyed.push_back({key(v), key(u), -w});
            }
        }
        std::sort(keyed.begin(), keyed.end(), [](const KeyedEdge& a, const KeyedEdge& b) {
            return a.top != b.top ? a.top < b.top : a.bottom < b.bottom;
        });
        auto point = [](uint64_t k, double& x, double& y) {
            y = static_cast<int32_t>(static_cast<uint32_t>(k >> 32) ^ 0x80000000u);
            x = static_cast<int32_t>(static_cast<uint32_t>(k) ^ 0x80000000u);
        };
        std::vector<WeightedEdge>& edges = m_s.meshEdges;
        for (size_t i = 0; i < keyed.size();) {
            double weight = keyed[i].weight;
            size_t j = i + 1;
            for (; j < keyed.size() && keyed[j].top == keyed[i].top &&
                   keyed[j].bottom == keyed[i].bottom;
                 ++j)
                weight += keyed[j].weight;
            if (weight != 0) {
                WeightedEdge e;
                point(keyed[i].top, e.x0, e.y0);
                point(keyed[i].bottom, e.x1, e.y1);
                e.weight = weight;
                edges.push_back(e);
            }
            i = j;
        }
    }

    static PointF ToF(const PointI& p) {
        return {static_cast<double>(p.x), static_cast<double>(p.y)};
    }

    static uint32_t MeanAlpha(float sum) {
        const float v = std::min(std::max(sum, 0.0f), 1.0f);
        return static_cast<uint32_t>(v * 255.0f + 0.5f);
    }

    // The running sum of a row's cells is the mean alpha of each of its pixels. It changes only
    // in the blocks of cells the edges touched; between them whole spans blend at once. The
    // cells and the blocks' marks are cleared on the way.
    void BlendRow(uint32_t* row, float* acc, uint64_t* blocks, size_t words, uint32_t rgb) const {
        float sum = 0;
        int x = m_cx0;  // pixels before x are done
        // Touched blocks and the short gaps between them go through the cells as one run: the
        // gaps' cells are zero, so their pixels come out as a span's would.
        int runFrom = -1, runTo = -1;
        auto flush = [&] {
            if (runFrom < 0) return;
            if (x < runFrom) BlendSpan(row, x, runFrom, MeanAlpha(sum), rgb);
            sum = BlendCells(row, m_under ? m_under : row, acc, runFrom, runTo, sum, rgb);
            x = runTo;
        };
        for (size_t i = 0; i < words; ++i) {
            for (uint64_t bits = blocks[i]; bits != 0; bits &= bits - 1) {
                const int start = static_cast<int>(i * 64 + __builtin_ctzll(bits)) * kBlock;
                const int from = std::max(start, m_cx0), to = std::min(start + kBlock, m_cx1);
                if (from < to) {
                    if (runFrom >= 0 && from - runTo <= kShortGap) {
                        runTo = to;
                    } else {
                        flush();
                        runFrom = from;
                        runTo = to;
                    }
                }
                // Cells past the right side are only cleared.
                for (int c = std::max(start, m_cx1); c < std::min(start + kBlock, m_cx1 + 3); ++c)
                    acc[c] = 0;
            }
            blocks[i] = 0;
        }
        flush();
        if (x < m_cx1) BlendSpan(row, x, m_cx1, MeanAlpha(sum), rgb);
    }

    // Pixels [from, to) of a row at alpha a.
    void BlendSpan(uint32_t* row, int from, int to, uint32_t a, uint32_t rgb) const {
        if (m_under)
            BlendSpanOntoCopy(row + from, m_under + from, to - from, rgb, a);
        else if (a != 0)
            BlendSpanOntoOpaque(row + from, to - from, rgb, a);
    }

    // Pixels [from, to) of a row, each at the running sum of the cells up to it, over the pixels
    // of `under` (the row itself, or the pixels under it); returns the sum.
    static float BlendCells(uint32_t* row, const uint32_t* under, float* acc, int from, int to,
                            float sum, uint32_t rgb) {
        int x = from;
#if defined(FACETTA_RASTER_SSE2)
        const __m128i s16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(0xFF000000u | rgb)),
                                              _mm_setzero_si128());
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), k255 = _mm_set1_ps(255.0f),
                     half = _mm_set1_ps(0.5f);
        __m128 carry = _mm_set1_ps(sum);
        for (; x + 4 <= to; x += 4) {
            __m128 v = _mm_loadu_ps(acc + x);
            _mm_storeu_ps(acc + x, zero);
            v = _mm_add_ps(v, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(v), 4)));
            v = _mm_add_ps(v, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(v), 8)));
            v = _mm_add_ps(v, carry);
            carry = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3));
            const __m128 a =
                _mm_add_ps(_mm_mul_ps(_mm_min_ps(_mm_max_ps(v, zero), one), k255), half);
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(under + x));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x),
                             Lerp4(d, s16, _mm_cvttps_epi32(a)));
        }
        sum = _mm_cvtss_f32(carry);
#endif
        for (; x < to; ++x) {
            sum += acc[x];
            acc[x] = 0;
            row[x] = LerpOpaque(under[x], rgb, MeanAlpha(sum));
        }
        return sum;
    }

    const uint32_t* m_under = nullptr;  // the pixels under every row, or null: the rows' own
};

}  // namespace

}  // namespace raster_internal

void DrawMeshFills(Picture& dst, int firstRow, const MeshFillTriangle* tris, size_t count,
                   ARGB color, const RectI& clip, const uint32_t* under) {
    using namespace raster_internal;
    Guarded(dst, [&] {
        ClipBox box;
        if (!ClipRect(dst, clip, box)) return;
        MeshFills(dst, box).Draw(firstRow, tris, tris ? count : 0, color & 0xFFFFFF, under);
    });
}
