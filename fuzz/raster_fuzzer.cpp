// The rasterizer on random drawing programs: rectangles, gradients, polygons filled and
// outlined, mesh triangles with and without outlines, and scaled picture draws, with coordinates
// from small to the 32-bit extremes, degenerate shapes and non-finite reals, into small pictures
// (or none). Checked beyond the sanitizers: source-over onto an opaque picture leaves it opaque.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "picture.h"
#include "raster.h"

namespace {

int32_t Coord(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return in.ConsumeIntegralInRange<int32_t>(-8, 72);
        case 1:
            return in.ConsumeIntegralInRange<int32_t>(-70000, 70000);
        default:
            return in.ConsumeIntegral<int32_t>();
    }
}

double Real(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            return in.ConsumeFloatingPointInRange(-8.0, 72.0);
        case 1:
            return in.ConsumeFloatingPointInRange(-1e6, 1e6);
        case 2:
            return in.ConsumeFloatingPoint<double>();
        case 3:
            return static_cast<double>(in.ConsumeIntegral<int32_t>());
        case 4: {
            constexpr double special[] = {std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          std::numeric_limits<double>::denorm_min(),
                                          -0.0,
                                          std::numeric_limits<double>::max(),
                                          std::numeric_limits<double>::lowest()};
            return special[in.ConsumeIntegralInRange<size_t>(0, std::size(special) - 1)];
        }
        default:
            return in.ConsumeIntegralInRange(-8, 72) + in.ConsumeIntegralInRange(0, 3) * 0.25;
    }
}

Picture RandomPicture(FuzzedDataProvider& in, int maxSide, bool opaque) {
    const int w = in.ConsumeIntegralInRange(0, maxSide), h = in.ConsumeIntegralInRange(0, maxSide);
    Picture p = Picture::Create(w, h);
    if (p.IsNull()) return p;
    const uint32_t fill = in.ConsumeIntegral<uint32_t>();
    const uint32_t alphaMask = opaque ? 0xFF000000u : 0u;
    for (size_t i = 0; i < p.PixelCount(); ++i)
        p.Pixels()[i] = (fill + 0x01010101u * i) | alphaMask;
    return p;
}

std::vector<PointI> Points(FuzzedDataProvider& in) {
    std::vector<PointI> pts(in.ConsumeIntegralInRange<size_t>(0, 12));
    for (PointI& p : pts) p = {Coord(in), Coord(in)};
    return pts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Picture dst = RandomPicture(in, 40, true);
    for (int op = 0; op < 32 && in.remaining_bytes() > 0; ++op) {
        switch (in.ConsumeIntegralInRange(0, 5)) {
            case 0: {
                const RectI r{Coord(in), Coord(in), Coord(in), Coord(in)};
                FillRectangle(dst, r, in.ConsumeIntegral<uint32_t>());
                break;
            }
            case 1: {
                const RectI r{Coord(in), Coord(in), Coord(in), Coord(in)};
                const PointF p1{Real(in), Real(in)}, p2{Real(in), Real(in)};
                const ARGB c1 = in.ConsumeIntegral<uint32_t>(), c2 = in.ConsumeIntegral<uint32_t>();
                FillRectangleGradient(dst, r, p1, p2, c1, c2);
                break;
            }
            case 2:
            case 3: {
                const bool fill = in.ConsumeBool(), aa = in.ConsumeBool();
                const ARGB color = in.ConsumeIntegral<uint32_t>();
                const std::vector<PointI> pts = Points(in);
                // An empty vector's data() may be null, as a caller's may be.
                if (fill)
                    FillPolygon(dst, pts.data(), pts.size(), color, aa);
                else
                    DrawPolygon(dst, pts.data(), pts.size(), color, aa);
                break;
            }
            case 5: {
                // A mesh's fill layer: triangles anywhere, folded over each other at will,
                // drawn over the picture or over a row of our own; or the mesh with outlines.
                std::vector<MeshFillTriangle> tris(in.ConsumeIntegralInRange<size_t>(0, 12));
                for (MeshFillTriangle& t : tris) {
                    for (PointI& p : t.p) p = {Coord(in), Coord(in)};
                    t.alpha = in.ConsumeIntegral<uint8_t>();
                }
                std::vector<uint32_t> under;
                if (in.ConsumeBool())
                    under.assign(static_cast<size_t>(dst.Width()),
                                 0xFF000000u | in.ConsumeIntegral<uint32_t>());
                const int firstRow = Coord(in);
                const RectI clip{Coord(in), Coord(in), Coord(in), Coord(in)};
                if (in.ConsumeBool()) {
                    const ARGB color = in.ConsumeIntegral<uint32_t>();
                    DrawMeshOutlined(dst, firstRow, tris.data(), tris.size(), color,
                                     in.ConsumeIntegral<uint32_t>(), clip);
                    break;
                }
                DrawMeshFills(dst, firstRow, tris.data(), tris.size(),
                              in.ConsumeIntegral<uint32_t>(), clip,
                              under.empty() ? nullptr : under.data());
                break;
            }
            case 4: {
                const Picture src = RandomPicture(in, 24, false);
                const RectI sr{Coord(in), Coord(in), Coord(in), Coord(in)};
                const RectF dr{Real(in), Real(in), Real(in), Real(in)};
                const float opacity = in.ConsumeBool() ? in.ConsumeProbability<float>()
                                                       : static_cast<float>(Real(in));
                DrawPicture(dst, src, sr, dr, opacity);
                break;
            }
        }
    }
    for (size_t i = 0; i < dst.PixelCount(); ++i) {
        if ((dst.Pixels()[i] >> 24) != 0xFF) {
            std::fprintf(stderr, "pixel %zu lost its opacity: %08x\n", i, dst.Pixels()[i]);
            std::abort();
        }
    }
    return 0;
}
