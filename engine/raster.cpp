#include "raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// x / 255 rounded to nearest, exact for 0 <= x <= 255 * 255.
inline uint32_t Div255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// Source-over of colour s (its own alpha ignored) at alpha a onto d, straight alpha.
inline uint32_t BlendPixel(uint32_t d, uint32_t s, uint32_t a) {
    if (a == 0) return d;
    const uint32_t da = d >> 24;
    if (da == 255) {
        // Opaque destination: a plain lerp, two channels per multiply.
        const uint32_t ia = 255 - a;
        uint32_t rb = (s & 0xFF00FF) * a + (d & 0xFF00FF) * ia + 0x800080;
        rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
        uint32_t g = ((s >> 8) & 0xFF) * a + ((d >> 8) & 0xFF) * ia + 0x80;
        g = ((g + (g >> 8)) >> 8) & 0xFF;
        return 0xFF000000u | rb | (g << 8);
    }
    if (a == 255 || da == 0) return (a << 24) | (s & 0xFFFFFF);
    // ao = as + ad (1 - as); colour = (cs as + cd ad (1 - as)) / ao, all scaled by 255.
    const uint32_t wd = da * (255 - a);     // destination weight * 255
    const uint32_t ws = a * 255;            // source weight * 255
    const uint32_t den = ws + wd;           // ao * 255
    const uint32_t ao = (den + 127) / 255;
    uint32_t out = ao << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t cs = (s >> shift) & 0xFF, cd = (d >> shift) & 0xFF;
        out |= ((cs * ws + cd * wd + den / 2) / den) << shift;
    }
    return out;
}

// Blends colour s at constant alpha a over a run of pixels. Kept branch-free for opaque
// destinations so that the compiler vectorises it.
void BlendSpan(uint32_t* p, int n, uint32_t s, uint32_t a) {
    if (a == 0 || n <= 0) return;
    bool opaque = true;
    for (int i = 0; i < n; ++i) opaque &= (p[i] >> 24) == 255;
    if (!opaque) {
        for (int i = 0; i < n; ++i) p[i] = BlendPixel(p[i], s, a);
        return;
    }
    if (a == 255) {
        std::fill(p, p + n, 0xFF000000u | s);
        return;
    }
    const uint32_t ia = 255 - a;
    const uint32_t srb = (s & 0xFF00FF) * a + 0x800080;
    const uint32_t sg = (s & 0x00FF00) * a + 0x008000;
    for (int i = 0; i < n; ++i) {
        const uint32_t d = p[i];
        uint32_t rb = (d & 0xFF00FF) * ia + srb;
        rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
        // Green alone in bits 8..23: room for the product without touching other lanes.
        uint32_t g = ((d & 0x00FF00) >> 8) * ia * 256 + sg;
        g = ((g + ((g >> 8) & 0x00FF00)) >> 8) & 0x00FF00;
        p[i] = 0xFF000000u | rb | g;
    }
}

// Clamps a double to [lo, hi] (NaN gives lo) before any conversion to int.
inline double Clamp(double v, double lo, double hi) { return v >= lo ? (v <= hi ? v : hi) : lo; }

// ---------------------------------------------------------------------------------------------
// Scanline polygon rasterizer: exact-area coverage (signed area accumulated per cell and summed
// along the row) or pixel-centre sampling. Works on edges in doubles clipped to the picture, so
// any int32 input is safe.

enum class FillRule { EvenOdd, NonZero };

struct Edge {
    double x0, y0, x1, y1;  // y0 < y1
    int dir;                // +1 when the original edge went down, -1 up
};

class Rasterizer {
public:
    Rasterizer(Picture& dst) : m_dst(dst), m_w(dst.Width()), m_h(dst.Height()) {}

    void AddEdge(double x0, double y0, double x1, double y1) {
        if (y0 == y1) return;
        if (y0 < y1) m_edges.push_back({x0, y0, x1, y1, 1});
        else m_edges.push_back({x1, y1, x0, y0, -1});
    }

