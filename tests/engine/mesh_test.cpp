#include <gtest/gtest.h>

#include <limits>

#include "polygon_mesh.h"
#include "random.h"

namespace {

ImageSettings Sized(int w, int h, int polySize = 0) {
    ImageSettings s = DefaultSettings();
    s.nWidth = w;
    s.nHeight = h;
    s.nPolySize = polySize;
    return s;
}

// Checks what every successful generation must hold.
void ExpectInvariants(const ImageSettings& s, const PolygonMesh& m) {
    const int cols = m.nCols, rows = m.nRows, cw = m.nCellWidth, ch = m.nCellHeight;
    const int nx = cols + 1;
    ASSERT_EQ(m.nVertexCount, (cols + 1) * (rows + 1));
    ASSERT_EQ(m.nTriangleCount, 2 * cols * rows);
    ASSERT_EQ(m.pVertices.size(), static_cast<size_t>(m.nVertexCount));
    ASSERT_EQ(m.pTriangles.size(), static_cast<size_t>(m.nTriangleCount));
    int a1 = OpacityToAlpha(s.nStartOpacity), a2 = OpacityToAlpha(s.nEndOpacity);
    if (a1 > a2) std::swap(a1, a2);
    for (int k = 0; k < m.nVertexCount; ++k) {
        const MeshVertex& v = m.pVertices[static_cast<size_t>(k)];
        const int c = k % nx, r = k / nx;
        ASSERT_EQ(v.homeX, c * cw);
        ASSERT_EQ(v.homeY, r * ch);
        if (c == 0 || c == cols)
            ASSERT_EQ(v.x, v.homeX);
        else {
            ASSERT_GE(v.x, v.homeX - cw / 2);
            ASSERT_LE(v.x, v.homeX - cw / 2 + cw);
        }
        if (r == 0 || r == rows)
            ASSERT_EQ(v.y, v.homeY);
        else {
            ASSERT_GE(v.y, v.homeY - ch / 2);
            ASSERT_LE(v.y, v.homeY - ch / 2 + ch);
        }
    }
    for (int t = 0; t < m.nTriangleCount; t += 2) {
        const MeshTriangle& first = m.pTriangles[static_cast<size_t>(t)];
        const MeshTriangle& second = m.pTriangles[static_cast<size_t>(t + 1)];
        const int tl = first.a;
        ASSERT_NE(tl % nx, cols);  // not in the right column
        ASSERT_EQ(first.b, tl + nx);
        ASSERT_TRUE(first.c == tl + nx + 1 || first.c == tl + 1);
        ASSERT_EQ(second.a, tl);
        ASSERT_EQ(second.b, tl + 1);
        ASSERT_EQ(second.c, tl + nx + 1);
        for (const MeshTriangle* tr : {&first, &second}) {
            ASSERT_GE(tr->alpha, a1);
            ASSERT_LE(tr->alpha, a2);
        }
    }
}

}  // namespace

TEST(GenerateMesh, WorkedExamples) {
    const struct {
        int w, h, poly, cols, rows, cellW, cellH, vertices, triangles, right, bottom;
    } cases[] = {
        {1920, 1080, 0, 13, 8, 155, 154, 126, 208, 2015, 1232},
        {800, 600, 100, 9, 7, 100, 100, 80, 126, 900, 700},
        {1080, 1920, 0, 7, 13, 168, 155, 112, 182, 1176, 2015},
        {300, 200, 0, 5, 4, 80, 81, 30, 40, 400, 324},
        {300, 200, 200, 2, 1, 200, 325, 6, 4, 400, 325},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " poly " << c.poly);
        const ImageSettings s = Sized(c.w, c.h, c.poly);
        PolygonMesh m;
        ASSERT_EQ(GenerateMesh(s, m), MeshResult::Ok);
        EXPECT_EQ(m.nCols, c.cols);
        EXPECT_EQ(m.nRows, c.rows);
        EXPECT_EQ(m.nCellWidth, c.cellW);
        EXPECT_EQ(m.nCellHeight, c.cellH);
        EXPECT_EQ(m.nVertexCount, c.vertices);
        EXPECT_EQ(m.nTriangleCount, c.triangles);
        EXPECT_EQ(m.pVertices.back().x, c.right);
        EXPECT_EQ(m.pVertices.back().y, c.bottom);
        EXPECT_EQ(m.pVertices.front().x, 0);
        EXPECT_EQ(m.pVertices.front().y, 0);
        ExpectInvariants(s, m);
    }
}

TEST(GenerateMesh, InvariantsOverManySeeds) {
    const ImageSettings base = Sized(1920, 1080, 50);
    for (uint32_t seed = 0; seed < 40; ++seed) {
        ImageSettings s = base;
        s.nStartOpacity = static_cast<int>(seed % 3 == 0 ? 60 : 2);
        s.nEndOpacity = static_cast<int>(seed % 3 == 0 ? 10 : 25);
        PolygonMesh m;
        ASSERT_EQ(GenerateMesh(s, m, seed), MeshResult::Ok);
        ExpectInvariants(s, m);
    }
}

