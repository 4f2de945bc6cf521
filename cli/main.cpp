// facetta-cli: makes pictures without a window.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "cli_options.h"
#include "image_encoder.h"
#include "image_settings.h"
#include "picture_memory.h"
#include "picture_writer.h"
#include "polygon_mesh.h"
#include "random.h"
#include "renderer.h"
#if FACETTA_CLI_LIGHT
#include <unistd.h>
#else
#include "picture_image.h"
#include "svg_writer.h"
#include "wallpaper.h"
#endif

namespace {

constexpr int kExitFailure = 2;

int Fail(const QString& message) {
    std::fprintf(stderr, "facetta-cli: %s\n", message.toUtf8().constData());
    return kExitFailure;
}

QString MeshError(MeshResult r, const ImageSettings& s) {
    if (r == MeshResult::OutOfMemory)
        return QStringLiteral("a %1 x %2 picture needs a mesh too large to hold")
            .arg(s.nWidth)
            .arg(s.nHeight);
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
           ",\"rows\":" + std::to_string(mesh.nRows) +
           ",\"cellWidth\":" + std::to_string(mesh.nCellWidth) +
           ",\"cellHeight\":" + std::to_string(mesh.nCellHeight) + ",\"vertices\":[";
    for (size_t i = 0; i < mesh.pVertices.size(); ++i) {
        const MeshVertex& v = mesh.pVertices[i];
        if (i) out += ',';
        out += '[' + std::to_string(v.x) + ',' + std::to_string(v.y) + ',' +
               std::to_string(v.homeX) + ',' + std::to_string(v.homeY) + ']';
        flushIfLarge();
    }
    out += "],\"triangles\":[";
    for (size_t i = 0; i < mesh.pTriangles.size(); ++i) {
        const MeshTriangle& t = mesh.pTriangles[i];
        if (i) out += ',';
        out += '[' + std::to_string(t.a) + ',' + std::to_string(t.b) + ',' + std::to_string(t.c) +
               ',' + std::to_string(t.alpha) + ']';
        flushIfLarge();
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// The picture rendered band by band as the encoder asks for rows: memory stays a few bands
// whatever the picture's size.
class RenderedBands : public PictureBands {
public:
    RenderedBands(const ImageSettings& s, const PolygonMesh& mesh, const Picture* back)
        : m_renderer(s, mesh, back),
          m_width(s.nWidth),
          m_height(s.nHeight),
          m_dpi(static_cast<float>(s.nResolution)) {}
    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    float DpiX() const override { return m_dpi; }
    float DpiY() const override { return m_dpi; }
    bool Opaque() const override { return true; }  // the first layer is an opaque fill
    const uint32_t* Rows(int first, int count, Picture& scratch) const override {
        // A row to spare: after the first band the PNG writer asks for the row above as well.
        if (scratch.IsNull() || scratch.Width() != m_width || scratch.Height() < count)
            scratch = Picture::Create(m_width, count + 1);
        if (scratch.IsNull() || !m_renderer.Render(first, count, scratch)) return nullptr;
        return scratch.Pixels();
    }

private:
    BandRenderer m_renderer;
    int m_width, m_height;
    float m_dpi;
};

QString ErrnoText(int err) {
    return err ? QString::fromLocal8Bit(std::strerror(err)) : QStringLiteral("unknown error");
}

int TooLarge(const ImageSettings& s, Status status) {
    return Fail(QStringLiteral("a %1 x %2 picture is too large to make (status %3)")
                    .arg(s.nWidth)
                    .arg(s.nHeight)
                    .arg(static_cast<int>(status)));
}

int CannotWrite(const QString& path, Status status, int osError, ImageEncoderId encoder) {
    return Fail(QStringLiteral("cannot write \"%1\": %2 (error %3/%4)")
                    .arg(path, WriteFailureText(path, status, osError, encoder))
                    .arg(static_cast<int>(status))
                    .arg(osError));
}

#if FACETTA_CLI_LIGHT
// This build writes PNG, BMP, GIF and JPEG pictures without a background picture. Whatever
// else needs Qt Gui or the desktop's libraries, so the full build does the whole call.
bool NeedsFullBuild(const CliOptions& o) {
    if (!o.backImage.isEmpty() || o.setWallpaper) return true;
    if (o.meshJson) return false;
    const PictureFilePath target = ResolvePictureFilePath(o.output);
    return target.IsSvg() || FindImageEncoder(target.mimeType, nullptr) < 0;
}

// Replaces this process with the full build, found beside this one (in the build tree) or
// where it is installed; returns only when it cannot be run.
int RunFullBuild(char* argv[]) {
    const QString here = QCoreApplication::applicationDirPath();
    const QString name = QStringLiteral("/facetta-cli-full");
    QString full = here + name;
    if (!QFileInfo(full).isFile())
        full = QDir::cleanPath(here + QStringLiteral("/" FACETTA_CLI_FULL_FROM_BIN) + name);
    const QByteArray path = QFile::encodeName(full);
    execv(path.constData(), argv);
    return Fail(QStringLiteral("cannot run \"%1\": %2").arg(full, ErrnoText(errno)));
}
#else
// Exit status 2 when the picture cannot be written or the desktop cannot be told; in the
// second case the picture stays and its path is shown.
int SetWallpaperFromCli(const Picture& picture, bool span, uint32_t seed) {
    WallpaperRequest request;
    request.bSpanned = span;
    const WallpaperResult r = SetWallpaper(picture, request);
    if (r.strPath.isEmpty())
        return Fail(QStringLiteral("cannot write the wallpaper picture: ") + r.strWriteError);
    const QByteArray path = QDir::toNativeSeparators(r.strPath).toUtf8();
    if (!r.bApplied) {
        std::fprintf(stderr,
                     "facetta-cli: cannot set the desktop background: desktop found: %s; %s.\n"
                     "facetta-cli: to do: %s.\n"
                     "facetta-cli: the picture is written: %s\n",
                     DesktopName(r.desktop).toUtf8().constData(), r.strFailure.toUtf8().constData(),
                     r.strAdvice.toUtf8().constData(), path.constData());
        return kExitFailure;
    }
    std::printf("Set the %s desktop background to %s (%d x %d, seed %u)\n",
                DesktopName(r.desktop).toUtf8().constData(), path.constData(), picture.Width(),
                picture.Height(), seed);
    std::fflush(stdout);
    return 0;
}
#endif

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
        case CliParse::Error:
            return Fail(error);
        case CliParse::Exit0:
            std::fputs(text.toUtf8().constData(), stdout);
            return 0;
        case CliParse::Run:
            break;
    }
#if FACETTA_CLI_LIGHT
    if (NeedsFullBuild(o)) return RunFullBuild(argv);
#endif
    for (const QString& note : o.notes)
        std::fprintf(stderr, "facetta-cli: %s\n", note.toUtf8().constData());
    ImageSettings& s = o.settings;

    std::optional<Picture> back;
#if !FACETTA_CLI_LIGHT
    if (!o.backImage.isEmpty()) {
        const QFileInfo backInfo(o.backImage);
        if (!backInfo.exists())
            return Fail(
                QStringLiteral("background picture \"%1\" does not exist").arg(o.backImage));
        if (backInfo.isDir())
            return Fail(QStringLiteral("background picture \"%1\" is a folder").arg(o.backImage));
        if (!backInfo.isFile()) {
            struct stat st {};
            const bool device = stat(QFile::encodeName(o.backImage).constData(), &st) == 0 &&
                                (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode));
            return Fail(QStringLiteral("background picture \"%1\" is %2, not a file")
                            .arg(o.backImage, device ? QStringLiteral("a device")
                                                     : QStringLiteral("a pipe or socket")));
        }
        // The image readers' own complaints would only add lines to the one that says why.
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        DecodedPicture decoded = DecodeBackgroundPicture(o.backImage, s.nWidth, s.nHeight);
        qInstallMessageHandler(previous);
        if (decoded.error == DecodeError::TooLarge)
            return Fail(
                QStringLiteral(
                    "background picture \"%1\" is too large to decode within the memory limit")
                    .arg(o.backImage));
        if (decoded.error == DecodeError::NotAFile)
            return Fail(
                QStringLiteral("background picture \"%1\" is not a regular file").arg(o.backImage));
        back = std::move(decoded.picture);
        if (!back)
            return Fail(
                QStringLiteral("background picture \"%1\" cannot be decoded").arg(o.backImage));
    }
#endif

