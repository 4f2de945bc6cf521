#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "encoders.h"

namespace {

void Put16(unsigned char*& p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p += 2;
}
void Put32(unsigned char*& p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
    p += 4;
}

int32_t PixelsPerMeter(float dpi) {
    return static_cast<int32_t>(std::lround(static_cast<double>(dpi) / 0.0254));
}

}  // namespace

Status EncodeBmp(const Picture& picture, ByteSink& sink) {
    if (picture.IsNull()) return Status::InvalidParameter;
    return EncodeBmp(WholePictureBands(picture), sink);
}

Status EncodeBmp(const PictureBands& picture, ByteSink& sink) {
    if (picture.Width() <= 0 || picture.Height() <= 0) return Status::InvalidParameter;
    const bool opaque = picture.Opaque();
    const uint64_t w = static_cast<uint64_t>(picture.Width());
    const uint64_t h = static_cast<uint64_t>(picture.Height());
    const uint32_t bits = opaque ? 24 : 32;
    const uint64_t stride = (w * bits + 31) / 32 * 4;
    // 32-bit pixels need the V4 header to declare an alpha mask.
    const uint32_t infoSize = opaque ? 40 : 108;
    const uint32_t offset = 14 + infoSize;
    const uint64_t fileSize = offset + stride * h;
    if (fileSize > UINT32_MAX) return Status::ValueOverflow;  // 32-bit sizes in the format

    unsigned char header[14 + 108] = {};
    unsigned char* p = header;
    *p++ = 'B';
    *p++ = 'M';
    Put32(p, static_cast<uint32_t>(fileSize));
    Put32(p, 0);
    Put32(p, offset);
    Put32(p, infoSize);
    Put32(p, static_cast<uint32_t>(w));
    Put32(p, static_cast<uint32_t>(h));  // positive: rows bottom-up
    Put16(p, 1);
    Put16(p, static_cast<uint16_t>(bits));
    Put32(p, opaque ? 0 : 3);  // BI_RGB or BI_BITFIELDS
    Put32(p, static_cast<uint32_t>(stride * h));
    Put32(p, static_cast<uint32_t>(PixelsPerMeter(picture.DpiX())));
    Put32(p, static_cast<uint32_t>(PixelsPerMeter(picture.DpiY())));
    Put32(p, 0);
    Put32(p, 0);
    if (!opaque) {
        Put32(p, 0x00FF0000);
        Put32(p, 0x0000FF00);
        Put32(p, 0x000000FF);
        Put32(p, 0xFF000000);
        Put32(p, 0x73524742);  // 'sRGB'; the endpoints and gammas that follow stay zero
    }
    if (!sink.Write(header, offset)) return Status::Win32Error;

    // Rows go out bottom-up, taken a band at a time from the bottom.
    const int bandRows = static_cast<int>(std::max<uint64_t>(1, (uint64_t{4} << 20) / (w * 4)));
    std::unique_ptr<unsigned char[]> row;
    if (opaque) {
        row.reset(new (std::nothrow) unsigned char[stride]);
        if (!row) return Status::OutOfMemory;
        std::memset(row.get(), 0, stride);
    }
    Picture scratch;
    for (int end = static_cast<int>(h); end > 0;) {
        const int first = std::max(0, end - bandRows);
        const uint32_t* band = picture.Rows(first, end - first, scratch);
        if (!band) return Status::OutOfMemory;
        for (int y = end; y-- > first;) {
            const uint32_t* src = band + static_cast<size_t>(y - first) * w;
            if (!opaque) {
                // The pixels' memory order B, G, R, A is the file's: rows go out as they are.
                if (!sink.Write(src, stride)) return Status::Win32Error;
                continue;
            }
            unsigned char* dst = row.get();
            for (uint64_t x = 0; x < w; ++x) {
                const uint32_t px = src[x];
                dst[0] = static_cast<unsigned char>(px);
                dst[1] = static_cast<unsigned char>(px >> 8);
                dst[2] = static_cast<unsigned char>(px >> 16);
                dst += 3;
            }
            if (!sink.Write(row.get(), stride)) return Status::Win32Error;
        }
        end = first;
    }
    return Status::Ok;
}
