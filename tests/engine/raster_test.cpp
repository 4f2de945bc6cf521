// The rasterizer against QPainter (drawing the same thing) and against exact coverage computed
// here pixel by pixel.
#include <gtest/gtest.h>

#include <QLinearGradient>
#include <QPainter>
#include <QPolygon>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "painter_reference.h"
#include "picture_compare.h"
#include "raster.h"

namespace {

constexpr uint32_t kBack = 0xFF3070C0;

QPolygon ToQt(const std::vector<PointI>& pts) {
    QPolygon q;
    for (const PointI& p : pts) q << QPoint(p.x, p.y);
    return q;
}

// A copy of `p` drawn on by QPainter.
QImage Reference(Picture& p, const std::function<void(QPainter&)>& draw) {
    QImage img = WrapPicture(p).copy();
    QPainter painter(&img);
    draw(painter);
    painter.end();
    return img;
}

// Area of the triangle inside the unit pixel (x, y), by clipping it to the pixel's square.
double PixelCoverage(const PointF tri[3], int x, int y) {
    std::vector<PointF> poly(tri, tri + 3);
    auto clip = [&](auto inside, auto cross) {
        std::vector<PointF> out;
        for (size_t i = 0; i < poly.size(); ++i) {
            const PointF a = poly[i], b = poly[(i + 1) % poly.size()];
            const bool ia = inside(a), ib = inside(b);
            if (ia) out.push_back(a);
            if (ia != ib) out.push_back(cross(a, b));
        }
        poly = out;
    };
    auto atX = [](double bx) {
        return [bx](PointF a, PointF b) {
            return PointF{bx, a.y + (b.y - a.y) * (bx - a.x) / (b.x - a.x)};
        };
    };
    auto atY = [](double by) {
        return [by](PointF a, PointF b) {
            return PointF{a.x + (b.x - a.x) * (by - a.y) / (b.y - a.y), by};
        };
    };
    clip([&](PointF p) { return p.x >= x; }, atX(x));
    clip([&](PointF p) { return p.x <= x + 1; }, atX(x + 1));
    clip([&](PointF p) { return p.y >= y; }, atY(y));
    clip([&](PointF p) { return p.y <= y + 1; }, atY(y + 1));
    double area = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const PointF a = poly[i], b = poly[(i + 1) % poly.size()];
        area += a.x * b.y - b.x * a.y;
    }
    return std::fabs(area) / 2;
}

uint32_t Lerp(uint32_t back, uint32_t color, double a) {
    uint32_t out = 0xFF000000;
    for (int s = 0; s < 24; s += 8) {
        const double cb = (back >> s) & 0xFF, cc = (color >> s) & 0xFF;
        out |= static_cast<uint32_t>(std::lround(cb + (cc - cb) * a)) << s;
    }
    return out;
}

TEST(RasterFill, AntiAliasedTrianglesHaveExactAreaCoverage) {
    // Random triangles, some sliver-thin, some reaching outside; each pixel must be the background
    // blended with the triangle's colour at alpha * covered area (rounding aside).
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> coord(-8, 40);
    for (int round = 0; round < 40; ++round) {
        Picture p = FilledPicture(32, 24, kBack);
        std::vector<PointI> pts(3);
        for (PointI& q : pts) q = {coord(gen), coord(gen)};
        if (round % 4 == 0) pts[2] = {pts[0].x + 1, pts[0].y + 30};  // a sliver
        const uint32_t color = 0xC0F0E020;
        FillPolygon(p, pts.data(), 3, color, true);
        const PointF tri[3] = {{double(pts[0].x), double(pts[0].y)},
                               {double(pts[1].x), double(pts[1].y)},
                               {double(pts[2].x), double(pts[2].y)}};
        for (int y = 0; y < p.Height(); ++y)
            for (int x = 0; x < p.Width(); ++x) {
                const uint32_t want = Lerp(kBack, color, PixelCoverage(tri, x, y) * 0xC0 / 255.0);
                ASSERT_LE(ChannelDiff(p.Pixel(x, y), want), 1)
                    << "round " << round << " at (" << x << ", " << y << "): got "
                    << Hex(p.Pixel(x, y)) << ", want " << Hex(want);
            }
    }
}

