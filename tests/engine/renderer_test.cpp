#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "painter_reference.h"
#include "picture_compare.h"
#include "polygon_mesh.h"
#include "raster.h"
#include "renderer.h"

namespace {

constexpr COLORREF kColor1 = RGBColor(250, 40, 10);
constexpr COLORREF kColor2 = RGBColor(20, 90, 240);

ImageSettings Settings(int w, int h, int mode = 0) {
    ImageSettings s = DefaultSettings();
    s.nWidth = w;
    s.nHeight = h;
    s.nBackMode = mode;
    s.crBackColor = RGBColor(60, 160, 90);
    s.crGradColor1 = kColor1;
    s.crGradColor2 = kColor2;
    return s;
}

uint32_t Opaque(COLORREF c) {
    return MakeArgb(c, 255);
}

// Background colour lerped towards black by alpha a / 255.
uint32_t Shaded(COLORREF c, double a) {
    const double k = 1 - a / 255;
    return MakeArgb(RGBColor(int(std::lround(GetRValue(c) * k)), int(std::lround(GetGValue(c) * k)),
                             int(std::lround(GetBValue(c) * k))),
                    255);
}

void ExpectAllOpaque(const Picture& p) {
    for (size_t i = 0; i < p.PixelCount(); ++i)
        ASSERT_EQ(p.Pixels()[i] >> 24, 0xFFu) << "pixel " << i;
}

// The pixels within a pixel of a triangle's side.
std::vector<bool> EdgePixels(const PolygonMesh& m, int w, int h) {
    std::vector<bool> near(size_t(w) * h);
    for (const MeshTriangle& t : m.pTriangles) {
        const MeshVertex* v[3] = {&m.pVertices[size_t(t.a)], &m.pVertices[size_t(t.b)],
                                  &m.pVertices[size_t(t.c)]};
        for (int k = 0; k < 3; ++k) {
            const MeshVertex &a = *v[k], &b = *v[(k + 1) % 3];
            const int steps = 4 * (std::abs(b.x - a.x) + std::abs(b.y - a.y)) + 1;
            for (int i = 0; i <= steps; ++i) {
                const double x = a.x + (b.x - a.x) * double(i) / steps,
                             y = a.y + (b.y - a.y) * double(i) / steps;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int px = int(std::floor(x)) + dx, py = int(std::floor(y)) + dy;
                        if (px >= 0 && py >= 0 && px < w && py < h)
                            near[size_t(py) * w + px] = true;
                    }
            }
        }
    }
    return near;
}

TEST(RenderPicture, MatchesQPainterReference) {
    struct Case {
        const char* name;
        int w, h, mode, polySize, lineOpacity;
        int tolerance;
    };
    const Case cases[] = {
        {"default shade", 320, 200, 0, 40, 0, 4},
        {"narrow shade", 250, 160, 0, 30, 0, 4},
        {"diagonal gradient", 300, 220, 5, 50, 0, 4},
        {"outlined", 300, 200, 2, 60, 100, 4},
    };
    for (const Case& c : cases) {
        ImageSettings s = Settings(c.w, c.h, c.mode);
        s.nPolySize = c.polySize;
        s.nLineOpacity = c.lineOpacity;
        PolygonMesh mesh;
        ASSERT_EQ(GenerateMesh(s, mesh, 1234), MeshResult::Ok);
        const Picture got = RenderPicture(s, mesh, nullptr);
        ASSERT_FALSE(got.IsNull());
        // QPainter blends each triangle and outline on its own, letting the background through
        // between neighbours, where we composite each point of a pixel (the seam tests): only
        // pixels off the edges compare.
        const std::vector<bool> edges = EdgePixels(mesh, c.w, c.h);
        EXPECT_TRUE(PicturesMatch(got, PainterRender(s, mesh, nullptr, false), c.tolerance, 0,
                                  [&](int x, int y) { return bool(edges[size_t(y) * c.w + x]); }))
            << c.name;
        ExpectAllOpaque(got);
    }
}

