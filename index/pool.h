// The one thread pool: a parallel-for whose caller works as one of the threads,
// one job at a time, and a chunked parallel merge sort on top of it.
//
// A job hands out seats: Run publishes the job and a number of tickets, a worker
// joins by trading a ticket for a seat, and Run returns once it has withdrawn the
// tickets left and every seat is empty. Idle workers spin briefly before they
// sleep, and so does Run before it sleeps on the last seat: one search runs
// several jobs in a row, and waking a sleeping thread costs far more than a job
// of small tasks (a wake goes through the kernel). They sleep on the system's own
// condition variable (platform.h), which gets a sleeping pool back to work
// sooner than MinGW's pthread emulation, under Wine by far.
//
// Locks: runMutex is held for one whole Run; sleepMutex only around sleeping and
// waking. A task must not call Run on the same pool.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "index/platform.h"

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
    bool TakeSeat();
    void LeaveSeat();
    // Spins until tickets are out or the pool stops, for a while; false on giving up.
    bool AwaitTickets();
    // Withdraws the tickets left, then waits until every seat is empty.
    void CloseJob();

    std::vector<std::thread> workers;
    std::mutex runMutex;  // held for one whole Run
    // The current job: written by Run before it hands out tickets, read by workers
    // holding a seat.
    Job job;
    int32_t count = 0;
    std::atomic<int32_t> next{0};
    // Tickets left in the high half, occupied seats in the low half: one word, so a
    // worker cannot slip in between Run withdrawing the tickets and seeing the
    // seats empty.
    std::atomic<uint64_t> seats{0};
    SlimMutex sleepMutex;  // idle workers sleep on wake, Run on done
    SlimCondition wake;
    SlimCondition done;
    std::atomic<int32_t> sleepers{0};
    std::atomic<bool> runSleeping{false};
    std::atomic<bool> stop{false};
    int32_t threads = 4;
    std::atomic<int32_t> threadsInUse{4};  // written by the search worker while others may read
};

// Sorts v by cmp on the pool: serial below 20,000 elements or with one thread in
// use; otherwise a power-of-two number of chunks sorted in parallel, then merged
// pairwise (equal elements keep their chunk order).
// scratch, when given, is the merge buffer, kept by the caller between sorts.
template <class T, class Cmp>
void ParallelSort(Pool& pool, std::vector<T>& v, Cmp cmp, std::vector<T>* scratch = nullptr) {
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

    std::vector<T> own;
    std::vector<T>& buffer = scratch ? *scratch : own;
    buffer.resize(n);
    std::vector<T>* src = &v;
    std::vector<T>* dst = &buffer;
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
    if (src == &buffer) v.swap(buffer);
}

}  // namespace ov