bool CentreOnEdge(const std::vector<PointI>& pts, int x, int y) {
    for (size_t i = 0; i < pts.size(); ++i) {
        const PointI a = pts[i], b = pts[(i + 1) % pts.size()];
        const int64_t cx = 2 * x + 1 - 2 * int64_t{a.x}, cy = 2 * y + 1 - 2 * int64_t{a.y};
        const int64_t dx = int64_t{b.x} - a.x, dy = int64_t{b.y} - a.y;
        if (dx * cy - dy * cx != 0) continue;
        if (2 * y + 1 >= 2 * std::min(a.y, b.y) && 2 * y + 1 <= 2 * std::max(a.y, b.y)) return true;
    }
    return false;
}

struct FillCase {
    const char* name;
    std::vector<PointI> points;
    bool antiAlias;
};

TEST(RasterFill, MatchesQPainter) {
    const std::vector<FillCase> cases = {
        {"fan", {{50, 50}, {5, 3}, {95, 10}, {97, 90}, {60, 97}, {2, 70}}, true},
        {"slivers", {{0, 0}, {99, 2}, {1, 1}, {99, 60}, {0, 2}}, true},
        {"self-intersecting star", {{50, 2}, {79, 95}, {3, 35}, {97, 35}, {21, 95}}, true},
        {"aliased star", {{50, 2}, {79, 95}, {3, 35}, {97, 35}, {21, 95}}, false},
        {"aliased triangle", {{10, 5}, {90, 37}, {33, 88}}, false},
        {"beyond the edges", {{-40, -10}, {150, 30}, {20, 160}}, true},
    };
    for (const FillCase& c : cases) {
        for (uint32_t color : {0xFFFFFFFFu, 0x60000000u}) {
            Picture p = FilledPicture(100, 100, kBack);
            const QImage want = Reference(p, [&](QPainter& q) {
                q.setRenderHint(QPainter::Antialiasing, c.antiAlias);
                q.setPen(Qt::NoPen);
                q.setBrush(QColor::fromRgba(color));
                q.drawPolygon(ToQt(c.points), Qt::OddEvenFill);
            });
            FillPolygon(p, c.points.data(), c.points.size(), color, c.antiAlias);
            // Without anti-aliasing a centre exactly on an edge is a tie that QPainter gives to
            // both sides; we give it to one, so that shared edges are not blended twice.
            auto tie = [&](int x, int y) { return !c.antiAlias && CentreOnEdge(c.points, x, y); };
            EXPECT_TRUE(PicturesMatch(p, want, 3, 0, tie)) << c.name << " colour " << Hex(color);
        }
    }
}

TEST(RasterOutline, MatchesQPainterPen) {
    const std::vector<std::vector<PointI>> shapes = {
        {{10, 10}, {90, 10}, {90, 70}},
        {{5, 50}, {95, 20}, {40, 95}},
        {{20, 20}, {80, 20}, {80, 80}, {20, 80}},
    };
    for (const auto& pts : shapes) {
        Picture p = FilledPicture(100, 100, kBack);
        const QImage want = Reference(p, [&](QPainter& q) {
            q.setRenderHint(QPainter::Antialiasing);
            q.fillPath(StrokeShape(ToQt(pts)), QColor::fromRgba(0xFFFFFFFF));
        });
        DrawPolygon(p, pts.data(), pts.size(), 0xFFFFFFFF, true);
        // QPainter's nonzero fill counts the stroker's overlapping pieces twice in the pixels
        // at a corner (the exact stroke area is checked below): a few pixels per corner differ.
        EXPECT_TRUE(PicturesMatch(p, want, 3, 3 * static_cast<int>(pts.size())));
    }
}

