#include <gtest/gtest.h>

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>
#include <cerrno>
#include <cmath>
#include <csignal>

#include "image_encoder.h"
#include "picture_image.h"
#include "picture_writer.h"
#include "test_pictures.h"

namespace {

QImage ReadBack(const QString& path, QByteArray* format = nullptr) {
    QImageReader reader(path);
    if (format) *format = reader.format();
    return reader.read();
}

int Dpi(int dotsPerMeter) {
    return static_cast<int>(std::lround(dotsPerMeter * 0.0254));
}

// First pixel where the picture and the image differ, as text; empty when none does.
std::string FirstDifference(const Picture& picture, const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    if (argb.size() != QSize(picture.Width(), picture.Height())) return "size differs";
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            if (picture.Pixel(x, y) != argb.pixel(x, y))
                return QString::asprintf("(%d, %d): %08x vs %08x", x, y, picture.Pixel(x, y),
                                         argb.pixel(x, y))
                    .toStdString();
    return {};
}

TEST(PictureAsImage, SharesPixelsAndCarriesResolution) {
    Picture p = MakeTestPicture(40, 30);
    p.SetResolution(150, 300);
    QImage image = PictureAsImage(p);
    EXPECT_EQ(image.constBits(), reinterpret_cast<const uchar*>(p.Pixels()));
    EXPECT_EQ(image.format(), QImage::Format_ARGB32);
    EXPECT_EQ(image.bytesPerLine(), 160);
    EXPECT_EQ(Dpi(image.dotsPerMeterX()), 150);
    EXPECT_EQ(Dpi(image.dotsPerMeterY()), 300);
    image.setPixel(3, 2, 0xFF123456);
    EXPECT_EQ(p.Pixel(3, 2), 0xFF123456u);

    const Picture& cp = p;
    const QImage constImage = PictureAsImage(cp);
    EXPECT_EQ(constImage.constBits(), reinterpret_cast<const uchar*>(p.Pixels()));

    EXPECT_TRUE(PictureAsImage(Picture()).isNull());
}

// Lossless formats give back every pixel; opaque pictures are stored without alpha.
TEST(WritePicture, LosslessRoundTripKeepsPixelsAlphaAndResolution) {
    QTemporaryDir dir;
    const struct {
        ImageEncoderId id;
        const char* name;
        bool translucent;
        QByteArray format;
    } cases[] = {
        {ImageEncoderId::Png, "o.png", false, "png"},
        {ImageEncoderId::Png, "t.png", true, "png"},
        {ImageEncoderId::Bmp, "o.bmp", false, "bmp"},
        {ImageEncoderId::Bmp, "t.bmp", true, "bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = MakeTestPicture(203, 101, c.translucent);  // odd width: BMP row padding
        p.SetResolution(150, 150);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        int err = -1;
        ASSERT_EQ(WritePicture(p, path, c.id, 100, &err), Status::Ok);
        EXPECT_EQ(err, 0);
        QByteArray format;
        const QImage back = ReadBack(path, &format);
        EXPECT_EQ(format, c.format);
        EXPECT_EQ(back.hasAlphaChannel(), c.translucent);
        EXPECT_EQ(FirstDifference(p, back), "");
        EXPECT_EQ(Dpi(back.dotsPerMeterX()), 150);
        EXPECT_EQ(Dpi(back.dotsPerMeterY()), 150);
    }
}

TEST(WritePicture, JpegRecordsResolutionAndAppliesQuality) {
    QTemporaryDir dir;
    Picture p = MakeTestPicture(320, 200);
    p.SetResolution(72, 72);
    const QString low = dir.filePath("q10.jpg");
    const QString high = dir.filePath("q95.jpg");
    ASSERT_EQ(WritePicture(p, low, ImageEncoderId::Jpeg, 10), Status::Ok);
    p.SetResolution(300, 300);
    ASSERT_EQ(WritePicture(p, high, ImageEncoderId::Jpeg, 95), Status::Ok);

    QByteArray format;
    const QImage lowImage = ReadBack(low, &format);
    EXPECT_EQ(format, "jpeg");
    EXPECT_EQ(Dpi(lowImage.dotsPerMeterX()), 72);
    const QImage highImage = ReadBack(high);
    EXPECT_EQ(Dpi(highImage.dotsPerMeterX()), 300);
    EXPECT_EQ(Dpi(highImage.dotsPerMeterY()), 300);
    EXPECT_LT(ReadAll(low).size() * 2, ReadAll(high).size());
    EXPECT_LT(MeanColourError(p, highImage), MeanColourError(p, lowImage));
    EXPECT_LT(MeanColourError(p, highImage), 2.0);
}

TEST(WritePicture, GifIsCloseToTheOriginalAndKeepsTransparency) {
    QTemporaryDir dir;
    // The larger picture has its palette learned from a sample of its rows (measured 3.6); a
    // sample of part of the picture would miss whole colours.
    const struct {
        QSize size;
        double bound;
    } cases[] = {{QSize(400, 300), 2.5}, {QSize(1600, 1000), 4.5}};
    for (const auto& [size, bound] : cases) {
        const Picture p = MakeTestPicture(size.width(), size.height());
        const QString path = dir.filePath("a.gif");
        ASSERT_EQ(WritePicture(p, path, ImageEncoderId::Gif, 100), Status::Ok);
        QByteArray format;
        const QImage back = ReadBack(path, &format);
        EXPECT_EQ(format, "gif");
        ASSERT_EQ(back.size(), size);
        const double error = MeanColourError(p, back);
        std::printf("GIF mean colour error per channel at %dx%d: %.3f of 255\n", size.width(),
                    size.height(), error);
        EXPECT_LT(error, bound);  // measured 1.9; a wrong palette or channel order gives tens
    }

    const Picture t = MakeTestPicture(400, 300, true);
    const QString tpath = dir.filePath("t.gif");
    ASSERT_EQ(WritePicture(t, tpath, ImageEncoderId::Gif, 100), Status::Ok);
    const QImage tback = ReadBack(tpath).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(tback.pixel(5, 5)), 0);        // alpha 0 corner
    EXPECT_EQ(qAlpha(tback.pixel(399, 299)), 255);  // nearly opaque side
    // A faint pixel is neither dropped nor made solid: it shows as over white.
    const uint32_t faint = t.Pixel(2, 290);
    ASSERT_LT(faint >> 24, 60u);
    EXPECT_EQ(qAlpha(tback.pixel(2, 290)), 255);
    const int a = int(faint >> 24);
    EXPECT_NEAR(qGreen(tback.pixel(2, 290)), (int((faint >> 8) & 0xFF) * a + 255 * (255 - a)) / 255,
                12);
}

TEST(WritePicture, JpegOfATransparentPictureIsFlattenedOverWhite) {
    QTemporaryDir dir;
    Picture t = Picture::Create(64, 48);
    std::fill_n(t.Pixels(), t.PixelCount(), 0u);  // nothing
    for (int x = 32; x < 64; ++x)
        for (int y = 0; y < 48; ++y) t.Row(y)[x] = 0x80000000u;  // black at half opacity
    const QString path = dir.filePath("t.jpg");
    ASSERT_EQ(WritePicture(t, path, ImageEncoderId::Jpeg, 95), Status::Ok);
    const QImage back = ReadBack(path);
    EXPECT_NEAR(qRed(back.pixel(8, 24)), 255, 3);
    EXPECT_NEAR(qRed(back.pixel(50, 24)), 127, 4);
}

TEST(WritePicture, PngInMemoryIsTheFileBytes) {
    QTemporaryDir dir;
    const Picture p = MakeTestPicture(120, 80, true);
    QByteArray bytes;
    ASSERT_EQ(EncodePngToMemory(p, bytes), Status::Ok);
    ASSERT_EQ(WritePicture(p, dir.filePath("m.png"), ImageEncoderId::Png, 100), Status::Ok);
    EXPECT_EQ(bytes, ReadAll(dir.filePath("m.png")));
    EXPECT_EQ(FirstDifference(p, QImage::fromData(bytes, "PNG")), "");
}

// Every filter, including the per-row choice that switches filters mid-image, decodes back to
// the same pixels; the thin shapes are where libpng drops filters that need a neighbour.
TEST(EncodePngToMemory, EveryTuningIsLossless) {
    const struct {
        int w, h;
        bool translucent;
    } shapes[] = {{97, 61, false}, {97, 61, true}, {1, 40, false}, {40, 1, true}, {1, 1, false}};
    for (auto filter : {PngTuning::Filter::None, PngTuning::Filter::Sub, PngTuning::Filter::Up,
                        PngTuning::Filter::Average, PngTuning::Filter::Paeth,
                        PngTuning::Filter::Adaptive, PngTuning::Filter::SubOrUp}) {
        for (const auto& shape : shapes) {
            SCOPED_TRACE(testing::Message()
                         << "filter " << static_cast<int>(filter) << ", " << shape.w << " x "
                         << shape.h << (shape.translucent ? " translucent" : ""));
            const Picture p = MakeTestPicture(shape.w, shape.h, shape.translucent);
            QByteArray bytes;
            ASSERT_EQ(EncodePngToMemory(p, bytes, PngTuning{filter, 1, Z_RLE}), Status::Ok);
            EXPECT_EQ(FirstDifference(p, QImage::fromData(bytes, "PNG")), "");
        }
    }
}

// Pixels no filter can predict, so that the data spans several IDAT chunks.
Picture MakeNoisePicture(int width, int height, bool translucent) {
    Picture p = Picture::Create(width, height);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            p.Row(y)[x] = translucent ? state : state | 0xFF000000u;
        }
    return p;
}