    if (o.meshJson) {
        const uint32_t seed = o.seed ? *o.seed : FreshSeed();
        PolygonMesh mesh;
        const MeshResult r = GenerateMesh(s, mesh, seed);
        if (r != MeshResult::Ok) return Fail(MeshError(r, s));
        PrintMeshJson(mesh);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return Fail(QStringLiteral("cannot write the mesh to standard output: %1")
                            .arg(ErrnoText(errno)));
        return 0;
    }

    const PictureFilePath target = ResolvePictureFilePath(o.output);
    ImageEncoderId encoder{};
    if (!target.IsSvg() && FindImageEncoder(target.mimeType, &encoder) < 0)
        return Fail(QStringLiteral("no encoder for %1").arg(target.mimeType));
    // Fail before the work when the folder is plainly not there.
    // With --set-wallpaper the picture goes to the wallpapers folder, and to -o only when given.
    const bool writeOutput = !o.setWallpaper || o.outputGiven;
    const QFileInfo folder(QFileInfo(target.path).absolutePath());
    if (writeOutput && !folder.isDir())
        return Fail(QStringLiteral("cannot write \"%1\": folder \"%2\" does not exist")
                        .arg(target.path, folder.filePath()));

    // The format's own size limit, before any work.
    if (!target.IsSvg() && !FitsFormat(encoder, s.nWidth, s.nHeight))
        return Fail(
            QStringLiteral("cannot write \"%1\": %2 (error %3/0)")
                .arg(target.path, WriteFailureText(target.path, Status::ValueOverflow, 0, encoder))
                .arg(static_cast<int>(Status::ValueOverflow)));

