// The SVG document against our own rendering of the same settings and mesh, as two real
// renderers draw it: rsvg-convert and QtSvg.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "image_settings.h"
#include "picture_image.h"
#include "picture_writer.h"
#include "polygon_mesh.h"
#include "raster.h"
#include "renderer.h"
#include "svg_writer.h"
#include "test_pictures.h"

namespace {

struct Diff {
    double mean = 0;     // mean absolute channel difference, premultiplied
    double within8 = 0;  // share of pixels whose channels all differ by 8 or less
    int worst = 0;       // largest channel difference
    size_t over24 = 0;   // pixels with a channel off by more than 24
    int worstX = 0, worstY = 0;
};

// Premultiplied channels (alpha included), so that colours under near-zero alpha count for
// what they show.
Diff Compare(const Picture& ours, const QImage& theirs) {
    const QImage img = theirs.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    Diff d;
    double sum = 0;
    size_t good = 0;
    for (int y = 0; y < ours.Height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(img.constScanLine(y));
        for (int x = 0; x < ours.Width(); ++x) {
            const uint32_t p = ours.Pixel(x, y);
            const int a = int(p >> 24);
            int m = 0;
            for (int shift = 0; shift <= 24; shift += 8) {
                int ch = int((p >> shift) & 0xFF);
                if (shift < 24) ch = (ch * a + 127) / 255;
                const int e = std::abs(ch - int((row[x] >> shift) & 0xFF));
                sum += e;
                m = std::max(m, e);
            }
            if (m <= 8) ++good;
            if (m > 24) ++d.over24;
            if (m > d.worst) {
                d.worst = m;
                d.worstX = x;
                d.worstY = y;
            }
        }
    }
    d.mean = sum / (4.0 * double(ours.PixelCount()));
    d.within8 = double(good) / double(ours.PixelCount());
    return d;
}

QString Rsvg() {
    return QStandardPaths::findExecutable(QStringLiteral("rsvg-convert"));
}

// Each pixel the mean of the zoom x zoom pixels it covers.
QImage Reduce(const QImage& big, int zoom) {
    if (zoom == 1 || big.isNull()) return big;
    const QImage src = big.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage out(src.width() / zoom, src.height() / zoom, QImage::Format_ARGB32_Premultiplied);
    const int n = zoom * zoom;
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            uint32_t sum[4] = {};
            for (int j = 0; j < zoom; ++j) {
                const auto* s = reinterpret_cast<const uint32_t*>(src.constScanLine(y * zoom + j));
                for (int i = 0; i < zoom; ++i)
                    for (int c = 0; c < 4; ++c) sum[c] += (s[x * zoom + i] >> (8 * c)) & 0xFF;
            }
            uint32_t v = 0;
            for (int c = 0; c < 4; ++c) v |= ((sum[c] + uint32_t(n / 2)) / uint32_t(n)) << (8 * c);
            row[x] = v;
        }
    }
    return out;
}

QImage RenderWithRsvg(const QString& svgPath, const QString& pngPath, int zoom) {
    QProcess p;
    p.start(Rsvg(),
            {svgPath, QStringLiteral("-z"), QString::number(zoom), QStringLiteral("-o"), pngPath});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return QImage();
    return Reduce(QImage(pngPath), zoom);
}

QImage RenderWithQtSvg(const QByteArray& svg, int w, int h, int zoom) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) return QImage();
    QImage img(w * zoom, h * zoom, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter painter(&img);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    renderer.render(&painter);
    painter.end();
    return Reduce(img, zoom);
}

ImageSettings Settings(int w, int h, int mode) {
    ImageSettings s = DefaultSettings();
    s.nWidth = w;
    s.nHeight = h;
    s.nBackMode = mode;
    s.crBackColor = s.crGradColor1 = RGBColor(254, 218, 62);
    s.crGradColor2 = RGBColor(8, 105, 173);
    return s;
}

std::string Where(const Diff& d) {
    return "mean " + std::to_string(d.mean) + ", within 8: " + std::to_string(d.within8 * 100) +
           " %, over 24: " + std::to_string(d.over24) + " px, worst " + std::to_string(d.worst) +
           " at (" + std::to_string(d.worstX) + ", " + std::to_string(d.worstY) + ")";
}

class SvgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Rsvg().isEmpty()) << "rsvg-convert (Debian package librsvg2-bin) is needed";
        ASSERT_TRUE(m_dir.isValid());
    }
    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // Our picture, and the SVG of the same input as rsvg-convert and QtSvg draw it.
    // QtSvg anti-aliases more coarsely than rsvg-convert (and strokes thin lines its own way),
    // so it gets a wider share of pixels off by more than 8 levels. `supersampled` compares
    // with a reference in which no background shows along the edges opaque triangles share.
    // With `zoom` the renderers draw that many times the size, reduced by the mean: each of
    // them blends shape after shape, letting the background through where outlines and fills
    // meet, which our picture does not; drawn larger, those seams shrink to the zoom's share.
    void Check(const ImageSettings& s, uint32_t seed, const Picture* back, const QString& backPath,
               double maxMean, double minWithin8, double maxOver24, const std::string& what,
               bool supersampled = false, int zoom = 1) {
        PolygonMesh mesh;
        ASSERT_EQ(GenerateMesh(s, mesh, seed), MeshResult::Ok);
        Picture ours = RenderPicture(s, mesh, back);
        if (supersampled) {
            // Drawn 8 x 8 the size without anti-aliasing (shapes that share an edge tile it
            // exactly) and reduced: each pixel gets the share of the area each shape covers.
            ImageSettings big = s;
            big.nWidth *= 8;
            big.nHeight *= 8;
            Picture large = RenderPicture(big, PolygonMesh(), back);
            QImage img = PictureAsImage(large);
            QPainter painter(&img);
            painter.setPen(Qt::NoPen);
            for (const MeshTriangle& t : mesh.pTriangles) {
                const QPoint pts[3] = {
                    QPoint(mesh.pVertices[size_t(t.a)].x * 8, mesh.pVertices[size_t(t.a)].y * 8),
                    QPoint(mesh.pVertices[size_t(t.b)].x * 8, mesh.pVertices[size_t(t.b)].y * 8),
                    QPoint(mesh.pVertices[size_t(t.c)].x * 8, mesh.pVertices[size_t(t.c)].y * 8)};
                QColor c(GetRValue(s.crPolyColor), GetGValue(s.crPolyColor),
                         GetBValue(s.crPolyColor), t.alpha & 0xFF);
                painter.setBrush(c);
                painter.drawPolygon(pts, 3, Qt::OddEvenFill);
            }
            painter.end();
            const QImage small =
                img.scaled(s.nWidth, s.nHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            ours = *PictureFromImage(small);
        }
        QByteArray svg;
        QString error;
        ASSERT_EQ(EncodeSvg(s, mesh, back, backPath, svg, &error), Status::Ok)
            << error.toStdString();
        QFile f(Path("t.svg"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(svg);
        f.close();
        const QImage rsvg = RenderWithRsvg(Path("t.svg"), Path("t.png"), zoom);
        ASSERT_EQ(rsvg.size(), QSize(s.nWidth, s.nHeight)) << what;
        const QImage qt = RenderWithQtSvg(svg, s.nWidth, s.nHeight, zoom);
        ASSERT_FALSE(qt.isNull()) << what;
        for (const auto& [name, img] : {std::pair{"rsvg-convert", rsvg}, std::pair{"QtSvg", qt}}) {
            const Diff d = Compare(ours, img);
            const bool isQt = img.constBits() == qt.constBits();
            std::printf("%s, %s: %s\n", what.c_str(), name, Where(d).c_str());
            EXPECT_LE(d.mean, maxMean) << what << ", " << name << ": " << Where(d);
            EXPECT_GE(d.within8, isQt ? std::min(minWithin8, 0.95) : minWithin8)
                << what << ", " << name << ": " << Where(d);
            if (!isQt) {
                EXPECT_LE(double(d.over24) / double(ours.PixelCount()), maxOver24)
                    << what << ", " << name << ": " << Where(d);
            }
        }
    }

    QTemporaryDir m_dir;
};

TEST_F(SvgTest, EveryBackgroundModeAndOutlinesLookLikeOurPicture) {
    const struct {
        int mode;
        int lineOpacity;
        int polySize;
    } cases[] = {
        {0, 0, 0},
        {1, 0, 0},
        {2, 0, 0},
        {3, 0, 0},
        {4, 0, 0},
        {5, 0, 0},
        {6, 0, 0},
        {kBackTransparent, 0, 0},
        {0, 100, 0},
        {4, 40, 50},
        {kBackTransparent, 70, 0},
    };
    for (const auto& c : cases) {
        ImageSettings s = Settings(960, 540, c.mode);
        s.nLineOpacity = c.lineOpacity;
        s.nPolySize = c.polySize;
        Check(s, 1234u + unsigned(c.mode), nullptr, QString(), 1.0, 0.995, 1.0,
              "mode " + std::to_string(c.mode) + ", outlines " + std::to_string(c.lineOpacity),
              false, c.lineOpacity > 0 ? 8 : 1);
    }
}

TEST_F(SvgTest, BackgroundPictureIsEmbeddedAndPlacedByTheCoverRule) {
    // Wider than the frame (cut left and right) and taller (cut top and bottom); PNG embeds
    // its own bytes, BMP goes in as PNG.
    const struct {
        int w, h;
        const char* name;
        ImageEncoderId format;
    } cases[] = {{500, 200, "wide.png", ImageEncoderId::Png},
                 {300, 400, "tall.bmp", ImageEncoderId::Bmp}};
    for (const auto& c : cases) {
        const Picture back = MakeTestPicture(c.w, c.h);
        ASSERT_EQ(WritePicture(back, Path(c.name), c.format, 100), Status::Ok);
        const ImageSettings s = Settings(640, 360, 3);
        Check(s, 99u, &back, Path(c.name), 1.0, 0.995, 1.0, c.name);
        PolygonMesh mesh;
        ASSERT_EQ(GenerateMesh(s, mesh, 99u), MeshResult::Ok);
        QByteArray svg;
        ASSERT_EQ(EncodeSvg(s, mesh, &back, Path(c.name), svg), Status::Ok);
        if (c.format == ImageEncoderId::Png)
            EXPECT_TRUE(
                svg.contains("data:image/png;base64," + ReadAll(Path(c.name)).toBase64() + '"'));
        else
            EXPECT_TRUE(svg.contains("data:image/png;base64,iVBOR")) << "BMP goes in as PNG";
    }
    // A file that no longer holds what was decoded: the decoded pixels go in.
    const Picture back = MakeTestPicture(500, 200);
    ASSERT_EQ(WritePicture(MakeTestPicture(50, 20), Path("changed.png"), ImageEncoderId::Png, 100),
              Status::Ok);
    Check(Settings(640, 360, 1), 7u, &back, Path("changed.png"), 1.0, 0.995, 1.0, "changed file");
}

TEST_F(SvgTest, OpaqueOneColourMeshShowsNoSeams) {
    // Opaque black triangles: any seam lets the background through between them.
    for (int mode : {0, 2, 5}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            ImageSettings s = Settings(960, 540, mode);
            s.nStartOpacity = s.nEndOpacity = 100;
            s.nPolySize = 60;
            // Any seam would be a line of pixels far off; what is left are single pixels where
            // edges and corners meet, under a thousandth of the picture.
            Check(s, seed, nullptr, QString(), 1.5, 0.995, 0.001,
                  "mode " + std::to_string(mode) + ", seed " + std::to_string(seed), true);
        }
    }
}

TEST_F(SvgTest, SizeViewBoxAndIntegerCorners) {
    const ImageSettings s = Settings(1920, 1080, 0);
    PolygonMesh mesh;
    ASSERT_EQ(GenerateMesh(s, mesh, 5u), MeshResult::Ok);
    QByteArray svg;
    ASSERT_EQ(EncodeSvg(s, mesh, nullptr, QString(), svg), Status::Ok);
    EXPECT_TRUE(svg.contains("width=\"1920\" height=\"1080\" viewBox=\"0 0 1920 1080\""));
    EXPECT_LE(svg.size(), 120 * 1024);
    // The first triangle of the mesh, as written: its corners as integers.
    const MeshTriangle& t = mesh.pTriangles[0];
    const auto& v = mesh.pVertices;
    const QByteArray corner =
        QByteArray::number(v[size_t(t.a)].x) + ' ' + QByteArray::number(v[size_t(t.a)].y) + ' ' +
        QByteArray::number(v[size_t(t.b)].x) + ' ' + QByteArray::number(v[size_t(t.b)].y);
    EXPECT_TRUE(svg.contains("<path d=\"M" + corner)) << corner.toStdString();
}

TEST_F(SvgTest, MalformedAndPiledUpMeshesAreSafe) {
    // Corners out of range are skipped; a thousand copies of one triangle stay bounded.
    const ImageSettings s = Settings(400, 300, 1);
    PolygonMesh mesh;
    mesh.pVertices = {{10, 10, 0, 0}, {390, 20, 0, 0}, {200, 290, 0, 0}};
    mesh.pTriangles.assign(1000, MeshTriangle{0, 1, 2, 3});
    mesh.pTriangles.push_back({0, 1, 7, 50});
    mesh.pTriangles.push_back({-1, 1, 2, 50});
    mesh.nVertexCount = 3;
    mesh.nTriangleCount = int32_t(mesh.pTriangles.size());
    QByteArray svg;
    ASSERT_EQ(EncodeSvg(s, mesh, nullptr, QString(), svg), Status::Ok);
    EXPECT_LT(svg.size(), 2 * 1024 * 1024);
    EXPECT_TRUE(QSvgRenderer(svg).isValid());
}

TEST_F(SvgTest, FailedWriteKeepsTheOldFile) {
    const ImageSettings s = Settings(640, 360, 1);
    PolygonMesh mesh;
    ASSERT_EQ(GenerateMesh(s, mesh, 3u), MeshResult::Ok);
    int err = 0;
    EXPECT_EQ(WriteSvg(s, mesh, nullptr, QString(), Path("nope/a.svg"), &err), Status::Win32Error);
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(WriteSvg(s, mesh, nullptr, QString(), m_dir.path(), &err), Status::Win32Error);
    EXPECT_EQ(err, EISDIR);
    // A read-only existing file stays as it was.
    QFile old(Path("old.svg"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    old.setPermissions(QFileDevice::ReadOwner);
    if (QFileInfo(Path("old.svg")).isWritable())
        GTEST_SKIP() << "running as a user who can write anything";
    EXPECT_EQ(WriteSvg(s, mesh, nullptr, QString(), Path("old.svg"), &err), Status::Win32Error);
    EXPECT_EQ(ReadAll(Path("old.svg")), QByteArray("old"));
}

}  // namespace