uint32_t BigEndian(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

// The file is walked chunk by chunk with zlib's own checks: every CRC, the order of the
// chunks, and one zlib stream across the IDAT chunks (its Adler-32 included) that holds one
// filter byte plus the row for every row.
TEST(EncodePngToMemory, ChunksAndStreamAreWellFormed) {
    const struct {
        int w, h;
        bool translucent, noise;
        int minIdat;
    } cases[] = {
        {400, 300, false, true, 2},  {400, 300, true, true, 2},
        {97, 61, true, false, 1},    {1, 1, false, false, 1},
        {2000, 700, false, true, 2}, {1500, 900, true, false, 1}};  // the last two: many bands
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.w << " x " << c.h << (c.translucent ? " translucent" : "")
                     << (c.noise ? " noise" : ""));
        const Picture p = c.noise ? MakeNoisePicture(c.w, c.h, c.translucent)
                                  : MakeTestPicture(c.w, c.h, c.translucent);
        QByteArray bytes;
        ASSERT_EQ(EncodePngToMemory(p, bytes), Status::Ok);
        ASSERT_TRUE(bytes.startsWith("\x89PNG\r\n\x1a\n"));
        QByteArray types;
        QByteArray stream;
        int idats = 0;
        for (qsizetype at = 8; at < bytes.size();) {
            ASSERT_LE(at + 12, bytes.size());
            const uint32_t size = BigEndian(bytes.constData() + at);
            ASSERT_LE(at + 12 + static_cast<qsizetype>(size), bytes.size());
            const QByteArray type = bytes.mid(at + 4, 4);
            const auto* typeAndData = reinterpret_cast<const Bytef*>(bytes.constData() + at + 4);
            EXPECT_EQ(crc32(0, typeAndData, size + 4), BigEndian(bytes.constData() + at + 8 + size))
                << type.data();
            if (type == "IDAT") {
                stream += bytes.mid(at + 8, size);
                ++idats;
            }
            if (!types.endsWith(type)) types += type;
            at += 12 + size;
        }
        EXPECT_EQ(types, "IHDRpHYsIDATIEND");
        EXPECT_GE(idats, c.minIdat);
        const uLong rowBytes = 1 + static_cast<uLong>(c.w) * (c.translucent ? 4 : 3);
        QByteArray raw(static_cast<qsizetype>(rowBytes * c.h + 1), '\0');
        uLongf rawSize = static_cast<uLongf>(raw.size());
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(raw.data()), &rawSize,
                             reinterpret_cast<const Bytef*>(stream.constData()),
                             static_cast<uLong>(stream.size())),
                  Z_OK);
        EXPECT_EQ(rawSize, rowBytes * c.h);
        EXPECT_EQ(FirstDifference(p, QImage::fromData(bytes, "PNG")), "");
    }
}

