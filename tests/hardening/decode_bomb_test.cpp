// Background pictures from hostile files: tiny files that declare enormous pictures are
// refused without taking the memory they ask for, and every format Qt reads still decodes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "bomb_files.h"
#include "picture_image.h"
#include "process_runner.h"
#include "sanitizer_build.h"

namespace {

class DecodeBombs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    // Decoded in a process of its own; with a frame as the program and the CLI decode.
    ProcessResult Probe(const QString& name, const QByteArray& bytes,
                        const std::vector<std::string>& frame = {}) {
        std::vector<std::string> argv{"/usr/bin/timeout", "60", DECODE_PROBE,
                                      QFile::encodeName(Write(name, bytes)).toStdString()};
        argv.insert(argv.end(), frame.begin(), frame.end());
        return RunProcess(argv);
    }

    QTemporaryDir m_dir;
};

TEST_F(DecodeBombs, EnormousDeclaredSizesAreRefusedWithBoundedMemory) {
    QImage small(40, 30, QImage::Format_ARGB32);
    small.fill(0x80204060);
    const ProcessResult baseline = Probe("small.png", EncodeImage(small, "png"));
    ASSERT_TRUE(baseline.started);
    ASSERT_EQ(baseline.exitCode, 0) << baseline.out;
    ASSERT_NE(baseline.out.find("decoded: 40x30\n"), std::string::npos) << baseline.out;

    const struct {
        const char* name;
        QByteArray bytes;
    } bombs[] = {
        {"png_100000_square.png", PngDeclaring(100000, 100000)},
        {"png_int_max.png", PngDeclaring(0x7FFFFFFF, 0x7FFFFFFF)},
        {"png_wide_strip.png", PngDeclaring(0x7FFFFFFF, 1)},
        {"png_beyond_limit.png", PngDeclaring(20000, 20000)},  // 4e8 pixels > 2^28
        {"gif_max_screen.gif", GifDeclaring(65535, 65535, 65535, 65535)},
        {"gif_small_screen_huge_frame.gif", GifDeclaring(1, 1, 65535, 65535)},
        {"gif_huge_screen_small_frame.gif", GifDeclaring(65535, 65535, 1, 1)},
        {"jpeg_max.jpg", JpegDeclaring(65535, 65535)},
        {"bmp_int_max.bmp", BmpDeclaring(0x7FFFFFFF, 0x7FFFFFFF)},
        {"bmp_top_down_int_min.bmp", BmpDeclaring(0x7FFFFFFF, INT32_MIN)},
        {"bmp_wide.bmp", BmpDeclaring(0x40000000, 1)},
        {"icns_huge_entry.icns", IcnsClaimingHugeEntry()},
    };
    for (const auto& bomb : bombs) {
        SCOPED_TRACE(bomb.name);
        ASSERT_FALSE(bomb.bytes.isEmpty());
        EXPECT_LT(bomb.bytes.size(), 4096);
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = Probe(QString::fromLatin1(bomb.name), bomb.bytes);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        // For the record only, never asserted: how long the whole probe process took.
        std::printf("  %-34s %5lld ms, peak %ld KiB (baseline %ld KiB)\n", bomb.name,
                    static_cast<long long>(ms.count()), r.maxRssKiB, baseline.maxRssKiB);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.signal, 0) << r.out;
        EXPECT_EQ(r.exitCode, 0) << r.out;
        // Refused, or only the little that is really there (a frame cut to its screen, the
        // icon beside the bogus entry).
        int w = 0, h = 0;
        const size_t at = r.out.find("decoded: ");
        const bool refused = r.out.find("decoded: none") != std::string::npos;
        const bool small = at != std::string::npos &&
                           std::sscanf(r.out.c_str() + at, "decoded: %dx%d", &w, &h) == 2 &&
                           w > 0 && h > 0 && w * h <= 256;
        EXPECT_TRUE(refused || small) << r.out;
#ifndef FACETTA_UNDER_ASAN
        // (AddressSanitizer writes shadow memory for every allocation, even one never used,
        // such as the icns reader's buffer for the claimed length.)
        EXPECT_LT(r.maxRssKiB - baseline.maxRssKiB, 64 * 1024)
            << "peak " << r.maxRssKiB << " KiB against " << baseline.maxRssKiB << " KiB";
#endif
    }
}

