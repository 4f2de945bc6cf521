#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

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

// The solid and gradient layers, drawn band by band.
class Background {
public:
    Background(const ImageSettings& s) : m_solid(Opaque(s.crBackColor)), m_g(GradientFor(s)) {
        const int w = s.nWidth;
        m_none = m_g.p1.x == m_g.p2.x && m_g.p1.y == m_g.p2.y;  // drawn as nothing
        m_opaque = !m_none && (m_g.c1 >> 24) == 255 && (m_g.c2 >> 24) == 255;
        if (m_none || m_g.p1.y == m_g.p2.y) {
            // Both layers vary along x only: paint one row to copy into every row.
            m_row = Picture::Create(w, 1);
            if (m_row.IsNull()) return;
            const RectI r{0, 0, w, 1};
            FillRectangle(m_row, r, m_solid);
            if (!m_none) FillRectangleGradient(m_row, r, m_g.p1, m_g.p2, m_g.c1, m_g.c2);
        }
    }

    void Draw(Picture& pic, int y0, int y1) const {
        const int w = pic.Width();
        const RectI band{0, y0, w, y1 - y0};
        if (!m_row.IsNull()) {
            for (int y = y0; y < y1; ++y) std::memcpy(pic.Row(y), m_row.Row(0), static_cast<size_t>(w) * 4);
            return;
        }
        // An opaque gradient hides the solid layer: no need to draw it.
        if (!m_opaque) FillRectangle(pic, band, m_solid);
        if (!m_none) FillRectangleGradient(pic, band, m_g.p1, m_g.p2, m_g.c1, m_g.c2);
    }

private:
    ARGB m_solid;
    Gradient m_g;
    bool m_none = false, m_opaque = false;
    Picture m_row;
};

struct Triangle {
    PointI pts[3];
    ARGB color;
    int64_t top, bottom;  // rows it may touch, outline included
};

void Render(Picture& pic, const ImageSettings& settings, const PolygonMesh& mesh, const Picture* backImage) {
    const int w = settings.nWidth, h = settings.nHeight;
    const Background background(settings);
    const bool backPicture = backImage && !backImage->IsNull();
    if (backPicture) {
        background.Draw(pic, 0, h);
        const int iw = backImage->Width(), ih = backImage->Height();
        const double s = std::max(static_cast<double>(w) / iw, static_cast<double>(h) / ih);
        // Integer steps done on whole doubles: exact, and no overflow for any frame size.
        const double dw = std::trunc(iw * s), dh = std::trunc(ih * s);
        const double x = std::trunc((w - dw) / 2), y = std::trunc((h - dh) / 2);
        DrawPicture(pic, *backImage, RectI{0, 0, iw, ih}, RectF{x, y, dw, dh});
    }

    // No outlines: a pen that draws nothing.
    const ARGB penColor =
        settings.nLineOpacity > 0 ? MakeArgb(settings.crLineColor, OpacityToAlpha(settings.nLineOpacity)) : 0;

    // Layers are drawn a band of rows at a time, so that a band stays in cache from the
    // background to the last triangle; bands of about 512 KiB.
    const int bandRows = static_cast<int>(std::clamp<int64_t>((int64_t{1} << 19) / (int64_t{w} * 4), 1, h));
    const int bands = static_cast<int>((int64_t{h} + bandRows - 1) / bandRows);
    auto bandOf = [&](int64_t row) { return static_cast<int>(std::clamp<int64_t>(row, 0, h - 1) / bandRows); };

    // Triangles are taken a chunk at a time in mesh order; within a chunk each band gets the
    // chunk's triangles that reach it, still in mesh order, so every pixel sees the same order.
    // A chunk ends after 8192 triangles or 4 Mi band entries, whichever comes first.
    constexpr size_t kChunk = 8192, kMaxEntries = size_t{1} << 22;
    const auto& v = mesh.pVertices;
    const size_t nv = v.size();
    std::vector<Triangle> chunk;
    std::vector<int> start(static_cast<size_t>(bands) + 1), members;
    size_t next = 0;
    bool first = true;
    while (first || next < mesh.pTriangles.size()) {
        chunk.clear();
        size_t entries = 0;
        for (; next < mesh.pTriangles.size() && chunk.size() < kChunk; ++next) {
            const MeshTriangle& t = mesh.pTriangles[next];
            // A malformed mesh must not read out of bounds.
            if (t.a < 0 || t.b < 0 || t.c < 0 || size_t(t.a) >= nv || size_t(t.b) >= nv || size_t(t.c) >= nv)
                continue;
            const MeshVertex &a = v[size_t(t.a)], &b = v[size_t(t.b)], &c = v[size_t(t.c)];
            if (a.x >= w && a.y >= h && b.x >= w && b.y >= h && c.x >= w && c.y >= h) continue;
            const int64_t top = std::min({a.y, b.y, c.y}) - int64_t{1};
            const int64_t bottom = std::max({a.y, b.y, c.y}) + int64_t{1};
            if (bottom < 0 || top >= h) continue;  // touches no row: nothing would be drawn
            const size_t span = static_cast<size_t>(bandOf(bottom) - bandOf(top) + 1);
            if (!chunk.empty() && entries + span > kMaxEntries) break;
            entries += span;
            chunk.push_back({{{a.x, a.y}, {b.x, b.y}, {c.x, c.y}}, MakeArgb(settings.crPolyColor, t.alpha), top, bottom});
        }
        // Bucket the chunk by band (counting pass, then filling pass).
        std::fill(start.begin(), start.end(), 0);
        for (const Triangle& t : chunk)
            for (int b = bandOf(t.top); b <= bandOf(t.bottom); ++b) ++start[size_t(b) + 1];
        for (int b = 0; b < bands; ++b) start[size_t(b) + 1] += start[size_t(b)];
        members.resize(static_cast<size_t>(start[size_t(bands)]));
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (size_t i = 0; i < chunk.size(); ++i)
            for (int b = bandOf(chunk[i].top); b <= bandOf(chunk[i].bottom); ++b)
                members[size_t(fill[size_t(b)]++)] = static_cast<int>(i);

        for (int b = 0; b < bands; ++b) {
            const int y0 = b * bandRows, y1 = std::min(h, y0 + bandRows);
            if (first && !backPicture) background.Draw(pic, y0, y1);
            const RectI clip{0, y0, w, y1 - y0};
            for (int k = start[size_t(b)]; k < start[size_t(b) + 1]; ++k) {
                const Triangle& t = chunk[size_t(members[size_t(k)])];
                DrawMeshTriangle(pic, t.pts, t.color, penColor, clip);
            }
        }
        first = false;
    }
}

}  // namespace

Picture RenderPicture(const ImageSettings& settings, const PolygonMesh& mesh,
                      const Picture* backImage) {
    Picture pic = Picture::Create(settings.nWidth, settings.nHeight);
    if (pic.IsNull()) return pic;
    try {
        Render(pic, settings, mesh, backImage);
    } catch (const std::bad_alloc&) {
        // The renderer's own working memory ran out: no picture rather than a half-drawn one.
        // (A drawing step that fails leaves the layers below it and its status on the picture.)
        Picture none;
        none.SetStatus(Status::OutOfMemory);
        return none;
    }
    return pic;
}
