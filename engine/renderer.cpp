#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "parallel.h"
#include "raster.h"
#include "raster_pixels.h"
#include "transparent_picture.h"

namespace {

constexpr ARGB Opaque(COLORREF c) {
    return MakeArgb(c, 255);
}

struct Gradient {
    PointF p1, p2;
    ARGB c1, c2;
};

Gradient GradientFor(const ImageSettings& s) {
    const int w = s.nWidth, h = s.nHeight;
    const ARGB g1 = Opaque(s.crGradColor1), g2 = Opaque(s.crGradColor2);
    switch (s.nBackMode) {
        case kBackLeftRight:
            return {{0, 0}, {double(w), 0}, g1, g2};
        case kBackLeftMiddleRight:
            return {{0, 0}, {double(w / 2), 0}, g1, g2};
        case kBackTopBottom:
            return {{0, 0}, {0, double(h)}, g1, g2};
        case kBackTopMiddleBottom:
            return {{0, 0}, {0, double(h / 2)}, g1, g2};
        case kBackTopLeftBottomRight:
            return {{0, 0}, {double(w), double(h)}, g1, g2};
        case kBackBottomLeftTopRight:
            return {{0, double(h)}, {double(w), 0}, g1, g2};
        default:
            // The solid background gets a dark shade at both side edges.
            return {{0, 0}, {double(w / 2), 0}, w < 300 ? 0x50000000u : 0x78000000u, 0x00000000u};
    }
}

// The solid and gradient layers, drawn a run of rows at a time.
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

    // Rows [y0, y1) of `pic`, which holds the picture's rows from `firstRow` on.
    void Draw(Picture& pic, int y0, int y1, int firstRow = 0) const {
        const int w = pic.Width();
        const RectI band{0, y0, w, y1 - y0};
        if (!m_row.IsNull()) {
            for (int y = y0; y < y1; ++y)
                std::memcpy(pic.Row(y), m_row.Row(0), static_cast<size_t>(w) * 4);
            return;
        }
        // An opaque gradient hides the solid layer: no need to draw it.
        if (!m_opaque) FillRectangle(pic, band, m_solid);
        if (!m_none) {
            // Moving both ends by whole rows gives every pixel the same position along the
            // gradient.
            const PointF p1{m_g.p1.x, m_g.p1.y - firstRow}, p2{m_g.p2.x, m_g.p2.y - firstRow};
            FillRectangleGradient(pic, band, p1, p2, m_g.c1, m_g.c2);
        }
    }

    // The one row every row of the background is, where the layers vary along x only.
    const uint32_t* RowPattern() const { return m_row.IsNull() ? nullptr : m_row.Row(0); }

private:
    ARGB m_solid;
    Gradient m_g;
    bool m_none = false, m_opaque = false;
    Picture m_row;
};

// Where the background picture goes: covering the frame, centred.
RectF BackPictureRect(int w, int h, const Picture& backImage) {
    const int iw = backImage.Width(), ih = backImage.Height();
    const double s = std::max(static_cast<double>(w) / iw, static_cast<double>(h) / ih);
    // Integer steps done on whole doubles: exact, and no overflow for any frame size.
    const double dw = std::trunc(iw * s), dh = std::trunc(ih * s);
    const double x = std::trunc((w - dw) / 2), y = std::trunc((h - dh) / 2);
    return {x, y, dw, dh};
}

// Lays an already scaled background picture over `pic`, as drawing it scaled would.
void LayScaled(Picture& pic, const ScaledBackground& scaled) {
    const int w = pic.Width();
    for (int y = 0; y < pic.Height(); ++y) {
        uint32_t* d = pic.Row(y);
        const uint32_t* s = scaled.pixels.Row(y);
        if (scaled.bOpaque) {
            std::memcpy(d, s, static_cast<size_t>(w) * 4);
            continue;
        }
        for (int x = 0; x < w; ++x)
            d[x] = raster_internal::BlendPixel(d[x], s[x] & 0xFFFFFFu, s[x] >> 24);
    }
}

