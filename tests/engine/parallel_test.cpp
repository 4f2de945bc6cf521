#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "parallel.h"

namespace {

// Every job runs exactly once, whatever the threads asked for, also when two calls overlap
// (the second then runs its jobs itself); a job's exception reaches the caller.
TEST(ParallelFor, EveryJobOnceAndFailuresReachTheCaller) {
    for (const int threads : {1, 2, 3, 16}) {
        for (const int count : {0, 1, 5, 1000}) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            ParallelFor(count, threads, [&](int i) { ++runs[static_cast<size_t>(i)]; });
            for (int i = 0; i < count; ++i)
                EXPECT_EQ(runs[static_cast<size_t>(i)].load(), 1)
                    << i << " of " << count << " on " << threads;
        }
    }

    std::vector<std::atomic<int>> a(2000), b(2000);
    std::thread other([&] { ParallelFor(2000, 4, [&](int i) { ++b[static_cast<size_t>(i)]; }); });
    ParallelFor(2000, 4, [&](int i) { ++a[static_cast<size_t>(i)]; });
    other.join();
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].load(), 1) << i;
        EXPECT_EQ(b[i].load(), 1) << i;
    }

    EXPECT_THROW(ParallelFor(100, 4,
                             [](int i) {
                                 if (i == 37) throw std::runtime_error("job 37");
                             }),
                 std::runtime_error);
    // The helpers are still there for the next call.
    std::atomic<int> total{0};
    ParallelFor(100, 4, [&](int) { ++total; });
    EXPECT_EQ(total.load(), 100);
}

}  // namespace