    void AddPolygon(const PointF* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const PointF& a = p[i];
            const PointF& b = p[(i + 1) % n];
            AddEdge(a.x, a.y, b.x, b.y);
        }
    }

    void Fill(ARGB color, FillRule rule, bool antiAlias) {
        if (m_dst.IsNull() || m_edges.empty()) return;
        const uint32_t alpha = color >> 24;
        if (alpha == 0) return;
        double ymin = m_edges[0].y0, ymax = m_edges[0].y1;
        for (const Edge& e : m_edges) {
            ymin = std::min(ymin, e.y0);
            ymax = std::max(ymax, e.y1);
        }
        const int rowBegin = static_cast<int>(std::floor(Clamp(ymin, 0, m_h)));
        const int rowEnd = static_cast<int>(std::ceil(Clamp(ymax, 0, m_h)));
        if (rowBegin >= rowEnd) return;
        std::sort(m_edges.begin(), m_edges.end(),
                  [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
        m_cover.assign(static_cast<size_t>(m_w) + 2, 0.0f);
        m_alpha.assign(static_cast<size_t>(m_w) + 1, 0);
        size_t next = 0;
        std::vector<const Edge*> active;
        for (int y = rowBegin; y < rowEnd; ++y) {
            // Edges reaching into this row band; those ending above it leave.
            while (next < m_edges.size() && m_edges[next].y0 < y + 1) active.push_back(&m_edges[next++]);
            active.erase(std::remove_if(active.begin(), active.end(),
                                        [y](const Edge* e) { return e->y1 <= y; }),
                         active.end());
            if (active.empty()) continue;
            if (antiAlias) RowAntiAliased(y, active, color, rule);
            else RowAliased(y, active, color, rule);
        }
    }

private:
    static double XAt(const Edge& e, double y) {
        return e.x0 + (e.x1 - e.x0) * ((y - e.y0) / (e.y1 - e.y0));
    }

    // Adds the signed area right of the segment, within the row band, to the cells it crosses;
    // y in [0, 1] relative to the row, x already clamped to [0, w].
    void Accumulate(double xa, double ya, double xb, double yb, int& lo, int& hi) {
        const double dy = yb - ya;
        if (dy == 0) return;
        float* acc = m_cover.data();
        if (xa > xb) {
            std::swap(xa, xb);  // walk left to right; the piece heights keep dy's sign
        }
        int ix = static_cast<int>(xa);
        const int ixEnd = static_cast<int>(xb);
        lo = std::min(lo, ix);
        hi = std::max(hi, ixEnd + 1);
        if (ix == ixEnd || xb == xa) {
            const double mid = (xa + xb) * 0.5 - ix;
            acc[ix] += static_cast<float>(dy * (1 - mid));
            acc[ix + 1] += static_cast<float>(dy * mid);
            return;
        }
        const double dydx = dy / (xb - xa);
        double xs = xa;
        for (; ix <= ixEnd; ++ix) {
            const double xe = std::min(xb, static_cast<double>(ix + 1));
            const double dyp = (xe - xs) * dydx;
            const double mid = (xs + xe) * 0.5 - ix;
            acc[ix] += static_cast<float>(dyp * (1 - mid));
            acc[ix + 1] += static_cast<float>(dyp * mid);
            xs = xe;
        }
    }

    // One edge's part within the row band, split where it crosses x = 0 and x = w so that the
    // parts outside become vertical runs on the border (left ones still cover the row).
    void AccumulateClipped(double xa, double ya, double xb, double yb, int& lo, int& hi) {
        const double w = m_w;
        double xs[4] = {xa, 0, 0, xb}, ys[4] = {ya, 0, 0, yb};
        int n = 1;
        auto split = [&](double bound) {
            if ((xa < bound && xb > bound) || (xa > bound && xb < bound)) {
                const double t = (bound - xa) / (xb - xa);
                xs[n] = bound;
                ys[n] = ya + (yb - ya) * t;
                ++n;
            }
        };
        if (xa <= xb) {
            split(0);
            split(w);
        } else {
            split(w);
            split(0);
        }
        xs[n] = xb;
        ys[n] = yb;
        for (int i = 0; i < n; ++i)
            Accumulate(Clamp(xs[i], 0, w), ys[i], Clamp(xs[i + 1], 0, w), ys[i + 1], lo, hi);
    }

    void RowAntiAliased(int y, const std::vector<const Edge*>& active, ARGB color, FillRule rule) {
        int lo = m_w, hi = -1;
        for (const Edge* e : active) {
            const double ya = std::max(e->y0, static_cast<double>(y));
            const double yb = std::min(e->y1, static_cast<double>(y + 1));
            if (ya >= yb) continue;
            const double xa = XAt(*e, ya), xb = XAt(*e, yb);
            const double sa = (ya - y) * e->dir, sb = (yb - y) * e->dir;
            AccumulateClipped(xa, sa, xb, sb, lo, hi);
        }
        if (hi < lo) return;
        // Cells up to hi were touched; only those inside the picture are drawn.
        const int last = std::min(hi, m_w - 1);
        const uint32_t alpha = color >> 24;
        float sum = 0;
        uint8_t* cov = m_alpha.data();
        for (int x = lo; x <= last; ++x) {
            sum += m_cover[static_cast<size_t>(x)];
            float v = std::fabs(sum);
            if (rule == FillRule::EvenOdd) {
                v = std::fmod(v, 2.0f);
                if (v > 1) v = 2 - v;
            } else if (v > 1) {
                v = 1;
            }
            cov[x] = static_cast<uint8_t>(v * 255.0f + 0.5f);
        }
        std::fill(m_cover.begin() + lo, m_cover.begin() + hi + 1, 0.0f);
        if (last < lo) return;
        BlendCoverage(y, lo, last + 1, color & 0xFFFFFF, alpha);
    }

    void RowAliased(int y, const std::vector<const Edge*>& active, ARGB color, FillRule rule) {
        const double yc = y + 0.5;
        m_crossings.clear();
        for (const Edge* e : active)
            if (e->y0 <= yc && yc < e->y1) m_crossings.push_back({XAt(*e, yc), e->dir});
        if (m_crossings.empty()) return;
        std::sort(m_crossings.begin(), m_crossings.end(),
                  [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
        int winding = 0;
        uint32_t* row = m_dst.Row(y);
        for (size_t i = 0; i + 1 < m_crossings.size(); ++i) {
            winding += rule == FillRule::EvenOdd ? 1 : m_crossings[i].dir;
            const bool inside = rule == FillRule::EvenOdd ? (winding & 1) != 0 : winding != 0;
            if (!inside) continue;
            // Pixels whose centre lies in [xa, xb).
            const int x0 = static_cast<int>(std::ceil(Clamp(m_crossings[i].x - 0.5, 0, m_w)));
            const int x1 = static_cast<int>(std::ceil(Clamp(m_crossings[i + 1].x - 0.5, 0, m_w)));
            BlendSpan(row + x0, x1 - x0, color & 0xFFFFFF, color >> 24);
        }
    }

    // Blends the row's coverage bytes over [x0, x1): full-coverage runs as constant spans.
    void BlendCoverage(int y, int x0, int x1, uint32_t rgb, uint32_t alpha) {
        uint32_t* row = m_dst.Row(y);
        const uint8_t* cov = m_alpha.data();
        int x = x0;
        while (x < x1) {
            if (cov[x] == 255) {
                int e = x + 1;
                while (e < x1 && cov[e] == 255) ++e;
                BlendSpan(row + x, e - x, rgb, alpha);
                x = e;
            } else {
                row[x] = BlendPixel(row[x], rgb, Div255(cov[x] * alpha));
                ++x;
            }
        }
    }

    struct Crossing {
        double x;
        int dir;
    };

    Picture& m_dst;
    int m_w, m_h;
    std::vector<Edge> m_edges;
    std::vector<float> m_cover;
    std::vector<uint8_t> m_alpha;
    std::vector<Crossing> m_crossings;
};

// Intersection of rect with the picture, as [x0, x1) x [y0, y1) in 64 bits so that
// x + width cannot overflow.
bool ClipRect(const Picture& dst, const RectI& r, int& x0, int& y0, int& x1, int& y1) {
    if (dst.IsNull() || r.width <= 0 || r.height <= 0) return false;
    const int64_t l = std::max<int64_t>(r.x, 0);
    const int64_t t = std::max<int64_t>(r.y, 0);
    const int64_t rr = std::min<int64_t>(int64_t{r.x} + r.width, dst.Width());
    const int64_t b = std::min<int64_t>(int64_t{r.y} + r.height, dst.Height());
    if (l >= rr || t >= b) return false;
    x0 = static_cast<int>(l);
    y0 = static_cast<int>(t);
    x1 = static_cast<int>(rr);
    y1 = static_cast<int>(b);
    return true;
}

}  // namespace

void FillRectangle(Picture& dst, const RectI& rect, ARGB color) {
    int x0, y0, x1, y1;
    if (!ClipRect(dst, rect, x0, y0, x1, y1)) return;
    for (int y = y0; y < y1; ++y) BlendSpan(dst.Row(y) + x0, x1 - x0, color & 0xFFFFFF, color >> 24);
}

void FillRectangleGradient(Picture& dst, const RectI& rect, PointF p1, PointF p2, ARGB c1,
                           ARGB c2) {
    int x0, y0, x1, y1;
    if (!ClipRect(dst, rect, x0, y0, x1, y1)) return;
    const double dx = p2.x - p1.x, dy = p2.y - p1.y;
    const double len2 = dx * dx + dy * dy;
    // A gradient without a direction is undefined: nothing is drawn.
    if (!(len2 > 0) || !std::isfinite(len2)) return;
    const double ux = dx / len2, uy = dy / len2;
    int a1[4], a2[4];
    for (int k = 0; k < 4; ++k) {
        a1[k] = static_cast<int>((c1 >> (8 * k)) & 0xFF);
        a2[k] = static_cast<int>((c2 >> (8 * k)) & 0xFF);
    }
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = dst.Row(y);
        for (int x = x0; x < x1; ++x) {
            double t = (x + 0.5 - p1.x) * ux + (y + 0.5 - p1.y) * uy;
            // Tile and flip: period 2, second half mirrored.
            t = std::fabs(std::fmod(t, 2.0));
            if (t > 1) t = 2 - t;
            uint32_t c = 0;
            for (int k = 0; k < 4; ++k) {
                const double v = a1[k] + (a2[k] - a1[k]) * t;
                c |= static_cast<uint32_t>(Clamp(std::floor(v + 0.5), 0, 255)) << (8 * k);
            }
            row[x] = BlendPixel(row[x], c & 0xFFFFFF, c >> 24);
        }
    }
}

namespace {

void FillPolygonRule(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias) {
    if (dst.IsNull() || !points || count < 3) return;
    Rasterizer r(dst);
    for (size_t i = 0; i < count; ++i) {
        const PointI& a = points[i];
        const PointI& b = points[(i + 1) % count];
        r.AddEdge(a.x, a.y, b.x, b.y);
    }
    r.Fill(color, FillRule::EvenOdd, antiAlias);
}

// Adds polygon p to r with positive orientation, so that a nonzero union counts it once.
void AddOriented(Rasterizer& r, PointF* p, size_t n) {
    double area = 0;
    for (size_t i = 0; i < n; ++i) {
        const PointF& a = p[i];
        const PointF& b = p[(i + 1) % n];
        area += a.x * b.y - b.x * a.y;
    }
    if (area == 0) return;
    if (area < 0) std::reverse(p, p + n);
    r.AddPolygon(p, n);
}

}  // namespace

void FillPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias) {
    FillPolygonRule(dst, points, count, color, antiAlias);
}