// A picture handed over band by band, copied into the scratch picture as a renderer would
// draw it; `failAt` makes the band holding that row fail as if memory ran out.
class CopiedBands : public PictureBands {
public:
    explicit CopiedBands(const Picture& p, int failAt = -1) : m_p(p), m_failAt(failAt) {}
    int Width() const override { return m_p.Width(); }
    int Height() const override { return m_p.Height(); }
    float DpiX() const override { return m_p.DpiX(); }
    float DpiY() const override { return m_p.DpiY(); }
    bool Opaque() const override {
        for (size_t i = 0; i < m_p.PixelCount(); ++i)
            if (m_p.Pixels()[i] >> 24 != 255) return false;
        return true;
    }
    const uint32_t* Rows(int first, int count, Picture& scratch) const override {
        if (first < 0 || count <= 0 || first + count > m_p.Height())
            ADD_FAILURE() << "rows outside the picture";
        if (m_failAt >= first && m_failAt < first + count) return nullptr;
        if (scratch.IsNull() || scratch.Height() < count)
            scratch = Picture::Create(m_p.Width(), count);
        std::copy(m_p.Row(first), m_p.Row(first) + static_cast<size_t>(count) * m_p.Width(),
                  scratch.Pixels());
        return scratch.Pixels();
    }

private:
    const Picture& m_p;
    int m_failAt;
};

