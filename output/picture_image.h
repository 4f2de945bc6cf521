#pragma once
// Pictures and Qt images: zero-copy views one way, decoding into a Picture the other.
#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>

#include "picture.h"

// A QImage over the picture's own pixels (Format_ARGB32, width * 4 bytes per line), carrying
// the picture's resolution. Writing through the image writes the picture. The picture must
// outlive the image; a picture without pixels gives a null image.
QImage PictureAsImage(Picture& picture);
// Read-only variant: the image shares the pixels until something writes to it (which copies).
QImage PictureAsImage(const Picture& picture);

// A new picture holding `image` converted to straight-alpha ARGB32, with its resolution.
// No picture when the image is null or too large for Picture::MaxBytes().
std::optional<Picture> PictureFromImage(const QImage& image);

// Background pictures are decoded under one bound on memory: no more pixels than this (a
// quarter of a gigabyte as ARGB32; larger JPEG and SVG pictures are decoded reduced instead),
// and no more bytes in all, the reader's own buffers included, than kMaxDecodeBytes or what
// the memory budget has left.
constexpr int64_t kDefaultMaxDecodePixels = int64_t{1} << 26;
constexpr int64_t kMaxDecodeBytes = int64_t{512} << 20;
// The most an SVG may be, as a file or once a compressed one is inflated.
constexpr int64_t kMaxSvgBytes = int64_t{32} << 20;

enum class DecodeError {
    None,
    NotAFile,      // missing, or not a regular file (a pipe, a device, a folder)
    NotDecodable,  // empty, broken, or in no format we read
    TooLarge,      // would need more memory than the bounds above allow
};

struct DecodedPicture {
    std::optional<Picture> picture;
    DecodeError error = DecodeError::None;
    // Decoded smaller than the file's own size (the frame needs less, or the bounds allow less).
    bool reduced = false;
};

// Decodes a background picture for a frame of frameWidth x frameHeight pixels (0 x 0: no
// frame). Where the frame, by the cover rule the renderer applies, needs less than the file's
// full size, the picture comes out no larger than needed (JPEG and SVG are decoded at that size
// directly). Only the regular file at `path` is opened: an SVG's links to outside files are
// not followed (embedded data: pictures are). Never more than the bounds above; the size is
// checked before any pixel memory is taken.
DecodedPicture DecodeBackgroundPicture(const QString& path, int frameWidth, int frameHeight,
                                       int64_t maxPixels = kDefaultMaxDecodePixels);

// The picture without a frame: full size, or reduced to maxPixels where the format allows it;
// no picture for whatever DecodeBackgroundPicture refuses.
std::optional<Picture> DecodePictureFile(const QString& path,
                                         int64_t maxPixels = kDefaultMaxDecodePixels);
