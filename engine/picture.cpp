#include "picture.h"

#include <atomic>
#include <limits>
#include <mutex>
#include <new>

namespace {
// 8 GiB until a front end knows better.
std::atomic<size_t> g_maxBytes{size_t{8} << 30};

void* PlainAllocate(size_t bytes) {
    return new (std::nothrow) uint32_t[bytes / 4];
}
void PlainRelease(void* memory, size_t) {
    delete[] static_cast<uint32_t*>(memory);
}

// One pair, swapped together, so that a picture never frees with another allocator's function.
struct Allocator {
    Picture::AllocateFn alloc;
    Picture::ReleaseFn release;
};
std::mutex g_allocatorMutex;
Allocator g_allocator{PlainAllocate, PlainRelease};

Allocator CurrentAllocator() {
    std::lock_guard lock(g_allocatorMutex);
    return g_allocator;
}
}  // namespace

void Picture::SetAllocator(AllocateFn alloc, ReleaseFn release) {
    std::lock_guard lock(g_allocatorMutex);
    g_allocator =
        alloc && release ? Allocator{alloc, release} : Allocator{PlainAllocate, PlainRelease};
}

void Picture::SetMaxBytes(size_t bytes) {
    g_maxBytes.store(bytes);
}
size_t Picture::MaxBytes() {
    return g_maxBytes.load();
}

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
    const size_t bytes = static_cast<size_t>(pixels) * 4;
    p.m_charge = MemoryCharge::Take(bytes);
    if (!p.m_charge.Held()) {
        p.m_status = Status::OutOfMemory;
        return p;
    }
    const Allocator a = CurrentAllocator();
    p.m_pixels = std::unique_ptr<uint32_t[], Release>(static_cast<uint32_t*>(a.alloc(bytes)),
                                                      Release{a.release, bytes});
    if (!p.m_pixels) {
        p.m_charge.Reset();
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
