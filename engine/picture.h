#pragma once
// A 32-bit picture: 0xAARRGGBB pixels, straight alpha, rows top to bottom with no padding,
// the same memory layout as QImage::Format_ARGB32 so that output/ can wrap it without copying.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "memory_budget.h"
#include "status.h"

class Picture {
public:
    Picture() = default;  // no pixels
    Picture(Picture&&) noexcept = default;
    Picture& operator=(Picture&&) noexcept = default;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // A width x height picture with undefined pixels, or a picture without pixels and
    // LastStatus() OutOfMemory (size too large to hold) / InvalidParameter (not positive).
    // Decided before allocating: never an overflow, an attempt beyond MaxBytes() or beyond
    // what the process-wide MemoryBudget has left (the pixels stay charged to it).
    static Picture Create(int width, int height);
    // Whether Create would make a picture of this size: both sides positive and the pixels
    // within MaxBytes(). Lets callers skip work for a picture that cannot be made.
    static bool Fits(int width, int height);

    bool IsNull() const { return !m_pixels; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    size_t PixelCount() const {
        return static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    }
    size_t ByteCount() const { return PixelCount() * 4; }
    uint32_t* Pixels() { return m_pixels.get(); }
    const uint32_t* Pixels() const { return m_pixels.get(); }
    uint32_t* Row(int y) {
        return m_pixels.get() + static_cast<size_t>(y) * static_cast<size_t>(m_width);
    }
    const uint32_t* Row(int y) const {
        return m_pixels.get() + static_cast<size_t>(y) * static_cast<size_t>(m_width);
    }
    uint32_t Pixel(int x, int y) const { return Row(y)[x]; }

    // Dots per inch recorded in files written from this picture.
    float DpiX() const { return m_dpiX; }
    float DpiY() const { return m_dpiY; }
    void SetResolution(float dpiX, float dpiY);

    // Last failure of an operation on this picture (Ok when none failed).
    Status LastStatus() const { return m_status; }
    void SetStatus(Status s) { m_status = s; }

    // Largest pixel buffer Create may allocate. The engine cannot ask the OS how much
    // memory there is; front ends set this from the machine's physical memory.
    static void SetMaxBytes(size_t bytes);
    static size_t MaxBytes();

    // Where pixel memory comes from. The engine cannot make OS calls; a front end may install
    // functions that can (say, memory backed by large pages for big pictures). `alloc` returns
    // `bytes` bytes aligned for uint32_t, or nullptr; `release` gets back the same pointer and
    // size. Pictures keep the release function they were made with. nullptr for either
    // restores plain new[].
    using AllocateFn = void* (*)(size_t bytes);
    using ReleaseFn = void (*)(void* memory, size_t bytes);
    static void SetAllocator(AllocateFn alloc, ReleaseFn release);

private:
    struct Release {
        Release() noexcept : release(nullptr), bytes(0) {}
        Release(ReleaseFn r, size_t b) noexcept : release(r), bytes(b) {}
        ReleaseFn release;
        size_t bytes;
        void operator()(uint32_t* p) const { release(p, bytes); }
    };
    MemoryCharge m_charge;
    std::unique_ptr<uint32_t[], Release> m_pixels;
    int m_width = 0;
    int m_height = 0;
    float m_dpiX = 96.0f;
    float m_dpiY = 96.0f;
    Status m_status = Status::Ok;
};
