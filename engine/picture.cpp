#include "picture.h"

#include <atomic>
#include <limits>
#include <new>

namespace {
// 8 GiB until a front end knows better.
std::atomic<size_t> g_maxBytes{size_t{8} << 30};
}  // namespace

void Picture::SetMaxBytes(size_t bytes) { g_maxBytes.store(bytes); }
size_t Picture::MaxBytes() { return g_maxBytes.load(); }

bool Picture::Fits(int width, int height) {
    if (width <= 0 || height <= 0) return false;
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    return pixels <= std::numeric_limits<size_t>::max() / 4 && pixels * 4 <= MaxBytes();
}

Picture Picture::Create(int width, int height) {
    Picture p;
    if (width <= 0 || height <= 0) {
        p.m_status = Status::InvalidParameter;
        return p;
    }
    if (!Fits(width, height)) {
        p.m_status = Status::OutOfMemory;
        return p;
    }
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    p.m_pixels.reset(new (std::nothrow) uint32_t[static_cast<size_t>(pixels)]);
    if (!p.m_pixels) {
        p.m_status = Status::OutOfMemory;
        return p;
    }
    p.m_width = width;
    p.m_height = height;
    return p;
}

void Picture::SetResolution(float dpiX, float dpiY) {
    if (!(dpiX > 0.0f) || !(dpiY > 0.0f)) {
        m_status = Status::InvalidParameter;
        return;
    }
    m_dpiX = dpiX;
    m_dpiY = dpiY;
}