// Streamed and whole-picture writes give the same bytes, and so does any number of threads.
TEST(WritePictureBands, SameBytesAsTheWholePictureWhateverTheThreads) {
    QTemporaryDir dir;
    const struct {
        int w, h;
        bool translucent;
    } shapes[] = {{2000, 700, false}, {1500, 900, true}, {301, 1, false}, {7, 3000, true}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(testing::Message()
                     << shape.w << " x " << shape.h << (shape.translucent ? " translucent" : ""));
        Picture p = MakeNoisePicture(shape.w, shape.h, shape.translucent);
        // Flat stretches too, so that the filters choose differently from row to row.
        for (int y = 0; y < shape.h; y += 5) std::fill(p.Row(y), p.Row(y) + shape.w, p.Row(y)[0]);
        p.SetResolution(150, 72);
        for (const ImageEncoderId encoder :
             {ImageEncoderId::Png, ImageEncoderId::Bmp, ImageEncoderId::Jpeg}) {
            const QString whole = dir.filePath("whole"), banded = dir.filePath("banded");
            ASSERT_EQ(WritePicture(p, whole, encoder, 90), Status::Ok);
            ASSERT_EQ(WritePictureBands(CopiedBands(p), banded, encoder, 90), Status::Ok);
            EXPECT_EQ(ReadAll(whole), ReadAll(banded));
            if (encoder != ImageEncoderId::Jpeg) {
                EXPECT_EQ(FirstDifference(p, ReadBack(banded)), "");
            }
        }
        // Both deflaters join their bands into one valid stream.
        for (const auto deflater : {PngTuning::Deflater::Isal, PngTuning::Deflater::Zlib}) {
            QByteArray one;
            PngTuning tuning = DefaultPngTuning();
            tuning.deflater = deflater;
            tuning.threads = 1;
            ASSERT_EQ(EncodePngToMemory(p, one, tuning), Status::Ok);
            EXPECT_EQ(FirstDifference(p, QImage::fromData(one, "PNG")), "");
            for (const int threads : {2, 3, 8}) {
                QByteArray many;
                tuning.threads = threads;
                ASSERT_EQ(EncodePngToMemory(p, many, tuning), Status::Ok);
                EXPECT_EQ(one, many) << threads << " threads";
            }
        }
    }
}

TEST(WritePictureBands, BandThatCannotBeMadeLeavesNoFile) {
    QTemporaryDir dir;
    const Picture p = MakeNoisePicture(2000, 700, false);
    for (const ImageEncoderId encoder :
         {ImageEncoderId::Png, ImageEncoderId::Bmp, ImageEncoderId::Jpeg}) {
        for (const int failAt : {0, 350, 699}) {
            const QString path = dir.filePath("f");
            EXPECT_EQ(WritePictureBands(CopiedBands(p, failAt), path, encoder),
                      Status::OutOfMemory);
            EXPECT_FALSE(QFileInfo::exists(path));
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0);
        }
    }
    EXPECT_EQ(WritePictureBands(CopiedBands(p), dir.filePath("g.gif"), ImageEncoderId::Gif),
              Status::UnknownImageFormat);
}

