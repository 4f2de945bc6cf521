#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>

#include "cli_options.h"
#include "image_settings.h"
#include "picture_writer.h"
#include "polygon_mesh.h"
#include "renderer.h"

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun RunCli(const QStringList& args, const QString& workingDir,
              const QString& program = QStringLiteral(FACETTA_CLI)) {
    QProcess p;
    p.setWorkingDirectory(workingDir);
    p.start(program, args);
    CliRun r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QStringList FilesIn(const QString& dir) {
    QStringList files =
        QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot);
    files.sort();
    return files;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every kind of bad input: one line on stderr, status 2, nothing written.
TEST(FacettaCli, BadInputFailsWithOneLineAndNoFile) {
    QTemporaryDir dir;
    QFile broken(dir.filePath("broken.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.png"));
    const QStringList before = FilesIn(dir.path());
    const QStringList small = {"--width", "300", "--height", "200", "-o", "out.png"};
    const QList<QStringList> cases = {
        {"--width", "abc"},
        {"--width", "99999999999"},
        {"--height", "-"},
        {"--mode", "9"},
        {"--mode", "-1"},
        {"--mode", "nonsense"},
        {"--back-color", "zzzzzz"},
        {"--back-color", "１２３４５６"},  // full-width digits read as zero
        {"--grad-color1", "٠١٢٣٤٥"},
        {"--back-image", "/dev/zero"},
        {"--width", "65536", "-o", "wide.gif"},
        {"--height", "70000", "-o", "tall.jpg"},
        {"--line-color", "#12345"},
        {"--poly-color", "1234567"},
        {"--back-image", "/missing.png"},
        {"--back-image", "broken.png"},
        {"--back-image", "."},
        {"-o", "missing/x.png"},
        {"-o", "folder.png"},
        {"--width", "2147483647"},
        {"--width", "100000", "--height", "100000"},
        {"--poly-size", "-5"},
        {"--poly-size", "100000"},
        {"--seed", "-1"},
        {"--seed", "4294967296"},
        {"--count", "0"},
        {"--span"},
        {"--set-wallpaper", "--count", "2"},
        {"--set-wallpaper", "--mesh-json"},
        {"--bogus"},
        {"--width"},
        {"stray"},
    };
    for (const QStringList& c : cases) {
        const QString label = c.join(' ');
        // The case's own options come last so that they override the small size.
        const CliRun r = RunCli(small + c, dir.path());
        EXPECT_EQ(r.exitCode, 2) << label.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << label.toStdString() << ": " << r.out.toStdString();
        EXPECT_TRUE(r.err.endsWith('\n') && r.err.count('\n') == 1 && r.err.size() > 20)
            << label.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(FilesIn(dir.path()), before) << label.toStdString();
    }
}

TEST(FacettaCli, ClampsLikeTheSettingsPaneAndSaysSo) {
    QTemporaryDir dir;
    const CliRun r = RunCli({"--width", "10", "--height", "-3", "--resolution", "1000", "--quality",
                             "0", "--seed", "5", "-o", "c.jpg"},
                            dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList notes = r.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(notes.size(), 4) << r.err.toStdString();
    EXPECT_TRUE(notes[0].contains("--width 10") && notes[0].contains("300"));
    EXPECT_TRUE(notes[1].contains("--height -3") && notes[1].contains("200"));
    EXPECT_TRUE(notes[2].contains("--resolution 1000") && notes[2].contains("300"));
    EXPECT_TRUE(notes[3].contains("--quality 0") && notes[3].contains("1"));
    EXPECT_TRUE(r.out.contains("c.jpg") && r.out.contains("seed 5")) << r.out.toStdString();
    QImageReader reader(dir.filePath("c.jpg"));
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage image = reader.read();
    EXPECT_EQ(image.size(), QSize(300, 200));
    EXPECT_EQ(std::lround(image.dotsPerMeterX() * 0.0254), 300);
}

TEST(FacettaCli, SameSeedSameFileOtherSeedOtherFile) {
    QTemporaryDir dir;
    const QStringList base = {"--width", "400", "--height", "300", "--line-opacity", "40"};
    ASSERT_EQ(RunCli(base + QStringList{"--seed", "77", "-o", "a.png"}, dir.path()).exitCode, 0);
    ASSERT_EQ(RunCli(base + QStringList{"--seed", "77", "-o", "b.png"}, dir.path()).exitCode, 0);
    ASSERT_EQ(RunCli(base + QStringList{"--seed", "78", "-o", "c.png"}, dir.path()).exitCode, 0);
    const QByteArray a = ReadAll(dir.filePath("a.png"));
    EXPECT_FALSE(a.isEmpty());
    EXPECT_EQ(a, ReadAll(dir.filePath("b.png")));
    EXPECT_NE(a, ReadAll(dir.filePath("c.png")));
}

// PNG and BMP are rendered and written in bands: the file must hold the very bytes of the whole
// picture rendered and written, on one thread or several.
TEST(FacettaCli, BandedFilesEqualTheWholePictureWritten) {
    QTemporaryDir dir;
    const QStringList args = {"--width",       "700",    "--height",      "1500",
                              "--mode",        "3",      "--seed",        "12",
                              "--back-color",  "336699", "--grad-color1", "ff8800",
                              "--grad-color2", "0044cc", "--resolution",  "150"};
    CliOptions o;
    o.settings = DefaultSettings();
    QString error, text;
    ASSERT_EQ(ParseCliArguments(QStringList{"facetta-cli"} + args, o, error, text), CliParse::Run)
        << error.toStdString();
    PolygonMesh mesh;
    ASSERT_EQ(GenerateMesh(o.settings, mesh, 12), MeshResult::Ok);
    Picture whole = RenderPicture(o.settings, mesh, nullptr);
    whole.SetResolution(150, 150);
    for (const auto& [ext, encoder] :
         {std::pair{"png", ImageEncoderId::Png}, std::pair{"bmp", ImageEncoderId::Bmp}}) {
        const QString want = dir.filePath(QStringLiteral("want.%1").arg(ext));
        ASSERT_EQ(WritePicture(whole, want, encoder, 100), Status::Ok);
        for (const char* threads : {"1", "3"}) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("FACETTA_THREADS", threads);
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(dir.path());
            p.start(QStringLiteral(FACETTA_CLI),
                    args + QStringList{"-o", QStringLiteral("got.%1").arg(ext)});
            ASSERT_TRUE(p.waitForFinished(120000));
            ASSERT_EQ(p.exitCode(), 0);
            EXPECT_EQ(ReadAll(dir.filePath(QStringLiteral("got.%1").arg(ext))), ReadAll(want))
                << ext << " on " << threads << " threads";
        }
    }
}

TEST(FacettaCli, FormatFollowsTheExtensionRule) {
    QTemporaryDir dir;
    const struct {
        const char* typed;
        const char* written;
        const char* format;
    } cases[] = {{"p.JPG", "p.JPG", "jpeg"},
                 {"p.jpeg", "p.jpeg.png", "png"},
                 {"p.gif", "p.gif", "gif"},
                 {"p.bmp", "p.bmp", "bmp"},
                 {"noext", "noext.png", "png"}};
    for (const auto& c : cases) {
        const CliRun r = RunCli({"--width", "300", "--height", "200", "-o", c.typed}, dir.path());
        ASSERT_EQ(r.exitCode, 0) << c.typed << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(c.written)) << r.out.toStdString();
        QImageReader reader(dir.filePath(c.written));
        EXPECT_EQ(reader.format(), QByteArray(c.format)) << c.typed;
        EXPECT_EQ(reader.size(), QSize(300, 200)) << c.typed;
    }
}