    // Refuse a picture that cannot be held before building its mesh: for such sizes the mesh
    // alone can take seconds and gigabytes, all for nothing.
    if (!Picture::Fits(s.nWidth, s.nHeight)) return TooLarge(s, Status::OutOfMemory);

    for (int i = 0; i < o.count; ++i) {
        const uint32_t seed = o.seed ? *o.seed + static_cast<uint32_t>(i) : FreshSeed();
        PickSeedColors(o, seed);
        PolygonMesh mesh;
        const MeshResult r = GenerateMesh(s, mesh, seed);
        if (r != MeshResult::Ok) return Fail(MeshError(r, s));
        const Picture* background = back ? &*back : nullptr;
#if !FACETTA_CLI_LIGHT
        if (o.setWallpaper) {
            // The desktop gets a file of its own, so the picture is rendered whole.
            Picture picture = RenderPicture(s, mesh, background);
            if (picture.IsNull()) return TooLarge(s, picture.LastStatus());
            picture.SetResolution(static_cast<float>(s.nResolution),
                                  static_cast<float>(s.nResolution));
            if (writeOutput) {
                int osError = 0;
                const Status status =
                    target.IsSvg()
                        ? WriteSvg(s, mesh, background, o.backImage, target.path, &osError, nullptr)
                        : WritePicture(picture, target.path, encoder, s.nQuality, &osError);
                if (status != Status::Ok) return CannotWrite(target.path, status, osError, encoder);
                std::printf("Wrote %s (%d x %d, seed %u)\n",
                            QDir::toNativeSeparators(target.path).toUtf8().constData(), s.nWidth,
                            s.nHeight, seed);
            }
            return SetWallpaperFromCli(picture, o.span, seed);
        }
#endif
        const QString path = NumberedPath(target.path, i, o.count);
        int osError = 0;
        Status status;
        if (target.IsSvg()) {
#if !FACETTA_CLI_LIGHT
            QString svgError;
            status = WriteSvg(s, mesh, background, o.backImage, path, &osError, &svgError);
            if (status != Status::Ok && status != Status::Win32Error)
                return Fail(QStringLiteral("cannot write \"%1\": %2 (error %3/%4)")
                                .arg(path, svgError.isEmpty()
                                               ? QStringLiteral("cannot write the SVG document")
                                               : svgError)
                                .arg(static_cast<int>(status))
                                .arg(osError));
#else
            status = Status::UnknownImageFormat;  // the full build writes SVG
#endif
        } else if (EncoderTakesBands(encoder) && s.nBackMode != kBackTransparent) {
            // Bands are drawn over the opaque background layers only.
            status = WritePictureBands(RenderedBands(s, mesh, background), path, encoder,
                                       s.nQuality, &osError);
        } else {
            Picture picture = RenderPicture(s, mesh, background);
            if (picture.IsNull()) return TooLarge(s, picture.LastStatus());
            picture.SetResolution(static_cast<float>(s.nResolution),
                                  static_cast<float>(s.nResolution));
            status = WritePicture(picture, path, encoder, s.nQuality, &osError);
        }
        if (status == Status::OutOfMemory) return TooLarge(s, status);
        if (status != Status::Ok) return CannotWrite(path, status, osError, encoder);
        const QString progress =
            o.count > 1 ? QStringLiteral(" [%1/%2]").arg(i + 1).arg(o.count) : QString();
        std::printf("Wrote %s (%d x %d, seed %u)%s\n",
                    QDir::toNativeSeparators(path).toUtf8().constData(), s.nWidth, s.nHeight, seed,
                    progress.toUtf8().constData());
        std::fflush(stdout);
    }
    return 0;
}