TEST(GenerateMesh, AlphaRangeAndDrawsInEitherOrder) {
    ImageSettings s = Sized(1920, 1080, 50);
    s.nStartOpacity = 60;
    s.nEndOpacity = 10;
    PolygonMesh m;
    ASSERT_EQ(GenerateMesh(s, m, 99), MeshResult::Ok);
    int lo = 255, hi = 0;
    for (const MeshTriangle& t : m.pTriangles)
        lo = std::min(lo, t.alpha), hi = std::max(hi, t.alpha);
    EXPECT_GE(lo, 25);
    EXPECT_LE(hi, 153);
    EXPECT_LT(lo, 40);  // 1,920 draws over 129 values reach near both ends
    EXPECT_GT(hi, 138);
}

TEST(GenerateMesh, EqualOpacitiesMakeNoAlphaDraws) {
    // With no alpha draws the jitter starts earlier in the sequence, so the layout differs
    // from a mesh drawn with a range from the same seed; every alpha is the one value.
    ImageSettings same = Sized(800, 600, 100);
    same.nStartOpacity = same.nEndOpacity = 40;
    PolygonMesh m;
    ASSERT_EQ(GenerateMesh(same, m, 5), MeshResult::Ok);
    for (const MeshTriangle& t : m.pTriangles) ASSERT_EQ(t.alpha, OpacityToAlpha(40));

    // The draw order: per cell one diagonal draw, then (with a range) two alpha draws.
    // Replaying the generator by hand must give the same diagonals and alphas.
    SeedRandom(5);
    for (size_t t = 0; t < m.pTriangles.size(); t += 2) {
        const int d = NextRandom() % 2;
        EXPECT_EQ(m.pTriangles[t].c == m.pTriangles[t].a + 1, d == 1);
    }
}

TEST(GenerateMesh, SameSeedSameMeshAndFreshSeedsDiffer) {
    const ImageSettings s = DefaultSettings();
    PolygonMesh a, b, c;
    ASSERT_EQ(GenerateMesh(s, a, 4242), MeshResult::Ok);
    ASSERT_EQ(GenerateMesh(s, b, 4242), MeshResult::Ok);
    EXPECT_EQ(a.nSeed, 4242u);
    for (size_t i = 0; i < a.pVertices.size(); ++i) {
        ASSERT_EQ(a.pVertices[i].x, b.pVertices[i].x);
        ASSERT_EQ(a.pVertices[i].y, b.pVertices[i].y);
    }
    for (size_t i = 0; i < a.pTriangles.size(); ++i)
        ASSERT_EQ(a.pTriangles[i].alpha, b.pTriangles[i].alpha);

    // Two generations in a row (same millisecond) still differ.
    ASSERT_EQ(GenerateMesh(s, a), MeshResult::Ok);
    ASSERT_EQ(GenerateMesh(s, c), MeshResult::Ok);
    EXPECT_NE(a.nSeed, c.nSeed);
    bool differ = false;
    for (size_t i = 0; i < a.pVertices.size(); ++i)
        differ |= a.pVertices[i].x != c.pVertices[i].x || a.pVertices[i].y != c.pVertices[i].y;
    EXPECT_TRUE(differ);
}

TEST(GenerateMesh, JitterReachesBothEndsOfTheBand) {
    // cellW 155: a moving vertex lies in homeX - 77 .. homeX + 78.
    const ImageSettings s = DefaultSettings();
    int minDx = 0, maxDx = 0;
    for (uint32_t seed = 0; seed < 300; ++seed) {
        PolygonMesh m;
        ASSERT_EQ(GenerateMesh(s, m, seed), MeshResult::Ok);
        for (const MeshVertex& v : m.pVertices)
            if (v.homeX != 0 && v.homeX != 2015)
                minDx = std::min(minDx, v.x - v.homeX), maxDx = std::max(maxDx, v.x - v.homeX);
    }
    EXPECT_EQ(minDx, -77);
    EXPECT_EQ(maxDx, 78);
}

TEST(GenerateMesh, RecordsOutsideThePaneLimits) {
    constexpr int kMax = std::numeric_limits<int32_t>::max();
    const struct {
        int w, h, poly;
        MeshResult expected;
    } cases[] = {
        {300, 200, 5000, MeshResult::InvalidSettings},  // cell larger than the grid
        {300, 200, -50, MeshResult::InvalidSettings},
        {-100, 200, 0, MeshResult::InvalidSettings},
        {-500, -500, 0, MeshResult::InvalidSettings},
        {kMax, 1080, 0, MeshResult::OutOfMemory},
        {1920, kMax, 0, MeshResult::OutOfMemory},
        {kMax - 100, kMax - 100, 1, MeshResult::OutOfMemory},
        {100000, 100000, 1, MeshResult::OutOfMemory},  // 10^10 vertices
        {std::numeric_limits<int32_t>::min(), 200, 0, MeshResult::InvalidSettings},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " poly " << c.poly);
        PolygonMesh m;
        m.nTriangleCount = 1;  // a previous mesh must be released
        EXPECT_EQ(GenerateMesh(Sized(c.w, c.h, c.poly), m), c.expected);
        EXPECT_TRUE(m.IsEmpty());
        EXPECT_EQ(m.nVertexCount, 0);
        EXPECT_TRUE(m.pVertices.empty());
    }
}