// Whether (px, py) lies in the stroke of the closed outline: within half a pixel of an edge
// (square to it, no caps) or in the bevel at a corner.
bool InStroke(const std::vector<PointI>& points, double px, double py) {
    std::vector<PointI> pts;  // repeated points make no edge
    for (const PointI& q : points)
        if (pts.empty() || q.x != pts.back().x || q.y != pts.back().y) pts.push_back(q);
    while (pts.size() > 1 && pts.front().x == pts.back().x && pts.front().y == pts.back().y)
        pts.pop_back();
    const size_t n = pts.size();
    auto inTriangle = [](PointF a, PointF b, PointF c, double x, double y) {
        auto side = [&](PointF u, PointF v) {
            return (v.x - u.x) * (y - u.y) - (v.y - u.y) * (x - u.x);
        };
        const double s1 = side(a, b), s2 = side(b, c), s3 = side(c, a);
        return (s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0);
    };
    std::vector<PointF> normal(n);
    for (size_t i = 0; i < n; ++i) {
        const PointI a = pts[i], b = pts[(i + 1) % n];
        const double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
        if (len == 0) continue;
        normal[i] = {-dy / len / 2, dx / len / 2};
        const double t = ((px - a.x) * dx + (py - a.y) * dy) / (len * len);
        const double dist = std::fabs((px - a.x) * dy - (py - a.y) * dx) / len;
        if (t >= 0 && t <= 1 && dist <= 0.5) return true;
    }
    for (size_t i = 0; i < n; ++i) {
        const PointF v{double(pts[(i + 1) % n].x), double(pts[(i + 1) % n].y)};
        const PointF n1 = normal[i], n2 = normal[(i + 1) % n];
        if (inTriangle(v, {v.x + n1.x, v.y + n1.y}, {v.x + n2.x, v.y + n2.y}, px, py) ||
            inTriangle(v, {v.x - n1.x, v.y - n1.y}, {v.x - n2.x, v.y - n2.y}, px, py))
            return true;
    }
    return false;
}

TEST(RasterOutline, CoversTheStrokeOnceWhereEdgesMeetOrOverlap) {
    // Stroke area per pixel measured by 32 x 32 samples; an overlap counted twice (corners,
    // acute angles, edges running back over each other) would show as too much colour.
    const std::vector<std::vector<PointI>> shapes = {
        {{3, 3}, {36, 6}, {5, 9}},                        // acute, thinner than the pen
        {{4, 20}, {36, 20}, {20, 20}},                    // collinear, doubling back
        {{5, 5}, {35, 5}, {35, 35}, {5, 35}},             // square
        {{5, 5}, {35, 10}, {15, 17}, {30, 35}},           // concave
        {{20, 2}, {32, 37}, {2, 14}, {38, 14}, {8, 37}},  // self-intersecting star
        {{6, 30}, {6, 30}, {30, 8}, {34, 34}},            // repeated point
        {{5, 5}, {35, 5}, {35, 6}, {5, 6}},               // rectangle thinner than the pen
    };
    for (bool aa : {true, false}) {
        for (size_t k = 0; k < shapes.size(); ++k) {
            const auto& pts = shapes[k];
            Picture p = FilledPicture(40, 40, 0xFF000000);
            DrawPolygon(p, pts.data(), pts.size(), 0x80FFFFFF, aa);
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 40; ++x) {
                    const int got = static_cast<int>(p.Pixel(x, y) & 0xFF);
                    if (!aa) {
                        const bool in = InStroke(pts, x + 0.5, y + 0.5);
                        // Centres right on the stroke's border may go either way.
                        bool near = false;
                        for (double ex : {-1e-6, 1e-6})
                            for (double ey : {-1e-6, 1e-6})
                                near |= InStroke(pts, x + 0.5 + ex, y + 0.5 + ey) != in;
                        if (!near) {
                            ASSERT_EQ(got, in ? 0x80 : 0)
                                << "shape " << k << " at " << x << "," << y;
                        }
                        continue;
                    }
                    int hits = 0;
                    for (int sy = 0; sy < 32; ++sy)
                        for (int sx = 0; sx < 32; ++sx)
                            hits += InStroke(pts, x + (sx + 0.5) / 32, y + (sy + 0.5) / 32);
                    const int want = static_cast<int>(std::lround(0x80 * hits / 1024.0));
                    ASSERT_NEAR(got, want, 4) << "shape " << k << " at (" << x << ", " << y << ")";
                }
        }
    }
}

