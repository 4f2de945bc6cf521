#include "renderer.h"

#include <algorithm>
#include <cmath>

#include "raster.h"

namespace {

constexpr ARGB Opaque(COLORREF c) { return MakeArgb(c, 255); }

struct Gradient {
    PointF p1, p2;
    ARGB c1, c2;
};

Gradient GradientFor(const ImageSettings& s) {
    const int w = s.nWidth, h = s.nHeight;
    const ARGB g1 = Opaque(s.crGradColor1), g2 = Opaque(s.crGradColor2);
    switch (s.nBackMode) {
        case kBackLeftRight: return {{0, 0}, {double(w), 0}, g1, g2};
        case kBackLeftMiddleRight: return {{0, 0}, {double(w / 2), 0}, g1, g2};
        case kBackTopBottom: return {{0, 0}, {0, double(h)}, g1, g2};
        case kBackTopMiddleBottom: return {{0, 0}, {0, double(h / 2)}, g1, g2};
        case kBackTopLeftBottomRight: return {{0, 0}, {double(w), double(h)}, g1, g2};
        case kBackBottomLeftTopRight: return {{0, double(h)}, {double(w), 0}, g1, g2};
        default:
            // The solid background gets a dark shade at both side edges.
            return {{0, 0}, {double(w / 2), 0}, w < 300 ? 0x50000000u : 0x78000000u, 0x00000000u};
    }
}

}  // namespace

Picture RenderPicture(const ImageSettings& settings, const PolygonMesh& mesh,
                      const Picture* backImage) {
    const int w = settings.nWidth, h = settings.nHeight;
    Picture pic = Picture::Create(w, h);
    if (pic.IsNull()) return pic;
    const RectI all{0, 0, w, h};

    FillRectangle(pic, all, Opaque(settings.crBackColor));
    const Gradient g = GradientFor(settings);
    FillRectangleGradient(pic, all, g.p1, g.p2, g.c1, g.c2);

    if (backImage && !backImage->IsNull()) {
        const int iw = backImage->Width(), ih = backImage->Height();
        const double s = std::max(static_cast<double>(w) / iw, static_cast<double>(h) / ih);
        // Integer steps done on whole doubles: exact, and no overflow for any frame size.
        const double dw = std::trunc(iw * s), dh = std::trunc(ih * s);
        const double x = std::trunc((w - dw) / 2), y = std::trunc((h - dh) / 2);
        DrawPicture(pic, *backImage, RectI{0, 0, iw, ih}, RectF{x, y, dw, dh});
    }

    const bool pen = settings.nLineOpacity > 0;
    const ARGB penColor = MakeArgb(settings.crLineColor, OpacityToAlpha(settings.nLineOpacity));
    const auto& v = mesh.pVertices;
    const size_t nv = v.size();
    for (const MeshTriangle& t : mesh.pTriangles) {
        // A malformed mesh must not read out of bounds.
        if (t.a < 0 || t.b < 0 || t.c < 0 || size_t(t.a) >= nv || size_t(t.b) >= nv ||
            size_t(t.c) >= nv)
            continue;
        const MeshVertex &a = v[size_t(t.a)], &b = v[size_t(t.b)], &c = v[size_t(t.c)];
        if (a.x >= w && a.y >= h && b.x >= w && b.y >= h && c.x >= w && c.y >= h) continue;
        const PointI pts[3] = {{a.x, a.y}, {b.x, b.y}, {c.x, c.y}};
        FillPolygon(pic, pts, 3, MakeArgb(settings.crPolyColor, t.alpha), true);
        if (pen) DrawPolygon(pic, pts, 3, penColor, true);
    }
    return pic;
}