// Small files whose pictures would take gigabytes or many seconds: an SVG compressed a
// thousandfold, tiny XBM, SVG, JPEG and TGA files declaring 16384 x 16384, a complete 16-bit PNG
// of 2^26 pixels. For a 1920 x 1080 frame each is refused or decoded no larger than the frame
// needs, in bounded memory.
TEST_F(DecodeBombs, CraftedBackgroundsAreRefusedOrDecodedReduced) {
    const std::vector<std::string> frame{"1920", "1080"};
    QImage small(40, 30, QImage::Format_ARGB32);
    small.fill(0x80204060);
    const ProcessResult baseline = Probe("small.png", EncodeImage(small, "png"), frame);
    ASSERT_NE(baseline.out.find("decoded: 40x30\n"), std::string::npos) << baseline.out;

    const struct {
        const char* name;
        QByteArray bytes;
        const char* expected;  // what must come out
    } bombs[] = {
        {"inflates_256_mib.svgz", SvgzInflatingTo(qint64{256} << 20), "decoded: none (too large)"},
        {"declares_16384.svg", SvgDeclaring(16384, 16384), "decoded: 1920x1920"},
        {"declares_16384.xbm", XbmDeclaring(16384, 16384), "decoded: none"},
        {"declares_16384.jpg", JpegDeclaring(16384, 16384), "decoded: none"},
        {"declares_8192_50_bytes.tga", TgaDeclaring(8192, 8192, false), "decoded: none"},
        {"declares_4096_rle.tga", TgaDeclaring(4096, 4096, true), "decoded: none"},
        {"zeros_8192_16bit.png", Png16Zeros(8192, 8192), "decoded: none (too large)"},
    };
    for (const auto& bomb : bombs) {
        SCOPED_TRACE(bomb.name);
        ASSERT_FALSE(bomb.bytes.isEmpty());
        EXPECT_LT(bomb.bytes.size(), 4 << 20);
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = Probe(QString::fromLatin1(bomb.name), bomb.bytes, frame);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        std::printf("  %-24s %8lld B %5lld ms, peak %ld KiB (baseline %ld KiB)\n", bomb.name,
                    static_cast<long long>(bomb.bytes.size()), static_cast<long long>(ms.count()),
                    r.maxRssKiB, baseline.maxRssKiB);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.signal, 0) << r.out;
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_NE(r.out.find(bomb.expected), std::string::npos) << r.out;
#ifndef FACETTA_UNDER_ASAN
        EXPECT_LT(r.maxRssKiB - baseline.maxRssKiB, 128 * 1024)
            << "peak " << r.maxRssKiB << " KiB against " << baseline.maxRssKiB << " KiB";
#endif
    }
}

// A real picture larger than the frame needs comes out at the size the cover rule draws it:
// JPEG decoded reduced, PNG reduced after decoding, SVG rendered at that size.
TEST_F(DecodeBombs, LargePicturesComeOutAtTheSizeTheFrameNeeds) {
    QImage large(4000, 3000, QImage::Format_RGB32);
    for (int y = 0; y < large.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(large.scanLine(y));
        for (int x = 0; x < large.width(); ++x) row[x] = qRgb(x % 256, y % 256, (x + y) % 256);
    }
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"large.jpg", EncodeImage(large, "jpeg")},
        {"large.png", EncodeImage(large, "png")},
        {"large.svg", SvgDeclaring(4000, 3000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Write(QString::fromLatin1(c.name), c.bytes);
        // 1920 x 1080 covered by 4000 x 3000: scale 0.48, drawn at 1920 x 1440.
        const DecodedPicture reduced = DecodeBackgroundPicture(path, 1920, 1080);
        ASSERT_TRUE(reduced.picture.has_value());
        EXPECT_TRUE(reduced.reduced);
        EXPECT_EQ(reduced.picture->Width(), 1920);
        EXPECT_EQ(reduced.picture->Height(), 1440);
        // A frame the picture does not cover at full size gets it whole.
        const DecodedPicture whole = DecodeBackgroundPicture(path, 5000, 3000);
        ASSERT_TRUE(whole.picture.has_value());
        EXPECT_FALSE(whole.reduced);
        EXPECT_EQ(whole.picture->Width(), 4000);
    }
}

// An SVG names outside files: a FIFO (by relative, absolute and file: paths), the process's
// stdin and terminal. None is opened (each would block the reader for ever): the SVG decodes
// without them. Bounded by `timeout`, so a regression fails instead of hanging the suite.
TEST_F(DecodeBombs, SvgLinksToOutsideFilesAreNotOpened) {
    const QString fifo = m_dir.filePath("pipe");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QByteArray absolute = QFile::encodeName(fifo);
    for (const QByteArray& href : {QByteArray("pipe"), absolute, "file://" + absolute,
                                   QByteArray("/dev/stdin"), QByteArray("/dev/tty")}) {
        SCOPED_TRACE(href.toStdString());
        const ProcessResult r = Probe(QStringLiteral("links.svg"), SvgLinking(href));
        EXPECT_EQ(r.signal, 0) << r.out;
        EXPECT_EQ(r.exitCode, 0) << r.out;  // 124 from timeout when the reader hung
        EXPECT_NE(r.out.find("decoded: 32x16"), std::string::npos) << r.out;
    }
}