TEST(RasterGradient, MatchesQPainterReflectSpread) {
    struct Case {
        const char* name;
        PointF p1, p2;
        uint32_t c1, c2;
    };
    const Case cases[] = {
        {"left to right", {0, 0}, {120, 0}, 0xFFFF0000, 0xFF0000FF},
        {"to the middle, mirrored", {0, 0}, {60, 0}, 0xFF10E030, 0xFFF0F0F0},
        {"top to middle", {0, 0}, {0, 40}, 0xFF000000, 0xFFFFFFFF},
        {"diagonal", {0, 0}, {120, 80}, 0xFFFF8000, 0xFF0080FF},
        {"bottom left to top right", {0, 80}, {120, 0}, 0xFF204060, 0xFFE0C0A0},
        {"translucent shade", {0, 0}, {60, 0}, 0x78000000, 0x00000000},
        {"repeated several times", {30, 10}, {45, 20}, 0xFFFFFF00, 0xFF00FFFF},
    };
    for (const Case& c : cases) {
        Picture p = FilledPicture(120, 80, kBack);
        const QImage want = Reference(p, [&](QPainter& q) {
            QLinearGradient g(c.p1.x, c.p1.y, c.p2.x, c.p2.y);
            g.setColorAt(0, QColor::fromRgba(c.c1));
            g.setColorAt(1, QColor::fromRgba(c.c2));
            g.setSpread(QGradient::ReflectSpread);
            q.fillRect(QRect(0, 0, 120, 80), g);
        });
        FillRectangleGradient(p, RectI{0, 0, 120, 80}, c.p1, c.p2, c.c1, c.c2);
        EXPECT_TRUE(PicturesMatch(p, want, 3)) << c.name;
    }
}

TEST(RasterRectangle, SolidFillBlendsInsideTheRectangleOnly) {
    Picture p = FilledPicture(20, 10, 0x80204060);
    FillRectangle(p, RectI{-5, 2, 10, 3}, 0x80FFFFFF);
    QImage img(20, 10, QImage::Format_ARGB32);
    img.fill(QColor::fromRgba(0x80204060));
    {
        QPainter q(&img);
        q.fillRect(QRect(-5, 2, 10, 3), QColor::fromRgba(0x80FFFFFF));
    }
    EXPECT_TRUE(PicturesMatch(p, img, 2));
}

// A picture with alpha and detail in both directions.
Picture TestSource(int w, int h) {
    Picture s = Picture::Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t a = static_cast<uint32_t>(255 - (x * 200) / w);
            const uint32_t r = static_cast<uint32_t>((x * 255) / w),
                           g = static_cast<uint32_t>((y * 255) / h);
            s.Row(y)[x] = (a << 24) | (r << 16) | (g << 8) | 0x40;
        }
    return s;
}

TEST(RasterDrawPicture, EnlargingMatchesQPainterBilinear) {
    Picture src = TestSource(16, 12);
    for (float opacity : {1.0f, 0.5f}) {
        Picture p = FilledPicture(90, 70, kBack);
        const QImage srcImg = WrapPicture(src).copy();
        const QImage want = Reference(p, [&](QPainter& q) {
            q.setRenderHint(QPainter::SmoothPixmapTransform);
            q.setOpacity(opacity);
            q.drawImage(QRectF(5, 3, 80, 60), srcImg, QRectF(0, 0, 16, 12));
        });
        DrawPicture(p, src, RectI{0, 0, 16, 12}, RectF{5, 3, 80, 60}, opacity);
        EXPECT_TRUE(PicturesMatch(p, want, 4)) << "opacity " << opacity;
    }
}

TEST(RasterDrawPicture, ReducingAveragesAreas) {
    // Reducing by whole factors: each destination pixel is the premultiplied mean of its block,
    // which QImage's smooth scaling computes too.
    Picture src = TestSource(120, 90);
    for (float opacity : {1.0f, 0.25f}) {
        Picture p = FilledPicture(40, 30, kBack);
        QImage reduced =
            WrapPicture(src).scaled(40, 30, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage want = Reference(p, [&](QPainter& q) {
            q.setOpacity(opacity);
            q.drawImage(0, 0, reduced);
        });
        DrawPicture(p, src, RectI{0, 0, 120, 90}, RectF{0, 0, 40, 30}, opacity);
        EXPECT_TRUE(PicturesMatch(p, want, 3)) << "opacity " << opacity;
    }
    // One-pixel lines: a reduced grid of thin lines stays an even grey instead of shimmering.
    Picture grid = FilledPicture(300, 300, 0xFFFFFFFF);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 300; x += 7) grid.Row(y)[x] = 0xFF000000;
    Picture small = FilledPicture(97, 1, kBack);
    DrawPicture(small, grid, RectI{0, 0, 300, 1}, RectF{0, 0, 97, 1});
    int lo = 255, hi = 0;
    for (int x = 1; x < 96; ++x) {
        lo = std::min(lo, static_cast<int>(small.Pixel(x, 0) & 0xFF));
        hi = std::max(hi, static_cast<int>(small.Pixel(x, 0) & 0xFF));
    }
    EXPECT_GE(lo, 255 * 6 / 7 - 50);
    EXPECT_LE(hi - lo, 90);
}