TEST(RenderPicture, GradientModesPutTheirColoursWhereTheyBelong) {
    struct Probe {
        int x, y;
        uint32_t want;
    };
    struct Case {
        int mode, w, h;
        std::vector<Probe> probes;
    };
    const uint32_t c1 = Opaque(kColor1), c2 = Opaque(kColor2);
    const Case cases[] = {
        {1, 1920, 1080, {{0, 5, c1}, {1919, 5, c2}}},
        {2, 1920, 1080, {{0, 500, c1}, {959, 500, c2}, {960, 500, c2}, {1919, 500, c1}}},
        {3, 1920, 1080, {{7, 0, c1}, {7, 1079, c2}}},
        {4, 1920, 1080, {{100, 0, c1}, {100, 539, c2}, {100, 540, c2}, {100, 1079, c1}}},
        {5, 1920, 1080, {{0, 0, c1}, {1919, 1079, c2}}},
        {6, 1920, 1080, {{0, 1079, c1}, {1919, 0, c2}}},
    };
    const PolygonMesh none;
    for (const Case& c : cases) {
        const Picture p = RenderPicture(Settings(c.w, c.h, c.mode), none, nullptr);
        for (const Probe& pr : c.probes)
            EXPECT_LE(ChannelDiff(p.Pixel(pr.x, pr.y), pr.want), 2)
                << "mode " << c.mode << " at (" << pr.x << ", " << pr.y << "): got "
                << Hex(p.Pixel(pr.x, pr.y)) << ", want " << Hex(pr.want);
    }
}

TEST(RenderPicture, SolidModeShadesBothSidesAndUnknownModesDrawLikeIt) {
    const PolygonMesh none;
    struct Case {
        int w;
        double alpha;
    };
    for (const Case c : {Case{1920, 120}, Case{300, 120}, Case{299, 80}}) {
        const ImageSettings s = Settings(c.w, 40);
        const Picture p = RenderPicture(s, none, nullptr);
        const double edge = c.alpha * (1 - 0.5 / (c.w / 2));  // at the first pixel's centre
        EXPECT_LE(ChannelDiff(p.Pixel(0, 10), Shaded(s.crBackColor, edge)), 1) << c.w;
        EXPECT_LE(ChannelDiff(p.Pixel(c.w - 1, 10), Shaded(s.crBackColor, edge)), 1) << c.w;
        EXPECT_LE(ChannelDiff(p.Pixel(c.w / 2, 10), Opaque(s.crBackColor)), 1) << c.w;
    }
    const Picture solid = RenderPicture(Settings(400, 100, 0), none, nullptr);
    for (int mode : {8, -1, 1000}) {
        const Picture odd = RenderPicture(Settings(400, 100, mode), none, nullptr);
        EXPECT_TRUE(std::equal(odd.Pixels(), odd.Pixels() + odd.PixelCount(), solid.Pixels()))
            << "mode " << mode;
    }
}

// A background picture in three vertical bands (red | green | blue) with a yellow top band
// and a white bottom band, so that its placement shows at every edge.
Picture BandedBackground(int w, int h, int edgeX, int edgeY) {
    Picture b = Picture::Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t c = x < edgeX ? 0xFFFF0000 : x >= w - edgeX ? 0xFF0000FF : 0xFF00FF00;
            if (y < edgeY) c = 0xFFFFFF00;
            if (y >= h - edgeY) c = 0xFFFFFFFF;
            b.Row(y)[x] = c;
        }
    return b;
}