// Mode 7 by number or name, in every format; the SVG as rsvg-convert draws it is the PNG.
TEST(FacettaCli, TransparentModeAndSvgFiles) {
    QTemporaryDir dir;
    const QStringList common = {"--seed",          "9",  "--width",       "640", "--height", "360",
                                "--start-opacity", "20", "--end-opacity", "60"};
    for (const char* name : {"t.png", "t.gif", "t.jpg", "t.bmp"}) {
        const CliRun r = RunCli(common + QStringList{"--mode", "7", "-o", name}, dir.path());
        ASSERT_EQ(r.exitCode, 0) << name << r.err.toStdString();
    }
    const CliRun r = RunCli(
        common + QStringList{"--mode", "Transparent", "--count", "2", "-o", "t.svg"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("t-001.svg")) &&
                QFile::exists(dir.filePath("t-002.svg")));
    EXPECT_EQ(RunCli(common + QStringList{"--mode", "8", "-o", "x.png"}, dir.path()).exitCode, 2);

    const QImage png = QImage(dir.filePath("t.png")).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(png.size(), QSize(640, 360));
    // A pixel nothing covers (a bare quarter of a cell cut both ways) and one a triangle does.
    QPoint bare(-1, -1), covered(-1, -1);
    for (int y = 0; y < 360; ++y)
        for (int x = 0; x < 640; ++x) {
            if (qAlpha(png.pixel(x, y)) == 0) bare = QPoint(x, y);
            if (qAlpha(png.pixel(x, y)) > 40) covered = QPoint(x, y);
        }
    ASSERT_NE(bare.x(), -1);
    ASSERT_NE(covered.x(), -1);
    const QImage gif = QImage(dir.filePath("t.gif")).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(gif.pixel(bare)), 0);
    EXPECT_EQ(qAlpha(gif.pixel(covered)), 255);
    const QImage jpg = QImage(dir.filePath("t.jpg"));
    EXPECT_FALSE(jpg.hasAlphaChannel());
    EXPECT_GE(qGreen(jpg.pixel(bare)), 240);  // white where nothing covers
    const QImage bmp = QImage(dir.filePath("t.bmp")).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(bmp.pixel(bare), png.pixel(bare));
    EXPECT_EQ(bmp.pixel(covered), png.pixel(covered));

    const QString rsvg = QStandardPaths::findExecutable(QStringLiteral("rsvg-convert"));
    ASSERT_FALSE(rsvg.isEmpty()) << "rsvg-convert (Debian package librsvg2-bin) is needed";
    ASSERT_EQ(QProcess::execute(rsvg, {dir.filePath("t-001.svg"), "-o", dir.filePath("svg.png")}),
              0);
    const QImage drawn =
        QImage(dir.filePath("svg.png")).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage ours = png.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(drawn.size(), ours.size());
    double sum = 0;
    for (int y = 0; y < 360; ++y)
        for (int x = 0; x < 640; ++x)
            for (int sh = 0; sh < 32; sh += 8)
                sum += std::abs(int((drawn.pixel(x, y) >> sh) & 0xFF) -
                                int((ours.pixel(x, y) >> sh) & 0xFF));
    EXPECT_LE(sum / (640.0 * 360 * 4), 1.0);
}

