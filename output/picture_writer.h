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
// `path` only when complete, so a failure leaves an existing file as it was and no temporary
// file behind. Statuses:
//   Ok                  written
//   InvalidParameter    the picture has no pixels (no file is touched)
//   UnknownImageFormat  no such encoder available (e.g. WebP without Qt's plugin)
//   OutOfMemory         the encoder could not get its working memory
//   Win32Error          the OS refused: open, write or replace failed; *osError holds the
//                       errno (EACCES, ENOENT, EISDIR, ENOSPC, ...)
//   GenericError        the encoder failed for another reason
// *osError (when given) is set to 0 unless the status is Win32Error.
Status WritePicture(const Picture& picture, const QString& path, ImageEncoderId encoder,
                    int quality, int* osError = nullptr);

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
