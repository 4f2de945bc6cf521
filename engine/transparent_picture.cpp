#include "transparent_picture.h"

#include <algorithm>
#include <cmath>

#include "renderer.h"

namespace {

// The picture over one opaque colour, without background picture: a gradient between equal
// opaque colours is a plain fill.
Picture RenderOver(const ImageSettings& settings, const PolygonMesh& mesh, COLORREF color) {
    ImageSettings over = settings;
    over.nBackMode = kBackLeftRight;
    over.crBackColor = over.crGradColor1 = over.crGradColor2 = color;
    return RenderPicture(over, mesh, nullptr);
}

constexpr int Channel(uint32_t p, int shift) {
    return static_cast<int>((p >> shift) & 0xFF);
}

}  // namespace

Picture RenderTransparentPicture(const ImageSettings& settings, const PolygonMesh& mesh) {
    Picture black = RenderOver(settings, mesh, RGBColor(0, 0, 0));
    if (black.IsNull()) return black;
    const Picture white = RenderOver(settings, mesh, RGBColor(255, 255, 255));
    if (white.IsNull()) {
        Picture none;
        none.SetStatus(white.LastStatus());
        return none;
    }
    const bool outlines = settings.nLineOpacity > 0;
    const double c[3] = {double(GetRValue(settings.crPolyColor)),
                         double(GetGValue(settings.crPolyColor)),
                         double(GetBValue(settings.crPolyColor))};
    const double l[3] = {double(GetRValue(settings.crLineColor)),
                         double(GetGValue(settings.crLineColor)),
                         double(GetBValue(settings.crLineColor))};
    const double d[3] = {l[0] - c[0], l[1] - c[1], l[2] - c[2]};
    const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const uint32_t polyRgb = MakeArgb(settings.crPolyColor, 0);
    const size_t n = black.PixelCount();
    uint32_t* out = black.Pixels();
    const uint32_t* w = white.Pixels();
    for (size_t i = 0; i < n; ++i) {
        const uint32_t pb = out[i], pw = w[i];
        // 3 * 255 * T, from the three channels together.
        const int t3 = (Channel(pw, 16) - Channel(pb, 16)) + (Channel(pw, 8) - Channel(pb, 8)) +
                       (Channel(pw, 0) - Channel(pb, 0));
        const int alpha = std::clamp(255 - (t3 + 1) / 3, 0, 255);
        if (alpha == 0) {
            out[i] = 0;
            continue;
        }
        if (!outlines || dd == 0) {
            out[i] = (uint32_t(alpha) << 24) | polyRgb;
            continue;
        }
        // P / A = C + s (L - C); the least-squares s, held to the segment.
        const double a = alpha / 255.0;
        const double p[3] = {double(Channel(pb, 16)), double(Channel(pb, 8)),
                             double(Channel(pb, 0))};
        const double s = std::clamp(
            ((p[0] - a * c[0]) * d[0] + (p[1] - a * c[1]) * d[1] + (p[2] - a * c[2]) * d[2]) /
                (a * dd),
            0.0, 1.0);
        uint32_t rgb = 0;
        for (int k = 0; k < 3; ++k)
            rgb = (rgb << 8) |
                  static_cast<uint32_t>(std::clamp(std::lround(c[k] + s * d[k]), 0L, 255L));
        out[i] = (uint32_t(alpha) << 24) | rgb;
    }
    return black;
}