// The rows a triangle may touch, outline included; false for a malformed triangle, or one that
// touches no row or lies wholly beyond the bottom-right corner (such are not drawn).
bool TriangleRows(const PolygonMesh& mesh, const MeshTriangle& t, int w, int h, int64_t& top,
                  int64_t& bottom) {
    const auto& v = mesh.pVertices;
    const size_t nv = v.size();
    // A malformed mesh must not read out of bounds.
    if (t.a < 0 || t.b < 0 || t.c < 0 || size_t(t.a) >= nv || size_t(t.b) >= nv ||
        size_t(t.c) >= nv)
        return false;
    const MeshVertex &a = v[size_t(t.a)], &b = v[size_t(t.b)], &c = v[size_t(t.c)];
    if (a.x >= w && a.y >= h && b.x >= w && b.y >= h && c.x >= w && c.y >= h) return false;
    top = std::min({a.y, b.y, c.y}) - int64_t{1};
    bottom = std::max({a.y, b.y, c.y}) + int64_t{1};
    return bottom >= 0 && top < h;
}

// The triangles by bands of rows: each bucket of kRows rows lists, in mesh order, the triangles
// that may touch it, so that a band visits only its own triangles. Counted first, then filled,
// to hold just what it needs.
struct MeshBuckets {
    static constexpr int kRows = 32;
    std::vector<size_t> start;  // per bucket, into triangles
    std::vector<uint32_t> triangles;

