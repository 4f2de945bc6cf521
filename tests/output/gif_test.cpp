#include <gif_lib.h>
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "image_settings.h"
#include "picture_writer.h"
#include "polygon_mesh.h"
#include "renderer.h"
#include "test_pictures.h"

namespace {

// A GIF as giflib reads it: the colours of its first image and its transparent index.
struct GifRead {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;  // 0x00RRGGBB per pixel, from the colour table
    std::vector<int> indices;
    std::vector<uint32_t> table;
    int transparent = -1;
};

struct Reader {
    const QByteArray* bytes;
    qsizetype at;
};
int ReadBytes(GifFileType* gif, GifByteType* out, int size) {
    auto* r = static_cast<Reader*>(gif->UserData);
    const int n = static_cast<int>(std::min<qsizetype>(size, r->bytes->size() - r->at));
    std::memcpy(out, r->bytes->constData() + r->at, static_cast<size_t>(n));
    r->at += n;
    return n;
}

bool ReadWithGiflib(const QByteArray& bytes, GifRead& out) {
    Reader reader{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadBytes, &error);
    if (!gif) return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1 && gif->SColorMap;
    if (ok) {
        const SavedImage& image = gif->SavedImages[0];
        out.width = image.ImageDesc.Width;
        out.height = image.ImageDesc.Height;
        const ColorMapObject* map = gif->SColorMap;
        for (int i = 0; i < map->ColorCount; ++i) {
            const GifColorType& c = map->Colors[i];
            out.table.push_back(uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue);
        }
        const size_t n = static_cast<size_t>(out.width) * static_cast<size_t>(out.height);
        for (size_t i = 0; i < n; ++i) {
            const int index = image.RasterBits[i];
            out.indices.push_back(index);
            out.rgb.push_back(index < map->ColorCount ? out.table[static_cast<size_t>(index)]
                                                      : 0xFFFFFFFFu);
        }
        GraphicsControlBlock gcb{};
        if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) out.transparent = gcb.TransparentColor;
    }
    DGifCloseFile(gif, &error);
    return ok;
}

uint32_t OverWhite(uint32_t p) {
    const uint32_t a = p >> 24;
    auto over = [a](uint32_t c) { return (c * a + 255 * (255 - a) + 127) / 255; };
    return over((p >> 16) & 0xFF) << 16 | over((p >> 8) & 0xFF) << 8 | over(p & 0xFF);
}

int Distance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int e = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        d += e * e;
    }
    return d;
}

// The smooth test picture, where strings grow long, with strips of random colours that fill
// the string table and start it again; some alpha 0 pixels among them when `translucent`.
Picture MakeMixedPicture(int width, int height, bool translucent) {
    Picture p = MakeTestPicture(width, height, translucent);
    uint32_t state = 777;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width && y % 64 < 6; ++x) {
            state = state * 1664525u + 1013904223u;
            const uint32_t a = translucent && (state >> 28) == 0 ? 0 : 0xFF000000u;
            p.Row(y)[x] = a | (state >> 8);
        }
    return p;
}

// Without dithering every pixel is the nearest colour of the table to the pixel over white,
// read back alike by giflib and Qt, with the transparent index exactly where alpha is 0. Any
// slip in the codes, their widths, the joins of the bands or the sub-blocks shows as wrong
// pixels. Any number of threads writes the same bytes, with every kind of dithering.
TEST(EncodeGif, DecodersReadTheNearestColoursWhateverTheThreads) {
    const struct {
        int w, h;
        bool translucent;
    } shapes[] = {{1, 1, false},
                  {1, 1, true},
                  {97, 61, true},
                  {2100, 1600, false},  // several bands, the table full many times
                  {4099, 700, true}};   // bands of 255 rows, odd width
    for (const auto& shape : shapes) {
        SCOPED_TRACE(testing::Message()
                     << shape.w << " x " << shape.h << (shape.translucent ? " translucent" : ""));
        Picture p = shape.w * shape.h > 1 ? MakeMixedPicture(shape.w, shape.h, shape.translucent)
                                          : MakeTestPicture(1, 1);
        if (shape.w * shape.h == 1 && shape.translucent) p.Row(0)[0] = 0;  // nothing but alpha 0
        // A small palette sample keeps the test quick; it changes nothing checked here.
        GifTuning tuning = DefaultGifTuning();
        tuning.samplePixels = 1 << 15;
        tuning.dither = GifTuning::Dither::None;
        tuning.threads = 2;
        QByteArray bytes;
        ASSERT_EQ(EncodeGifToMemory(p, bytes, tuning), Status::Ok);
        ASSERT_TRUE(bytes.startsWith("GIF89a"));
        ASSERT_TRUE(bytes.endsWith(";"));
        GifRead gif;
        ASSERT_TRUE(ReadWithGiflib(bytes, gif));
        ASSERT_EQ(gif.width, p.Width());
        ASSERT_EQ(gif.height, p.Height());
        const QImage qt = QImage::fromData(bytes, "GIF").convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(qt.size(), QSize(p.Width(), p.Height()));
        EXPECT_EQ(gif.transparent >= 0, shape.translucent);
        int wrong = 0;
        uint32_t lastWant = 0xFFFFFFFFu;
        int least = INT_MAX;
        for (int y = 0; y < p.Height(); ++y) {
            const auto* qtRow = reinterpret_cast<const uint32_t*>(qt.constScanLine(y));
            for (int x = 0; x < p.Width(); ++x) {
                const size_t i = static_cast<size_t>(y) * static_cast<size_t>(p.Width()) +
                                 static_cast<size_t>(x);
                const uint32_t px = p.Pixel(x, y);
                bool ok;
                if (px >> 24 == 0) {
                    ok = gif.indices[i] == gif.transparent && qAlpha(qtRow[x]) == 0;
                } else {
                    const uint32_t want = OverWhite(px);
                    if (want != lastWant) {
                        least = INT_MAX;
                        for (size_t k = 0; k < gif.table.size(); ++k)
                            if (static_cast<int>(k) != gif.transparent)
                                least = std::min(least, Distance(want, gif.table[k]));
                        lastWant = want;
                    }
                    ok = gif.indices[i] != gif.transparent && Distance(want, gif.rgb[i]) == least &&
                         qtRow[x] == (0xFF000000u | gif.rgb[i]);
                }
                if (!ok && ++wrong <= 3) ADD_FAILURE() << "pixel " << x << ", " << y;
            }
        }
        EXPECT_EQ(wrong, 0);

        for (const auto dither : {GifTuning::Dither::None, GifTuning::Dither::Ordered,
                                  GifTuning::Dither::FloydSteinberg}) {
            tuning = DefaultGifTuning();
            tuning.samplePixels = 1 << 15;
            if (dither != tuning.dither) tuning.ditherStrength = 8;
            tuning.dither = dither;
            tuning.threads = 1;
            QByteArray one;
            ASSERT_EQ(EncodeGifToMemory(p, one, tuning), Status::Ok);
            for (const int threads : {2, 3, 8}) {
                QByteArray many;
                tuning.threads = threads;
                ASSERT_EQ(EncodeGifToMemory(p, many, tuning), Status::Ok);
                EXPECT_EQ(one, many) << threads << " threads, dither " << static_cast<int>(dither);
            }
        }
    }
}