// Reducing on both axes against a box filter computed here in doubles: every destination pixel
// is the premultiplied average of the source area it covers, its alpha scaled by how much of the
// pixel the rectangle covers and by the opacity.
TEST(RasterDrawPicture, ReducingMatchesAnExactBoxFilter) {
    struct Case {
        const char* name;
        int sw, sh;
        RectF dst;
        float opacity;
    };
    const Case cases[] = {
        {"fractional factor", 97, 61, {3, 2, 13, 9}, 1.0f},
        {"partly covered edge pixels", 64, 64, {0.5, 0.25, 10.5, 10.25}, 0.6f},
        {"thousands of rows per pixel", 7, 9000, {1, 1, 3, 2}, 1.0f},
    };
    for (const Case& c : cases) {
        Picture src = Picture::Create(c.sw, c.sh);
        for (int y = 0; y < c.sh; ++y)
            for (int x = 0; x < c.sw; ++x) {
                const uint32_t a = (x * 37 + y * 11) % 5 == 0 ? 0 : 255 - (x * 13 + y * 7) % 200;
                src.Row(y)[x] = (a << 24) | (uint32_t((x * 29) % 256) << 16) |
                                (uint32_t((y * 3) % 256) << 8) | 0x80;
            }
        Picture p = FilledPicture(20, 14, kBack);
        DrawPicture(p, src, RectI{0, 0, c.sw, c.sh}, c.dst, c.opacity);
        const double kx = c.sw / c.dst.width, ky = c.sh / c.dst.height;  // source per destination
        for (int y = 0; y < 14; ++y)
            for (int x = 0; x < 20; ++x) {
                const double x0 = std::max<double>(x, c.dst.x),
                             x1 = std::min(x + 1.0, c.dst.x + c.dst.width);
                const double y0 = std::max<double>(y, c.dst.y),
                             y1 = std::min(y + 1.0, c.dst.y + c.dst.height);
                uint32_t want = kBack;
                if (x1 > x0 && y1 > y0) {
                    const double sx0 = (x0 - c.dst.x) * kx, sx1 = (x1 - c.dst.x) * kx;
                    const double sy0 = (y0 - c.dst.y) * ky, sy1 = (y1 - c.dst.y) * ky;
                    double sum[4] = {0, 0, 0, 0}, wsum = 0;
                    for (int sy = int(sy0); sy < std::min(c.sh, int(std::ceil(sy1))); ++sy)
                        for (int sx = int(sx0); sx < std::min(c.sw, int(std::ceil(sx1))); ++sx) {
                            const double w = (std::min(sx + 1.0, sx1) - std::max<double>(sx, sx0)) *
                                             (std::min(sy + 1.0, sy1) - std::max<double>(sy, sy0));
                            const uint32_t px = src.Pixel(sx, sy);
                            const double a = px >> 24;
                            sum[0] += a * w;
                            for (int k = 1; k < 4; ++k)
                                sum[k] += ((px >> (24 - 8 * k)) & 0xFF) * a * w;
                            wsum += w;
                        }
                    if (sum[0] > 0) {
                        const double alpha =
                            sum[0] / wsum * (x1 - x0) * (y1 - y0) * c.opacity / 255;
                        const uint32_t rgb = (uint32_t(std::lround(sum[1] / sum[0])) << 16) |
                                             (uint32_t(std::lround(sum[2] / sum[0])) << 8) |
                                             uint32_t(std::lround(sum[3] / sum[0]));
                        want = Lerp(kBack, rgb, alpha);
                    }
                }
                ASSERT_LE(ChannelDiff(p.Pixel(x, y), want), 2)
                    << c.name << " at (" << x << ", " << y << "): got " << Hex(p.Pixel(x, y))
                    << ", want " << Hex(want);
            }
    }
}

