#include <png.h>
#include <zlib.h>

#include <cmath>
#include <csetjmp>
#include <memory>
#include <new>

#include "encoders.h"

namespace {

struct PngContext {
    ByteSink* sink;
    bool sinkFailed;
};

// Only trivially destructible locals in the callbacks: png_error leaves them by longjmp.
void PngWrite(png_structp png, png_bytep data, size_t size) {
    auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
    if (!ctx->sink->Write(data, size)) {
        ctx->sinkFailed = true;
        png_error(png, "write failed");
    }
}
void PngFlush(png_structp) {}
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

int FilterFlags(PngTuning::Filter f) {
    switch (f) {
        case PngTuning::Filter::None: return PNG_FILTER_NONE;
        case PngTuning::Filter::Sub: return PNG_FILTER_SUB;
        case PngTuning::Filter::Up: return PNG_FILTER_UP;
        case PngTuning::Filter::Average: return PNG_FILTER_AVG;
        case PngTuning::Filter::Paeth: return PNG_FILTER_PAETH;
        case PngTuning::Filter::Adaptive: return PNG_ALL_FILTERS;
    }
    return PNG_ALL_FILTERS;
}

png_uint_32 PixelsPerMeter(float dpi) {
    return static_cast<png_uint_32>(std::lround(static_cast<double>(dpi) / 0.0254));
}

// Kept apart from EncodePng so that nothing with a destructor lives in the frame that
// setjmp returns to twice.
bool WriteRows(png_structp png, png_infop info, const Picture& picture, bool opaque,
               unsigned char* rgbRow, const PngTuning& tuning) {
    if (setjmp(png_jmpbuf(png))) return false;
    const int w = picture.Width();
    const int h = picture.Height();
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8,
                 opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, PixelsPerMeter(picture.DpiX()), PixelsPerMeter(picture.DpiY()),
                 PNG_RESOLUTION_METER);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, FilterFlags(tuning.filter));
    png_set_compression_level(png, tuning.zlibLevel);
    png_set_compression_strategy(png, tuning.zlibStrategy);
    png_set_compression_buffer_size(png, 1 << 16);
    png_write_info(png, info);
    if (opaque) {
        for (int y = 0; y < h; ++y) {
            const uint32_t* src = picture.Row(y);
            unsigned char* dst = rgbRow;
            for (int x = 0; x < w; ++x) {
                const uint32_t p = src[x];
                dst[0] = static_cast<unsigned char>(p >> 16);
                dst[1] = static_cast<unsigned char>(p >> 8);
                dst[2] = static_cast<unsigned char>(p);
                dst += 3;
            }
            png_write_row(png, rgbRow);
        }
    } else {
        // Memory order of 0xAARRGGBB is B, G, R, A: let libpng swap.
        png_set_bgr(png);
        for (int y = 0; y < h; ++y)
            png_write_row(png, reinterpret_cast<png_const_bytep>(picture.Row(y)));
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

PngTuning DefaultPngTuning() { return {PngTuning::Filter::Up, 1, Z_RLE}; }

Status EncodePng(const Picture& picture, ByteSink& sink, const PngTuning& tuning) {
    if (picture.IsNull()) return Status::InvalidParameter;
    const bool opaque = IsOpaque(picture);
    std::unique_ptr<unsigned char[]> rgbRow;
    if (opaque) {
        rgbRow.reset(new (std::nothrow) unsigned char[static_cast<size_t>(picture.Width()) * 3]);
        if (!rgbRow) return Status::OutOfMemory;
    }
    PngContext ctx{&sink, false};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (!png) return Status::OutOfMemory;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return Status::OutOfMemory;
    }
    png_set_write_fn(png, &ctx, PngWrite, PngFlush);
    const bool ok = WriteRows(png, info, picture, opaque, rgbRow.get(), tuning);
    png_destroy_write_struct(&png, &info);
    if (ok) return Status::Ok;
    return ctx.sinkFailed ? Status::Win32Error : Status::GenericError;
}