TEST(RenderPicture, BackgroundPictureCoversTheFrameCentred) {
    struct Probe {
        int x, y;
        uint32_t want;
    };
    struct Case {
        int iw, ih, edgeX, edgeY;
        std::vector<Probe> probes;
    };
    // 1000 x 500: s = 2.16, drawn at (-120, 0), 2160 x 1080. Source x = 60 lands at 9.6,
    // x = 940 at 1910.4, y = 10 at 21.6 and y = 490 at 1058.4.
    // 800 x 600: s = 2.4, drawn at (0, -180), 1920 x 1440. Source y = 100 lands at 60,
    // y = 500 at 1020, x = 10 at 24 and x = 790 at 1896.
    const Case cases[] = {
        {1000,
         500,
         60,
         10,
         {{6, 500, 0xFFFF0000},
          {13, 500, 0xFF00FF00},
          {1907, 500, 0xFF00FF00},
          {1914, 500, 0xFF0000FF},
          {960, 18, 0xFFFFFF00},
          {960, 25, 0xFF00FF00},
          {960, 1055, 0xFF00FF00},
          {960, 1062, 0xFFFFFFFF}}},
        {800,
         600,
         10,
         100,
         {{960, 0, 0xFFFFFF00},
          {960, 57, 0xFFFFFF00},
          {960, 64, 0xFF00FF00},
          {960, 1017, 0xFF00FF00},
          {960, 1024, 0xFFFFFFFF},
          {960, 1079, 0xFFFFFFFF},
          {21, 500, 0xFFFF0000},
          {27, 500, 0xFF00FF00},
          {1893, 500, 0xFF00FF00},
          {1899, 500, 0xFF0000FF}}},
    };
    const PolygonMesh none;
    for (const Case& c : cases) {
        const Picture back = BandedBackground(c.iw, c.ih, c.edgeX, c.edgeY);
        const Picture p = RenderPicture(Settings(1920, 1080, 1), none, &back);
        for (const Probe& pr : c.probes)
            EXPECT_EQ(p.Pixel(pr.x, pr.y), pr.want)
                << c.iw << "x" << c.ih << " at (" << pr.x << ", " << pr.y << ")";
        ExpectAllOpaque(p);
    }
    // Translucent parts let the layers below show through.
    Picture half = FilledPicture(10, 10, 0x80FFFFFF);
    const Picture p = RenderPicture(Settings(200, 100, 1), none, &half);
    const Picture bare = RenderPicture(Settings(200, 100, 1), none, nullptr);
    for (int x : {0, 100, 199}) {
        const uint32_t under = bare.Pixel(x, 50);
        uint32_t want = 0xFF000000;
        for (int sh = 0; sh < 24; sh += 8)
            want |= ((((under >> sh) & 0xFF) * 127 + 255 * 128 + 127) / 255) << sh;
        EXPECT_LE(ChannelDiff(p.Pixel(x, 50), want), 1) << x;
    }
    ExpectAllOpaque(p);
}

// One 100 x 100 cell cut with d = 1: (TL, BL, TR) and (TL, TR, BR).
PolygonMesh CrossedCell() {
    PolygonMesh m;
    m.pVertices = {{0, 0, 0, 0}, {100, 0, 100, 0}, {0, 100, 0, 100}, {100, 100, 100, 100}};
    m.pTriangles = {{0, 2, 1, 100}, {0, 1, 3, 100}};
    m.nVertexCount = 4;
    m.nTriangleCount = 2;
    return m;
}

// A background picture scaled once for the frame gives the very bytes of scaling it for each
// picture: enlarged and reduced, opaque and partly transparent (over gradients that show
// through), and one scaled for another frame size is not used.
TEST(RenderPicture, BackgroundScaledOnceGivesTheSameBytes) {
    auto partlyClear = [](int w, int h) {
        Picture p = BandedBackground(w, h, 20, 20);
        for (int y = 0; y < h; y += 3) p.Row(y)[y % w] = 0x40FFFFFF;
        for (int x = 0; x < w; ++x) p.Row(h / 2)[x] = 0x00000000;
        return p;
    };
    const struct {
        int w, h, mode, iw, ih;
        bool transparency;
    } cases[] = {
        {640, 360, 0, 300, 170, false}, {200, 90, 1, 300, 170, false},
        {641, 301, 3, 300, 170, true},  {150, 120, 5, 300, 170, true},
        {1000, 999, 0, 7, 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " mode " << c.mode);
        const Picture back =
            c.transparency ? partlyClear(c.iw, c.ih) : BandedBackground(c.iw, c.ih, 2, 1);
        ImageSettings s = Settings(c.w, c.h, c.mode);
        s.nLineOpacity = 60;
        PolygonMesh m;
        ASSERT_EQ(GenerateMesh(s, m, 7), MeshResult::Ok);
        const ScaledBackground scaled = ScaleBackground(c.w, c.h, back);
        ASSERT_TRUE(scaled.Fits(c.w, c.h));
        EXPECT_EQ(scaled.bOpaque, !c.transparency);
        const Picture want = RenderPicture(s, m, &back);
        const Picture got = RenderPicture(s, m, &back, &scaled);
        ASSERT_FALSE(got.IsNull());
        EXPECT_TRUE(std::equal(got.Pixels(), got.Pixels() + got.PixelCount(), want.Pixels()));
        // Scaled for another frame: the picture scales it anew.
        const ScaledBackground other = ScaleBackground(c.w + 1, c.h, back);
        const Picture anew = RenderPicture(s, m, &back, &other);
        EXPECT_TRUE(std::equal(anew.Pixels(), anew.Pixels() + anew.PixelCount(), want.Pixels()));
    }
}

