// Fixed scenes rendered whole, their pixels pinned by hash: any change to a picture shows here.
// A change made on purpose is taken in by setting kRegenerate, running the test once and
// pasting the printed table over kGolden.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "picture_compare.h"
#include "raster.h"
#include "renderer.h"

namespace {

constexpr bool kRegenerate = false;

struct Scene {
    const char* name;
    int w, h, mode, polySize, startOpacity, endOpacity, lineOpacity;
    COLORREF poly, line;
    bool backPicture;  // a translucent picture over the background
    bool handMesh;     // triangles of our own, crossing every side of the picture
};

// Widths and heights not multiples of 4; several modes; outlines opaque and translucent.
const Scene kScenes[] = {
    {"default shade", 333, 201, 0, 0, 2, 25, 0, RGBColor(0, 0, 0), 0, false, false},
    {"left-middle-right outlined", 250, 170, 2, 40, 10, 60, 100, RGBColor(20, 30, 200),
     RGBColor(255, 255, 255), false, false},
    {"diagonal translucent outline", 301, 199, 5, 30, 40, 90, 45, RGBColor(200, 10, 60),
     RGBColor(0, 90, 0), false, false},
    {"opaque black", 257, 151, 4, 25, 100, 100, 0, RGBColor(0, 0, 0), 0, false, false},
    {"background picture", 203, 157, 6, 35, 20, 70, 70, RGBColor(250, 240, 0), RGBColor(0, 0, 255),
     true, false},
    {"crossing the sides", 131, 97, 1, 20, 0, 0, 80, RGBColor(90, 0, 120), RGBColor(255, 128, 0),
     false, true},
};

struct Golden {
    const char* name;
    uint64_t simd;      // x86-64 builds (SSE2, AVX2 alike)
    uint64_t portable;  // builds without vector code
};

const Golden kGolden[] = {
    {"default shade", 0x66d997532716f404, 0xae29414dd09c416d},
    {"left-middle-right outlined", 0xd2162f23e0e330c0, 0xd2162f23e0e330c0},
    {"diagonal translucent outline", 0xa63321e270ab37dd, 0xa63321e270ab37dd},
    {"opaque black", 0x552b8610b4204af6, 0x11b805cd5ebdbada},
    {"background picture", 0xe47a2424446dc352, 0xe47a2424446dc352},
    {"crossing the sides", 0xa2f6144ddba6dc2a, 0xa2f6144ddba6dc2a},
};

#if defined(__SSE2__) && !defined(FACETTA_PORTABLE_RASTER)
constexpr bool kSimdBuild = true;
#else
constexpr bool kSimdBuild = false;
#endif

PolygonMesh HandMesh(int w, int h) {
    PolygonMesh m;
    m.pVertices = {{-40, -30, 0, 0},      {w / 2, -7, 0, 0},        {w + 35, -25, 0, 0},
                   {-13, h / 2, 0, 0},    {w / 2 + 3, h / 2, 0, 0}, {w + 9, h / 2 - 4, 0, 0},
                   {-50, h + 20, 0, 0},   {w / 2, h + 44, 0, 0},    {w + 60, h + 3, 0, 0},
                   {w + 90, h + 70, 0, 0}};
    const int tris[][3] = {{0, 1, 4}, {0, 4, 3}, {1, 2, 5}, {1, 5, 4}, {3, 4, 7}, {3, 7, 6},
                           {4, 5, 8}, {4, 8, 7}, {2, 8, 6}, {8, 9, 7}, {0, 8, 7}};
    int alpha = 60;
    for (const auto& t : tris) {
        m.pTriangles.push_back({t[0], t[1], t[2], alpha});
        alpha = (alpha + 37) % 256;
    }
    m.nVertexCount = static_cast<int32_t>(m.pVertices.size());
    m.nTriangleCount = static_cast<int32_t>(m.pTriangles.size());
    return m;
}

// A picture with an alpha ramp and colour stripes, smaller than the frame on one axis.
Picture BackPicture() {
    Picture p = Picture::Create(61, 37);
    for (int y = 0; y < p.Height(); ++y)
        for (int x = 0; x < p.Width(); ++x) {
            const uint32_t a = static_cast<uint32_t>(60 + x * 3);
            p.Row(y)[x] = (a << 24) | (uint32_t((x * 7) & 0xFF) << 16) |
                          (uint32_t((y * 11) & 0xFF) << 8) | uint32_t(((x + y) % 5) * 50);
        }
    return p;
}

Picture RenderScene(const Scene& sc) {
    ImageSettings s = DefaultSettings();
    s.nWidth = sc.w;
    s.nHeight = sc.h;
    s.nBackMode = sc.mode;
    s.nPolySize = sc.polySize;
    s.nStartOpacity = sc.startOpacity;
    s.nEndOpacity = sc.endOpacity;
    s.nLineOpacity = sc.lineOpacity;
    s.crBackColor = RGBColor(60, 160, 90);
    s.crGradColor1 = RGBColor(250, 40, 10);
    s.crGradColor2 = RGBColor(20, 90, 240);
    s.crPolyColor = sc.poly;
    s.crLineColor = sc.line;
    PolygonMesh mesh;
    if (sc.handMesh) {
        mesh = HandMesh(sc.w, sc.h);
    } else {
        EXPECT_EQ(GenerateMesh(s, mesh, 777), MeshResult::Ok) << sc.name;
    }
    const Picture back = sc.backPicture ? BackPicture() : Picture();
    return RenderPicture(s, mesh, sc.backPicture ? &back : nullptr);
}

uint64_t Hash(const Picture& p) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a over the pixel bytes
    const uint8_t* b = reinterpret_cast<const uint8_t*>(p.Pixels());
    for (size_t i = 0; i < p.PixelCount() * 4; ++i) h = (h ^ b[i]) * 1099511628211ull;
    return h;
}

