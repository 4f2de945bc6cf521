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

#include <unistd.h>

#include "bomb_files.h"
#include "picture_image.h"
#include "process_runner.h"
#include "sanitizer_build.h"

namespace {

class DecodeBombs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    ProcessResult Probe(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        return RunProcess({DECODE_PROBE, QFile::encodeName(path).toStdString()});
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
        const bool refused = r.out.find("decoded: none\n") != std::string::npos;
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

// Every format Qt has a reader for, from the fuzzer's committed seeds (tiny pictures we made).
TEST(DecodeFormats, EverySeedFormatDecodes) {
    const QDir seeds(QStringLiteral(FACETTA_SOURCE_DIR "/fuzz/seeds/fuzz_decode"));
    const QStringList files = seeds.entryList(QDir::Files);
    ASSERT_GE(files.size(), 20);
    for (const QString& name : files) {
        const std::optional<Picture> picture = DecodePictureFile(seeds.filePath(name));
        ASSERT_TRUE(picture.has_value()) << name.toStdString();
        EXPECT_GT(picture->Width(), 0);
        EXPECT_LE(picture->Width(), 17) << name.toStdString();
        EXPECT_LE(picture->Height(), 16) << name.toStdString();
    }
}

}  // namespace