TEST(RenderPicture, CrossedCellLeavesOneQuarterBareAndTintsOneTwice) {
    ImageSettings s = Settings(100, 100, 3);
    s.crPolyColor = RGBColor(0, 0, 0);
    const Picture bare = RenderPicture(s, PolygonMesh{}, nullptr);
    const Picture p = RenderPicture(s, CrossedCell(), nullptr);
    auto tint = [](uint32_t c) {  // black at alpha 100 over c
        uint32_t out = 0xFF000000;
        for (int sh = 0; sh < 24; sh += 8) out |= ((((c >> sh) & 0xFF) * 155 + 127) / 255) << sh;
        return out;
    };
    EXPECT_EQ(p.Pixel(50, 90), bare.Pixel(50, 90));                              // bottom quarter
    EXPECT_LE(ChannelDiff(p.Pixel(10, 50), tint(bare.Pixel(10, 50))), 1);        // left: once
    EXPECT_LE(ChannelDiff(p.Pixel(90, 50), tint(bare.Pixel(90, 50))), 1);        // right: once
    EXPECT_LE(ChannelDiff(p.Pixel(50, 10), tint(tint(bare.Pixel(50, 10)))), 2);  // top: twice
}

// Straight alpha over `under` (opaque), rounded like a blend of 8-bit channels.
uint32_t Over(uint32_t top, uint32_t under) {
    const uint32_t a = top >> 24;
    uint32_t out = 0xFF000000;
    for (int sh = 0; sh < 24; sh += 8)
        out |= ((((top >> sh) & 0xFF) * a + ((under >> sh) & 0xFF) * (255 - a) + 127) / 255) << sh;
    return out;
}

TEST(RenderPicture, TransparentModeLeavesBarePixelsClearAndKeepsEachTrianglesAlpha) {
    ImageSettings s = Settings(100, 100, kBackTransparent);
    s.crPolyColor = RGBColor(30, 60, 200);
    const Picture p = RenderPicture(s, CrossedCell(), nullptr);
    ASSERT_FALSE(p.IsNull());
    EXPECT_EQ(p.Pixel(50, 90), 0u);                               // the bare quarter
    for (auto [x, y] : {std::pair{10, 50}, std::pair{90, 50}}) {  // covered once
        EXPECT_NEAR(int(p.Pixel(x, y) >> 24), 100, 1) << x;
        EXPECT_EQ(p.Pixel(x, y) & 0xFFFFFF, MakeArgb(s.crPolyColor, 0)) << x;
    }
    EXPECT_NEAR(int(p.Pixel(50, 10) >> 24), 255 - 155 * 155 / 255, 2);  // covered twice
    // No background picture layer either.
    const Picture back = BandedBackground(100, 100, 20, 20);
    const Picture withBack = RenderPicture(s, CrossedCell(), &back);
    EXPECT_TRUE(std::equal(p.Pixels(), p.Pixels() + p.PixelCount(), withBack.Pixels()));
}

TEST(RenderPicture, TransparentPictureOverAColourIsThePictureDrawnOverIt) {
    // Any mesh, with and without outlines: laid over an opaque colour, the transparent picture
    // gives what drawing over that colour gives, within the rounding of a few blends.
    PolygonMesh mesh;
    ImageSettings s = Settings(480, 300, kBackTransparent);
    s.nPolySize = 50;
    s.nStartOpacity = 5;
    s.nEndOpacity = 90;
    ASSERT_EQ(GenerateMesh(s, mesh, 77u), MeshResult::Ok);
    for (int lineOpacity : {0, 60}) {
        s.nLineOpacity = lineOpacity;
        s.nBackMode = kBackTransparent;
        const Picture clear = RenderPicture(s, mesh, nullptr);
        for (COLORREF under :
             {RGBColor(200, 120, 40), RGBColor(255, 255, 255), RGBColor(0, 0, 0)}) {
            ImageSettings o = s;
            o.nBackMode = kBackLeftRight;
            o.crGradColor1 = o.crGradColor2 = under;
            const Picture drawn = RenderPicture(o, mesh, nullptr);
            int worst = 0;
            for (size_t i = 0; i < clear.PixelCount(); ++i)
                worst = std::max(
                    worst, ChannelDiff(Over(clear.Pixels()[i], Opaque(under)), drawn.Pixels()[i]));
            EXPECT_LE(worst, 3) << "outlines " << lineOpacity << ", under " << under;
        }
    }
}