void DrawPolygon(Picture& dst, const PointI* points, size_t count, ARGB color, bool antiAlias) {
    if (dst.IsNull() || !points || count < 2) return;
    // The stroke is the union of one quad per edge (the segment widened by half a pixel to
    // each side) and a bevel at each corner, filled once with the nonzero rule.
    Rasterizer r(dst);
    std::vector<PointF> normals(count);
    std::vector<bool> valid(count);
    for (size_t i = 0; i < count; ++i) {
        const PointI& a = points[i];
        const PointI& b = points[(i + 1) % count];
        const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
        const double len = std::sqrt(dx * dx + dy * dy);
        valid[i] = len > 0;
        if (!valid[i]) continue;
        normals[i] = {-dy / len * 0.5, dx / len * 0.5};
        const PointF n = normals[i];
        PointF quad[4] = {{a.x + n.x, a.y + n.y}, {b.x + n.x, b.y + n.y},
                          {b.x - n.x, b.y - n.y}, {a.x - n.x, a.y - n.y}};
        AddOriented(r, quad, 4);
    }
    for (size_t i = 0; i < count; ++i) {
        // Corner at the end of edge i; skip over zero-length edges to the next real one.
        if (!valid[i]) continue;
        size_t j = (i + 1) % count;
        while (j != i && !valid[j]) j = (j + 1) % count;
        if (j == i) continue;
        const PointI& v = points[(i + 1) % count];
        const PointF n1 = normals[i], n2 = normals[j];
        PointF outer[3] = {{double(v.x), double(v.y)}, {v.x + n1.x, v.y + n1.y}, {v.x + n2.x, v.y + n2.y}};
        PointF inner[3] = {{double(v.x), double(v.y)}, {v.x - n1.x, v.y - n1.y}, {v.x - n2.x, v.y - n2.y}};
        AddOriented(r, outer, 3);
        AddOriented(r, inner, 3);
    }
    r.Fill(color, FillRule::NonZero, antiAlias);
}

