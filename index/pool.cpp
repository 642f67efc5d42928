#include "index/pool.h"

#include <chrono>

namespace ov {
namespace {

constexpr uint64_t kTicket = uint64_t{1} << 32;
constexpr uint64_t kSeatMask = kTicket - 1;
// How long an idle thread spins before it sleeps: longer than the serial stretch
// between the jobs of one search, short against the time between searches.
constexpr auto kSpin = std::chrono::microseconds(200);

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Calls ready() until it is true, for at most kSpin; returns its last answer.
template <class Ready>
bool Spin(Ready&& ready) {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (int i = 1;; ++i) {
        if (ready()) return true;
        CpuRelax();
        if (i % 64 == 0 && std::chrono::steady_clock::now() >= until) return ready();
    }
}

}  // namespace

Pool::Pool(int threadCount) {
    threads = threadCount > 0 ? threadCount : 4;
    threadsInUse.store(threads);
    workers.reserve(static_cast<size_t>(threads - 1));
    for (int i = 1; i < threads; ++i) workers.emplace_back([this] { Worker(); });
}

Pool::~Pool() {
    stop.store(true);
    {
        std::lock_guard<SlimMutex> sleeping(sleepMutex);
        wake.notify_all();
    }
    for (auto& w : workers) w.join();
}

void Pool::Pull(const Job& j, int n) {
    for (int i = next.fetch_add(1); i < n; i = next.fetch_add(1)) j.call(j.object, i);
}

bool Pool::TakeSeat() {
    uint64_t s = seats.load(std::memory_order_acquire);
    while (s >= kTicket) {
        if (seats.compare_exchange_weak(s, s - kTicket + 1, std::memory_order_acq_rel)) return true;
    }
    return false;
}

void Pool::LeaveSeat() {
    // seq_cst with runSleeping: either Run sees the seat empty, or this sees it asleep.
    if (seats.fetch_sub(1) == 1 && runSleeping.load()) {
        std::lock_guard<SlimMutex> sleeping(sleepMutex);
        done.notify_all();
    }
}

bool Pool::AwaitTickets() {
    return Spin(
        [this] { return seats.load(std::memory_order_relaxed) >= kTicket || stop.load(std::memory_order_relaxed); });
}

void Pool::CloseJob() {
    if ((seats.fetch_and(kSeatMask) & kSeatMask) == 0) return;
    if (Spin([this] { return (seats.load(std::memory_order_acquire) & kSeatMask) == 0; })) return;
    std::unique_lock<SlimMutex> sleeping(sleepMutex);
    runSleeping.store(true);
    done.wait(sleeping, [this] { return (seats.load() & kSeatMask) == 0; });
    runSleeping.store(false);
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
    job = j;
    count = n;
    next.store(0, std::memory_order_relaxed);
    seats.store(static_cast<uint64_t>(extra) * kTicket);  // publishes the job; seq_cst with sleepers
    if (sleepers.load() > 0) {
        std::lock_guard<SlimMutex> sleeping(sleepMutex);
        wake.notify_all();
    }
    // Workers call the caller's callable, which dies with the caller's frame: wait
    // for them even when a task throws on this thread.
    struct Closer {
        Pool& pool;
        ~Closer() { pool.CloseJob(); }
    } closer{*this};
    Pull(j, n);
}

void Pool::Worker() {
    for (;;) {
        if (TakeSeat()) {
            const Job j = job;
            const int n = count;
            Pull(j, n);
            LeaveSeat();
            continue;
        }
        if (stop.load()) return;
        if (AwaitTickets()) continue;
        std::unique_lock<SlimMutex> sleeping(sleepMutex);
        sleepers.fetch_add(1);  // seq_cst with Run's publishing: a job is seen here or this sleeper there
        wake.wait(sleeping, [this] { return seats.load() >= kTicket || stop.load(); });
        sleepers.fetch_sub(1);
    }
}

}  // namespace ov
