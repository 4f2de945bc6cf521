#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Helper threads started on first use and kept: starting threads per picture would cost about
// as much as a small picture, and each helper keeps its drawing scratch warm.
class Helpers {
public:
    // Runs the jobs with up to `helpers` of its threads; false when another call has them.
    bool Run(int count, int helpers, const std::function<void(int)>& job) {
        std::unique_lock<std::mutex> busy(m_busy, std::try_to_lock);
        if (!busy.owns_lock()) return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            while (static_cast<int>(m_threads.size()) < helpers)
                m_threads.emplace_back([this] { Serve(); });
            m_job = &job;
            m_count = count;
            m_next.store(0);
            m_wanted = helpers;
            m_running = 0;
            ++m_round;
        }
        m_wake.notify_all();
        Work(job, count);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [this] { return m_wanted == 0 && m_running == 0; });
        m_job = nullptr;
        // What a job threw on a helper is thrown here, as it would be without helpers.
        if (std::exception_ptr failure = std::exchange(m_failure, nullptr))
            std::rethrow_exception(failure);
        return true;
    }

private:
    void Work(const std::function<void(int)>& job, int count) {
        try {
            for (int i = m_next.fetch_add(1); i < count; i = m_next.fetch_add(1)) job(i);
        } catch (...) {
            m_next.store(count);  // the rest is not started
            std::lock_guard<std::mutex> lock(m_failureMutex);
            if (!m_failure) m_failure = std::current_exception();
        }
    }

    void Serve() {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_round != seen && m_wanted > 0; });
            seen = m_round;
            --m_wanted;
            ++m_running;
            const std::function<void(int)>& job = *m_job;
            const int count = m_count;
            lock.unlock();
            Work(job, count);
            lock.lock();
            --m_running;
            if (m_running == 0 && m_wanted == 0) m_done.notify_all();
        }
    }

    std::mutex m_busy;  // one call at a time
    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    std::vector<std::thread> m_threads;
    const std::function<void(int)>* m_job = nullptr;
    int m_count = 0;
    std::atomic<int> m_next{0};
    int m_wanted = 0;   // helpers still to join this round
    int m_running = 0;  // helpers working on it
    uint64_t m_round = 0;
    std::mutex m_failureMutex;
    std::exception_ptr m_failure;
};

Helpers& TheHelpers() {
    // Never destroyed: its threads wait on it until the process ends.
    static Helpers* helpers = new Helpers;
    return *helpers;
}

}  // namespace

int WorkerThreadCount() {
    if (const char* env = std::getenv("FACETTA_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n > 0) return static_cast<int>(std::min(n, 256L));
    }
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 256u));
}

void ParallelFor(int count, int threads, const std::function<void(int)>& job) {
    const int helpers = std::min(threads, count) - 1;
    if (helpers > 0 && TheHelpers().Run(count, helpers, job)) return;
    for (int i = 0; i < count; ++i) job(i);
}
