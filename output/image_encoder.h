#pragma once
// The picture encoders we have, looked up by MIME type, and the rule that turns a path the
// user typed into the file that is written and its format.
#include <QString>

enum class ImageEncoderId {
    Bmp,
    Jpeg,
    Gif,
    Png,
    Webp,  // only when Qt's WebP plugin is installed
};

// Index of the first encoder whose MIME type equals `mimeType` exactly, in the fixed order
// "image/bmp", "image/jpeg", "image/gif", "image/png"[, "image/webp"]; -1 when none does.
// `out` is written only on success. (The build without Qt Gui never lists WebP.)
int FindImageEncoder(const QString& mimeType, ImageEncoderId* out);

// MIME type of an encoder ("image/png" and so on).
QString MimeTypeOfEncoder(ImageEncoderId id);

// Text after the last "." of the whole path, in lower case; empty when there is no dot or the
// only dot is the path's first character. A dot in a folder name counts.
QString ExtensionOfPath(const QString& path);

// Vector pictures are written from the settings and the mesh (svg_writer.h), not by an
// encoder of pixels; FindImageEncoder does not list them.
inline constexpr const char kSvgMimeType[] = "image/svg+xml";

struct PictureFilePath {
    QString path;       // the path to write
    QString extension;  // "jpg", "png", "gif", "bmp" or "svg"
    QString mimeType;   // "image/jpeg", "image/png", "image/gif", "image/bmp" or kSvgMimeType

    bool IsSvg() const { return mimeType == QLatin1String(kSvgMimeType); }
};

// Keeps `path` when its extension is exactly jpg, png, gif, bmp or svg (in any case, as typed);
// otherwise appends ".png" and writes PNG. So a.JPG is JPEG as a.JPG, a.jpeg becomes
// a.jpeg.png, "a." becomes "a..png".
PictureFilePath ResolvePictureFilePath(const QString& path);