TEST(WritePicture, PictureWithoutPixelsWritesNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("none.png");
    int err = -1;
    for (ImageEncoderId id :
         {ImageEncoderId::Png, ImageEncoderId::Jpeg, ImageEncoderId::Gif, ImageEncoderId::Bmp}) {
        EXPECT_EQ(WritePicture(Picture(), path, id, 90, &err), Status::InvalidParameter);
        EXPECT_EQ(err, 0);
    }
    EXPECT_FALSE(QFile::exists(path));
    QByteArray bytes("x");
    EXPECT_EQ(EncodePngToMemory(Picture(), bytes), Status::InvalidParameter);
    EXPECT_TRUE(bytes.isEmpty());
}

// After a failed write the folder holds exactly what it held before, byte for byte.
class FailedWrite : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_existing = m_dir.filePath("keep.png");
        QFile f(m_existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old contents that must survive");
        f.close();
        m_before = ReadAll(m_existing);
    }
    void ExpectFolderUnchanged() {
        EXPECT_EQ(ReadAll(m_existing), m_before);
        EXPECT_EQ(QDir(m_dir.path())
                      .entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::System |
                                 QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("keep.png")} + m_extraEntries);
    }
    QTemporaryDir m_dir;
    QString m_existing;
    QByteArray m_before;
    QStringList m_extraEntries;
};

TEST_F(FailedWrite, PathIsADirectory) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("sub.png"));
    m_extraEntries = {QStringLiteral("sub.png")};
    m_extraEntries.sort();
    const Picture p = MakeTestPicture(50, 40);
    int err = 0;
    EXPECT_EQ(WritePicture(p, m_dir.filePath("sub.png"), ImageEncoderId::Png, 100, &err),
              Status::Win32Error);
    EXPECT_EQ(err, EISDIR);
    EXPECT_TRUE(QDir(m_dir.filePath("sub.png")).isEmpty());
    ExpectFolderUnchanged();
}

TEST_F(FailedWrite, PipeInTheFilesPlaceIsKept) {
    const QString pipe = m_dir.filePath("pipe.png");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    m_extraEntries = {QStringLiteral("pipe.png")};
    int err = 0;
    EXPECT_EQ(WritePicture(MakeTestPicture(50, 40), pipe, ImageEncoderId::Png, 100, &err),
              Status::Win32Error);
    EXPECT_EQ(err, EINVAL);
    EXPECT_TRUE(QFileInfo(pipe).exists() && !QFileInfo(pipe).isFile());
    ExpectFolderUnchanged();
}

TEST_F(FailedWrite, MissingFolder) {
    const Picture p = MakeTestPicture(50, 40);
    int err = 0;
    EXPECT_EQ(WritePicture(p, m_dir.filePath("nope/a.png"), ImageEncoderId::Png, 100, &err),
              Status::Win32Error);
    EXPECT_EQ(err, ENOENT);
    ExpectFolderUnchanged();
}

TEST_F(FailedWrite, ReadOnlyFolder) {
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    QFile probe(m_dir.filePath("probe"));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "permissions are not enforced for this user";
    }
    const Picture p = MakeTestPicture(50, 40);
    int err = 0;
    for (ImageEncoderId id : {ImageEncoderId::Png, ImageEncoderId::Jpeg}) {
        EXPECT_EQ(WritePicture(p, m_existing, id, 100, &err), Status::Win32Error);
        EXPECT_EQ(err, EACCES);
    }
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ExpectFolderUnchanged();
}

// Fails in the middle of the encoder's output, which permissions cannot show when the
// tests run as root: the file size limit makes the write past it fail with EFBIG.
TEST_F(FailedWrite, WriteFailsHalfway) {
    const Picture p = MakeTestPicture(600, 400);
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const struct {
        ImageEncoderId id;
    } cases[] = {{ImageEncoderId::Png},
                 {ImageEncoderId::Bmp},
                 {ImageEncoderId::Gif},
                 {ImageEncoderId::Jpeg}};
    for (const auto& c : cases) {
        int err = 0;
        EXPECT_EQ(WritePicture(p, m_existing, c.id, 100, &err), Status::Win32Error)
            << MimeTypeOfEncoder(c.id).toStdString();
        EXPECT_EQ(err, EFBIG) << MimeTypeOfEncoder(c.id).toStdString();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);
    ExpectFolderUnchanged();
}

}  // namespace
