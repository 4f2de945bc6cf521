// facetta-cli: makes pictures without a window.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "cli_options.h"
#include "image_encoder.h"
#include "image_settings.h"
#include "picture_image.h"
#include "picture_writer.h"
#include "polygon_mesh.h"
#include "random.h"
#include "renderer.h"

namespace {

constexpr int kExitFailure = 2;

int Fail(const QString& message) {
    std::fprintf(stderr, "facetta-cli: %s\n", message.toUtf8().constData());
    return kExitFailure;
}

// The default colours come from the seed rather than the clock, so that the seed alone
// makes the same picture again.
void PickDefaultColors(CliOptions& o, uint32_t seed) {
    SeedRandom(seed);
    const COLORREF c1 = kPalette[static_cast<size_t>(RandomBetween(0, kPaletteSize - 1))];
    COLORREF c2 = c1;
    while (c2 == c1) c2 = kPalette[static_cast<size_t>(RandomBetween(0, kPaletteSize - 1))];
    if (!o.colorsGiven[0]) o.settings.crBackColor = c1;
    if (!o.colorsGiven[1]) o.settings.crGradColor1 = c1;
    if (!o.colorsGiven[2]) o.settings.crGradColor2 = c2;
}

QString MeshError(MeshResult r, const ImageSettings& s) {
    if (r == MeshResult::OutOfMemory)
        return QStringLiteral("a %1 x %2 picture needs a mesh too large to hold").arg(s.nWidth).arg(s.nHeight);
    return QStringLiteral("no mesh can be made with polygon size %1 on a %2 x %3 picture")
        .arg(s.nPolySize)
        .arg(s.nWidth)
        .arg(s.nHeight);
}

// Written in pieces: a mesh near the vertex limit would make gigabytes of text.
void PrintMeshJson(const PolygonMesh& mesh) {
    std::string out;
    auto flushIfLarge = [&out] {
        if (out.size() < (1u << 20)) return;
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    };
    out += "{\"seed\":" + std::to_string(mesh.nSeed) + ",\"cols\":" + std::to_string(mesh.nCols) +
           ",\"rows\":" + std::to_string(mesh.nRows) + ",\"cellWidth\":" + std::to_string(mesh.nCellWidth) +
           ",\"cellHeight\":" + std::to_string(mesh.nCellHeight) + ",\"vertices\":[";
    for (size_t i = 0; i < mesh.pVertices.size(); ++i) {
        const MeshVertex& v = mesh.pVertices[i];
        if (i) out += ',';
        out += '[' + std::to_string(v.x) + ',' + std::to_string(v.y) + ',' + std::to_string(v.homeX) + ',' +
               std::to_string(v.homeY) + ']';
        flushIfLarge();
    }
    out += "],\"triangles\":[";
    for (size_t i = 0; i < mesh.pTriangles.size(); ++i) {
        const MeshTriangle& t = mesh.pTriangles[i];
        if (i) out += ',';
        out += '[' + std::to_string(t.a) + ',' + std::to_string(t.b) + ',' + std::to_string(t.c) + ',' +
               std::to_string(t.alpha) + ']';
        flushIfLarge();
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

QString ErrnoText(int err) { return err ? QString::fromLocal8Bit(std::strerror(err)) : QStringLiteral("unknown error"); }

}  // namespace

int main(int argc, char* argv[]) {
    // Image format plugins need an application object, not a display.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("facetta-cli"));
    ConfigurePictureMemoryLimit();

    CliOptions o;
    o.settings = DefaultSettings();
    QString error;
    QString text;
    switch (ParseCliArguments(QCoreApplication::arguments(), o, error, text)) {
        case CliParse::Error: return Fail(error);
        case CliParse::Exit0: std::fputs(text.toUtf8().constData(), stdout); return 0;
        case CliParse::Run: break;
    }
    for (const QString& note : o.notes) std::fprintf(stderr, "facetta-cli: %s\n", note.toUtf8().constData());
    ImageSettings& s = o.settings;

    std::optional<Picture> back;
    if (!o.backImage.isEmpty()) {
        if (!QFileInfo(o.backImage).isFile()) return Fail(QStringLiteral("background picture \"%1\" does not exist").arg(o.backImage));
        // The image readers' own complaints would only add lines to the one that says why.
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        DecodedPicture decoded = DecodeBackgroundPicture(o.backImage, s.nWidth, s.nHeight);
        qInstallMessageHandler(previous);
        if (decoded.error == DecodeError::TooLarge)
            return Fail(QStringLiteral("background picture \"%1\" is too large to decode within the memory limit")
                            .arg(o.backImage));
        if (decoded.error == DecodeError::NotAFile)
            return Fail(QStringLiteral("background picture \"%1\" is not a regular file").arg(o.backImage));
        back = std::move(decoded.picture);
        if (!back) return Fail(QStringLiteral("background picture \"%1\" cannot be decoded").arg(o.backImage));
    }

    if (o.meshJson) {
        const uint32_t seed = o.seed ? *o.seed : FreshSeed();
        PolygonMesh mesh;
        const MeshResult r = GenerateMesh(s, mesh, seed);
        if (r != MeshResult::Ok) return Fail(MeshError(r, s));
        PrintMeshJson(mesh);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return Fail(QStringLiteral("cannot write the mesh to standard output: %1").arg(ErrnoText(errno)));
        return 0;
    }

    const PictureFilePath target = ResolvePictureFilePath(o.output);
    ImageEncoderId encoder{};
    if (FindImageEncoder(target.mimeType, &encoder) < 0)
        return Fail(QStringLiteral("no encoder for %1").arg(target.mimeType));
    // Fail before the work when the folder is plainly not there.
    const QFileInfo folder(QFileInfo(target.path).absolutePath());
    if (!folder.isDir()) return Fail(QStringLiteral("cannot write \"%1\": folder \"%2\" does not exist").arg(target.path, folder.filePath()));

    // Refuse a picture that cannot be held before building its mesh: for such sizes the mesh
    // alone can take seconds and gigabytes, all for nothing.
    if (!Picture::Fits(s.nWidth, s.nHeight))
        return Fail(QStringLiteral("a %1 x %2 picture is too large to make (status %3)")
                        .arg(s.nWidth)
                        .arg(s.nHeight)
                        .arg(static_cast<int>(Status::OutOfMemory)));

    for (int i = 0; i < o.count; ++i) {
        const uint32_t seed = o.seed ? *o.seed + static_cast<uint32_t>(i) : FreshSeed();
        PickDefaultColors(o, seed);
        PolygonMesh mesh;
        const MeshResult r = GenerateMesh(s, mesh, seed);
        if (r != MeshResult::Ok) return Fail(MeshError(r, s));
        Picture picture = RenderPicture(s, mesh, back ? &*back : nullptr);
        if (picture.IsNull())
            return Fail(QStringLiteral("a %1 x %2 picture is too large to make (status %3)")
                            .arg(s.nWidth)
                            .arg(s.nHeight)
                            .arg(static_cast<int>(picture.LastStatus())));
        picture.SetResolution(static_cast<float>(s.nResolution), static_cast<float>(s.nResolution));
        const QString path = NumberedPath(target.path, i, o.count);
        int osError = 0;
        const Status status = WritePicture(picture, path, encoder, s.nQuality, &osError);
        if (status != Status::Ok) {
            return Fail(QStringLiteral("cannot write \"%1\": %2 (error %3/%4)")
                            .arg(path, status == Status::Win32Error ? ErrnoText(osError) : QStringLiteral("encoder failed"))
                            .arg(static_cast<int>(status))
                            .arg(osError));
        }
        const QString progress = o.count > 1 ? QStringLiteral(" [%1/%2]").arg(i + 1).arg(o.count) : QString();
        std::printf("Wrote %s (%d x %d, seed %u)%s\n", QDir::toNativeSeparators(path).toUtf8().constData(), s.nWidth,
                    s.nHeight, seed, progress.toUtf8().constData());
        std::fflush(stdout);
    }
    return 0;
}
