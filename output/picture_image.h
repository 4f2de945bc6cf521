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

// 2^28 pixels: 1 GiB as ARGB32.
constexpr int64_t kDefaultMaxDecodePixels = int64_t{1} << 28;

// Decodes any picture file Qt can read. A missing, empty, broken or unreadable file, or one
// whose header declares more than maxPixels pixels, gives no picture; the size is checked
// before any pixel memory is taken.
std::optional<Picture> DecodePictureFile(const QString& path,
                                         int64_t maxPixels = kDefaultMaxDecodePixels);

// Sets Picture::SetMaxBytes to half of the machine's physical memory and, where the system
// offers them, has big pictures use memory backed by huge pages. Front ends call this once at
// start, before the first picture is made.
void ConfigurePictureMemoryLimit();
