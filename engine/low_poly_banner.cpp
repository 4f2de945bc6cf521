#include "low_poly_banner.h"

#include <algorithm>

#include "random.h"
#include "raster.h"

const std::array<COLORREF, kBannerPaletteSize> kBannerPalette = {
    0x003EDAFE, 0x009866CC, 0x00AD6908, 0x000083FF, 0x00B8867A, 0x003351F0, 0x00E0A92A,
    0x0045BF71, 0x00390EEF, 0x00D7799E, 0x00FED400, 0x00FFC846, 0x00FFDA28, 0x00FFFF00,
};

namespace {

constexpr ARGB kShadeDark = 0x78000000;    // edges when the light can move
constexpr ARGB kShadeNarrow = 0x50000000;  // edges of a client narrower than kLightMinWidth
constexpr int kLightMinWidth = 300;
constexpr int kMaxTriangleBox = 1000;  // larger triangles are left undrawn

}  // namespace

void LowPolyBanner::InitAnimation() {
    if (m_crBack == kBannerNoColor) PickBackColor();
    ReleaseFrame();
    SeedRandom(FreshSeed());
}

void LowPolyBanner::PickBackColor() {
    SeedRandom(FreshSeed());
    m_crBack = kBannerPalette[static_cast<size_t>(RandomBetween(0, kBannerPaletteSize - 1))];
    ReleaseFrame();
}

const Picture* LowPolyBanner::PrepareFrame(int cw, int ch) {
    if (!m_frame.IsNull() && cw == m_nWidth && ch == m_nHeight) return &m_frame;
    ReleaseFrame();
    if (cw != m_nWidth || ch != m_nHeight) {
        m_nWidth = cw;
        m_nHeight = ch;
        BuildMesh();
    }
    if (cw > 0 && ch > 0) m_frame = Picture::Create(cw, ch);
    if (RenderFrame(&m_frame) != 0) return nullptr;
    return &m_frame;
}

bool LowPolyBanner::Tick() {
    if (m_vertices.empty() || m_frame.IsNull()) return false;
    int moved = 0;
    for (BannerVertex& v : m_vertices) {
        if (v.delay > 0)
            --v.delay;
        else
            moved += StepVertex(v);
    }
    if (moved == 0) return false;
    StepLight();
    RenderFrame(&m_frame);
    return true;
}

void LowPolyBanner::BuildMesh() {
    m_vertices.clear();
    m_triangles.clear();
    const int cw = m_nWidth, ch = m_nHeight;
    m_nLightX = 0;
    StepLight();

    const int W = cw + m_nMargin;
    int H = ch + m_nMargin;
    const int cell = std::clamp((W + H) / 15, 70, 150);
    if (W > H) H = std::max(H, W * 9 / 16 + m_nMargin);
    // Too small for one whole cell: no grid, just the shaded colour.
    if (W < cell || H < cell) return;
    const int cols = W / cell, rows = H / cell;
    const int cellW = W / cols, cellH = H / rows;

    m_vertices.resize(static_cast<size_t>(cols + 1) * static_cast<size_t>(rows + 1));
    for (int r = 0; r <= rows; ++r) {
        for (int k = 0; k <= cols; ++k) {
            BannerVertex& v = m_vertices[static_cast<size_t>(r * (cols + 1) + k)];
            v.x = v.homeX = k * cellW;
            v.y = v.homeY = r * cellH;
        }
    }

    m_triangles.reserve(static_cast<size_t>(2 * cols * rows));
    const int lastX = cols * cellW, lastY = rows * cellH;
    for (int i = 0; i < static_cast<int>(m_vertices.size()); ++i) {
        const BannerVertex& v = m_vertices[static_cast<size_t>(i)];
        if (v.homeX == lastX || v.homeY == lastY) continue;
        const int R = i + 1, D = i + cols + 1, DR = i + cols + 2;
        // d = 1 cuts only half the cell: the two triangles overlap over its upper quarter
        // and leave the lower quarter bare. That unevenness is part of the look.
        const int d = RandomBetween(0, 1);
        m_triangles.push_back({i, D, d == 0 ? DR : R, RandomBetween(5, 60)});
        m_triangles.push_back({i, R, DR, RandomBetween(5, 60)});
    }

    for (int i = 0; i < static_cast<int>(m_vertices.size()); ++i) {
        BannerVertex& v = m_vertices[static_cast<size_t>(i)];
        if (v.homeX != 0 && v.homeX != lastX) v.x = v.homeX + RandomBetween(0, cellW) - cellW / 2;
        if (v.homeY != 0 && v.homeY != lastY) v.y = v.homeY + RandomBetween(0, cellH) - cellH / 2;
        if (i % 5 == 0) {
            v.flags = kBannerMoveDown;
            v.stepX = 2;
            v.stepY = RandomBetween(0, 100) < 30 ? 1 : 0;
        } else {
            v.flags = kBannerMoveRight;
            v.stepX = 1;
            v.stepY = 0;
        }
        v.delay = RandomBetween(0, 100) < 60 ? RandomBetween(10, 100) : 0;
        // One reach for both axes, taken from the cell width.
        const int E = std::min(cellW / 2, m_nMargin) + RandomBetween(0, 5);
        v.minX = v.homeX - E;
        v.maxX = v.homeX + E;
        v.minY = v.homeY - E;
        v.maxY = v.homeY + E;
    }
}

