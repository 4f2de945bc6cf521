#include "test_pictures.h"

#include <QFile>

#include <cmath>
#include <cstdlib>

Picture MakeTestPicture(int width, int height, bool translucent) {
    Picture p = Picture::Create(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Diagonal gradient.
            int r = 40 + 180 * x / width;
            int g = 200 - 150 * y / height;
            int b = 90 + 60 * (x + y) / (width + height);
            // A few flat darkening bands cut diagonally, like triangles.
            const int cell = ((x / 37) + (y / 29) + ((x + 2 * y) / 53)) % 5;
            r = r * (10 - cell) / 10;
            g = g * (10 - cell) / 10;
            b = b * (10 - cell) / 10;
            uint32_t a = 255;
            if (translucent) {
                a = static_cast<uint32_t>(30 + 225 * x / width);
                if (x < width / 8 && y < height / 8) a = 0;
            }
            p.Row(y)[x] = (a << 24) | (static_cast<uint32_t>(r) << 16) |
                          (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
        }
    }
    return p;
}

double MeanColourError(const Picture& picture, const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int y = 0; y < picture.Height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(argb.constScanLine(y));
        for (int x = 0; x < picture.Width(); ++x) {
            const uint32_t a = picture.Pixel(x, y);
            const uint32_t b = row[x];
            for (int shift = 0; shift <= 16; shift += 8)
                sum += std::abs(static_cast<int>((a >> shift) & 0xFF) -
                                static_cast<int>((b >> shift) & 0xFF));
        }
    }
    return sum / (3.0 * static_cast<double>(picture.PixelCount()));
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return f.readAll();
}
