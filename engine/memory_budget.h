#pragma once
// One account of the large memory the process holds: pictures, meshes, decoded backgrounds and
// clipboard copies. Work asks for its bytes before it allocates them; a request that would take
// the total beyond the limit is refused, so that the program can say it has no memory for the
// work instead of being ended by the system halfway through it.
#include <cstddef>
#include <cstdint>

class MemoryBudget {
public:
    // The engine cannot ask the OS how much memory there is; front ends set the limit from it.
    static void SetLimit(size_t bytes);
    static size_t Limit();
    static size_t InUse();

    // Optional: how many bytes the system could still hand out right now (0: unknown). Large
    // requests are also refused when they exceed it, so that other programs' use counts too.
    using AvailableFn = uint64_t (*)();
    static void SetAvailableProbe(AvailableFn probe);

    // Whether `bytes` could be reserved now, without reserving them.
    static bool WouldFit(size_t bytes);
    static bool TryReserve(size_t bytes);
    static void Release(size_t bytes);
};

// Bytes held on the budget for as long as the charge lives.
class MemoryCharge {
public:
    MemoryCharge() = default;
    // A charge of `bytes`, or an empty one (Held() false) when the budget refuses them.
    static MemoryCharge Take(size_t bytes);
    ~MemoryCharge() { Reset(); }
    MemoryCharge(MemoryCharge&& other) noexcept : m_bytes(other.m_bytes) { other.m_bytes = 0; }
    MemoryCharge& operator=(MemoryCharge&& other) noexcept;
    // A copy of what is charged is charged again: copies hold memory of their own.
    MemoryCharge(const MemoryCharge& other);
    MemoryCharge& operator=(const MemoryCharge& other);

    bool Held() const { return m_bytes != 0; }
    size_t Bytes() const { return m_bytes; }
    void Reset();

private:
    size_t m_bytes = 0;
};
