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
        return [bx](PointF a, PointF b) { return PointF{bx, a.y + (b.y - a.y) * (bx - a.x) / (b.x - a.x)}; };
    };
    auto atY = [](double by) {
        return [by](PointF a, PointF b) { return PointF{a.x + (b.x - a.x) * (by - a.y) / (b.y - a.y), by}; };
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
    while (pts.size() > 1 && pts.front().x == pts.back().x && pts.front().y == pts.back().y) pts.pop_back();
    const size_t n = pts.size();
    auto inTriangle = [](PointF a, PointF b, PointF c, double x, double y) {
        auto side = [&](PointF u, PointF v) { return (v.x - u.x) * (y - u.y) - (v.y - u.y) * (x - u.x); };
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
        {{3, 3}, {36, 6}, {5, 9}},                  // acute, thinner than the pen
        {{4, 20}, {36, 20}, {20, 20}},              // collinear, doubling back
        {{5, 5}, {35, 5}, {35, 35}, {5, 35}},       // square
        {{5, 5}, {35, 10}, {15, 17}, {30, 35}},     // concave
        {{20, 2}, {32, 37}, {2, 14}, {38, 14}, {8, 37}},  // self-intersecting star
        {{6, 30}, {6, 30}, {30, 8}, {34, 34}},      // repeated point
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
                            for (double ey : {-1e-6, 1e-6}) near |= InStroke(pts, x + 0.5 + ex, y + 0.5 + ey) != in;
                        if (!near) {
                            ASSERT_EQ(got, in ? 0x80 : 0) << "shape " << k << " at " << x << "," << y;
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
            const uint32_t r = static_cast<uint32_t>((x * 255) / w), g = static_cast<uint32_t>((y * 255) / h);
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
        QImage reduced = WrapPicture(src).scaled(40, 30, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
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

// Every drawing call with hostile geometry, on pictures of various sizes: no crash (the
// sanitizer build checks for stray writes and undefined behaviour), and pixels change only
// where the geometry covers them.
TEST(RasterRobustness, HostileGeometryIsClipped) {
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min(), kMax = std::numeric_limits<int32_t>::max();
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