TEST(RenderPicture, OutlinesOnlyWithPositiveOpacity) {
    PolygonMesh m;
    m.pVertices = {{10, 20, 10, 20}, {90, 20, 90, 20}, {50, 80, 50, 80}};
    m.pTriangles = {{0, 1, 2, 40}};
    m.nVertexCount = 3;
    m.nTriangleCount = 1;
    ImageSettings s = Settings(100, 100, 1);
    s.crLineColor = RGBColor(255, 255, 255);
    s.nLineOpacity = 0;
    const Picture plain = RenderPicture(s, m, nullptr);
    s.nLineOpacity = -5;
    const Picture negative = RenderPicture(s, m, nullptr);
    EXPECT_TRUE(std::equal(plain.Pixels(), plain.Pixels() + plain.PixelCount(), negative.Pixels()));
    s.nLineOpacity = 100;
    const Picture lined = RenderPicture(s, m, nullptr);
    // The top edge at y = 20 covers half of row 19 (outside the triangle) with white.
    const uint32_t under = plain.Pixel(50, 19);
    uint32_t want = 0xFF000000;
    for (int sh = 0; sh < 24; sh += 8) want |= ((((under >> sh) & 0xFF) + 255 + 1) / 2) << sh;
    EXPECT_LE(ChannelDiff(lined.Pixel(50, 19), want), 2);
    EXPECT_EQ(lined.Pixel(50, 50), plain.Pixel(50, 50));  // inside, away from the edges
    EXPECT_EQ(lined.Pixel(5, 95), plain.Pixel(5, 95));    // outside
}

TEST(RenderPicture, SizesThatCannotBeHeldGiveNoPixels) {
    const PolygonMesh none;
    const size_t saved = Picture::MaxBytes();
    Picture::SetMaxBytes(1 << 20);
    const Picture big = RenderPicture(Settings(1920, 1080), none, nullptr);
    Picture::SetMaxBytes(saved);
    EXPECT_TRUE(big.IsNull());
    EXPECT_EQ(big.LastStatus(), Status::OutOfMemory);
    const int kMax = std::numeric_limits<int32_t>::max();
    const Picture huge = RenderPicture(Settings(kMax, kMax), none, nullptr);
    EXPECT_TRUE(huge.IsNull());
    EXPECT_EQ(huge.LastStatus(), Status::OutOfMemory);
    const Picture empty = RenderPicture(Settings(0, 100), none, nullptr);
    EXPECT_TRUE(empty.IsNull());
    // A one-pixel picture still renders.
    const Picture one = RenderPicture(Settings(1, 1), none, nullptr);
    ASSERT_FALSE(one.IsNull());
    EXPECT_EQ(one.Pixel(0, 0) >> 24, 0xFFu);
}

// Pixel memory comes from the installed allocator and goes back to it with the same size; an
// allocator that gives nothing makes no picture.
struct AllocationLog {
    static inline std::vector<std::pair<void*, size_t>> taken, returned;
    static inline bool refuse = false;
    static void* Allocate(size_t bytes) {
        if (refuse) return nullptr;
        void* p = ::operator new(bytes);
        taken.push_back({p, bytes});
        return p;
    }
    static void Release(void* p, size_t bytes) {
        returned.push_back({p, bytes});
        ::operator delete(p);
    }
};