// A band that ends just as the codes grow a bit wider: the clear code that starts the next
// band is already read at the new width. A solid row of 32400 pixels takes 255 codes, the
// last of them when the table reaches 512 entries.
TEST(EncodeGif, BandEndingAtAWiderCodeJoinsTheNext) {
    Picture p = Picture::Create(32400, 4);
    for (int y = 0; y < 4; ++y) std::fill_n(p.Row(y), p.Width(), y % 2 ? 0xFF204080u : 0xFFF0E0D0u);
    GifTuning tuning = DefaultGifTuning();
    tuning.bandRows = 1;
    QByteArray bytes;
    ASSERT_EQ(EncodeGifToMemory(p, bytes, tuning), Status::Ok);
    GifRead gif;
    ASSERT_TRUE(ReadWithGiflib(bytes, gif));
    const QImage qt = QImage::fromData(bytes, "GIF").convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(qt.size(), QSize(p.Width(), p.Height()));
    for (int y = 0; y < 4; ++y) {
        SCOPED_TRACE(y);
        const uint32_t want = p.Pixel(0, y) & 0xFFFFFFu;
        const auto* row = reinterpret_cast<const uint32_t*>(qt.constScanLine(y));
        EXPECT_EQ(std::count(gif.rgb.begin() + y * p.Width(), gif.rgb.begin() + (y + 1) * p.Width(),
                             want),
                  p.Width());
        EXPECT_EQ(std::count(row, row + p.Width(), 0xFF000000u | want), p.Width());
    }
}

// Mean colour error of the default writer on rendered pictures: the flat background keeps
// its few colours nearly exactly, the gradients stay under 2 levels of 255.
TEST(EncodeGif, RenderedPicturesStayClose) {
    for (int mode = kBackSolid; mode <= kBackTransparent; ++mode) {
        SCOPED_TRACE(testing::Message() << "background mode " << mode);
        ImageSettings s = DefaultSettings();
        s.nWidth = 1920;
        s.nHeight = 1080;
        s.nBackMode = mode;
        s.crBackColor = s.crGradColor1 = kPalette[3];
        s.crGradColor2 = kPalette[8];
        PolygonMesh mesh;
        GenerateMesh(s, mesh, 7u);
        const Picture p = RenderPicture(s, mesh, nullptr);
        ASSERT_FALSE(p.IsNull());
        QByteArray bytes;
        ASSERT_EQ(EncodeGifToMemory(p, bytes, DefaultGifTuning()), Status::Ok);
        const QImage back = QImage::fromData(bytes, "GIF").convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(back.size(), QSize(p.Width(), p.Height()));
        double sum = 0;
        for (int y = 0; y < p.Height(); ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(back.constScanLine(y));
            for (int x = 0; x < p.Width(); ++x) {
                const uint32_t px = p.Pixel(x, y);
                if (px >> 24 == 0) {
                    EXPECT_EQ(qAlpha(row[x]), 0);
                    continue;
                }
                for (int shift = 0; shift <= 16; shift += 8)
                    sum += std::abs(static_cast<int>((OverWhite(px) >> shift) & 0xFF) -
                                    static_cast<int>((row[x] >> shift) & 0xFF));
            }
        }
        const double error = sum / (3.0 * static_cast<double>(p.PixelCount()));
        std::printf("GIF mean colour error, mode %d: %.3f of 255\n", mode, error);
        EXPECT_LT(error, mode == kBackSolid || mode == kBackTransparent ? 0.5 : 2.0);
    }
}

}  // namespace
