// JPEG through libjpeg-turbo's scanline interface: rows go in as they come, a band at a time,
// straight from our pixels (B, G, R, A in memory is its BGRX input).
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include <jpeglib.h>

#include "encoders.h"

namespace {

// libjpeg reports failures by calling error_exit, which must not return: it jumps back to the
// encoder, past libjpeg's own frames only.
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void Quiet(j_common_ptr) {}  // warnings are not ours to print

// Compressed bytes to the sink in blocks; a failed write is remembered and the rest dropped.
struct SinkDestination {
    jpeg_destination_mgr mgr;
    ByteSink* sink;
    bool failed;
    JOCTET buffer[64 * 1024];
};

void StartBlock(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<SinkDestination*>(cinfo->dest);
    d->mgr.next_output_byte = d->buffer;
    d->mgr.free_in_buffer = sizeof d->buffer;
}

boolean FullBlock(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<SinkDestination*>(cinfo->dest);
    if (!d->failed) d->failed = !d->sink->Write(d->buffer, sizeof d->buffer);
    StartBlock(cinfo);
    return TRUE;
}

void LastBlock(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<SinkDestination*>(cinfo->dest);
    const size_t used = sizeof d->buffer - d->mgr.free_in_buffer;
    if (!d->failed && used > 0) d->failed = !d->sink->Write(d->buffer, used);
}

uint16_t Density(float dpi) {
    return static_cast<uint16_t>(std::clamp(std::lround(dpi), 1L, 65535L));
}

// Bands of about 1 MiB of pixels, a multiple of 16 rows (libjpeg's largest block height).
int BandRows(int width) {
    const int rows = static_cast<int>((size_t{1} << 18) / static_cast<size_t>(std::max(width, 1)));
    return std::max(16, rows / 16 * 16);
}

// The picture's rows into the compressor, band by band; false when a band could not be made.
// (A failure inside libjpeg jumps from here straight back to EncodeJpeg: nothing here needs
// cleaning up.)
bool WriteBands(j_compress_ptr cinfo, const PictureBands& picture, int bandRows, Picture& scratch,
                JSAMPROW* rows, uint32_t* flat, const SinkDestination& dest) {
    const int w = picture.Width(), h = picture.Height();
    for (int first = 0; first < h && !dest.failed; first += bandRows) {
        const int count = std::min(bandRows, h - first);
        const uint32_t* px = picture.Rows(first, count, scratch);
        if (!px) return false;
        for (int y = 0; y < count; ++y) {
            const uint32_t* src = px + static_cast<size_t>(y) * static_cast<size_t>(w);
            if (flat) {
                uint32_t* dst = flat + static_cast<size_t>(y) * static_cast<size_t>(w);
                for (int x = 0; x < w; ++x) dst[x] = OverWhite(src[x]);
                src = dst;
            }
            // libjpeg only reads the rows, through a pointer type that cannot say so.
            rows[y] = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(src));
        }
        jpeg_write_scanlines(cinfo, rows, static_cast<JDIMENSION>(count));
    }
    return true;
}

}  // namespace

Status EncodeJpeg(const PictureBands& picture, ByteSink& sink, int quality) {
    const int w = picture.Width(), h = picture.Height();
    if (w <= 0 || h <= 0) return Status::InvalidParameter;
    if (w > JPEG_MAX_DIMENSION || h > JPEG_MAX_DIMENSION) return Status::ValueOverflow;
    const bool opaque = picture.Opaque();
    const int bandRows = std::min(BandRows(w), h);
    // Everything with a destructor is made before the jump point.
    Picture scratch;
    std::vector<JSAMPROW> rows;
    std::unique_ptr<uint32_t[]> flat;
    std::unique_ptr<SinkDestination> dest;
    try {
        rows.resize(static_cast<size_t>(bandRows));
        // JPEG has no alpha: a picture with transparent parts goes over white, as on paper.
        if (!opaque) flat.reset(new uint32_t[static_cast<size_t>(w) * bandRows]);
        dest.reset(new SinkDestination);
    } catch (const std::bad_alloc&) {
        return Status::OutOfMemory;
    }
    dest->sink = &sink;
    dest->failed = false;
    dest->mgr.init_destination = StartBlock;
    dest->mgr.empty_output_buffer = FullBlock;
    dest->mgr.term_destination = LastBlock;

    jpeg_compress_struct cinfo{};
    JpegError error{};
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = JumpBack;
    error.mgr.output_message = Quiet;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        return dest->failed ? Status::Win32Error : Status::GenericError;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest->mgr;
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    cinfo.density_unit = 1;  // dots per inch
    cinfo.X_density = Density(picture.DpiX());
    cinfo.Y_density = Density(picture.DpiY());
    jpeg_start_compress(&cinfo, TRUE);
    const bool made =
        WriteBands(&cinfo, picture, bandRows, scratch, rows.data(), flat.get(), *dest);
    if (!made || dest->failed) {
        jpeg_destroy_compress(&cinfo);
        return !made ? Status::OutOfMemory : Status::Win32Error;
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return dest->failed ? Status::Win32Error : Status::Ok;
}