TEST(RasterClip, PolygonsDrawOnlyInsideTheClip) {
    const std::vector<PointI> tri = {{-5, 2}, {40, 10}, {8, 33}};
    const RectI clip{6, 4, 17, 9};
    for (bool aa : {true, false}) {
        for (int op = 0; op < 2; ++op) {
            Picture whole = FilledPicture(30, 30, kBack), clipped = FilledPicture(30, 30, kBack);
            if (op == 0) {
                FillPolygon(whole, tri.data(), 3, 0xA0FFFFFF, aa);
                FillPolygon(clipped, tri.data(), 3, 0xA0FFFFFF, aa, clip);
            } else {
                DrawPolygon(whole, tri.data(), 3, 0xA0FFFFFF, aa);
                DrawPolygon(clipped, tri.data(), 3, 0xA0FFFFFF, aa, clip);
            }
            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 30; ++x) {
                    const bool inside = x >= clip.x && x < clip.x + clip.width && y >= clip.y &&
                                        y < clip.y + clip.height;
                    ASSERT_EQ(clipped.Pixel(x, y), inside ? whole.Pixel(x, y) : kBack)
                        << (op ? "outline" : "fill") << " aa " << aa << " at (" << x << ", " << y
                        << ")";
                }
        }
    }
}

// Convex shapes take a shorter way through the rasterizer than other polygons: the same triangle
// given with a repeated vertex takes the general way. Both must agree to rounding, for shapes
// inside the picture, touching its sides and reaching past them, drawn whole or in two column
// halves that each cut the shape; outlines drawn whole and in halves must agree too.
TEST(RasterConvex, ShortWayMatchesTheGeneralWay) {
    struct Case {
        const char* name;
        int xLo, xHi;  // range of the vertices' x
        uint32_t color;
    };
    const std::vector<Case> cases = {
        {"inside", 2, 61, 0xC0F0E020},
        {"touching the sides", 0, 64, 0xC0F0E020},
        {"reaching past the sides", -30, 95, 0xC0F0E020},
        {"opaque", 1, 63, 0xFF102030},
    };
    constexpr int kW = 64, kH = 48, kSplit = 31;
    const RectI halves[2] = {{0, 0, kSplit, kH}, {kSplit, 0, kW - kSplit, kH}};
    std::mt19937 gen(11);
    for (const Case& c : cases) {
        std::uniform_int_distribution<int> left(c.xLo, kSplit - 2), right(kSplit + 2, c.xHi),
            any(c.xLo, c.xHi), ys(-4, kH + 4);
        for (int round = 0; round < 60; ++round) {
            // One vertex each side of the split, so that both halves cut the shape.
            std::vector<PointI> tri = {
                {left(gen), ys(gen)}, {right(gen), ys(gen)}, {any(gen), ys(gen)}};
            if (round % 5 == 0) tri[2] = {tri[0].x + 1, tri[0].y + 40};  // a sliver
            std::vector<PointI> general = tri;
            general.push_back(tri[0]);
            struct Way {
                const char* name;
                std::function<void(Picture&)> draw;
            };
            const Way ways[] = {
                {"fill", [&](Picture& p) { FillPolygon(p, tri.data(), 3, c.color, true); }},
                {"fill in halves",
                 [&](Picture& p) {
                     for (const RectI& h : halves) FillPolygon(p, tri.data(), 3, c.color, true, h);
                 }},
                {"outline in halves",
                 [&](Picture& p) {
                     for (const RectI& h : halves) DrawPolygon(p, tri.data(), 3, c.color, true, h);
                 }},
            };
            for (const Way& way : ways) {
                Picture got = FilledPicture(kW, kH, kBack), want = FilledPicture(kW, kH, kBack);
                way.draw(got);
                if (way.name[0] == 'f')
                    FillPolygon(want, general.data(), general.size(), c.color, true);
                else
                    DrawPolygon(want, tri.data(), 3, c.color, true);
                for (int y = 0; y < kH; ++y)
                    for (int x = 0; x < kW; ++x)
                        ASSERT_LE(ChannelDiff(got.Pixel(x, y), want.Pixel(x, y)), 1)
                            << c.name << " round " << round << ", " << way.name << " at (" << x
                            << ", " << y << "): " << Hex(got.Pixel(x, y)) << " vs "
                            << Hex(want.Pixel(x, y));
            }
        }
    }
}

