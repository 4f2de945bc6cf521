#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "low_poly_banner.h"
#include "random.h"
#include "raster.h"

namespace {

struct GridCase {
    int cw, ch;
    int cols, rows, cellW, cellH;
    int lightX;  // where the light stands right after the build
};

// The banner's grid for a client size, with the random parts checked by their ranges.
void ExpectGrid(const LowPolyBanner& b, const GridCase& g) {
    const int nx = g.cols + 1;
    ASSERT_EQ(b.VertexCount(), (g.cols + 1) * (g.rows + 1));
    ASSERT_EQ(b.TriangleCount(), 2 * g.cols * g.rows);
    const int lastX = g.cols * g.cellW, lastY = g.rows * g.cellH;
    for (int i = 0; i < b.VertexCount(); ++i) {
        SCOPED_TRACE(i);
        const BannerVertex& v = b.Vertices()[static_cast<size_t>(i)];
        ASSERT_EQ(v.homeX, (i % nx) * g.cellW);
        ASSERT_EQ(v.homeY, (i / nx) * g.cellH);
        if (v.homeX == 0 || v.homeX == lastX) {
            EXPECT_EQ(v.x, v.homeX);
        } else
            EXPECT_TRUE(v.x >= v.homeX - g.cellW / 2 && v.x <= v.homeX - g.cellW / 2 + g.cellW);
        if (v.homeY == 0 || v.homeY == lastY) {
            EXPECT_EQ(v.y, v.homeY);
        } else
            EXPECT_TRUE(v.y >= v.homeY - g.cellH / 2 && v.y <= v.homeY - g.cellH / 2 + g.cellH);
        if (i % 5 == 0) {
            EXPECT_EQ(v.flags, kBannerMoveDown);
            EXPECT_EQ(v.stepX, 2);
            EXPECT_TRUE(v.stepY == 0 || v.stepY == 1);
        } else {
            EXPECT_EQ(v.flags, kBannerMoveRight);
            EXPECT_EQ(v.stepX, 1);
            EXPECT_EQ(v.stepY, 0);
        }
        EXPECT_TRUE(v.delay == 0 || (v.delay >= 10 && v.delay <= 100)) << v.delay;
        // One reach E for both axes, from the cell width.
        const int E = v.maxX - v.homeX;
        EXPECT_GE(E, std::min(g.cellW / 2, 30));
        EXPECT_LE(E, std::min(g.cellW / 2, 30) + 5);
        EXPECT_EQ(v.homeX - v.minX, E);
        EXPECT_EQ(v.maxY - v.homeY, E);
        EXPECT_EQ(v.homeY - v.minY, E);
    }
    // Per cell: (v, D, DR) or (v, D, R), then (v, R, DR).
    int t = 0;
    for (int r = 0; r < g.rows; ++r) {
        for (int k = 0; k < g.cols; ++k, t += 2) {
            const int v = r * nx + k, R = v + 1, D = v + nx, DR = v + nx + 1;
            const BannerTriangle& t1 = b.Triangles()[static_cast<size_t>(t)];
            const BannerTriangle& t2 = b.Triangles()[static_cast<size_t>(t + 1)];
            EXPECT_EQ(t1.a, v);
            EXPECT_EQ(t1.b, D);
            EXPECT_TRUE(t1.c == DR || t1.c == R);
            EXPECT_EQ(t2.a, v);
            EXPECT_EQ(t2.b, R);
            EXPECT_EQ(t2.c, DR);
            for (const BannerTriangle* tri : {&t1, &t2}) {
                EXPECT_GE(tri->alpha, 5);
                EXPECT_LE(tri->alpha, 60);
            }
        }
    }
    EXPECT_EQ(b.m_nLightX, g.lightX);
}

TEST(BannerMesh, WorkedExamples) {
    const GridCase cases[] = {
        // W 352, H 105 -> 228 by the 9/16 rule; the last row lies below the client.
        {322, 75, 5, 3, 70, 76, 161},
        // W 230, H 90 -> 159; too narrow for a moving light.
        {200, 60, 3, 2, 76, 79, -1},
        // Taller than wide: no 9/16 rule; cell (630 + 1030) / 15 = 110.
        {600, 1000, 5, 9, 126, 114, 300},
        // Cell capped at 150.
        {3000, 500, 20, 11, 151, 157, 1500},
    };
    for (const GridCase& g : cases) {
        SCOPED_TRACE(testing::Message() << g.cw << "x" << g.ch);
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            LowPolyBanner b;
            SeedRandom(seed);
            ASSERT_NE(b.PrepareFrame(g.cw, g.ch), nullptr);
            ExpectGrid(b, g);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(BannerMesh, TooSmallForACellShowsTheShadedColourOnly) {
    // W < 70 or H < 70 after the 9/16 rule: no grid, and nothing divides by zero.
    for (auto [cw, ch] : {std::pair{39, 200}, {40, 10}, {1, 1}, {20, 500}, {500, 1}}) {
        SCOPED_TRACE(testing::Message() << cw << "x" << ch);
        LowPolyBanner b;
        b.m_crBack = 0x00FFFFFF;
        const Picture* frame = b.PrepareFrame(cw, ch);
        ASSERT_NE(frame, nullptr);
        if (b.VertexCount() == 0) {
            EXPECT_FALSE(b.Tick());
        }
    }
    LowPolyBanner b;
    b.m_crBack = 0x00FFFFFF;
    const Picture* frame = b.PrepareFrame(36, 20);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(b.VertexCount(), 0);
    // Mirrored shade at alpha 80: dark edges, white centre.
    const uint32_t edge = frame->Pixel(0, 10) & 0xFF, centre = frame->Pixel(18, 10) & 0xFF;
    EXPECT_NEAR(static_cast<int>(edge), 255 * 175 / 255, 8);
    EXPECT_GE(centre, 245u);
    EXPECT_EQ(frame->Pixel(35, 10), frame->Pixel(0, 10));
}

TEST(BannerMesh, NoFrameForAnEmptyClient) {
    LowPolyBanner b;
    EXPECT_EQ(b.PrepareFrame(0, 0), nullptr);
    EXPECT_EQ(b.PrepareFrame(-5, 40), nullptr);
    EXPECT_FALSE(b.Tick());
    EXPECT_EQ(b.RenderFrame(nullptr), -1);
    Picture none;
    EXPECT_EQ(b.RenderFrame(&none), -1);
}

TEST(BannerLight, StaysBetweenItsBandsAndTurnsAtTargets) {
    for (int width : {300, 301, 322, 640, 1920}) {
        for (uint32_t seed = 1; seed <= 10; ++seed) {
            SCOPED_TRACE(testing::Message() << width << " seed " << seed);
            LowPolyBanner b;
            SeedRandom(seed);
            b.m_nWidth = width;
            b.m_nHeight = 50;
            b.StepLight();
            ASSERT_EQ(b.m_nLightX, width / 2);
            ASSERT_EQ(std::abs(b.m_nLightStep), 2);
            int turns = 0;
            for (int tick = 0; tick < 5000; ++tick) {
                const int step = b.m_nLightStep;
                if (step < 0) {
                    ASSERT_GE(b.m_nLightTarget, 100);
                    ASSERT_LE(b.m_nLightTarget, width / 2 - 50);
                } else {
                    ASSERT_GE(b.m_nLightTarget, width / 2 + 50);
                    ASSERT_LE(b.m_nLightTarget, width - 100);
                }
                if (width == 300) {
                    ASSERT_EQ(b.m_nLightTarget, step < 0 ? 100 : 200);
                }
                const int before = b.m_nLightX;
                b.StepLight();
                ASSERT_EQ(b.m_nLightX, before + step);
                ASSERT_GE(b.m_nLightX, 99);
                ASSERT_LE(b.m_nLightX, width - 99);
                turns += b.m_nLightStep != step;
            }
            EXPECT_GT(turns, 2);
        }
    }
    LowPolyBanner narrow;
    narrow.m_nWidth = 299;
    narrow.StepLight();
    EXPECT_EQ(narrow.m_nLightX, -1);
}

// Blue channel of a white picture after the shade: 255 * (1 - alpha / 255).
int ShadeAt(const Picture& p, int x) {
    return static_cast<int>(p.Pixel(x, 0) & 0xFF);
}

TEST(BannerShade, SymmetricAtTheCentreAndSplitAtTheLight) {
    LowPolyBanner b;
    b.m_nWidth = 400;
    b.m_nHeight = 2;
    Picture p = Picture::Create(400, 2);
    const struct {
        int light;
        int x;
        int expected;
    } cases[] = {
        {0, 0, 135},     {0, 399, 135},  {0, 200, 255},   {0, 100, 195},  // alpha 120 -> 0 -> 120
        {-1, 0, 135},    {200, 0, 135},  {200, 200, 255}, {150, 0, 135},
        {150, 150, 255}, {150, 75, 195}, {150, 399, 135}, {150, 275, 195},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "light " << c.light << " x " << c.x);
        FillRectangle(p, {0, 0, 400, 2}, 0xFFFFFFFF);
        b.m_nLightX = c.light;
        b.DrawEdgeShade(p);
        EXPECT_NEAR(ShadeAt(p, c.x), c.expected, 2);
    }
}

TEST(BannerMotion, StepAndTurnRules) {
    struct Case {
        const char* what;
        BannerVertex in;
        int x, y, flags;
        bool rests;  // a turn sets a delay of 10..100
        int moved;
    };
    auto V = [](int homeX, int homeY, int x, int y, int flags, int stepX, int stepY) {
        BannerVertex v;
        v.homeX = homeX;
        v.homeY = homeY;
        v.x = x;
        v.y = y;
        v.flags = flags;
        v.stepX = stepX;
        v.stepY = stepY;
        v.minX = homeX - 30;
        v.maxX = homeX + 30;
        v.minY = homeY - 30;
        v.maxY = homeY + 30;
        return v;
    };
    const int R = kBannerMoveRight, D = kBannerMoveDown;
    const Case cases[] = {
        {"right", V(100, 100, 100, 100, R, 1, 0), 101, 100, R, false, 1},
        {"right, reaches bound", V(100, 100, 129, 100, R, 1, 0), 130, 100, R, false, 1},
        {"right, passes bound", V(100, 100, 130, 100, R, 1, 0), 131, 100, 0, true, 1},
        {"left, passes bound", V(100, 100, 70, 100, 0, 1, 0), 69, 100, R, true, 1},
        {"left by 2, down", V(100, 100, 100, 100, D, 2, 1), 98, 101, D, false, 1},
        {"down, passes bound", V(100, 100, 100, 130, R | D, 1, 1), 101, 131, R, true, 1},
        {"up, passes bound", V(100, 100, 100, 70, R, 1, 1), 101, 69, R | D, true, 1},
        {"left column: only y", V(0, 100, 0, 100, D, 2, 1), 0, 101, D, false, 1},
        {"left column, stepY 0", V(0, 100, 0, 100, R, 1, 0), 0, 100, R, false, 1},
        {"top row: only x", V(100, 0, 100, 0, D, 2, 1), 98, 0, D, false, 1},
        {"top-left corner", V(0, 0, 0, 0, D, 2, 1), 0, 0, D, false, 0},
    };
    LowPolyBanner b;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BannerVertex v = c.in;
        EXPECT_EQ(b.StepVertex(v), c.moved);
        EXPECT_EQ(v.x, c.x);
        EXPECT_EQ(v.y, c.y);
        EXPECT_EQ(v.flags, c.flags);
        if (c.rests) {
            EXPECT_TRUE(v.delay >= 10 && v.delay <= 100) << v.delay;
        } else
            EXPECT_EQ(v.delay, 0);
    }
}

TEST(BannerMotion, TicksKeepBordersAndBoundsOverALongRun) {
    SeedRandom(7);
    LowPolyBanner b;
    ASSERT_NE(b.PrepareFrame(322, 75), nullptr);
    const std::vector<BannerVertex> start = b.Vertices();
    std::vector<bool> movedX(start.size(), false), movedY(start.size(), false);
    for (int tick = 0; tick < 3000; ++tick) {
        b.Tick();
        for (size_t i = 0; i < start.size(); ++i) {
            const BannerVertex& v = b.Vertices()[i];
            if (v.homeX == 0) {
                ASSERT_EQ(v.x, start[i].x) << i;
            }
            if (v.homeY == 0) {
                ASSERT_EQ(v.y, start[i].y) << i;
            }
            if (v.stepY == 0) {
                ASSERT_EQ(v.y, start[i].y) << i;
            }
            // Starting inside its bounds, a vertex never gets more than one step beyond.
            if (start[i].x >= v.minX && start[i].x <= v.maxX) {
                ASSERT_GE(v.x, v.minX - v.stepX) << i;
                ASSERT_LE(v.x, v.maxX + v.stepX) << i;
            }
            movedX[i] = movedX[i] || v.x != start[i].x;
            movedY[i] = movedY[i] || v.y != start[i].y;
        }
    }
    EXPECT_EQ(b.Vertices()[0].x, 0);
    EXPECT_EQ(b.Vertices()[0].y, 0);
    // Away from the top row and left column every vertex moves sideways, and up or down
    // exactly when it has a vertical step.
    for (size_t i = 0; i < start.size(); ++i) {
        const BannerVertex& v = b.Vertices()[i];
        if (v.homeX != 0) {
            EXPECT_TRUE(movedX[i]) << i;
        }
        if (v.homeY != 0) {
            EXPECT_EQ(movedY[i], v.stepY == 1) << i;
        }
    }
}

TEST(BannerMotion, ATickWithEveryVertexWaitingRendersNothing) {
    for (bool topLeftFree : {false, true}) {
        SCOPED_TRACE(topLeftFree);
        SeedRandom(3);
        LowPolyBanner b;
        ASSERT_NE(b.PrepareFrame(322, 75), nullptr);
        b.Tick();  // moves the light off the centre
        for (BannerVertex& v : b.Vertices()) v.delay = 5;
        if (topLeftFree) b.Vertices()[0].delay = 0;
        const Picture* frame = b.Frame();
        const std::vector<uint32_t> before(frame->Pixels(), frame->Pixels() + frame->PixelCount());
        const std::vector<BannerVertex> vertices = b.Vertices();
        const int light = b.m_nLightX;

        EXPECT_FALSE(b.Tick());
        EXPECT_EQ(b.m_nLightX, light);
        EXPECT_EQ(std::memcmp(before.data(), frame->Pixels(), frame->ByteCount()), 0);
        for (size_t i = 1; i < vertices.size(); ++i) {
            EXPECT_EQ(b.Vertices()[i].x, vertices[i].x);
            EXPECT_EQ(b.Vertices()[i].delay, 4);
        }
        // The same size again keeps the frame as it is.
        EXPECT_EQ(b.PrepareFrame(322, 75), frame);
        EXPECT_EQ(std::memcmp(before.data(), frame->Pixels(), frame->ByteCount()), 0);
    }
}

TEST(BannerMotion, ResizeBuildsANewLayoutWithTheSameColour) {
    LowPolyBanner b;
    b.InitAnimation();
    const COLORREF colour = b.m_crBack;
    EXPECT_NE(std::find(kBannerPalette.begin(), kBannerPalette.end(), colour),
              kBannerPalette.end());
    ASSERT_NE(b.PrepareFrame(322, 75), nullptr);
    for (int i = 0; i < 50; ++i) b.Tick();
    ASSERT_NE(b.PrepareFrame(500, 90), nullptr);
    EXPECT_EQ(b.m_crBack, colour);
    EXPECT_EQ(b.m_nLightX, 250);
    EXPECT_EQ(b.VertexCount(), 8 * 5);  // W 530, H 328: 7 x 4 cells
    // Starting again keeps the colour and renders a fresh frame.
    b.InitAnimation();
    EXPECT_EQ(b.m_crBack, colour);
    EXPECT_EQ(b.Frame(), nullptr);
    EXPECT_NE(b.PrepareFrame(500, 90), nullptr);
}

TEST(BannerTriangles, CellQuartersFollowTheDiagonalDraw) {
    // Undisplaced grid over white: each cell's four quarters (between its diagonals) show
    // which triangles cover them.
    SeedRandom(11);
    LowPolyBanner b;
    ASSERT_NE(b.PrepareFrame(600, 200), nullptr);
    for (BannerVertex& v : b.Vertices()) {
        v.x = v.homeX;
        v.y = v.homeY;
    }
    Picture p = Picture::Create(b.m_nWidth, b.m_nHeight);
    FillRectangle(p, {0, 0, p.Width(), p.Height()}, 0xFFFFFFFF);
    b.DrawTriangles(p);
    auto dark = [](int alpha) { return 255 - alpha; };  // white * (1 - a / 255)
    int seenD1 = 0, seenD0 = 0;
    const std::vector<BannerVertex>& vs = b.Vertices();
    for (size_t t = 0; t + 1 < b.Triangles().size(); t += 2) {
        const BannerTriangle& t1 = b.Triangles()[t];
        const BannerTriangle& t2 = b.Triangles()[t + 1];
        const BannerVertex& v = vs[static_cast<size_t>(t1.a)];
        const BannerVertex& dr = vs[static_cast<size_t>(t2.c)];
        const int cx = (v.x + dr.x) / 2, cy = (v.y + dr.y) / 2;
        const int qx = (dr.x - v.x) / 4, qy = (dr.y - v.y) / 4;
        if (dr.x > p.Width() || dr.y > p.Height()) continue;  // cell not wholly visible
        auto at = [&](int x, int y) { return static_cast<int>(p.Pixel(x, y) & 0xFF); };
        const bool d1 = t1.c != t2.c;
        SCOPED_TRACE(testing::Message() << "cell at " << v.x << "," << v.y << " d=" << d1);
        if (d1) {
            ++seenD1;
            EXPECT_NEAR(at(cx, v.y + qy), dark(t1.alpha) * (255 - t2.alpha) / 255, 2);  // upper
            EXPECT_EQ(at(cx, dr.y - qy), 255);                                          // lower
            EXPECT_NEAR(at(v.x + qx, cy), dark(t1.alpha), 1);                           // left
            EXPECT_NEAR(at(dr.x - qx, cy), dark(t2.alpha), 1);                          // right
        } else {
            ++seenD0;
            EXPECT_NEAR(at(v.x + qx, dr.y - qy), dark(t1.alpha), 1);  // below the diagonal
            EXPECT_NEAR(at(dr.x - qx, v.y + qy), dark(t2.alpha), 1);  // above it
        }
    }
    EXPECT_GT(seenD1, 0);
    EXPECT_GT(seenD0, 0);
}

}  // namespace