int LowPolyBanner::StepVertex(BannerVertex& v) {
    // A vertex turns only once past its bound, then rests.
    if (v.homeX != 0) {
        if (v.flags & kBannerMoveRight) {
            v.x += v.stepX;
            if (v.x > v.maxX) {
                v.flags &= ~kBannerMoveRight;
                v.delay = RandomBetween(10, 100);
            }
        } else {
            v.x -= v.stepX;
            if (v.x < v.minX) {
                v.flags |= kBannerMoveRight;
                v.delay = RandomBetween(10, 100);
            }
        }
    }
    if (v.homeY != 0) {
        if (v.flags & kBannerMoveDown) {
            v.y += v.stepY;
            if (v.y > v.maxY) {
                v.flags &= ~kBannerMoveDown;
                v.delay = RandomBetween(10, 100);
            }
        } else {
            v.y -= v.stepY;
            if (v.y < v.minY) {
                v.flags |= kBannerMoveDown;
                v.delay = RandomBetween(10, 100);
            }
        }
    }
    return (v.homeX != 0 || v.homeY != 0) ? 1 : 0;
}

void LowPolyBanner::HeadLeft() {
    m_nLightStep = -2;
    m_nLightTarget = RandomBetween(100, m_nWidth / 2 - 50);
}

void LowPolyBanner::HeadRight() {
    m_nLightStep = 2;
    m_nLightTarget = RandomBetween(m_nWidth / 2 + 50, m_nWidth - 100);
}

void LowPolyBanner::StepLight() {
    if (m_nWidth < kLightMinWidth) {
        m_nLightX = -1;
        return;
    }
    if (m_nLightX == 0) {
        m_nLightX = m_nWidth / 2;
        if (RandomBetween(0, 100) <= 50)
            HeadLeft();
        else
            HeadRight();
        return;
    }
    m_nLightX += m_nLightStep;
    if (m_nLightStep < 0 && m_nLightX <= m_nLightTarget)
        HeadRight();
    else if (m_nLightStep > 0 && m_nLightX >= m_nLightTarget)
        HeadLeft();
}

int LowPolyBanner::RenderFrame(Picture* dc) {
    if (!dc || dc->IsNull()) return -1;
    FillRectangle(*dc, {0, 0, m_nWidth, m_nHeight}, MakeArgb(m_crBack, 255));
    DrawEdgeShade(*dc);
    DrawTriangles(*dc);
    return 0;
}

void LowPolyBanner::DrawEdgeShade(Picture& dc) const {
    const int w = m_nWidth, h = m_nHeight, L = m_nLightX;
    if (L == -1 || L == 0 || L == w / 2) {
        // Mirrored beyond the centre, so one fill shades both sides.
        const ARGB edge = w >= kLightMinWidth ? kShadeDark : kShadeNarrow;
        FillRectangleGradient(dc, {0, 0, w, h}, {0, 0}, {double(w / 2), 0}, edge, 0x00000000);
        return;
    }
    FillRectangleGradient(dc, {0, 0, L, h}, {0, 0}, {double(L), 0}, kShadeDark, 0x00000000);
    FillRectangleGradient(dc, {L, 0, w - L, h}, {double(L), 0}, {double(w), 0}, 0x00000000,
                          kShadeDark);
}

void LowPolyBanner::DrawTriangles(Picture& dc) const {
    for (const BannerTriangle& t : m_triangles) {
        const BannerVertex* corner[3] = {&m_vertices[static_cast<size_t>(t.a)],
                                         &m_vertices[static_cast<size_t>(t.b)],
                                         &m_vertices[static_cast<size_t>(t.c)]};
        bool beyond = true;
        for (const BannerVertex* v : corner) beyond &= v->x >= m_nWidth && v->y >= m_nHeight;
        if (beyond) continue;
        int minX = corner[0]->x, maxX = minX, minY = corner[0]->y, maxY = minY;
        PointI pts[3];
        for (int k = 0; k < 3; ++k) {
            pts[k] = {corner[k]->x, corner[k]->y};
            minX = std::min(minX, pts[k].x);
            maxX = std::max(maxX, pts[k].x);
            minY = std::min(minY, pts[k].y);
            maxY = std::max(maxY, pts[k].y);
        }
        if (maxX - minX >= kMaxTriangleBox || maxY - minY >= kMaxTriangleBox) continue;
        // Black at constant alpha over an opaque frame: pixel * (1 - alpha / 255).
        FillPolygon(dc, pts, 3, MakeArgb(0, t.alpha), false);
    }
}