// Every drawing call with hostile geometry, on pictures of various sizes: no crash (the
// sanitizer build checks for stray writes and undefined behaviour), and pixels change only
// where the geometry covers them.
TEST(RasterRobustness, HostileGeometryIsClipped) {
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min(),
                      kMax = std::numeric_limits<int32_t>::max();
    enum Expect { No, Yes, Any };
    struct Case {
        const char* name;
        std::vector<PointI> points;
        Expect fill, outline;  // whether a 9 x 9 picture changes
    };
    const std::vector<Case> cases = {
        {"degenerate point", {{5, 5}, {5, 5}, {5, 5}}, No, No},
        {"collinear", {{0, 0}, {5, 5}, {9, 9}}, No, Yes},
        {"far outside", {{-100000, -100000}, {-90000, -100000}, {-95000, -90000}}, No, No},
        {"beyond bottom right", {{kMax, kMax}, {kMax - 5, kMax}, {kMax, kMax - 5}}, No, No},
        {"huge covering all", {{kMin, kMin}, {kMax, kMin}, {0, kMax}}, Yes, No},
        {"huge sliver", {{kMin, kMin}, {kMax, kMax}, {kMax, kMax - 1}}, Any, Yes},
        {"huge crossing", {{kMin, 0}, {kMax, 4}, {kMax, 6}}, Yes, Yes},
        {"two points", {{kMin, kMin}, {kMax, kMax}}, No, Yes},
    };
    auto changed = [](const Picture& p) {
        for (size_t i = 0; i < p.PixelCount(); ++i)
            if (p.Pixels()[i] != kBack) return true;
        return false;
    };
    for (const Case& c : cases) {
        for (int size : {1, 2, 9}) {
            for (bool aa : {true, false}) {
                Picture f = FilledPicture(size, size, kBack);
                FillPolygon(f, c.points.data(), c.points.size(), 0xFFFFFFFF, aa);
                Picture o = FilledPicture(size, size, kBack);
                DrawPolygon(o, c.points.data(), c.points.size(), 0x80FFFFFF, aa);
                if (size != 9) continue;
                if (c.fill != Any) {
                    EXPECT_EQ(changed(f), c.fill == Yes) << c.name << " fill, aa " << aa;
                }
                if (c.outline != Any) {
                    EXPECT_EQ(changed(o), c.outline == Yes) << c.name << " outline, aa " << aa;
                }
            }
        }
    }
    // Random polygons from extreme coordinates: run under the sanitizer build, any overflow or
    // stray write is reported.
    const int32_t extremes[] = {kMin, kMin + 1, -1000000, -1, 0, 1, 4, 7, 1000000, kMax - 1, kMax};
    std::mt19937 gen(3);
    std::uniform_int_distribution<size_t> pick(0, std::size(extremes) - 1);
    for (int round = 0; round < 300; ++round) {
        std::vector<PointI> pts(3 + round % 3);
        for (PointI& q : pts) q = {extremes[pick(gen)], extremes[pick(gen)]};
        Picture t = FilledPicture(9, 7, kBack);
        FillPolygon(t, pts.data(), pts.size(), 0x80FFFFFF, round % 2 == 0);
        DrawPolygon(t, pts.data(), pts.size(), 0x80FFFFFF, round % 2 == 1);
        for (size_t i = 0; i < t.PixelCount(); ++i) ASSERT_EQ(t.Pixels()[i] >> 24, 0xFFu);
    }

    // A triangle covering the picture many times over fills it evenly.
    Picture p = FilledPicture(9, 9, kBack);
    const PointI huge[3] = {{kMin, kMin}, {kMax, kMin}, {0, kMax}};
    FillPolygon(p, huge, 3, 0xFFFFFFFF, true);
    for (size_t i = 0; i < p.PixelCount(); ++i) ASSERT_EQ(p.Pixels()[i], 0xFFFFFFFFu);

    // Null and empty targets, zero-size and huge rectangles.
    Picture none;
    const PointI tri[3] = {{0, 0}, {5, 0}, {0, 5}};
    FillPolygon(none, tri, 3, 0xFFFFFFFF, true);
    DrawPolygon(none, tri, 3, 0xFFFFFFFF, true);
    FillRectangle(none, RectI{0, 0, 5, 5}, 0xFFFFFFFF);
    Picture q = FilledPicture(4, 4, kBack);
    FillRectangle(q, RectI{1, 1, 0, 3}, 0xFFFFFFFF);
    FillRectangle(q, RectI{1, 1, -3, 3}, 0xFFFFFFFF);
    FillRectangleGradient(q, RectI{0, 0, 0, 0}, {0, 0}, {1, 0}, 0xFFFFFFFF, 0xFFFFFFFF);
    FillRectangleGradient(q, RectI{0, 0, 4, 4}, {2, 2}, {2, 2}, 0xFFFFFFFF, 0xFFFFFFFF);
    DrawPicture(q, q, RectI{0, 0, 0, 4}, RectF{0, 0, 4, 4});
    DrawPicture(q, q, RectI{0, 0, 4, 4}, RectF{0, 0, 0, 4});
    DrawPicture(q, q, RectI{0, 0, 4, 4}, RectF{0, 0, std::nan(""), 4});
    for (size_t i = 0; i < q.PixelCount(); ++i) ASSERT_EQ(q.Pixels()[i], kBack);
    FillRectangle(q, RectI{kMax, kMax, kMax, kMax}, 0xFFFFFFFF);
    FillRectangle(q, RectI{kMin, kMin, kMax, kMax}, 0xFFFFFFFF);
    for (size_t i = 0; i < q.PixelCount(); ++i) ASSERT_EQ(q.Pixels()[i], kBack);
    FillRectangle(q, RectI{kMin, kMin, kMax, kMax}, 0xFFFFFFFF);
    FillRectangle(q, RectI{-1, -1, kMax, kMax}, 0xFF000000);
    for (size_t i = 0; i < q.PixelCount(); ++i) ASSERT_EQ(q.Pixels()[i], 0xFF000000u);
    Picture src = FilledPicture(3, 3, 0xFFFFFFFF);
    DrawPicture(q, src, RectI{kMin, kMin, kMax, kMax}, RectF{-1e300, 0, 1e300, 4});
    DrawPicture(q, src, RectI{0, 0, 3, 3}, RectF{-1e300, -1e300, 2e300, 2e300});
    DrawPicture(q, src, RectI{0, 0, 3, 3}, RectF{1e9, 1e9, 1, 1});
}

}  // namespace

