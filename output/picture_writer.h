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

// Bytes made elsewhere (an SVG document) written with the same atomic write and statuses.
Status WriteFileBytes(const QString& path, const QByteArray& bytes, int* osError = nullptr);

// The largest width and height the format records, 0 when only memory limits it.
int MaxSideOfFormat(ImageEncoderId encoder);
bool FitsFormat(ImageEncoderId encoder, int width, int height);

// Why a write of `path` failed, in a few words (the errno's text, made specific where it would
// mislead: another user's link, a device or pipe in the file's place, the format's size limit).
QString WriteFailureText(const QString& path, Status status, int osError, ImageEncoderId encoder);

// A picture handed over a band of rows at a time, so that it need never be held whole (for
// instance rendered band by band). Rows may be asked for from several threads at once.
class PictureBands {
public:
    virtual ~PictureBands() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual float DpiX() const = 0;
    virtual float DpiY() const = 0;
    // Whether every pixel has alpha 255 (decides the file's pixel format).
    virtual bool Opaque() const = 0;
    // Rows [first, first + count) of the picture, Width() pixels each, one after another: in the
    // source's own memory or drawn into `scratch` (which the caller keeps between calls on one
    // thread). nullptr when that failed for want of memory.
    virtual const uint32_t* Rows(int first, int count, Picture& scratch) const = 0;
};

// Formats whose encoders take a picture band by band: PNG, BMP and JPEG.
bool EncoderTakesBands(ImageEncoderId encoder);

// WritePicture for a picture given in bands, with the same atomic write and statuses; the file
// holds exactly the bytes WritePicture writes for the same pixels and resolution.
// UnknownImageFormat when the format does not take bands.
Status WritePictureBands(const PictureBands& picture, const QString& path, ImageEncoderId encoder,
                         int quality = 100, int* osError = nullptr);

// Threads the encoders use: FACETTA_THREADS when it is a positive number, otherwise the
// processor count. The bytes written are the same for any number.
int EncoderThreadCount();

// The PNG bytes of the picture, exactly as WritePicture writes them; Ok, InvalidParameter,
// OutOfMemory or GenericError. `out` is replaced.
Status EncodePngToMemory(const Picture& picture, QByteArray& out);

// Knobs of our PNG writer, exposed for the benchmark that chose the defaults.
struct PngTuning {
    // SubOrUp: per row, whichever of the two leaves fewer non-zero bytes (cheap to judge,
    // and flat areas then become runs that Z_RLE packs well).
    enum class Filter { None, Sub, Up, Average, Paeth, Adaptive, SubOrUp };
    Filter filter;
    int zlibLevel;     // 0..9 (ISA-L: 0..3)
    int zlibStrategy;  // Z_DEFAULT_STRATEGY, Z_FILTERED, Z_RLE, ... (zlib only)
    int threads = 0;   // 0: EncoderThreadCount()
    // What deflates the rows; libpng's filters (Average, Paeth, Adaptive) always take zlib.
    enum class Deflater { Zlib, Isal };
    Deflater deflater = Deflater::Zlib;
    // When given, receives the CPU seconds of the encode's busiest thread (for benches).
    double* busiestThreadCpu = nullptr;
};
PngTuning DefaultPngTuning();
Status EncodePngToMemory(const Picture& picture, QByteArray& out, const PngTuning& tuning);

// Knobs of our GIF writer, exposed for the benchmark that chose the defaults.
struct GifTuning {
    // How colours between palette entries are spread: not at all, by carrying the error to
    // the neighbours (Floyd-Steinberg, serpentine), or by a 4x4 threshold pattern.
    enum class Dither { None, FloydSteinberg, Ordered };
    Dither dither;
    // FloydSteinberg: sixteenths of the error carried (0..16); Ordered: the pattern's
    // amplitude in levels.
    int ditherStrength;
    int samplePixels;                    // the palette is learned from about this many pixels
    int quantizerSpeed = 0;              // libimagequant's speed, 1..10; 0 for its default
    int threads = 0;                     // 0: EncoderThreadCount()
    double* busiestThreadCpu = nullptr;  // as in PngTuning
    int bandRows = 0;  // rows coded apart; 0: about a million pixels (tests choose where bands end)
};
GifTuning DefaultGifTuning();
// The GIF bytes of the picture as WritePicture writes them for the default tuning; statuses
// as EncodePngToMemory's.
Status EncodeGifToMemory(const Picture& picture, QByteArray& out, const GifTuning& tuning);