namespace {

// One destination index's share of source indices along one axis.
struct Contribution {
    int first = 0;               // first source index
    std::vector<float> weights;  // normalised
    float coverage = 0;          // fraction of the destination pixel inside the rectangle
};

// Builds the per-destination-pixel weights along one axis for source [s0, s0 + sn) drawn into
// destination [d0, d0 + dn), destination pixels [from, to).
std::vector<Contribution> AxisContributions(int s0, int sn, double d0, double dn, int from, int to) {
    std::vector<Contribution> out(static_cast<size_t>(to - from));
    const double scale = dn / sn;  // destination pixels per source pixel
    for (int i = from; i < to; ++i) {
        Contribution& c = out[static_cast<size_t>(i - from)];
        const double a = std::max<double>(i, d0), b = std::min<double>(i + 1, d0 + dn);
        c.coverage = static_cast<float>(std::max(0.0, b - a));
        if (c.coverage <= 0) continue;
        const double sa = (a - d0) / scale, sb = (b - d0) / scale;  // source units from s0
        if (scale >= 1) {
            // Enlarging: bilinear between the two nearest source pixel centres.
            const double centre = Clamp((sa + sb) * 0.5 - 0.5, 0, sn - 1);
            const int j = static_cast<int>(centre);
            const double f = centre - j;
            c.first = s0 + j;
            if (j + 1 < sn && f > 0) c.weights = {static_cast<float>(1 - f), static_cast<float>(f)};
            else c.weights = {1.0f};
        } else {
            // Reducing: average of the source pixels by their overlap with [sa, sb).
            const int j0 = static_cast<int>(Clamp(std::floor(sa), 0, sn - 1));
            const int j1 = static_cast<int>(Clamp(std::ceil(sb), j0 + 1, sn));
            c.first = s0 + j0;
            double total = 0;
            for (int j = j0; j < j1; ++j) {
                const double ov = std::min<double>(j + 1, sb) - std::max<double>(j, sa);
                c.weights.push_back(static_cast<float>(std::max(0.0, ov)));
                total += std::max(0.0, ov);
            }
            if (total <= 0) {
                c.weights.assign(1, 1.0f);
                c.weights.resize(static_cast<size_t>(j1 - j0), 0.0f);
                total = 1;
            }
            for (float& w : c.weights) w = static_cast<float>(w / total);
        }
    }
    return out;
}

}  // namespace

