// Sizes up to the 32-bit limit end in "no picture" with a clear message, never an overflow,
// a crash or the OS killing the process; and a large picture is made and written within a
// small multiple of its own bytes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bomb_files.h"
#include "polygon_mesh.h"
#include "process_runner.h"
#include "renderer.h"
#include "sanitizer_build.h"

namespace {

struct HugeSize {
    const char* width;
    const char* height;
    const char* polySize;  // nullptr: automatic
    bool meshToo;          // also ask for the mesh alone (--mesh-json)
};

// Every one of these is terabytes of pixels or a mesh beyond any memory. (The mesh of the
// 1000000 x 1000000 picture can be held, and printed: gigabytes of JSON, so not asked for.)
constexpr HugeSize kHugeSizes[] = {
    {"2147483647", "2147483647", nullptr, true}, {"2147483647", "200", nullptr, true},
    {"300", "2147483647", nullptr, true},        {"2147483647", "2147483647", "2147483647", true},
    {"2147483547", "200", "1000000000", true},  // a mesh of 2 x 1 cells, the picture too large
    {"1000000", "1000000", "200", false},        {"65536", "2147483647", "2147483647", true},
};

TEST(HugeSizes, CliRefusesWithAMessageAndWritesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const HugeSize& size : kHugeSizes) {
        const std::string label = std::string(size.width) + " x " + size.height + " cell " +
                                  (size.polySize ? size.polySize : "auto");
        SCOPED_TRACE(label);
        for (bool json : {false, true}) {
            if (json && !size.meshToo) continue;
            std::vector<std::string> args = {
                FACETTA_CLI,
                "--width",
                size.width,
                "--height",
                size.height,
                "--seed",
                "1",
                "-o",
                QFile::encodeName(dir.filePath("huge.png")).toStdString()};
            if (size.polySize) args.insert(args.end(), {"--poly-size", size.polySize});
            if (json) args.push_back("--mesh-json");
            const auto start = std::chrono::steady_clock::now();
            const ProcessResult r = RunProcess(args);
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            // For the record only, never asserted.
            std::printf("  %-44s %s %5lld ms, peak %ld KiB\n", label.c_str(),
                        json ? "json " : "write", static_cast<long long>(ms.count()), r.maxRssKiB);
            ASSERT_TRUE(r.started);
            EXPECT_EQ(r.signal, 0) << r.out;
            if (json && r.exitCode == 0) {
                // A mesh that can be held is printed even when its picture could not be.
                EXPECT_EQ(r.out.rfind("{\"seed\":1,", 0), 0u) << r.out.substr(0, 200);
                continue;
            }
            EXPECT_EQ(r.exitCode, 2) << r.out;
            const bool explained = r.out.find("too large to make") != std::string::npos ||
                                   r.out.find("mesh too large to hold") != std::string::npos ||
                                   r.out.find("no mesh can be made") != std::string::npos;
            EXPECT_TRUE(explained) << r.out;
            EXPECT_TRUE(QDir(dir.path()).isEmpty());
            // Refused before anything large is built (a mesh for the 1000000 x 1000000
            // picture alone would take over a gigabyte).
            EXPECT_LT(r.maxRssKiB, 512 * 1024);
        }
    }
}

// A background picture that declares an enormous size, or inflates to one, is refused before
// it is decoded, in one line saying why.
TEST(HugeSizes, CliRefusesABombAsBackgroundPicture) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* name;
        QByteArray bytes;
        const char* why;
    } bombs[] = {
        {"bomb.png", PngDeclaring(100000, 100000), "cannot be decoded"},
        {"bomb.svgz", SvgzInflatingTo(qint64{128} << 20),
         "too large to decode within the memory limit"},
    };
    for (const auto& b : bombs) {
        SCOPED_TRACE(b.name);
        const QString bomb = dir.filePath(QString::fromLatin1(b.name));
        {
            QFile f(bomb);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(b.bytes);
        }
        const ProcessResult r =
            RunProcess({FACETTA_CLI, "--width", "400", "--height", "300", "--back-image",
                        QFile::encodeName(bomb).toStdString(), "-o",
                        QFile::encodeName(dir.filePath("out.png")).toStdString()});
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_NE(r.out.find(b.why), std::string::npos) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_FALSE(QFile::exists(dir.filePath("out.png")));
#ifndef FACETTA_UNDER_ASAN
        EXPECT_LT(r.maxRssKiB, 256 * 1024);
#endif
    }
}

// The engine on its own: with the default memory cap, no size overflows or allocates.
TEST(HugeSizes, EngineGivesNoPicture) {
    const int32_t sides[] = {INT32_MAX, INT32_MAX - 100, 65536, 46341};
    for (int32_t w : sides) {
        for (int32_t h : sides) {
            ImageSettings s = DefaultSettings();
            s.nWidth = w;
            s.nHeight = h;
            for (int32_t poly : {0, 200, INT32_MAX}) {
                s.nPolySize = poly;
                PolygonMesh mesh;
                const MeshResult result = GenerateMesh(s, mesh, 5);
                if (result == MeshResult::Ok) {
                    EXPECT_LE(mesh.nVertexCount, kMaxMeshVertices);
                } else {
                    EXPECT_TRUE(mesh.IsEmpty());
                }
                // Only sizes beyond the 8 GiB default cap are asked for here.
                if (Picture::Fits(w, h)) continue;
                const Picture picture = RenderPicture(s, mesh, nullptr);
                EXPECT_TRUE(picture.IsNull()) << w << " x " << h;
                EXPECT_EQ(picture.LastStatus(), Status::OutOfMemory) << w << " x " << h;
            }
        }
    }
}

// 7680 x 4320 is 132.7 MB of pixels; making and writing it as PNG must stay under 2.5 times
// that. Sanitizers add their own shadow memory, so the figure means something only without.
TEST(PeakMemory, LargePngStaysWithinTwoAndAHalfPictures) {
#ifdef FACETTA_UNDER_ASAN
    GTEST_SKIP() << "peak memory is not meaningful under AddressSanitizer";
#else
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("uhd.png");
    const ProcessResult r =
        RunProcess({FACETTA_CLI, "--width", "7680", "--height", "4320", "--seed", "11",
                    "--line-opacity", "40", "-o", QFile::encodeName(path).toStdString()});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const double pictureKiB = 7680.0 * 4320.0 * 4.0 / 1024.0;
    std::printf("  peak %ld KiB = %.2f x the picture's %.0f KiB\n", r.maxRssKiB,
                r.maxRssKiB / pictureKiB, pictureKiB);
    EXPECT_LT(static_cast<double>(r.maxRssKiB), 2.5 * pictureKiB);
    EXPECT_GT(QFile(path).size(), 100000);
#endif
}

}  // namespace
