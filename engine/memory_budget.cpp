#include "memory_budget.h"

#include <atomic>

namespace {
// 8 GiB until a front end knows better.
std::atomic<size_t> g_limit{size_t{8} << 30};
std::atomic<size_t> g_inUse{0};
std::atomic<MemoryBudget::AvailableFn> g_probe{nullptr};

// Below this, asking the system each time costs more than it can save.
constexpr size_t kProbeFrom = size_t{32} << 20;

bool SystemCanGive(size_t bytes) {
    if (bytes < kProbeFrom) return true;
    const MemoryBudget::AvailableFn probe = g_probe.load();
    if (!probe) return true;
    const uint64_t available = probe();
    return available == 0 || bytes <= available;
}
}  // namespace

void MemoryBudget::SetLimit(size_t bytes) {
    g_limit.store(bytes);
}
size_t MemoryBudget::Limit() {
    return g_limit.load();
}
size_t MemoryBudget::InUse() {
    return g_inUse.load();
}
void MemoryBudget::SetAvailableProbe(AvailableFn probe) {
    g_probe.store(probe);
}

bool MemoryBudget::WouldFit(size_t bytes) {
    const size_t limit = g_limit.load();
    const size_t used = g_inUse.load();
    return bytes <= limit && used <= limit - bytes && SystemCanGive(bytes);
}

bool MemoryBudget::TryReserve(size_t bytes) {
    if (bytes == 0) return true;
    if (!SystemCanGive(bytes)) return false;
    const size_t limit = g_limit.load();
    size_t used = g_inUse.load();
    do {
        if (bytes > limit || used > limit - bytes) return false;
    } while (!g_inUse.compare_exchange_weak(used, used + bytes));
    return true;
}

void MemoryBudget::Release(size_t bytes) {
    g_inUse.fetch_sub(bytes);
}

MemoryCharge MemoryCharge::Take(size_t bytes) {
    MemoryCharge charge;
    if (bytes > 0 && MemoryBudget::TryReserve(bytes)) charge.m_bytes = bytes;
    return charge;
}

MemoryCharge& MemoryCharge::operator=(MemoryCharge&& other) noexcept {
    if (this != &other) {
        Reset();
        m_bytes = other.m_bytes;
        other.m_bytes = 0;
    }
    return *this;
}

MemoryCharge::MemoryCharge(const MemoryCharge& other) : m_bytes(other.m_bytes) {
    // The copy exists already; it is counted even where it overdraws the budget.
    g_inUse.fetch_add(m_bytes);
}

MemoryCharge& MemoryCharge::operator=(const MemoryCharge& other) {
    if (this != &other) {
        Reset();
        m_bytes = other.m_bytes;
        g_inUse.fetch_add(m_bytes);
    }
    return *this;
}

void MemoryCharge::Reset() {
    if (m_bytes) MemoryBudget::Release(m_bytes);
    m_bytes = 0;
}