    MeshBuckets(const PolygonMesh& mesh, int w, int h) {
        const int buckets = h > 0 ? (h + kRows - 1) / kRows : 0;
        start.assign(static_cast<size_t>(buckets) + 1, 0);
        int64_t top = 0, bottom = 0;
        auto span = [&](const MeshTriangle& t, int& b0, int& b1) {
            if (!TriangleRows(mesh, t, w, h, top, bottom)) return false;
            b0 = static_cast<int>(std::max<int64_t>(top, 0) / kRows);
            b1 = static_cast<int>(std::min<int64_t>(bottom, h - 1) / kRows);
            return true;
        };
        int b0 = 0, b1 = 0;
        for (const MeshTriangle& t : mesh.pTriangles)
            if (span(t, b0, b1))
                for (int b = b0; b <= b1; ++b) ++start[static_cast<size_t>(b) + 1];
        for (size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
        triangles.resize(start.back());
        std::vector<size_t> fill(start.begin(), start.end() - 1);
        for (size_t i = 0; i < mesh.pTriangles.size(); ++i)
            if (span(mesh.pTriangles[i], b0, b1))
                for (int b = b0; b <= b1; ++b)
                    triangles[fill[static_cast<size_t>(b)]++] = static_cast<uint32_t>(i);
    }

    // How many triangles the buckets of rows [firstRow, firstRow + rows) list, some maybe twice.
    size_t Count(int firstRow, int rows) const {
        return start[static_cast<size_t>((firstRow + rows - 1) / kRows) + 1] -
               start[static_cast<size_t>(firstRow / kRows)];
    }

    // The triangles that touch rows [firstRow, firstRow + rows), each once, in mesh order.
    void Collect(const PolygonMesh& mesh, int w, int h, int firstRow, int rows,
                 std::vector<uint32_t>& ids) const {
        const size_t b0 = static_cast<size_t>(firstRow / kRows);
        const size_t b1 = static_cast<size_t>((firstRow + rows - 1) / kRows);
        ids.assign(triangles.begin() + static_cast<ptrdiff_t>(start[b0]),
                   triangles.begin() + static_cast<ptrdiff_t>(start[b1 + 1]));
        if (b1 > b0) {
            std::sort(ids.begin(), ids.end());
            ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        }
        int64_t top = 0, bottom = 0;
        ids.erase(std::remove_if(ids.begin(), ids.end(),
                                 [&](uint32_t id) {
                                     TriangleRows(mesh, mesh.pTriangles[id], w, h, top, bottom);
                                     return bottom < firstRow || top >= firstRow + rows;
                                 }),
                  ids.end());
    }
};

// The mesh over rows [firstRow, firstRow + rows) of the picture, drawn into `dst` from its row
// dstRow on, over the layers already there.
// `under`: the background row under every row of a mesh without outlines, not yet drawn in.
void DrawMesh(Picture& dst, int dstRow, int firstRow, int rows, const ImageSettings& settings,
              const PolygonMesh& mesh, const MeshBuckets& buckets, ARGB penColor,
              const uint32_t* under, std::vector<uint32_t>& ids,
              std::vector<MeshFillTriangle>& fills) {
    const int w = settings.nWidth, h = settings.nHeight;
    const bool fillsOnly = (penColor >> 24) == 0;
    // A band of very many small triangles goes a bucket at a time, which keeps the working out
    // of its edges small; with outlines sooner, as each triangle's shapes, prepared for the
    // rows, take over a kilobyte and a half.
    if (rows > MeshBuckets::kRows &&
        buckets.Count(firstRow, rows) > (fillsOnly ? 4 * size_t{50000} : size_t{8192})) {
        for (int y = 0; y < rows; y += MeshBuckets::kRows)
            DrawMesh(dst, dstRow + y, firstRow + y, std::min(MeshBuckets::kRows, rows - y),
                     settings, mesh, buckets, penColor, under, ids, fills);
        return;
    }
    buckets.Collect(mesh, w, h, firstRow, rows, ids);
    const auto& v = mesh.pVertices;
    fills.clear();
    for (const uint32_t id : ids) {
        const MeshTriangle& t = mesh.pTriangles[id];
        const MeshVertex &a = v[size_t(t.a)], &b = v[size_t(t.b)], &c = v[size_t(t.c)];
        fills.push_back(
            {{{a.x, a.y}, {b.x, b.y}, {c.x, c.y}}, static_cast<uint8_t>(t.alpha & 0xFF)});
    }
    const ARGB color = MakeArgb(settings.crPolyColor, 255);
    const RectI clip{0, dstRow, w, rows};
    if (fillsOnly)
        DrawMeshFills(dst, firstRow - dstRow, fills.data(), fills.size(), color, clip, under);
    else
        DrawMeshOutlined(dst, firstRow - dstRow, fills.data(), fills.size(), color, penColor, clip);
}

// From about a quarter of 1920x1080 on, a picture's bands are drawn on several threads.
constexpr int64_t kParallelPixels = int64_t{1} << 19;

ARGB PenColor(const ImageSettings& settings) {
    // No outlines: a pen that draws nothing.
    return settings.nLineOpacity > 0
               ? MakeArgb(settings.crLineColor, OpacityToAlpha(settings.nLineOpacity))
               : 0;
}

void Render(Picture& pic, const ImageSettings& settings, const PolygonMesh& mesh,
            const Picture* backImage, const ScaledBackground* scaled = nullptr) {
    const int w = settings.nWidth, h = settings.nHeight;
    const Background background(settings);
    const bool backPicture = backImage && !backImage->IsNull();
    if (backPicture && scaled && scaled->Fits(w, h)) {
        // Nothing below an opaque background picture shows.
        if (!scaled->bOpaque) background.Draw(pic, 0, h);
        LayScaled(pic, *scaled);
    } else if (backPicture) {
        background.Draw(pic, 0, h);
        DrawPicture(pic, *backImage, RectI{0, 0, backImage->Width(), backImage->Height()},
                    BackPictureRect(w, h, *backImage));
    }
    const ARGB penColor = PenColor(settings);
    // Band by band, the background just ahead of the triangles, so that the rows they blend
    // onto were written moments before and are still in cache.
    const MeshBuckets buckets(mesh, w, h);
    // Four buckets a band: the fill layer works out a band's edges once (fewer, larger bands
    // save that work), and 128 rows of a 7680-wide picture still stay in cache.
    const int band = 4 * MeshBuckets::kRows;
    // Without outlines, a background that is one row over and over is blended from, not copied
    // in first (outlined triangles are blended one by one onto the band).
    const uint32_t* under =
        backPicture || (penColor >> 24) != 0 ? nullptr : background.RowPattern();
    // Bands are drawn alike whatever thread draws them, so they go to every core. A small
    // picture stays on this thread, where handing work on would cost more than it saves.
    const int bands = (h + band - 1) / band;
    const int threads = int64_t{w} * h >= kParallelPixels ? WorkerThreadCount() : 1;
    ParallelFor(bands, threads, [&](int k) {
        thread_local std::vector<uint32_t> ids;
        thread_local std::vector<MeshFillTriangle> fills;
        const int y = k * band, rows = std::min(band, h - y);
        if (!backPicture && !under) background.Draw(pic, y, y + rows);
        DrawMesh(pic, y, y, rows, settings, mesh, buckets, penColor, under, ids, fills);
    });
}

}  // namespace

