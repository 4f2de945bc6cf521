#include <png.h>
#include <zlib.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <csetjmp>
#include <memory>
#include <new>

#include "encoders.h"

// Pixels are read as bytes in several places here (and handed to libpng as B, G, R, A).
static_assert(std::endian::native == std::endian::little);

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
        case PngTuning::Filter::SubOrUp: return PNG_FILTER_SUB | PNG_FILTER_UP;
    }
    return PNG_ALL_FILTERS;
}

png_uint_32 PixelsPerMeter(float dpi) {
    return static_cast<png_uint_32>(std::lround(static_cast<double>(dpi) / 0.0254));
}

// Non-zero bytes the Sub and the Up filter would leave in a row of `bytes` bytes with
// `bpp` bytes a pixel.
struct FilterCosts {
    uint32_t sub;
    uint32_t up;
};
FilterCosts CostsOf(const unsigned char* row, const unsigned char* prev, size_t bytes, size_t bpp) {
    uint32_t sub = 0;
    uint32_t up = 0;
    for (size_t i = 0; i < bpp && i < bytes; ++i) {
        sub += row[i] != 0;
        up += row[i] != prev[i];
    }
    // Byte counters over short blocks vectorise four times better than wide ones; 240 stays
    // below their overflow.
    for (size_t base = bpp; base < bytes; base += 240) {
        const size_t end = bytes - base < 240 ? bytes : base + 240;
        unsigned char s = 0;
        unsigned char u = 0;
        for (size_t i = base; i < end; ++i) {
            s += row[i] != row[i - bpp];
            u += row[i] != prev[i];
        }
        sub += s;
        up += u;
    }
    return {sub, up};
}

// 0xAARRGGBB pixels to R, G, B bytes. The plain byte loop measured fastest (word-packing
// variants stall on their stores).
void ToRgb(const uint32_t* src, unsigned char* dst, int width) {
    for (int x = 0; x < width; ++x) {
        const uint32_t p = src[x];
        dst[3 * x] = static_cast<unsigned char>(p >> 16);
        dst[3 * x + 1] = static_cast<unsigned char>(p >> 8);
        dst[3 * x + 2] = static_cast<unsigned char>(p);
    }
}

// Kept apart from EncodePng so that nothing with a destructor lives in the frame that
// setjmp returns to twice. `rgbRows` holds two rows of width * 3 bytes for opaque pictures.
bool WriteRows(png_structp png, png_infop info, const Picture& picture, bool opaque,
               unsigned char* rgbRows, const PngTuning& tuning) {
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
    if (!opaque) png_set_bgr(png);  // memory order of 0xAARRGGBB is B, G, R, A

    // libpng lets the filter change between rows as long as every filter used was enabled
    // when the first row went out; the first row keeps both.
    const bool choose = tuning.filter == PngTuning::Filter::SubOrUp && w > 1 && h > 1;
    const size_t bpp = opaque ? 3 : 4;
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    int current = FilterFlags(tuning.filter);
    const unsigned char* prev = nullptr;
    for (int y = 0; y < h; ++y) {
        const unsigned char* row;
        if (opaque) {
            unsigned char* dst = rgbRows + (y & 1) * rowBytes;
            ToRgb(picture.Row(y), dst, w);
            row = dst;
        } else {
            row = reinterpret_cast<const unsigned char*>(picture.Row(y));
        }
        if (choose && prev) {
            const FilterCosts c = CostsOf(row, prev, rowBytes, bpp);
            const int wanted = c.up < c.sub ? PNG_FILTER_UP : PNG_FILTER_SUB;
            if (wanted != current) {
                png_set_filter(png, PNG_FILTER_TYPE_BASE, wanted);
                current = wanted;
            }
        }
        png_write_row(png, row);
        prev = row;
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

PngTuning DefaultPngTuning() { return {PngTuning::Filter::SubOrUp, 1, Z_RLE}; }

Status EncodePng(const Picture& picture, ByteSink& sink, const PngTuning& tuning) {
    if (picture.IsNull()) return Status::InvalidParameter;
    const bool opaque = IsOpaque(picture);
    std::unique_ptr<unsigned char[]> rgbRows;
    if (opaque) {
        rgbRows.reset(new (std::nothrow) unsigned char[static_cast<size_t>(picture.Width()) * 6]);
        if (!rgbRows) return Status::OutOfMemory;
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
    const bool ok = WriteRows(png, info, picture, opaque, rgbRows.get(), tuning);
    png_destroy_write_struct(&png, &info);
    if (ok) return Status::Ok;
    return ctx.sinkFailed ? Status::Win32Error : Status::GenericError;
}
