#include "picture_image.h"

#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define FACETTA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FACETTA_ASAN 1
#endif
#endif

namespace {

constexpr double kMetresPerInch = 0.0254;

int DotsPerMeter(float dpi) {
    return static_cast<int>(std::lround(dpi / kMetresPerInch));
}

void SetImageResolution(QImage& image, const Picture& picture) {
    image.setDotsPerMeterX(DotsPerMeter(picture.DpiX()));
    image.setDotsPerMeterY(DotsPerMeter(picture.DpiY()));
}

#if defined(__linux__) && !defined(FACETTA_ASAN)
// Pictures of a huge page or more get memory aligned to 2 MiB and marked for transparent huge
// pages: filling fresh memory otherwise costs a page fault every 4 KiB, about as long as
// drawing the picture (measured: a fresh 1920x1080 picture filled in 50 ms on small pages,
// 1.2 ms on huge ones; from 2 MiB on, huge pages were always far ahead). Smaller ones stay on
// the heap. (Under AddressSanitizer the heap keeps watching them all.)
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kLargePicture = kHugePage;

size_t MappedSize(size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void* AllocatePixels(size_t bytes) {
    if (bytes < kLargePicture) return ::operator new(bytes, std::nothrow);
    const size_t size = MappedSize(bytes);
    // Map one huge page more than needed and trim both ends to the alignment.
    void* raw =
        mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (begin + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
    if (aligned > begin) munmap(raw, aligned - begin);
    const size_t tail = begin + size + kHugePage - (aligned + size);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);  // a hint: failure is harmless
    return reinterpret_cast<void*>(aligned);
}

void ReleasePixels(void* memory, size_t bytes) {
    if (bytes < kLargePicture)
        ::operator delete(memory);
    else
        munmap(memory, MappedSize(bytes));
}
#endif

}  // namespace

QImage PictureAsImage(Picture& picture) {
    if (picture.IsNull()) return QImage();
    QImage image(reinterpret_cast<uchar*>(picture.Pixels()), picture.Width(), picture.Height(),
                 static_cast<qsizetype>(picture.Width()) * 4, QImage::Format_ARGB32);
    SetImageResolution(image, picture);
    return image;
}

QImage PictureAsImage(const Picture& picture) {
    if (picture.IsNull()) return QImage();
    QImage image(reinterpret_cast<const uchar*>(picture.Pixels()), picture.Width(),
                 picture.Height(), static_cast<qsizetype>(picture.Width()) * 4,
                 QImage::Format_ARGB32);
    SetImageResolution(image, picture);
    return image;
}

std::optional<Picture> PictureFromImage(const QImage& image) {
    if (image.isNull()) return std::nullopt;
    QImage argb = image.format() == QImage::Format_ARGB32
                      ? image
                      : image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull()) return std::nullopt;
    Picture picture = Picture::Create(argb.width(), argb.height());
    if (picture.IsNull()) return std::nullopt;
    const size_t rowBytes = static_cast<size_t>(argb.width()) * 4;
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(picture.Row(y), argb.constScanLine(y), rowBytes);
    if (argb.dotsPerMeterX() > 0 && argb.dotsPerMeterY() > 0) {
        picture.SetResolution(static_cast<float>(argb.dotsPerMeterX() * kMetresPerInch),
                              static_cast<float>(argb.dotsPerMeterY() * kMetresPerInch));
    }
    return picture;
}

namespace {

std::optional<Picture> DecodeWithReader(const QString& path, int64_t maxPixels) {
    // Regular files only: a pipe would block the read, a device could stream without end.
    if (!QFileInfo(path).isFile()) return std::nullopt;
    QImageReader reader(path);
    // Decode what the file is, not what its rotation tag asks for.
    reader.setAutoTransform(false);
    const QSize declared = reader.size();
    if (declared.isValid()) {
        if (declared.isEmpty()) return std::nullopt;
        if (static_cast<int64_t>(declared.width()) * declared.height() > maxPixels)
            return std::nullopt;
        if (!Picture::Fits(declared.width(), declared.height())) return std::nullopt;
    }
    // Qt's own guard for formats that cannot tell their size up front; 8 bytes a pixel leaves
    // room for 16-bit-per-channel intermediates.
    const int64_t limitMiB = std::min<int64_t>(
        (std::min<int64_t>(maxPixels, std::numeric_limits<int64_t>::max() / 8) * 8 + (1 << 20) -
         1) >>
            20,
        std::numeric_limits<int>::max());
    reader.setAllocationLimit(static_cast<int>(limitMiB));

    QImage image;
    if (!reader.read(&image) || image.isNull()) return std::nullopt;
    if (static_cast<int64_t>(image.width()) * image.height() > maxPixels) return std::nullopt;
    if (image.format() != QImage::Format_ARGB32) {
        image.convertTo(QImage::Format_ARGB32);
        if (image.isNull()) return std::nullopt;
    }
    return PictureFromImage(image);
}

}  // namespace

std::optional<Picture> DecodePictureFile(const QString& path, int64_t maxPixels) {
    if (path.isEmpty() || maxPixels <= 0) return std::nullopt;
    // A reader may ask for whatever a broken file claims (Qt's icns reader reserves an
    // entry's stated length, gigabytes from a file of a few bytes); where that memory cannot
    // be had, the file simply does not decode instead of ending the program.
    try {
        return DecodeWithReader(path, maxPixels);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void ConfigurePictureMemoryLimit() {
#if defined(__linux__) && !defined(FACETTA_ASAN)
    Picture::SetAllocator(AllocatePixels, ReleasePixels);
#endif
    uint64_t physical = 0;
#if defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) physical = status.ullTotalPhys;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        physical = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
#endif
    if (physical == 0) return;  // keep the engine's default
    const uint64_t half = physical / 2;
    Picture::SetMaxBytes(
        static_cast<size_t>(std::min<uint64_t>(half, std::numeric_limits<size_t>::max())));
}
