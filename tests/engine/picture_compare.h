#pragma once
// Helpers for pixel tests of engine pictures: QImage views, filled pictures and a comparison
// with a tolerance that names the first differing pixel.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>

#include "picture.h"

inline Picture FilledPicture(int w, int h, uint32_t argb) {
    Picture p = Picture::Create(w, h);
    std::fill(p.Pixels(), p.Pixels() + p.PixelCount(), argb);
    return p;
}

// A QImage sharing the picture's pixels (same layout, no copy).
inline QImage WrapPicture(Picture& p) {
    return QImage(reinterpret_cast<uchar*>(p.Pixels()), p.Width(), p.Height(), p.Width() * 4,
                  QImage::Format_ARGB32);
}

inline int ChannelDiff(uint32_t a, uint32_t b) {
    int d = 0;
    for (int s = 0; s < 32; s += 8)
        d = std::max(
            d, std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)));
    return d;
}

inline std::string Hex(uint32_t v) {
    std::ostringstream o;
    o << "0x" << std::hex << v;
    return o.str();
}

// Every pixel of `got` within `tolerance` per channel of `want` (an ARGB32 image), but for at
// most `outliers` pixels and those for which `skip(x, y)` holds.
template <typename Skip>
::testing::AssertionResult PicturesMatch(const Picture& got, const QImage& wantImage, int tolerance,
                                         int outliers, Skip skip) {
    const QImage want = wantImage.convertToFormat(QImage::Format_ARGB32);
    if (got.Width() != want.width() || got.Height() != want.height())
        return ::testing::AssertionFailure() << "size " << got.Width() << "x" << got.Height()
                                             << " vs " << want.width() << "x" << want.height();
    int worst = 0, count = 0, fx = -1, fy = -1;
    for (int y = 0; y < got.Height(); ++y) {
        const uint32_t* w = reinterpret_cast<const uint32_t*>(want.constScanLine(y));
        for (int x = 0; x < got.Width(); ++x) {
            if (skip(x, y)) continue;
            const int d = ChannelDiff(got.Pixel(x, y), w[x]);
            worst = std::max(worst, d);
            if (d > tolerance) {
                if (count++ == 0) fx = x, fy = y;
            }
        }
    }
    if (count <= outliers) return ::testing::AssertionSuccess();
    const uint32_t w = reinterpret_cast<const uint32_t*>(want.constScanLine(fy))[fx];
    return ::testing::AssertionFailure()
           << count << " pixels differ by more than " << tolerance << " (worst " << worst
           << "); first at (" << fx << ", " << fy << "): got " << Hex(got.Pixel(fx, fy))
           << ", want " << Hex(w);
}

inline ::testing::AssertionResult PicturesMatch(const Picture& got, const QImage& want,
                                                int tolerance, int outliers = 0) {
    return PicturesMatch(got, want, tolerance, outliers, [](int, int) { return false; });
}
