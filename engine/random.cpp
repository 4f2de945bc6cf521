#include "random.h"

#include <atomic>
#include <chrono>

namespace {

thread_local uint64_t t_state = 0x853c49e6748fea9bULL;

uint64_t SplitMix64(uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

void SeedRandom(uint32_t seed) {
    t_state = SplitMix64(seed);
}

int NextRandom() {
    // 64-bit LCG (Knuth's MMIX constants); the top bits are the well-mixed ones.
    t_state = t_state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>((t_state >> 48) & kRandomMax);
}

uint32_t FreshSeed() {
    // The millisecond clock alone repeats within a tick; a process-wide counter keeps
    // two generations in the same millisecond apart.
    static std::atomic<uint64_t> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    const uint64_t mixed = SplitMix64(static_cast<uint64_t>(micros) ^
                                      SplitMix64(counter.fetch_add(1, std::memory_order_relaxed)));
    return static_cast<uint32_t>(mixed ^ (mixed >> 32));
}
