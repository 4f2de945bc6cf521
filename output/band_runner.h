#pragma once
// Encoders that cut a picture into bands of rows, encode the bands on several threads and
// write them out in order.
#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace band_runner {

inline double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

enum class BandFailure { None, Memory, Sink };

// Encodes every band and hands each to `put` in order, on `threads` threads. The encoder gives
// Bands(), a Worker (per-thread state) and an Output type, Start(Worker&) and
// Encode(band, Worker&, Output&); both return false when memory ran out. The bands are
// computed ahead of writing by at most two per thread, so memory stays bounded.
template <typename Encoder, typename Put>
BandFailure EncodeBands(const Encoder& enc, int threads, double* busiestCpu, Put&& put) {
    const int bands = enc.Bands();
    threads = std::clamp(threads, 1, std::max(bands, 1));
    const double cpu0 = ThreadCpuSeconds();
    if (threads == 1) {
        typename Encoder::Worker wk;
        typename Encoder::Output out;
        if (!enc.Start(wk)) return BandFailure::Memory;
        for (int k = 0; k < bands; ++k) {
            if (!enc.Encode(k, wk, out)) return BandFailure::Memory;
            if (!put(out)) return BandFailure::Sink;
        }
        if (busiestCpu) *busiestCpu = ThreadCpuSeconds() - cpu0;
        return BandFailure::None;
    }

    const int window = 2 * threads;
    struct Slot {
        typename Encoder::Output out;
        enum { Empty, Ready, Failed } state = Empty;
    };
    std::vector<Slot> ring(static_cast<size_t>(window));
    std::mutex mutex;
    std::condition_variable changed;
    int next = 0, written = 0;
    bool stop = false;
    std::vector<double> cpu(static_cast<size_t>(threads), 0.0);
    auto work = [&](int index) {
        typename Encoder::Worker wk;
        bool ok = enc.Start(wk);
        for (;;) {
            int k;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock,
                             [&] { return stop || next >= bands || next < written + window; });
                if (stop || next >= bands) break;
                k = next++;
            }
            Slot& slot = ring[static_cast<size_t>(k % window)];
            ok = ok && enc.Encode(k, wk, slot.out);
            {
                std::lock_guard lock(mutex);
                slot.state = ok ? Slot::Ready : Slot::Failed;
            }
            changed.notify_all();
        }
        cpu[static_cast<size_t>(index)] = ThreadCpuSeconds();
    };
    std::vector<std::thread> pool;
    BandFailure failure = BandFailure::None;
    try {
        for (int i = 0; i < threads; ++i) pool.emplace_back(work, i);
    } catch (const std::system_error&) {
        failure = BandFailure::Memory;
    }
    for (int k = 0; k < bands && failure == BandFailure::None && !pool.empty(); ++k) {
        Slot& slot = ring[static_cast<size_t>(k % window)];
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slot.state != Slot::Empty; });
        }
        if (slot.state == Slot::Failed)
            failure = BandFailure::Memory;
        else if (!put(slot.out))
            failure = BandFailure::Sink;
        {
            std::lock_guard lock(mutex);
            slot.state = Slot::Empty;
            ++written;
        }
        changed.notify_all();
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    changed.notify_all();
    for (std::thread& t : pool) t.join();
    if (pool.empty()) failure = BandFailure::Memory;
    if (busiestCpu) {
        double most = ThreadCpuSeconds() - cpu0;
        for (double c : cpu) most = std::max(most, c);
        *busiestCpu = most;
    }
    return failure;
}

}  // namespace band_runner
