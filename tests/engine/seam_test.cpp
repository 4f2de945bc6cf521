// Meshes against a plain reference that composites 16 x 16 points of every pixel one by one,
// in mesh order, and averages them: what a pixel should be when triangles share its area.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "picture_compare.h"
#include "polygon_mesh.h"
#include "raster.h"
#include "raster_stroke.h"
#include "renderer.h"

namespace {

constexpr int kSamples = 16;

struct Sampled {
    std::vector<float> rgb;       // 3 per pixel, 0..255
    std::vector<bool> fullCover;  // every point of the pixel inside some triangle
};

// The points of sample row py inside convex polygon p (boundary included), as a range of sample
// columns g, whose points lie at x = (g + 0.5) / n; empty when lo > hi.
void PolygonSpan(const PointF* p, size_t count, double py, int n, long& lo, long& hi) {
    double area = 0;
    for (size_t i = 0; i < count; ++i) {
        const PointF &u = p[i], &e = p[(i + 1) % count];
        area += u.x * e.y - e.x * u.y;
    }
    double l = -1e18, r = 1e18;
    for (size_t k = 0; k < count; ++k) {
        const PointF &u = p[k], &e = p[(k + 1) % count];
        // Inside where (e - u) x (q - u) has the sign of the area: A qx + B >= 0.
        double A = -(e.y - u.y), B = (e.x - u.x) * (py - u.y) + (e.y - u.y) * u.x;
        if (area < 0) A = -A, B = -B;
        if (A > 0)
            l = std::max(l, -B / A);
        else if (A < 0)
            r = std::min(r, -B / A);
        else if (B < 0)
            l = 1, r = 0;
    }
    lo = area == 0 || l > r ? 1 : long(std::ceil(l * n - 0.5));
    hi = area == 0 || l > r ? 0 : long(std::floor(r * n - 0.5));
}

// The same for triangle abc.
void SampleSpan(const MeshVertex& a, const MeshVertex& b, const MeshVertex& c, double py, int n,
                long& lo, long& hi) {
    const PointF t[3] = {
        {double(a.x), double(a.y)}, {double(b.x), double(b.y)}, {double(c.x), double(c.y)}};
    PolygonSpan(t, 3, py, n, lo, hi);
}

// The points of sample row py inside the outline of triangle abc (the 1-pixel pen's stroke, as
// the engine's stroke geometry gives it), marked in `in` over sample columns [0, row); the
// marks lie within [first, last].
void MarkOutline(const MeshVertex& a, const MeshVertex& b, const MeshVertex& c, double py, int n,
                 std::vector<uint8_t>& in, long& first, long& last) {
    const long row = long(in.size());
    first = row, last = -1;
    auto mark = [&](const std::vector<PointF>& poly, uint8_t value) {
        long lo = 0, hi = 0;
        PolygonSpan(poly.data(), poly.size(), py, n, lo, hi);
        lo = std::max(lo, 0L), hi = std::min(hi, row - 1);
        if (value && lo <= hi) first = std::min(first, lo), last = std::max(last, hi);
        for (long g = lo; g <= hi; ++g) in[size_t(g)] = value;
    };
    const PointI pts[3] = {{a.x, a.y}, {b.x, b.y}, {c.x, c.y}};
    const std::vector<PointF>*outer = nullptr, *inner = nullptr;
    if (raster_internal::ConvexStroke(pts, 3, outer, inner)) {
        mark(*outer, 1);
        if (!inner->empty()) mark(*inner, 0);
    } else {
        for (const std::vector<PointF>& piece : raster_internal::StrokeUnion(pts, 3))
            mark(piece, 1);
    }
}

// The mesh's fills, each followed by its outline where there are outlines, over `under` (the
// picture's background layers), a pixel row at a time.
Sampled SampledMesh(const Picture& under, const ImageSettings& s, const PolygonMesh& m) {
    const int w = under.Width(), h = under.Height(), n = kSamples;
    Sampled out;
    out.rgb.resize(size_t(w) * h * 3);
    out.fullCover.resize(size_t(w) * h);
    const float cr = GetRValue(s.crPolyColor), cg = GetGValue(s.crPolyColor),
                cb = GetBValue(s.crPolyColor);
    const float lr = GetRValue(s.crLineColor), lg = GetGValue(s.crLineColor),
                lb = GetBValue(s.crLineColor);
    const float pen = s.nLineOpacity > 0 ? float(OpacityToAlpha(s.nLineOpacity)) / 255 : 0;
    const long row = long(w) * n;  // sample columns
    std::vector<float> pts(size_t(row) * n * 3);
    std::vector<uint8_t> hit(size_t(row) * n), ring(static_cast<size_t>(row));
    for (int y = 0; y < h; ++y) {
        for (long g = 0; g < row; ++g) {
            const uint32_t p = under.Pixel(int(g / n), y);
            for (int j = 0; j < n; ++j) {
                float* q = &pts[(size_t(j) * row + g) * 3];
                q[0] = (p >> 16) & 0xFF, q[1] = (p >> 8) & 0xFF, q[2] = p & 0xFF;
            }
        }
        std::fill(hit.begin(), hit.end(), 0);
        for (const MeshTriangle& t : m.pTriangles) {
            const MeshVertex &a = m.pVertices[size_t(t.a)], &b = m.pVertices[size_t(t.b)],
                             &c = m.pVertices[size_t(t.c)];
            if (std::max({a.y, b.y, c.y}) < y - 1 || std::min({a.y, b.y, c.y}) > y + 2) continue;
            if (a.x >= w && a.y >= h && b.x >= w && b.y >= h && c.x >= w && c.y >= h) continue;
            const float al = float(t.alpha & 0xFF) / 255;
            for (int j = 0; j < n; ++j) {
                long lo = 0, hi = 0;
                SampleSpan(a, b, c, y + (j + 0.5) / n, n, lo, hi);
                for (long g = std::max(lo, 0L); g <= std::min(hi, row - 1); ++g) {
                    float* q = &pts[(size_t(j) * row + g) * 3];
                    q[0] += al * (cr - q[0]), q[1] += al * (cg - q[1]), q[2] += al * (cb - q[2]);
                    hit[size_t(j) * row + g] = 1;
                }
                if (pen == 0) continue;
                long first = 0, last = 0;
                MarkOutline(a, b, c, y + (j + 0.5) / n, n, ring, first, last);
                for (long g = first; g <= last; ++g) {
                    if (!ring[size_t(g)]) continue;
                    ring[size_t(g)] = 0;
                    float* q = &pts[(size_t(j) * row + g) * 3];
                    q[0] += pen * (lr - q[0]), q[1] += pen * (lg - q[1]), q[2] += pen * (lb - q[2]);
                    hit[size_t(j) * row + g] = 1;
                }
            }
        }
        for (int x = 0; x < w; ++x) {
            double sum[3] = {0, 0, 0};
            bool all = true;
            for (int j = 0; j < n; ++j)
                for (long g = long(x) * n; g < long(x + 1) * n; ++g) {
                    const size_t at = size_t(j) * row + g;
                    for (int ch = 0; ch < 3; ++ch) sum[ch] += pts[at * 3 + ch];
                    all = all && hit[at];
                }
            for (int ch = 0; ch < 3; ++ch)
                out.rgb[(size_t(y) * w + x) * 3 + ch] = float(sum[ch] / (n * n));
            out.fullCover[size_t(y) * w + x] = all;
        }
    }
    return out;
}

struct Gap {
    double worst = 0, mean = 0;
};

Gap Compare(const Picture& got, const Sampled& want) {
    Gap g;
    double total = 0;
    for (int y = 0; y < got.Height(); ++y)
        for (int x = 0; x < got.Width(); ++x) {
            const uint32_t p = got.Pixel(x, y);
            const float* r = &want.rgb[(size_t(y) * got.Width() + x) * 3];
            // The reference as a picture would hold it: rounded to whole levels.
            const double d = std::max({std::fabs(((p >> 16) & 0xFF) - std::round(r[0])),
                                       std::fabs(((p >> 8) & 0xFF) - std::round(r[1])),
                                       std::fabs((p & 0xFF) - std::round(r[2]))});
            g.worst = std::max(g.worst, d);
            total += d;
        }
    g.mean = total / (double(got.Width()) * got.Height());
    return g;
}

ImageSettings Settings(int w, int h, int mode, int polySize, int start, int end, COLORREF poly,
                       int line = 0, COLORREF lineColor = RGBColor(255, 255, 255)) {
    ImageSettings s = DefaultSettings();
    s.nWidth = w;
    s.nHeight = h;
    s.nBackMode = mode;
    s.crBackColor = RGBColor(255, 255, 255);
    s.crGradColor1 = RGBColor(250, 200, 30);
    s.crGradColor2 = RGBColor(20, 60, 240);
    s.nPolySize = polySize;
    s.nStartOpacity = start;
    s.nEndOpacity = end;
    s.crPolyColor = poly;
    s.nLineOpacity = line;
    s.crLineColor = lineColor;
    return s;
}

// The background layers alone: the picture with no triangles.
Picture Under(const ImageSettings& s) {
    return RenderPicture(s, PolygonMesh{}, nullptr);
}

TEST(Seams, MeshesMatchPointByPointCompositing) {
    struct Case {
        const char* name;
        ImageSettings s;
        bool handMesh;  // triangles of our own, crossing every side of the picture
    };
    const Case cases[] = {
        {"opaque black on white", Settings(161, 119, 0, 23, 100, 100, RGBColor(0, 0, 0)), false},
        {"opaque over a gradient", Settings(150, 101, 5, 30, 100, 100, RGBColor(10, 10, 90)),
         false},
        {"translucent", Settings(173, 97, 3, 19, 40, 90, RGBColor(200, 30, 60)), false},
        {"faint default", Settings(140, 90, 0, 25, 2, 25, RGBColor(0, 0, 0)), false},
        {"crossing the sides", Settings(131, 97, 1, 20, 60, 100, RGBColor(90, 0, 120)), true},
        // With outlines: each triangle's ring over its own fill, the next fill and ring over
        // both.
        {"outlined opaque", Settings(161, 119, 0, 23, 100, 100, RGBColor(0, 0, 0), 100), false},
        {"outlined translucent",
         Settings(150, 101, 5, 17, 40, 90, RGBColor(200, 30, 60), 55, RGBColor(20, 240, 90)),
         false},
        {"outlined faint over a gradient",
         Settings(140, 90, 3, 30, 2, 25, RGBColor(0, 0, 0), 30, RGBColor(255, 255, 0)), false},
        {"outlined crossing the sides",
         Settings(131, 97, 1, 20, 60, 100, RGBColor(90, 0, 120), 70, RGBColor(250, 250, 250)),
         true},
    };
    for (const Case& c : cases) {
        PolygonMesh m;
        ASSERT_EQ(GenerateMesh(c.s, m, 42), MeshResult::Ok);
        if (c.handMesh) {
            // Shared edges from outside the picture to outside it, and corners beyond it.
            const int w = c.s.nWidth, h = c.s.nHeight;
            m.pVertices = {{-40, -30, 0, 0},    {w / 2, -7, 0, 0},        {w + 35, -25, 0, 0},
                           {-13, h / 2, 0, 0},  {w / 2 + 3, h / 2, 0, 0}, {w + 9, h / 2 - 4, 0, 0},
                           {-50, h + 20, 0, 0}, {w / 2, h + 44, 0, 0},    {w + 60, h + 3, 0, 0}};
            m.pTriangles = {{0, 1, 4, 255}, {0, 4, 3, 200}, {1, 2, 5, 255}, {1, 5, 4, 120},
                            {3, 4, 7, 255}, {3, 7, 6, 90},  {4, 5, 8, 255}, {4, 8, 7, 160},
                            {1, 4, 4, 140}};  // two corners in one: only an outline
            m.nVertexCount = int32_t(m.pVertices.size());
            m.nTriangleCount = int32_t(m.pTriangles.size());
        }
        const Picture got = RenderPicture(c.s, m, nullptr);
        ASSERT_FALSE(got.IsNull());
        const Gap g = Compare(got, SampledMesh(Under(c.s), c.s, m));
        EXPECT_LE(g.worst, 16) << c.name;
        EXPECT_LT(g.mean, 0.5) << c.name;
    }
}

// The share of pixel (x, y) no triangle covers, from n x n points.
double UncoveredShare(const PolygonMesh& m, int x, int y, int n) {
    std::vector<uint8_t> hit(size_t(n) * n);
    for (const MeshTriangle& t : m.pTriangles) {
        const MeshVertex &a = m.pVertices[size_t(t.a)], &b = m.pVertices[size_t(t.b)],
                         &c = m.pVertices[size_t(t.c)];
        for (int j = 0; j < n; ++j) {
            long lo = 0, hi = 0;
            SampleSpan(a, b, c, y + (j + 0.5) / n, n, lo, hi);
            for (long g = std::max(lo, long(x) * n); g <= std::min(hi, long(x + 1) * n - 1); ++g)
                hit[size_t(j) * n + size_t(g - long(x) * n)] = 1;
        }
    }
    return double(std::count(hit.begin(), hit.end(), 0)) / hit.size();
}

TEST(Seams, OpaqueMeshIsSolidWhereverItCovers) {
    // Opaque black triangles on white: before, a web of light lines showed along the edges,
    // up to 64 levels lighter than the black on both sides.
    const ImageSettings s = Settings(800, 600, 0, 0, 100, 100, RGBColor(0, 0, 0));
    PolygonMesh m;
    ASSERT_EQ(GenerateMesh(s, m, 42), MeshResult::Ok);
    const Picture got = RenderPicture(s, m, nullptr);
    const Sampled want = SampledMesh(Under(s), s, m);
    size_t covered = 0, lighter = 0;
    for (int y = 0; y < s.nHeight; ++y)
        for (int x = 0; x < s.nWidth; ++x) {
            if (!want.fullCover[size_t(y) * s.nWidth + x]) continue;
            ++covered;
            const int level = int(got.Pixel(x, y) & 0xFF);
            // Not black: white must show through a sliver the 256 points missed.
            if (level > 0 && level > 255 * UncoveredShare(m, x, y, 512) + 1) ++lighter;
        }
    EXPECT_GT(covered, size_t(s.nWidth) * s.nHeight / 2);
    EXPECT_EQ(lighter, 0u);
}

TEST(Seams, ARowIsTheSameInAnyBand) {
    // Very wide pictures are drawn a few rows at a time; every row must come out as it does
    // drawn on its own.
    const int w = 200003, h = 7;
    const std::vector<MeshFillTriangle> tris = {
        {{{-50, -3}, {w / 2, 9}, {3, 11}}, 200},   {{{-50, -3}, {w + 40, -1}, {w / 2, 9}}, 90},
        {{{3, 11}, {w / 2, 9}, {w - 7, 12}}, 255}, {{{w / 2, 9}, {w + 40, -1}, {w - 7, 12}}, 40},
        {{{10, 1}, {w - 10, 2}, {w / 3, 6}}, 120},  // folds over the others
        {{{-3, -2}, {2, 12}, {40, 3}}, 170},        // a steep side entering the picture
    };
    Picture whole = FilledPicture(w, h, 0xFF204060);
    DrawMeshFills(whole, 0, tris.data(), tris.size(), 0xFFF0C000, RectI{0, 0, w, h});
    for (int y = 0; y < h; ++y) {
        Picture row = FilledPicture(w, 1, 0xFF204060);
        DrawMeshFills(row, y, tris.data(), tris.size(), 0xFFF0C000, RectI{0, 0, w, 1});
        ASSERT_TRUE(std::equal(row.Row(0), row.Row(0) + w, whole.Row(y))) << "row " << y;
    }
}

}  // namespace