// Restores the row code the test found.
struct RowCodeScope {
    RowCode saved = CurrentRowCode();
    ~RowCodeScope() { SetRowCode(saved); }
};

TEST(GoldenRenders, PixelsAreThePinnedOnes) {
    static_assert(std::size(kScenes) == std::size(kGolden));
    std::string table;
    for (size_t i = 0; i < std::size(kScenes); ++i) {
        const Picture p = RenderScene(kScenes[i]);
        ASSERT_FALSE(p.IsNull()) << kScenes[i].name;
        const uint64_t h = Hash(p);
        const Golden& g = kGolden[i];
        char line[200];
        std::snprintf(line, sizeof line, "    {\"%s\", 0x%llx, 0x%llx},\n", kScenes[i].name,
                      static_cast<unsigned long long>(kSimdBuild ? h : g.simd),
                      static_cast<unsigned long long>(kSimdBuild ? g.portable : h));
        table += line;
        if (!kRegenerate) {
            EXPECT_EQ(h, kSimdBuild ? g.simd : g.portable) << kScenes[i].name;
        }
    }
    if (kRegenerate) std::printf("const Golden kGolden[] = {\n%s};\n", table.c_str());
}

TEST(GoldenRenders, Avx2AndPlainRowCodeGiveTheSameBytes) {
    if (!HasAvx2RowCode()) GTEST_SKIP() << "no AVX2 row code in this build or processor";
    const RowCodeScope scope;
    for (const Scene& sc : kScenes) {
        SetRowCode(RowCode::Plain);
        ASSERT_EQ(CurrentRowCode(), RowCode::Plain);
        const Picture plain = RenderScene(sc);
        SetRowCode(RowCode::Avx2);
        ASSERT_EQ(CurrentRowCode(), RowCode::Avx2);
        const Picture avx2 = RenderScene(sc);
        ASSERT_EQ(plain.PixelCount(), avx2.PixelCount());
        size_t differ = 0, first = 0;
        for (size_t i = plain.PixelCount(); i-- > 0;)
            if (plain.Pixels()[i] != avx2.Pixels()[i]) {
                ++differ;
                first = i;
            }
        EXPECT_EQ(differ, 0u) << sc.name << ": first at (" << first % plain.Width() << ", "
                              << first / plain.Width() << ")";
    }
}

}  // namespace
