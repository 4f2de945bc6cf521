#pragma once
// Work spread over the processor's cores, with results that do not depend on how many.
#include <functional>

// Threads to use: FACETTA_THREADS when it is a positive number (at most 256), otherwise the
// processor count.
int WorkerThreadCount();

// Runs job(0) ... job(count - 1) on the calling thread and on up to threads - 1 helper threads
// kept for the process, and returns once all have run. Jobs must not depend on one another or
// on the thread they run on. While another call uses the helpers, the calling thread runs
// every job itself.
void ParallelFor(int count, int threads, const std::function<void(int)>& job);