TEST(RenderPicture, PixelMemoryComesFromTheInstalledAllocator) {
    const PolygonMesh none;
    Picture::SetAllocator(AllocationLog::Allocate, AllocationLog::Release);
    std::pair<void*, size_t> frame{nullptr, 0};
    {
        Picture moved;
        {
            Picture p = RenderPicture(Settings(64, 48), none, nullptr);
            ASSERT_FALSE(p.IsNull());
            EXPECT_EQ(p.Pixel(63, 47) >> 24, 0xFFu);
            moved = std::move(p);
        }
        frame = {moved.Pixels(), size_t{64} * 48 * 4};
        EXPECT_EQ(std::count(AllocationLog::taken.begin(), AllocationLog::taken.end(), frame), 1);
        // Working pictures of the renderer went back; the frame, moved on, is still held.
        EXPECT_EQ(std::count(AllocationLog::returned.begin(), AllocationLog::returned.end(), frame),
                  0);
        EXPECT_EQ(AllocationLog::returned.size() + 1, AllocationLog::taken.size());
    }
    ASSERT_EQ(AllocationLog::returned.size(), AllocationLog::taken.size());
    EXPECT_EQ(AllocationLog::returned.back(), frame);
    for (const auto& t : AllocationLog::taken)
        EXPECT_EQ(std::count(AllocationLog::returned.begin(), AllocationLog::returned.end(), t), 1);
    const size_t count = AllocationLog::taken.size();
    AllocationLog::refuse = true;
    const Picture refused = RenderPicture(Settings(64, 48), none, nullptr);
    AllocationLog::refuse = false;
    Picture::SetAllocator(nullptr, nullptr);
    EXPECT_TRUE(refused.IsNull());
    EXPECT_EQ(refused.LastStatus(), Status::OutOfMemory);
    // Back on the default allocator: nothing more reaches the log.
    const Picture plain = RenderPicture(Settings(64, 48), none, nullptr);
    EXPECT_FALSE(plain.IsNull());
    EXPECT_EQ(AllocationLog::taken.size(), count);
}

}  // namespace