struct BandRenderer::Parts {
    Background background;
    MeshBuckets buckets;
    Parts(const ImageSettings& s, const PolygonMesh& mesh)
        : background(s), buckets(mesh, s.nWidth, s.nHeight) {}
};

BandRenderer::BandRenderer(const ImageSettings& settings, const PolygonMesh& mesh,
                           const Picture* backImage)
    : m_settings(settings),
      m_mesh(mesh),
      m_backImage(backImage && !backImage->IsNull() ? backImage : nullptr),
      m_parts(std::make_unique<Parts>(settings, mesh)) {}

BandRenderer::~BandRenderer() = default;

bool BandRenderer::Render(int firstRow, int rows, Picture& band) const {
    const int w = m_settings.nWidth, h = m_settings.nHeight;
    if (band.IsNull() || band.Width() != w || rows <= 0 || rows > band.Height() || firstRow < 0 ||
        firstRow > h - rows)
        return false;
    try {
        band.SetStatus(Status::Ok);
        // Without outlines or a background picture, a background that is one row over and
        // over is blended from rather than copied in first.
        const ARGB pen = PenColor(m_settings);
        const uint32_t* under =
            m_backImage || (pen >> 24) != 0 ? nullptr : m_parts->background.RowPattern();
        if (!under) m_parts->background.Draw(band, 0, rows, firstRow);
        if (m_backImage) {
            RectF r = BackPictureRect(w, h, *m_backImage);
            r.y -= firstRow;
            DrawPicture(band, *m_backImage,
                        RectI{0, 0, m_backImage->Width(), m_backImage->Height()}, r);
        }
        std::vector<uint32_t> ids;
        std::vector<MeshFillTriangle> fills;
        DrawMesh(band, 0, firstRow, rows, m_settings, m_mesh, m_parts->buckets, pen, under, ids,
                 fills);
    } catch (const std::bad_alloc&) {
        band.SetStatus(Status::OutOfMemory);
    }
    return band.LastStatus() == Status::Ok;
}

Picture RenderPicture(const ImageSettings& settings, const PolygonMesh& mesh,
                      const Picture* backImage) {
    return RenderPicture(settings, mesh, backImage, nullptr);
}

ScaledBackground ScaleBackground(int width, int height, const Picture& backImage) {
    ScaledBackground scaled;
    if (backImage.IsNull()) return scaled;
    Picture pixels = Picture::Create(width, height);
    if (pixels.IsNull()) return scaled;
    // Drawn onto transparent pixels, each gets exactly the colour and alpha the drawing
    // blends onto any other pixel.
    for (int y = 0; y < height; ++y) std::memset(pixels.Row(y), 0, static_cast<size_t>(width) * 4);
    DrawPicture(pixels, backImage, RectI{0, 0, backImage.Width(), backImage.Height()},
                BackPictureRect(width, height, backImage));
    if (pixels.LastStatus() != Status::Ok) return scaled;
    uint32_t all = 0xFF000000u;
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = pixels.Row(y);
        for (int x = 0; x < width; ++x) all &= row[x];
    }
    scaled.bOpaque = all == 0xFF000000u;
    scaled.pixels = std::move(pixels);
    return scaled;
}

Picture RenderPicture(const ImageSettings& settings, const PolygonMesh& mesh,
                      const Picture* backImage, const ScaledBackground* scaled) {
    if (settings.nBackMode == kBackTransparent) return RenderTransparentPicture(settings, mesh);
    Picture pic = Picture::Create(settings.nWidth, settings.nHeight);
    if (pic.IsNull()) return pic;
    try {
        Render(pic, settings, mesh, backImage, scaled);
    } catch (const std::bad_alloc&) {
        // The renderer's own working memory ran out: no picture rather than a half-drawn one.
        // (A drawing step that fails leaves the layers below it and its status on the picture.)
        Picture none;
        none.SetStatus(Status::OutOfMemory);
        return none;
    }
    return pic;
}
