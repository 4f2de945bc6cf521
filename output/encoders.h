#pragma once
// Our own encoders behind WritePicture; private to this folder.
#include <cstddef>

#include "picture.h"
#include "picture_writer.h"

// Where encoded bytes go. Write returns false when the bytes could not be taken; the encoder
// then stops and returns Status::Win32Error, and the sink knows why.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool Write(const void* data, size_t size) = 0;
};

// True when every pixel has alpha 255.
bool IsOpaque(const Picture& picture);

// 0x00RRGGBB of a pixel laid over white (formats without partial alpha show it so).
inline uint32_t OverWhite(uint32_t p) {
    const uint32_t a = p >> 24;
    if (a == 255) return p & 0xFFFFFFu;
    auto over = [a](uint32_t c) { return (c * a + 255 * (255 - a) + 127) / 255; };
    return over((p >> 16) & 0xFF) << 16 | over((p >> 8) & 0xFF) << 8 | over(p & 0xFF);
}

// The whole picture as bands: rows straight from its memory.
class WholePictureBands : public PictureBands {
public:
    explicit WholePictureBands(const Picture& picture);
    int Width() const override { return m_picture.Width(); }
    int Height() const override { return m_picture.Height(); }
    float DpiX() const override { return m_picture.DpiX(); }
    float DpiY() const override { return m_picture.DpiY(); }
    bool Opaque() const override { return m_opaque; }
    const uint32_t* Rows(int first, int, Picture&) const override { return m_picture.Row(first); }

private:
    const Picture& m_picture;
    bool m_opaque;
};

// Opaque pictures as 8-bit RGB, others as 8-bit RGBA; pHYs from the picture's resolution.
Status EncodePng(const Picture& picture, ByteSink& sink, const PngTuning& tuning);
Status EncodePng(const PictureBands& picture, ByteSink& sink, const PngTuning& tuning);
// 256-colour palette, dithered; fully transparent pixels become the transparent colour, the
// others are laid over white.
Status EncodeGif(const Picture& picture, ByteSink& sink);
Status EncodeGif(const Picture& picture, ByteSink& sink, const GifTuning& tuning);
// Baseline JPEG at `quality` (1-100), in JFIF with the resolution; pixels with alpha are laid
// over white.
Status EncodeJpeg(const PictureBands& picture, ByteSink& sink, int quality);
// 24-bit for opaque pictures, 32-bit with an alpha mask otherwise; resolution in the header.
Status EncodeBmp(const Picture& picture, ByteSink& sink);
Status EncodeBmp(const PictureBands& picture, ByteSink& sink);