namespace {

// The renderer's layers drawn the plain way: each layer over the whole picture, triangles
// unclipped, in mesh order. The renderer merges layers and works band by band; the result
// must be the same to the bit.
Picture LayeredRender(const ImageSettings& s, const PolygonMesh& m, const Picture* back) {
    const int w = s.nWidth, h = s.nHeight;
    Picture p = Picture::Create(w, h);
    const RectI all{0, 0, w, h};
    FillRectangle(p, all, MakeArgb(s.crBackColor, 255));
    PointF p1{0, 0}, p2{double(w / 2), 0};
    ARGB c1 = w < 300 ? 0x50000000u : 0x78000000u, c2 = 0;
    const ARGB g1 = MakeArgb(s.crGradColor1, 255), g2 = MakeArgb(s.crGradColor2, 255);
    switch (s.nBackMode) {
        case 1:
            p2 = {double(w), 0}, c1 = g1, c2 = g2;
            break;
        case 2:
            c1 = g1, c2 = g2;
            break;
        case 3:
            p2 = {0, double(h)}, c1 = g1, c2 = g2;
            break;
        case 4:
            p2 = {0, double(h / 2)}, c1 = g1, c2 = g2;
            break;
        case 5:
            p2 = {double(w), double(h)}, c1 = g1, c2 = g2;
            break;
        case 6:
            p1 = {0, double(h)}, p2 = {double(w), 0}, c1 = g1, c2 = g2;
            break;
        default:
            break;
    }
    FillRectangleGradient(p, all, p1, p2, c1, c2);
    if (back) {
        const double sc = std::max(double(w) / back->Width(), double(h) / back->Height());
        const double dw = std::trunc(back->Width() * sc), dh = std::trunc(back->Height() * sc);
        DrawPicture(p, *back, RectI{0, 0, back->Width(), back->Height()},
                    RectF{std::trunc((w - dw) / 2), std::trunc((h - dh) / 2), dw, dh});
    }
    const ARGB pen = MakeArgb(s.crLineColor, OpacityToAlpha(s.nLineOpacity));
    std::vector<MeshFillTriangle> fills;
    for (const MeshTriangle& t : m.pTriangles) {
        const int n = static_cast<int>(m.pVertices.size());
        if (t.a < 0 || t.b < 0 || t.c < 0 || t.a >= n || t.b >= n || t.c >= n) continue;
        const MeshVertex &a = m.pVertices[size_t(t.a)], &b = m.pVertices[size_t(t.b)],
                         &c = m.pVertices[size_t(t.c)];
        if (a.x >= w && a.y >= h && b.x >= w && b.y >= h && c.x >= w && c.y >= h) continue;
        fills.push_back({{{a.x, a.y}, {b.x, b.y}, {c.x, c.y}}, static_cast<uint8_t>(t.alpha)});
    }
    // The whole mesh is one layer over the background, outlines or not.
    if (s.nLineOpacity <= 0)
        DrawMeshFills(p, 0, fills.data(), fills.size(), MakeArgb(s.crPolyColor, 255), all);
    else
        DrawMeshOutlined(p, 0, fills.data(), fills.size(), MakeArgb(s.crPolyColor, 255), pen, all);
    return p;
}

TEST(RenderPicture, BackgroundDrawnAheadEqualsLayeredDrawing) {
    // The renderer draws the background just ahead of the triangles; drawn layer by layer the
    // picture must be the same, whatever the triangles' order (one mesh reversed), with hostile
    // extra triangles among them.
    const int kMax = std::numeric_limits<int32_t>::max();
    Picture back = BandedBackground(300, 170, 20, 20);
    for (int y = 0; y < 170; y += 3) back.Row(y)[y] = 0x40FFFFFF;  // some transparency
    struct Case {
        int w, h, mode, lineOpacity;
        bool backPicture;
        int polySize = 23;
        bool reversed = false;
    };
    const Case cases[] = {
        {3000, 90, 0, 0, false},
        {3000, 90, 1, 100, false},
        {2999, 91, 2, 37, false},
        {3000, 90, 3, 0, false},
        {3001, 90, 4, 100, false},
        {3000, 90, 5, 0, true},
        {3000, 90, 6, 100, false},
        {3000, 90, 9, 100, true},
        {290, 40, 0, 50, false},
        {1, 1, 0, 100, false},
        {2000, 300, 1, 100, false, 8},  // many small triangles
        {700, 500, 0, 100, false, 40, true},
    };
    for (const Case& c : cases) {
        ImageSettings s = Settings(c.w, c.h, c.mode);
        s.nPolySize = c.polySize;
        s.nLineOpacity = c.lineOpacity;
        s.crPolyColor = RGBColor(10, 20, 200);
        PolygonMesh m;
        ASSERT_EQ(GenerateMesh(s, m, 99), MeshResult::Ok);
        const int32_t base = static_cast<int32_t>(m.pVertices.size());
        m.pVertices.push_back({-kMax, 5, 0, 0});
        m.pVertices.push_back({kMax, 40, 0, 0});
        m.pVertices.push_back({17, kMax, 0, 0});
        m.pTriangles.push_back({base, base + 1, base + 2, 90});
        m.pTriangles.push_back({base, base + 1, base + 7, 90});  // index out of range: skipped
        m.pTriangles.push_back({0, 0, 0, 200});                  // degenerate
        if (c.reversed) std::reverse(m.pTriangles.begin(), m.pTriangles.end());
        const Picture* b = c.backPicture ? &back : nullptr;
        const Picture got = RenderPicture(s, m, b);
        const Picture want = LayeredRender(s, m, b);
        ASSERT_FALSE(got.IsNull());
        // Every pixel equal to the bit.
        size_t first = got.PixelCount();
        for (size_t i = 0; i < got.PixelCount() && first == got.PixelCount(); ++i)
            if (got.Pixels()[i] != want.Pixels()[i]) first = i;
        EXPECT_EQ(first, got.PixelCount())
            << c.w << "x" << c.h << " mode " << c.mode << ": first difference at ("
            << first % size_t(c.w) << ", " << first / size_t(c.w) << "): "
            << (first < got.PixelCount()
                    ? Hex(got.Pixels()[first]) + " vs " + Hex(want.Pixels()[first])
                    : "");
        ExpectAllOpaque(got);
    }
}

// Bands drawn on several threads give the bytes one thread gives.
TEST(RenderPicture, SameBytesOnAnyNumberOfThreads) {
    const char* const previous = std::getenv("FACETTA_THREADS");
    const std::string saved = previous ? previous : "";
    struct Case {
        int w, h, mode;
        bool backPicture;
        int polySize;
        int lineOpacity = 0;
    };
    const Picture back = BandedBackground(300, 170, 20, 20);
    for (const Case& c : {Case{1920, 1080, 0, false, 0}, Case{1001, 777, 3, false, 30},
                          Case{900, 1300, 5, true, 12}, Case{3000, 200, 7, false, 40},
                          Case{1500, 900, 2, false, 25, 70}, Case{800, 1000, 4, true, 0, 100}}) {
        SCOPED_TRACE(testing::Message()
                     << c.w << "x" << c.h << " mode " << c.mode << " outlines " << c.lineOpacity);
        ImageSettings s = Settings(c.w, c.h, c.mode);
        s.nPolySize = c.polySize;
        s.nLineOpacity = c.lineOpacity;
        PolygonMesh m;
        ASSERT_EQ(GenerateMesh(s, m, 7), MeshResult::Ok);
        const Picture* b = c.backPicture ? &back : nullptr;
        setenv("FACETTA_THREADS", "1", 1);
        const Picture one = RenderPicture(s, m, b);
        for (const char* threads : {"2", "3", "8"}) {
            setenv("FACETTA_THREADS", threads, 1);
            const Picture many = RenderPicture(s, m, b);
            EXPECT_TRUE(std::equal(one.Pixels(), one.Pixels() + one.PixelCount(), many.Pixels()))
                << threads << " threads";
        }
    }
    if (previous)
        setenv("FACETTA_THREADS", saved.c_str(), 1);
    else
        unsetenv("FACETTA_THREADS");
}

}  // namespace

