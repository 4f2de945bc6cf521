#include "picture_memory.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "memory_budget.h"
#include "picture.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
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

#if defined(__linux__)
// A number from a /proc or /sys file: the first field after `key` (or the whole file when
// `key` is empty), times `unit`; 0 when absent or "max".
uint64_t ReadNumber(const char* file, const char* key, uint64_t unit) {
    QFile f(QString::fromLatin1(file));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = f.read(64 * 1024);
    qsizetype at = 0;
    if (*key) {
        at = text.indexOf(key);
        if (at < 0) return 0;
        at += qstrlen(key);
    }
    const QByteArray value =
        text.mid(at).trimmed().split('\n').value(0).trimmed().split(' ').value(0);
    bool ok = false;
    const uint64_t n = value.toULongLong(&ok);
    return ok ? n * unit : 0;
}

uint64_t AvailableNow() {
    return ReadNumber("/proc/meminfo", "MemAvailable:", 1024);
}
#endif

uint64_t PhysicalMemory() {
#if defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0
               ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
               : 0;
#endif
}

}  // namespace

void ConfigurePictureMemoryLimit() {
#if defined(__linux__) && !defined(FACETTA_ASAN)
    Picture::SetAllocator(AllocatePixels, ReleasePixels);
#endif
    // Half of the physical memory for everything large the process holds, less where a
    // cgroup or the address-space limit allows less (three quarters of what they leave, the
    // rest being the program itself and its libraries).
    uint64_t budget = PhysicalMemory() / 2;
    auto atMost = [&budget](uint64_t limit) {
        if (limit > 0 && (budget == 0 || limit < budget)) budget = limit;
    };
#if defined(__linux__)
    uint64_t cgroup = ReadNumber("/sys/fs/cgroup/memory.max", "", 1);
    if (cgroup == 0) cgroup = ReadNumber("/sys/fs/cgroup/memory/memory.limit_in_bytes", "", 1);
    if (cgroup > 0 && cgroup < (uint64_t{1} << 60)) atMost(cgroup / 4 * 3);
    struct rlimit as {};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
        const uint64_t mapped = ReadNumber("/proc/self/status", "VmSize:", 1024);
        const uint64_t limit = static_cast<uint64_t>(as.rlim_cur);
        atMost(limit > mapped ? (limit - mapped) / 4 * 3 : 1);
    }
    // Other programs' use counts too: a large request beyond what the system has available
    // at that moment is refused rather than left to the system's out-of-memory killer.
    MemoryBudget::SetAvailableProbe(AvailableNow);
#endif
    if (budget == 0) return;  // keep the engine's default
    const size_t bytes =
        static_cast<size_t>(std::min<uint64_t>(budget, std::numeric_limits<size_t>::max()));
    MemoryBudget::SetLimit(bytes);
    Picture::SetMaxBytes(bytes);
}