// Links to readable pictures are not followed either, while pictures embedded as data: are
// drawn; the same through a compressed SVG.
TEST_F(DecodeBombs, SvgDrawsEmbeddedPicturesOnly) {
    QImage green(16, 16, QImage::Format_ARGB32);
    green.fill(0xFF00FF00);
    const QByteArray png = EncodeImage(green, "png");
    const QString linked = Write(QStringLiteral("green.png"), png);
    const QByteArray dataUrl = "data:image/png;base64," + png.toBase64();
    const struct {
        const char* name;
        QByteArray bytes;
        uint32_t expected;
    } cases[] = {
        {"outside.svg", SvgLinking(QFile::encodeName(linked)), 0xFFFF0000u},
        {"embedded.svg", SvgLinking(dataUrl), 0xFF00FF00u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Picture> picture =
            DecodePictureFile(Write(QString::fromLatin1(c.name), c.bytes));
        ASSERT_TRUE(picture.has_value());
        ASSERT_EQ(picture->Width(), 32);
        EXPECT_EQ(picture->Pixel(4, 8),
                  c.expected);  // (the second, SVG 2 href, is not drawn by every reader)
        if (c.expected == 0xFFFF0000u) {
            EXPECT_EQ(picture->Pixel(20, 8), c.expected);
        }
    }
    // Compressed: a small SVG inflates and decodes.
    const std::optional<Picture> packed =
        DecodePictureFile(Write(QStringLiteral("small.svgz"), SvgzInflatingTo(4096)));
    ASSERT_TRUE(packed.has_value());
    EXPECT_EQ(packed->Width(), 64);
    EXPECT_EQ(packed->Pixel(10, 10), 0xFF00FF00u);
}

// Where the memory a broken file claims cannot be had (a small machine, a strict overcommit
// policy; here an address-space limit of 1 GiB), the claim must end in "no picture", not in
// the program being terminated by the reader's failed allocation.
TEST_F(DecodeBombs, UnaffordableClaimsGiveNoPicture) {
#ifdef FACETTA_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#else
    if (access("/usr/bin/prlimit", X_OK) != 0)
        GTEST_SKIP() << "no prlimit to limit the address space";
    auto probeLimited = [this](const char* name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        return RunProcess({"/usr/bin/prlimit", "--as=1073741824", DECODE_PROBE,
                           QFile::encodeName(path).toStdString()});
    };
    QImage small(40, 30, QImage::Format_ARGB32);
    small.fill(0x80204060);
    const ProcessResult control = probeLimited("small.png", EncodeImage(small, "png"));
    ASSERT_NE(control.out.find("decoded: 40x30\n"), std::string::npos) << control.out;
    for (const auto& [name, bytes] : {std::pair{"claim_1_3_gb.icns", IcnsClaimingHugeEntry()},
                                      std::pair{"claim_8_gb.icns", IcnsWithZeroLengthEntry()}}) {
        SCOPED_TRACE(name);
        const ProcessResult r = probeLimited(name, bytes);
        EXPECT_EQ(r.signal, 0) << r.out;
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_NE(r.out.find("decoded: "), std::string::npos) << r.out;
    }
#endif
}

// Every format Qt has a reader for, from the fuzzer's committed seeds (tiny pictures we made);
// the hostile seeds ("bomb_...") are refused or come out small.
TEST(DecodeFormats, EverySeedFormatDecodes) {
    const QDir seeds(QStringLiteral(FACETTA_SOURCE_DIR "/fuzz/seeds/fuzz_decode"));
    const QStringList files = seeds.entryList(QDir::Files);
    ASSERT_GE(files.size(), 20);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        const std::optional<Picture> picture = DecodePictureFile(seeds.filePath(name), 1 << 20);
        if (name.startsWith(QStringLiteral("bomb_"))) {
            EXPECT_TRUE(!picture || picture->PixelCount() <= (1u << 20));
            continue;
        }
        ASSERT_TRUE(picture.has_value());
        EXPECT_GT(picture->Width(), 0);
        EXPECT_LE(picture->Width(), 64);
        EXPECT_LE(picture->Height(), 64);
    }
}

}  // namespace