namespace {

TEST(BandRenderer, BandsEqualTheWholePictureToTheBit) {
    // Rendered band by band, in any order and band height, the rows must be those of the whole
    // picture: gradients in every direction, outlines, a background picture with transparency,
    // and hostile triangles among the mesh's.
    const int kMax = std::numeric_limits<int32_t>::max();
    Picture back = BandedBackground(300, 170, 20, 20);
    for (int y = 0; y < 170; y += 3) back.Row(y)[y] = 0x40FFFFFF;
    struct Case {
        int w, h, mode, lineOpacity;
        bool backPicture;
        int polySize;
    };
    const Case cases[] = {
        {640, 300, 0, 0, false, 0},   {641, 301, 3, 100, false, 23}, {500, 333, 4, 37, true, 40},
        {480, 290, 5, 100, false, 9}, {480, 290, 6, 0, true, 31},    {300, 200, 1, 100, false, 0},
    };
    for (const Case& c : cases) {
        ImageSettings s = Settings(c.w, c.h, c.mode);
        s.nPolySize = c.polySize;
        s.nLineOpacity = c.lineOpacity;
        PolygonMesh m;
        ASSERT_EQ(GenerateMesh(s, m, 5), MeshResult::Ok);
        const int32_t base = static_cast<int32_t>(m.pVertices.size());
        m.pVertices.push_back({-kMax, 5, 0, 0});
        m.pVertices.push_back({kMax, 40, 0, 0});
        m.pVertices.push_back({17, kMax, 0, 0});
        m.pTriangles.push_back({base, base + 1, base + 2, 90});
        m.pTriangles.push_back({base, base + 1, base + 7, 90});  // index out of range
        const Picture* b = c.backPicture ? &back : nullptr;
        const Picture whole = RenderPicture(s, m, b);
        ASSERT_FALSE(whole.IsNull());
        const BandRenderer bands(s, m, b);
        // Outlines on small cells may round a rare pixel the other way once moved (the
        // rasterizer's coverage is not exactly the same at every row offset): one level at
        // most, on a few pixels in ten thousand.
        size_t differing = 0;
        for (const int rows : {1, 7, 64, c.h}) {
            Picture band =
                Picture::Create(c.w, rows + 3);  // taller than asked: only the top is drawn
            // From the bottom up, as a bottom-up file is written.
            for (int end = c.h; end > 0; end -= rows) {
                const int first = std::max(0, end - rows);
                ASSERT_TRUE(bands.Render(first, end - first, band));
                for (int y = first; y < end; ++y)
                    for (int x = 0; x < c.w; ++x) {
                        const uint32_t want = whole.Row(y)[x], got = band.Row(y - first)[x];
                        if (want == got) continue;
                        ++differing;
                        ASSERT_LE(ChannelDiff(want, got), c.lineOpacity > 0 ? 1 : 0)
                            << c.w << "x" << c.h << " mode " << c.mode << ", bands of " << rows
                            << ": (" << x << ", " << y << ") " << Hex(got) << " vs " << Hex(want);
                    }
            }
        }
        EXPECT_LE(differing * 1000, whole.PixelCount() * 4)
            << c.w << "x" << c.h << " mode " << c.mode;
        Picture band = Picture::Create(c.w, 8);
        EXPECT_FALSE(bands.Render(c.h - 4, 8, band));  // beyond the last row
        EXPECT_FALSE(bands.Render(-1, 4, band));
        EXPECT_FALSE(bands.Render(0, 9, band));  // taller than the band picture
    }
}

}  // namespace
