#include "index/pool.h"

namespace ov {

Pool::Pool(int threadCount) {
    threads = threadCount > 0 ? threadCount : 4;
    threadsInUse.store(threads);
    workers.reserve(static_cast<size_t>(threads - 1));
    for (int i = 1; i < threads; ++i) workers.emplace_back([this] { Worker(); });
}

Pool::~Pool() {
    {
        std::lock_guard<std::mutex> state(stateMutex);
        ++generation;  // a worker looks at stop only after an unseen generation
        stop = true;
    }
    workReady.notify_all();
    for (auto& w : workers) w.join();
}

void Pool::Pull(const Job& j, int n) {
    for (int i = next.fetch_add(1); i < n; i = next.fetch_add(1)) j.call(j.object, i);
}

void Pool::RunJob(int n, Job j) {
    if (n <= 0) return;
    std::lock_guard<std::mutex> run(runMutex);
    // Read once per job; capped so no ticket waits for a worker that does not exist.
    const int inUse = std::min(threadsInUse.load(std::memory_order_relaxed), threads);
    const int extra = std::min(inUse, n) - 1;
    if (extra <= 0) {
        for (int i = 0; i < n; ++i) j.call(j.object, i);
        return;
    }
    {
        std::lock_guard<std::mutex> state(stateMutex);
        job = j;
        count = n;
        next.store(0);
        ++generation;
        tickets = extra;
        outstanding = extra;
    }
    workReady.notify_all();
    // Workers call the caller's callable, which dies with the caller's frame: wait
    // for them even when a task throws on this thread.
    struct WaitForWorkers {
        Pool& pool;
        ~WaitForWorkers() {
            std::unique_lock<std::mutex> state(pool.stateMutex);
            pool.workDone.wait(state, [this] { return pool.outstanding == 0; });
            pool.job = Job{};
        }
    } waitForWorkers{*this};
    Pull(j, n);
}

void Pool::Worker() {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> state(stateMutex);
    for (;;) {
        if (generation == seen) {
            workReady.wait(state);
            continue;
        }
        if (stop) return;
        if (tickets <= 0) {
            workReady.wait(state);
            continue;
        }
        --tickets;
        const uint64_t g = generation;
        const Job j = job;
        const int n = count;
        state.unlock();
        Pull(j, n);
        state.lock();
        if (--outstanding == 0) workDone.notify_all();
        seen = g;
    }
}

}  // namespace ov