TEST(FacettaCli, CountWritesNumberedFilesWithAProgressLineEach) {
    QTemporaryDir dir;
    const CliRun r =
        RunCli({"--width", "300", "--height", "200", "--count", "3", "-o", "out.png"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(FilesIn(dir.path()), (QStringList{"out-001.png", "out-002.png", "out-003.png"}));
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(lines[i].contains(QStringLiteral("out-00%1.png").arg(i + 1)))
            << lines[i].toStdString();
        EXPECT_TRUE(lines[i].contains(QStringLiteral("[%1/3]").arg(i + 1)))
            << lines[i].toStdString();
        EXPECT_EQ(QImageReader(dir.filePath(QStringLiteral("out-00%1.png").arg(i + 1))).size(),
                  QSize(300, 200));
    }
}

TEST(FacettaCli, MeshJsonIsTheMeshOfTheSeed) {
    QTemporaryDir dir;
    const CliRun r = RunCli({"--mesh-json", "--seed", "1234"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(FilesIn(dir.path()).isEmpty());
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &parseError);
    ASSERT_EQ(parseError.error, QJsonParseError::NoError) << parseError.errorString().toStdString();
    const QJsonObject o = doc.object();

    PolygonMesh mesh;
    ASSERT_EQ(GenerateMesh(DefaultSettings(), mesh, 1234), MeshResult::Ok);
    EXPECT_EQ(o["seed"].toInteger(), 1234);
    EXPECT_EQ(o["cols"].toInt(), mesh.nCols);
    EXPECT_EQ(o["rows"].toInt(), mesh.nRows);
    EXPECT_EQ(o["cellWidth"].toInt(), mesh.nCellWidth);
    EXPECT_EQ(o["cellHeight"].toInt(), mesh.nCellHeight);
    const QJsonArray vertices = o["vertices"].toArray();
    const QJsonArray triangles = o["triangles"].toArray();
    ASSERT_EQ(vertices.size(), mesh.nVertexCount);
    ASSERT_EQ(triangles.size(), mesh.nTriangleCount);
    ASSERT_GT(triangles.size(), 0);
    for (qsizetype i : {qsizetype{0}, vertices.size() / 2, vertices.size() - 1}) {
        const QJsonArray v = vertices[i].toArray();
        const MeshVertex& m = mesh.pVertices[static_cast<size_t>(i)];
        EXPECT_EQ(v, (QJsonArray{m.x, m.y, m.homeX, m.homeY})) << i;
    }
    for (qsizetype i : {qsizetype{0}, triangles.size() - 1}) {
        const MeshTriangle& t = mesh.pTriangles[static_cast<size_t>(i)];
        EXPECT_EQ(triangles[i].toArray(), (QJsonArray{t.a, t.b, t.c, t.alpha})) << i;
    }
}

TEST(FacettaCli, HelpAndVersion) {
    QTemporaryDir dir;
    const CliRun v = RunCli({"--version"}, dir.path());
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_EQ(v.out, "Facetta V1.0 (20170326)\n");
    const CliRun h = RunCli({"--help"}, dir.path());
    EXPECT_EQ(h.exitCode, 0);
    for (const char* option :
         {"--width", "--height", "--resolution", "--quality", "--mode", "--back-color",
          "--grad-color1", "--grad-color2", "--back-image", "--poly-size", "--poly-color",
          "--start-opacity", "--end-opacity", "--line-color", "--line-opacity", "--seed", "--count",
          "--output", "--mesh-json"})
        EXPECT_TRUE(h.out.contains(option)) << option;
    EXPECT_TRUE(FilesIn(dir.path()).isEmpty());
}

// The command loads no Qt Gui; calls that need it run the full build in its place, and where
// that build is missing they fail plainly.
TEST(FacettaCli, LightBuildHandsOverWhatNeedsTheFullOne) {
    QTemporaryDir dir;
    QProcess trace;  // what the dynamic loader would load, without running the program
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_TRACE_LOADED_OBJECTS"), QStringLiteral("1"));
    trace.setProcessEnvironment(env);
    trace.start(QStringLiteral(FACETTA_CLI), {});
    ASSERT_TRUE(trace.waitForFinished(60000));
    const QString libraries = QString::fromUtf8(trace.readAllStandardOutput());
    EXPECT_TRUE(libraries.contains("libQt6Core")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libQt6Gui")) << libraries.toStdString();

    const QString lone = dir.filePath(QStringLiteral("facetta-cli"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(FACETTA_CLI), lone));
    const QStringList small{"--width", "300", "--height", "200"};
    for (const char* name : {"a.png", "a.jpg", "a.gif", "a.bmp"}) {
        EXPECT_EQ(RunCli(small + QStringList{"-o", name}, dir.path(), lone).exitCode, 0) << name;
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(name))) << name;
    }
    const QStringList needFull[] = {
        {"-o", "c.svg"}, {"--back-image", "a.png", "-o", "d.png"}, {"--set-wallpaper"}};
    for (const QStringList& args : needFull) {
        const CliRun r = RunCli(small + args, dir.path(), lone);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("facetta-cli: cannot run \"")) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("c.svg")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("d.png")));
}

