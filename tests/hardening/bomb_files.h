#pragma once
// Small files that declare enormous pictures (or, for icns, an enormous entry), made here
// rather than kept as binary fixtures so that each declared number is visible.
#include <QByteArray>
#include <QImage>

#include <cstdint>

// An encoded picture in one of Qt's formats ("png", "jpeg", ...).
QByteArray EncodeImage(const QImage& image, const char* format);

// Declares width x height RGBA, then one deflated block of zeros: the rest is missing.
QByteArray PngDeclaring(uint32_t width, uint32_t height);
// A two-colour GIF whose screen and single frame have the given sizes.
QByteArray GifDeclaring(uint16_t screenW, uint16_t screenH, uint16_t frameW, uint16_t frameH);
// A real 8 x 8 JPEG whose frame header declares width x height.
QByteArray JpegDeclaring(uint16_t width, uint16_t height);
// A 24-bit BMP whose info header declares width x height (negative height: top-down).
QByteArray BmpDeclaring(int32_t width, int32_t height);
// Fuzzer finds: an icns whose table of contents claims an entry of about 1.3 GB, and one whose
// entry of length 0 makes the reader ask for about 8 GB.
QByteArray IcnsClaimingHugeEntry();
QByteArray IcnsWithZeroLengthEntry();

// A gzip-compressed SVG that inflates to `bytes` bytes (nearly all of it one comment).
QByteArray SvgzInflatingTo(qint64 bytes);
// A one-rectangle SVG declaring width x height.
QByteArray SvgDeclaring(int width, int height);
// A 32 x 16 red SVG with two 16 x 16 pictures linked to `href` (xlink:href and href).
QByteArray SvgLinking(const QByteArray& href);
// An XBM declaring width x height with two bytes of bits.
QByteArray XbmDeclaring(int width, int height);
// A 24-bit TGA declaring width x height with two pixels of data and the version 2 footer
// (50 bytes uncompressed; Qt's reader then reads every declared pixel from nothing).
QByteArray TgaDeclaring(uint16_t width, uint16_t height, bool runLength);
// A complete 16-bit RGBA PNG of zeros: every byte is there, compressed.
QByteArray Png16Zeros(uint32_t width, uint32_t height);
