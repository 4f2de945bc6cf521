// Solid and linear-gradient fills of a rectangle.
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "raster.h"
#include "raster_cells.h"

using namespace raster_internal;

namespace {

// A mirrored-repeat gradient as a table over one period: position t in [0, 2) is held as a
// 32-bit fraction of the period, so stepping along a row is one wrapping integer add.
class GradientTable {
public:
    static constexpr int kBits = 12;  // table entries per half period

    GradientTable(ARGB c1, ARGB c2) {
        for (int i = 0; i <= (1 << kBits); ++i) {
            const double t = static_cast<double>(i) / (1 << kBits);
            uint32_t c = 0;
            for (int k = 0; k < 32; k += 8) {
                const double a = (c1 >> k) & 0xFF, b = (c2 >> k) & 0xFF;
                c |= static_cast<uint32_t>(std::lround(a + (b - a) * t)) << k;
            }
            m_colors[static_cast<size_t>(i)] = c;
        }
    }

    // t (in units of the segment) as a fraction of the period 2.
    static uint32_t Phase(double t) {
        double f = std::fmod(t, 2.0);
        if (!std::isfinite(f)) f = 0;
        if (f < 0) f += 2.0;
        return static_cast<uint32_t>(static_cast<uint64_t>(std::llround(f * 2147483648.0)) &
                                     0xFFFFFFFFu);
    }

    uint32_t At(uint32_t phase) const {
        const uint32_t m = phase <= 0x80000000u ? phase : 0u - phase;  // mirror the second half
        return m_colors[(m + (1u << (30 - kBits))) >> (31 - kBits)];
    }

private:
    uint32_t m_colors[(1 << kBits) + 1];
};

void DoFillRectangleGradient(Picture& dst, const RectI& rect, PointF p1, PointF p2, ARGB c1,
                             ARGB c2) {
    ClipBox box;
    if (!ClipRect(dst, rect, box)) return;
    const int x0 = box.x0, y0 = box.y0, x1 = box.x1, y1 = box.y1;
    const double dx = p2.x - p1.x, dy = p2.y - p1.y;
    const double len2 = dx * dx + dy * dy;
    // A gradient without a direction has no defined colours: nothing is drawn.
    if (!(len2 > 0) || !std::isfinite(len2) || !std::isfinite(p1.x) || !std::isfinite(p1.y)) return;
    const double ux = dx / len2, uy = dy / len2;  // t per pixel step in x and y
    // Drawing a picture a run of rows at a time asks for the same table many times: keep the last
    // one.
    thread_local struct {
        bool valid = false;
        ARGB c1 = 0, c2 = 0;
        std::unique_ptr<GradientTable> table;
    } last;
    if (!last.valid || last.c1 != c1 || last.c2 != c2) {
        last.table = std::make_unique<GradientTable>(c1, c2);
        last.valid = true;
        last.c1 = c1;
        last.c2 = c2;
    }
    const GradientTable& table = *last.table;
    const bool opaque = (c1 >> 24) == 255 && (c2 >> 24) == 255;
    const uint32_t step = GradientTable::Phase(ux);
    const int n = x1 - x0;
    if (ux == 0) {
        // Constant along each row.
        for (int y = y0; y < y1; ++y) {
            const uint32_t c = table.At(GradientTable::Phase((y + 0.5 - p1.y) * uy));
            BlendSpanAnyDst(dst.Row(y) + x0, n, c & 0xFFFFFF, c >> 24);
        }
        return;
    }
    std::vector<uint32_t> colors(static_cast<size_t>(n));
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = dst.Row(y) + x0;
        if (uy != 0 || y == y0) {
            // Horizontal gradients are constant down the columns: one row serves all.
            uint32_t phase = GradientTable::Phase((x0 + 0.5 - p1.x) * ux + (y + 0.5 - p1.y) * uy);
            for (uint32_t& c : colors) {
                c = table.At(phase);
                phase += step;
            }
        }
        if (opaque)
            std::memcpy(row, colors.data(), colors.size() * 4);
        else
            BlendRowColors(row, colors.data(), n);
    }
}

}  // namespace

void FillRectangle(Picture& dst, const RectI& rect, ARGB color) {
    ClipBox box;
    if (!ClipRect(dst, rect, box)) return;
    const int x0 = box.x0, y0 = box.y0, x1 = box.x1, y1 = box.y1;
    for (int y = y0; y < y1; ++y)
        BlendSpanAnyDst(dst.Row(y) + x0, x1 - x0, color & 0xFFFFFF, color >> 24);
}

void FillRectangleGradient(Picture& dst, const RectI& rect, PointF p1, PointF p2, ARGB c1,
                           ARGB c2) {
    Guarded(dst, [&] { DoFillRectangleGradient(dst, rect, p1, p2, c1, c2); });
}
