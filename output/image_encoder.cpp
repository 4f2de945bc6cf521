#include "image_encoder.h"

#if FACETTA_OUTPUT_QT_GUI
#include <QImageWriter>
#endif

#include <iterator>

namespace {

struct EncoderEntry {
    ImageEncoderId id;
    const char* mimeType;
};

// The order is part of the interface: FindImageEncoder returns positions in this list. Our own
// four come first and are always there.
constexpr EncoderEntry kBuiltIn[] = {
    {ImageEncoderId::Bmp, "image/bmp"},
    {ImageEncoderId::Jpeg, "image/jpeg"},
    {ImageEncoderId::Gif, "image/gif"},
    {ImageEncoderId::Png, "image/png"},
};

}  // namespace

int FindImageEncoder(const QString& mimeType, ImageEncoderId* out) {
    for (size_t i = 0; i < std::size(kBuiltIn); ++i) {
        if (mimeType == QLatin1String(kBuiltIn[i].mimeType)) {
            if (out) *out = kBuiltIn[i].id;
            return static_cast<int>(i);
        }
    }
#if FACETTA_OUTPUT_QT_GUI
    // Only WebP needs Qt's plugins, and asking for them loads every one: only when asked.
    if (mimeType != QLatin1String("image/webp")) return -1;
    static const bool hasWebp = QImageWriter::supportedMimeTypes().contains("image/webp");
    if (!hasWebp) return -1;
    if (out) *out = ImageEncoderId::Webp;
    return static_cast<int>(std::size(kBuiltIn));
#else
    return -1;
#endif
}

QString MimeTypeOfEncoder(ImageEncoderId id) {
    switch (id) {
        case ImageEncoderId::Bmp:
            return QStringLiteral("image/bmp");
        case ImageEncoderId::Jpeg:
            return QStringLiteral("image/jpeg");
        case ImageEncoderId::Gif:
            return QStringLiteral("image/gif");
        case ImageEncoderId::Png:
            return QStringLiteral("image/png");
        case ImageEncoderId::Webp:
            return QStringLiteral("image/webp");
    }
    return QString();
}

QString ExtensionOfPath(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) return QString();
    return path.mid(dot + 1).toLower();
}

PictureFilePath ResolvePictureFilePath(const QString& path) {
    static const struct {
        const char* extension;
        const char* mimeType;
    } kTable[] = {
        {"jpg", "image/jpeg"}, {"gif", "image/gif"},  {"png", "image/png"},
        {"bmp", "image/bmp"},  {"svg", kSvgMimeType},
    };
    const QString ext = ExtensionOfPath(path);
    for (const auto& row : kTable) {
        if (ext == QLatin1String(row.extension))
            return {path, ext, QString::fromLatin1(row.mimeType)};
    }
    return {path + QStringLiteral(".png"), QStringLiteral("png"), QStringLiteral("image/png")};
}
