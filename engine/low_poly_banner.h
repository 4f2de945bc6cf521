#pragma once
// The About box's animated banner without its window: a coloured band, shaded dark towards
// both sides around a wandering light, under a grid of translucent black triangles whose
// corners drift to and fro. The window layer only sizes it, ticks it and shows Frame().
#include <array>
#include <cstdint>
#include <vector>

#include "image_settings.h"
#include "picture.h"

struct BannerVertex {
    int32_t x = 0;
    int32_t y = 0;
    int32_t homeX = 0;
    int32_t homeY = 0;
    int32_t flags = 0;  // kBannerMoveRight, kBannerMoveDown
    int32_t stepX = 0;  // 1 or 2
    int32_t stepY = 0;  // 0 or 1
    int32_t minX = 0;
    int32_t minY = 0;
    int32_t maxX = 0;
    int32_t maxY = 0;
    int32_t delay = 0;  // ticks to rest before the next step
};

constexpr int32_t kBannerMoveRight = 2;  // clear: x decreasing
constexpr int32_t kBannerMoveDown = 8;   // clear: y decreasing

// Indices into the vertex array, so a triangle follows its corners as they move.
struct BannerTriangle {
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;
    int32_t alpha = 0;  // 5..60 out of 255; only the low byte is drawn
};

constexpr int kBannerPaletteSize = 14;
extern const std::array<COLORREF, kBannerPaletteSize> kBannerPalette;
constexpr COLORREF kBannerNoColor = 0xFF000000;  // no palette entry has a top byte

class LowPolyBanner {
public:
    LowPolyBanner() = default;
    LowPolyBanner(const LowPolyBanner&) = delete;
    LowPolyBanner& operator=(const LowPolyBanner&) = delete;

    // Start of an animation: picks the colour once per banner, drops the frame so the next
    // PrepareFrame renders afresh, reseeds the generator.
    void InitAnimation();
    void PickBackColor();

    // The frame for a client of cw x ch pixels. A new size builds a new mesh; a missing frame
    // is rendered; otherwise the last frame is kept as it is. Null when cw or ch is not
    // positive or the memory cannot be had.
    const Picture* PrepareFrame(int cw, int ch);
    void ReleaseFrame() { m_frame = Picture(); }
    const Picture* Frame() const { return m_frame.IsNull() ? nullptr : &m_frame; }

    // One timer tick. True when a new frame was rendered (the window should repaint).
    bool Tick();

    // Mesh for the client size in m_nWidth x m_nHeight. A client too small for one cell
    // gets no mesh and shows the shaded colour alone.
    void BuildMesh();
    // One step of one resting-free vertex: 1 when it can move along some axis, else 0.
    int StepVertex(BannerVertex& v);
    void StepLight();
    // -1 without a frame, else 0.
    int RenderFrame(Picture* dc);
    void DrawEdgeShade(Picture& dc) const;
    void DrawTriangles(Picture& dc) const;

    const std::vector<BannerVertex>& Vertices() const { return m_vertices; }
    std::vector<BannerVertex>& Vertices() { return m_vertices; }
    const std::vector<BannerTriangle>& Triangles() const { return m_triangles; }
    int VertexCount() const { return static_cast<int>(m_vertices.size()); }
    int TriangleCount() const { return static_cast<int>(m_triangles.size()); }

    COLORREF m_crBack = kBannerNoColor;
    const int m_nMargin = 30;  // how far the grid reaches beyond the right and bottom edges
    int m_nWidth = 0;          // client size the frame and mesh were made for
    int m_nHeight = 0;
    int m_nLightX = 0;  // -1: no moving light (narrow client); 0: not placed yet
    int m_nLightTarget = 0;
    int m_nLightStep = 0;  // +2 or -2

private:
    void HeadLeft();
    void HeadRight();

    std::vector<BannerVertex> m_vertices;
    std::vector<BannerTriangle> m_triangles;
    Picture m_frame;
};