// Parsing without the process: values reach the record, last one wins, names work.
TEST(ParseCliArguments, ValuesReachTheRecord) {
    CliOptions o;
    o.settings = DefaultSettings();
    QString error, text;
    ASSERT_EQ(ParseCliArguments({"facetta-cli", "--mode", "TOP-middle-bottom", "--back-color",
                                 "#FF8000", "--poly-color", "0a0B0c", "--start-opacity", "-10",
                                 "--end-opacity", "150", "--width", "640", "--width", "800",
                                 "--back-image", "/tmp/x.png", "--seed", "4294967295"},
                                o, error, text),
              CliParse::Run)
        << error.toStdString();
    EXPECT_EQ(o.settings.nBackMode, kBackTopMiddleBottom);
    EXPECT_EQ(o.settings.crBackColor, RGBColor(0xFF, 0x80, 0x00));
    EXPECT_EQ(o.settings.crPolyColor, RGBColor(0x0A, 0x0B, 0x0C));
    EXPECT_EQ(o.settings.nStartOpacity, -10);
    EXPECT_EQ(o.settings.nEndOpacity, 150);
    EXPECT_EQ(o.settings.nWidth, 800);
    EXPECT_EQ(o.settings.BackImagePath(), u"/tmp/x.png");
    EXPECT_EQ(o.seed, 4294967295u);
    EXPECT_TRUE(o.colorsGiven[0]);
    EXPECT_FALSE(o.colorsGiven[1]);
    EXPECT_TRUE(o.notes.isEmpty());
}

TEST(NumberedPath, NumberGoesBeforeTheExtension) {
    EXPECT_EQ(NumberedPath("out.png", 0, 1), "out.png");
    EXPECT_EQ(NumberedPath("out.png", 0, 3), "out-001.png");
    EXPECT_EQ(NumberedPath("/a.b/c.jpeg.png", 11, 12), "/a.b/c.jpeg-012.png");
    EXPECT_EQ(NumberedPath("x.JPG", 1233, 1234), "x-1234.JPG");
}

}  // namespace
