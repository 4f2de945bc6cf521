#pragma once
// Writing pictures to files and to memory.
#include <QByteArray>
#include <QString>

#include "image_encoder.h"
#include "picture.h"

// Writes `picture` to `path` in the encoder's format, with the picture's resolution (PNG, JPEG
// and BMP record it; GIF cannot) and, for JPEG and WebP, `quality` (1..100).
//
// The write is atomic: the bytes go to a temporary file in the same folder that replaces
// `path` only when complete, so a failure, SIGTERM, SIGINT or SIGHUP leaves an existing file
// as it was and no temporary file behind. A link at `path` is written through, except another
// user's link in a sticky world-writable folder (the kernel would not follow it either), which
// is refused with EACCES. Statuses:
//   Ok                  written
//   InvalidParameter    the picture has no pixels (no file is touched)
//   UnknownImageFormat  no such encoder available (e.g. WebP without Qt's plugin)
//   ValueOverflow       the picture is larger than the format can record (no file is touched)
//   OutOfMemory         the encoder could not get its working memory
//   Win32Error          the OS refused: open, write or replace failed; *osError holds the
//                       errno (EACCES, EROFS, ENOENT, EISDIR, ENOSPC, EINVAL for a device,
//                       pipe or socket in the file's place, ...)
//   GenericError        the encoder failed for another reason
// *osError (when given) is set to 0 unless the status is Win32Error.
Status WritePicture(const Picture& picture, const QString& path, ImageEncoderId encoder,
                    int quality, int* osError = nullptr);

// The largest width and height the format records, 0 when only memory limits it.
int MaxSideOfFormat(ImageEncoderId encoder);
bool FitsFormat(ImageEncoderId encoder, int width, int height);

// Why a write of `path` failed, in a few words (the errno's text, made specific where it would
// mislead: another user's link, a device or pipe in the file's place, the format's size limit).
QString WriteFailureText(const QString& path, Status status, int osError, ImageEncoderId encoder);

// The PNG bytes of the picture, exactly as WritePicture writes them; Ok, InvalidParameter,
// OutOfMemory or GenericError. `out` is replaced.
Status EncodePngToMemory(const Picture& picture, QByteArray& out);

// Knobs of our PNG writer, exposed for the benchmark that chose the defaults.
struct PngTuning {
    // SubOrUp: per row, whichever of the two leaves fewer non-zero bytes (cheap to judge,
    // and flat areas then become runs that Z_RLE packs well).
    enum class Filter { None, Sub, Up, Average, Paeth, Adaptive, SubOrUp };
    Filter filter;
    int zlibLevel;     // 0..9
    int zlibStrategy;  // Z_DEFAULT_STRATEGY, Z_FILTERED, Z_RLE, ...
};
PngTuning DefaultPngTuning();
Status EncodePngToMemory(const Picture& picture, QByteArray& out, const PngTuning& tuning);