// Where a triangle covers pixels wholly, edge pixels and inside alike, each channel is
// blended exactly: (colour * a + back * (255 - a) + 128) / 255, rounded down as / 255 of
// (v + (v >> 8)), the rounding every blend in the rasterizer uses.
TEST(RasterTriangle, WholePixelsBlendExactly) {
    auto blend = [](uint32_t back, uint32_t color, uint32_t a) {
        uint32_t out = 0xFF000000u;
        for (int s = 0; s < 24; s += 8) {
            const uint32_t v = ((color >> s) & 0xFF) * a + ((back >> s) & 0xFF) * (255 - a) + 128;
            out |= ((v + (v >> 8)) >> 8) << s;
        }
        return out;
    };
    // A left edge straight down x = 10: the edge's cells, then the rest of the row up to the
    // slanted edge (x = 45 in row 35) by the span code, several at a time and then its last few.
    const PointI tri[3] = {{10, 0}, {10, 40}, {50, 40}};
    for (uint32_t a : {1u, 77u, 128u, 200u, 254u})
        for (uint32_t color : {0x00FFFFFFu, 0x00123456u, 0x00000000u}) {
            Picture p = FilledPicture(64, 48, kBack);
            FillPolygon(p, tri, 3, (a << 24) | color, true);
            for (int x = 10; x < 45; ++x)
                ASSERT_EQ(p.Pixel(x, 35), blend(kBack, color, a))
                    << "alpha " << a << " colour " << Hex(color) << " x " << x;
            ASSERT_EQ(p.Pixel(9, 35), kBack);
        }
}