void DrawPicture(Picture& dst, const Picture& src, const RectI& srcRect, const RectF& dstRect,
                 float opacity) {
    if (dst.IsNull() || src.IsNull()) return;
    if (!(opacity > 0)) return;
    opacity = std::min(opacity, 1.0f);
    // Source rectangle within the source picture; a part outside it shrinks the destination
    // in proportion.
    const int64_t sx0 = std::max<int64_t>(srcRect.x, 0), sy0 = std::max<int64_t>(srcRect.y, 0);
    const int64_t sx1 = std::min<int64_t>(int64_t{srcRect.x} + srcRect.width, src.Width());
    const int64_t sy1 = std::min<int64_t>(int64_t{srcRect.y} + srcRect.height, src.Height());
    if (srcRect.width <= 0 || srcRect.height <= 0 || sx0 >= sx1 || sy0 >= sy1) return;
    if (!std::isfinite(dstRect.x) || !std::isfinite(dstRect.y) || !std::isfinite(dstRect.width) ||
        !std::isfinite(dstRect.height) || !(dstRect.width > 0) || !(dstRect.height > 0))
        return;
    const double kx = dstRect.width / srcRect.width, ky = dstRect.height / srcRect.height;
    const double dx0 = dstRect.x + (sx0 - srcRect.x) * kx, dx1 = dstRect.x + (sx1 - srcRect.x) * kx;
    const double dy0 = dstRect.y + (sy0 - srcRect.y) * ky, dy1 = dstRect.y + (sy1 - srcRect.y) * ky;
    const int px0 = static_cast<int>(std::floor(Clamp(dx0, 0, dst.Width())));
    const int px1 = static_cast<int>(std::ceil(Clamp(dx1, 0, dst.Width())));
    const int py0 = static_cast<int>(std::floor(Clamp(dy0, 0, dst.Height())));
    const int py1 = static_cast<int>(std::ceil(Clamp(dy1, 0, dst.Height())));
    if (px0 >= px1 || py0 >= py1) return;
    const int sw = static_cast<int>(sx1 - sx0), sh = static_cast<int>(sy1 - sy0);
    const auto cols = AxisContributions(static_cast<int>(sx0), sw, dx0, dx1 - dx0, px0, px1);
    const auto rows = AxisContributions(static_cast<int>(sy0), sh, dy0, dy1 - dy0, py0, py1);

    // Source columns any destination column reads.
    int cFirst = INT32_MAX, cLast = -1;
    for (const Contribution& c : cols) {
        if (c.weights.empty()) continue;
        cFirst = std::min(cFirst, c.first);
        cLast = std::max(cLast, c.first + static_cast<int>(c.weights.size()) - 1);
    }
    if (cLast < cFirst) return;
    // Averages premultiplied colours so that transparent pixels do not darken their neighbours.
    std::vector<float> line(static_cast<size_t>(cLast - cFirst + 1) * 4);
    for (int y = py0; y < py1; ++y) {
        const Contribution& rc = rows[static_cast<size_t>(y - py0)];
        if (rc.weights.empty()) continue;
        std::fill(line.begin(), line.end(), 0.0f);
        for (size_t k = 0; k < rc.weights.size(); ++k) {
            const float wy = rc.weights[k];
            if (wy == 0) continue;
            const uint32_t* s = src.Row(rc.first + static_cast<int>(k));
            for (int x = cFirst; x <= cLast; ++x) {
                const uint32_t p = s[x];
                const float a = static_cast<float>(p >> 24) * wy;
                float* l = &line[static_cast<size_t>(x - cFirst) * 4];
                l[0] += a;
                l[1] += static_cast<float>((p >> 16) & 0xFF) * a;
                l[2] += static_cast<float>((p >> 8) & 0xFF) * a;
                l[3] += static_cast<float>(p & 0xFF) * a;
            }
        }
        uint32_t* d = dst.Row(y);
        for (int x = px0; x < px1; ++x) {
            const Contribution& cc = cols[static_cast<size_t>(x - px0)];
            if (cc.weights.empty()) continue;
            float acc[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < cc.weights.size(); ++k) {
                const float* l = &line[static_cast<size_t>(cc.first + static_cast<int>(k) - cFirst) * 4];
                for (int ch = 0; ch < 4; ++ch) acc[ch] += l[ch] * cc.weights[k];
            }
            if (acc[0] <= 0) continue;
            uint32_t rgb = 0;
            for (int ch = 1; ch < 4; ++ch)
                rgb |= static_cast<uint32_t>(Clamp(acc[ch] / acc[0] + 0.5f, 0, 255)) << (8 * (3 - ch));
            const float a = acc[0] * cc.coverage * rc.coverage * opacity;
            d[x] = BlendPixel(d[x], rgb, static_cast<uint32_t>(Clamp(a + 0.5f, 0, 255)));
        }
    }
}
