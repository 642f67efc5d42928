// The one thread pool: a parallel-for whose caller works as one of the threads,
// one job at a time, and a chunked parallel merge sort on top of it.
//
// Locks: runMutex, then stateMutex. Workers take only stateMutex. A task must
// not call Run on the same pool.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace ov {

class Pool {
public:
    // threadCount as hardware_concurrency reports it; 0 means unknown (4 threads).
    explicit Pool(int threadCount);
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // Calls task(i) exactly once for every i in [0, n), on at most ThreadsInUse()
    // threads, the caller included. Returns when every call has returned, also when
    // a task throws on the calling thread (the exception then propagates).
    template <class Task>
    void Run(int n, Task&& task) {
        auto call = [](void* object, int i) { (*static_cast<std::remove_reference_t<Task>*>(object))(i); };
        RunJob(n, Job{const_cast<void*>(static_cast<const volatile void*>(&task)), call});
    }

    int Threads() const { return threads; }
    int ThreadsInUse() const { return threadsInUse.load(std::memory_order_relaxed); }
    // Clamped to 1..Threads(); set between jobs by the search worker and the speed test.
    void SetThreadsInUse(int n) { threadsInUse.store(std::clamp(n, 1, threads), std::memory_order_relaxed); }

private:
    struct Job {
        void* object = nullptr;
        void (*call)(void*, int) = nullptr;
    };

    void RunJob(int n, Job job);
    void Worker();
    void Pull(const Job& job, int n);

    std::vector<std::thread> workers;
    std::mutex stateMutex;  // guards job, count, tickets, outstanding, generation, stop
    std::mutex runMutex;    // held for one whole Run
    std::condition_variable workReady;
    std::condition_variable workDone;
    Job job;
    std::atomic<int32_t> next{0};
    int32_t count = 0;
    int32_t tickets = 0;
    int32_t outstanding = 0;
    int32_t threads = 4;
    std::atomic<int32_t> threadsInUse{4};  // written by the search worker while others may read
    uint64_t generation = 0;
    bool stop = false;
};

// Sorts v by cmp on the pool: serial below 20,000 elements or with one thread in
// use; otherwise a power-of-two number of chunks sorted in parallel, then merged
// pairwise (equal elements keep their chunk order).
template <class T, class Cmp>
void ParallelSort(Pool& pool, std::vector<T>& v, Cmp cmp) {
    const size_t n = v.size();
    const int inUse = pool.ThreadsInUse();
    if (n < 20000 || inUse < 2) {
        std::sort(v.begin(), v.end(), cmp);
        return;
    }
    const int t = std::min(inUse, 63);
    int chunks = 1;
    while (chunks <= t) chunks *= 2;
    std::vector<uint64_t> bounds(static_cast<size_t>(chunks) + 1);
    for (int i = 0; i <= chunks; ++i) bounds[i] = static_cast<uint64_t>(i) * n / static_cast<uint64_t>(chunks);

    pool.Run(chunks, [&](int q) { std::sort(v.begin() + bounds[q], v.begin() + bounds[q + 1], cmp); });

    std::vector<T> scratch(n);
    std::vector<T>* src = &v;
    std::vector<T>* dst = &scratch;
    for (int w = 1; w < chunks; w *= 2) {
        pool.Run(chunks / (2 * w), [&, w](int task) {
            const uint64_t lo = bounds[static_cast<size_t>(2 * task * w)];
            const uint64_t mid = bounds[static_cast<size_t>(2 * task * w + w)];
            const uint64_t hi = bounds[static_cast<size_t>(2 * task * w + 2 * w)];
            // std::merge takes from the left run on ties, as the chunk order requires.
            std::merge(src->begin() + lo, src->begin() + mid, src->begin() + mid, src->begin() + hi, dst->begin() + lo,
                       cmp);
        });
        std::swap(src, dst);
    }
    if (src == &scratch) v.swap(scratch);
}

}  // namespace ov
