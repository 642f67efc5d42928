#include "index/pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ov {
namespace {

int HardwareThreads() {
    return std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
}

// What one Run did: how often each task number was called, and on which threads.
struct Record {
    explicit Record(int n) : calls(static_cast<size_t>(std::max(n, 0))) {}
    std::vector<std::atomic<int>> calls;
    std::mutex mutex;
    std::set<std::thread::id> threadIds;
    std::vector<int> order;

    void Note(int i) {
        calls[static_cast<size_t>(i)].fetch_add(1);
        std::lock_guard<std::mutex> guard(mutex);
        threadIds.insert(std::this_thread::get_id());
        order.push_back(i);
    }
    bool EachOnce() const {
        return std::all_of(calls.begin(), calls.end(), [](const std::atomic<int>& c) { return c.load() == 1; });
    }
};

// Opens once `needed` distinct threads are inside it at the same time; false on time-out,
// so a pool that uses too few threads fails instead of hanging.
class Gate {
public:
    explicit Gate(int needed) : needed(needed) {}
    bool Enter() {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.insert(std::this_thread::get_id());
        if (static_cast<int>(arrived.size()) >= needed) open = true;
        changed.notify_all();
        return changed.wait_for(lock, std::chrono::seconds(30), [this] { return open; });
    }

private:
    int needed;
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::thread::id> arrived;
    bool open = false;
};

TEST(Pool, EveryTaskRunsOnceOnAtMostThreadsInUse) {
    const int all = HardwareThreads();
    for (int poolSize : {1, 2, 3, 8, all}) {
        Pool pool(poolSize);
        for (int inUse : {1, 2, poolSize, poolSize + 5}) {
            pool.SetThreadsInUse(inUse);
            const int allowed = std::min(inUse, poolSize);
            EXPECT_EQ(pool.ThreadsInUse(), allowed);
            for (int n : {-7, -1, 0, 1, 2, 3, poolSize - 1, poolSize, poolSize + 1, 64, 1000}) {
                Record record(n);
                std::atomic<int> calls{0};
                pool.Run(n, [&](int i) {
                    ++calls;  // only read when n <= 0, where nothing may run
                    if (i >= 0 && i < n) record.Note(i);
                });
                SCOPED_TRACE(testing::Message() << "pool " << poolSize << " inUse " << inUse << " n " << n);
                if (n <= 0) {
                    EXPECT_EQ(calls, 0);
                    continue;
                }
                EXPECT_TRUE(record.EachOnce());
                EXPECT_EQ(record.order.size(), static_cast<size_t>(n));
                EXPECT_LE(static_cast<int>(record.threadIds.size()), std::min(allowed, n));
            }
        }
    }
}

TEST(Pool, SerialJobsRunInTaskOrderOnTheCaller) {
    struct Case {
        int poolSize, inUse, n;
    } cases[] = {{1, 1, 500}, {1, 8, 37}, {8, 1, 500}, {8, 8, 1}, {0, 1, 20}};
    for (const Case& c : cases) {
        Pool pool(c.poolSize);
        pool.SetThreadsInUse(c.inUse);
        Record record(c.n);
        pool.Run(c.n, [&](int i) { record.Note(i); });
        std::vector<int> expected(static_cast<size_t>(c.n));
        for (int i = 0; i < c.n; ++i) expected[static_cast<size_t>(i)] = i;
        EXPECT_EQ(record.order, expected) << "pool " << c.poolSize << " inUse " << c.inUse;
        EXPECT_EQ(record.threadIds, std::set<std::thread::id>{std::this_thread::get_id()});
    }
}

// Each task blocks until `expected` distinct threads are inside, which only a pool
// that really runs that many threads at once can satisfy.
TEST(Pool, RunsOnAsManyThreadsAsAllowed) {
    struct Case {
        int poolSize, inUse, n, expected;
    } cases[] = {
        {8, 8, 3, 3},    // three tasks: the caller and exactly two workers
        {0, 4, 100, 4},  // unknown processor count: four threads
        {8, 2, 50, 2},   // fewer in use than the pool has
        {4, 9, 10, 4},   // more than the pool has is clamped
        {3, 3, 2, 2},    // fewer tasks than threads
        {1, 1, 5, 1},    // no workers at all
    };
    for (const Case& c : cases) {
        Pool pool(c.poolSize);
        pool.SetThreadsInUse(c.inUse);
        Gate gate(c.expected);
        Record record(c.n);
        std::atomic<int> timeouts{0};
        pool.Run(c.n, [&](int i) {
            if (!gate.Enter()) timeouts.fetch_add(1);
            record.Note(i);
        });
        SCOPED_TRACE(testing::Message() << "pool " << c.poolSize << " inUse " << c.inUse << " n " << c.n);
        EXPECT_EQ(timeouts.load(), 0);
        EXPECT_TRUE(record.EachOnce());
        EXPECT_EQ(static_cast<int>(record.threadIds.size()), c.expected);
        EXPECT_EQ(record.threadIds.count(std::this_thread::get_id()), 1u);
    }
    EXPECT_EQ(Pool(0).Threads(), 4);
    EXPECT_EQ(Pool(-2).Threads(), 4);
}

// Between jobs the workers stop spinning and sleep; each job must wake them all.
TEST(Pool, SleepingWorkersWakeForEveryJob) {
    Pool pool(4);
    for (int job = 0; job < 5; ++job) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Gate gate(4);
        std::atomic<int> timeouts{0};
        pool.Run(4, [&](int) {
            if (!gate.Enter()) timeouts.fetch_add(1);
        });
        ASSERT_EQ(timeouts.load(), 0) << "job " << job;
    }
}

TEST(Pool, ThousandsOfShortJobsEachComplete) {
    Pool pool(std::min(HardwareThreads(), 8));
    for (int job = 0; job < 5000; ++job) {
        pool.SetThreadsInUse(1 + job % pool.Threads());
        const int n = 1 + job % 11;
        std::atomic<int> sum{0};
        pool.Run(n, [&](int i) { sum.fetch_add(i + 1); });
        ASSERT_EQ(sum.load(), n * (n + 1) / 2) << "job " << job;
    }
}

TEST(Pool, RunsFromSeveralThreadsDoNotOverlap) {
    Pool pool(std::min(HardwareThreads(), 8));
    std::mutex mutex;
    int runningTasks = 0;
    int owner = -1;
    std::atomic<int> overlaps{0};
    std::atomic<int> badJobs{0};
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 4; ++caller) {
        callers.emplace_back([&, caller] {
            for (int job = 0; job < 200; ++job) {
                Record record(16);
                pool.Run(16, [&](int i) {
                    {
                        std::lock_guard<std::mutex> guard(mutex);
                        if (runningTasks > 0 && owner != caller) overlaps.fetch_add(1);
                        owner = caller;
                        ++runningTasks;
                    }
                    record.Note(i);
                    std::lock_guard<std::mutex> guard(mutex);
                    --runningTasks;
                });
                if (!record.EachOnce()) badJobs.fetch_add(1);
            }
        });
    }
    for (auto& t : callers) t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(badJobs.load(), 0);
}

TEST(Pool, ThreadsInUseMayChangeWhileJobsRun) {
    Pool pool(std::min(HardwareThreads(), 8));
    std::atomic<bool> done{false};
    std::thread changer([&] {
        const int values[] = {-1, 0, 1, 2, pool.Threads(), pool.Threads() + 3, 3};
        for (int k = 0; !done.load(); ++k) pool.SetThreadsInUse(values[k % 7]);
    });
    int bad = 0;
    for (int job = 0; job < 3000; ++job) {
        const int inUse = pool.ThreadsInUse();
        if (inUse < 1 || inUse > pool.Threads()) ++bad;
        const int n = 1 + job % 16;
        Record record(n);
        pool.Run(n, [&](int i) { record.Note(i); });
        if (!record.EachOnce() || static_cast<int>(record.threadIds.size()) > pool.Threads()) ++bad;
    }
    done = true;
    changer.join();
    EXPECT_EQ(bad, 0);
}

// The callable lives on the caller's stack: when a task throws on the caller,
// Run must not return while workers may still be calling it.
TEST(Pool, TaskThrowingOnCallerWaitsForWorkers) {
    Pool pool(4);
    const auto caller = std::this_thread::get_id();
    std::atomic<int> running{0};
    std::atomic<int> stillRunningAtCatch{-1};
    try {
        pool.Run(64, [&](int i) {
            running.fetch_add(1);
            if (std::this_thread::get_id() == caller) {
                running.fetch_sub(1);
                throw std::runtime_error("task failed");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            running.fetch_sub(1);
        });
    } catch (const std::runtime_error&) {
        stillRunningAtCatch = running.load();
    }
    EXPECT_EQ(stillRunningAtCatch.load(), 0);
    Record record(100);  // and the pool still works
    pool.Run(100, [&](int i) { record.Note(i); });
    EXPECT_TRUE(record.EachOnce());
}

struct Keyed {
    uint32_t key = 0;
    uint32_t id = 0;
};

// Around the serial threshold and at every chunk count (4, 8, 32, 64): the result
// must be exactly what std::sort gives.
TEST(Pool, ParallelSortMatchesStdSort) {
    Pool pool(100);
    std::mt19937 rng(20000);
    for (size_t n : {size_t{0}, size_t{1}, size_t{19999}, size_t{20000}, size_t{20001}, size_t{150001}}) {
        std::vector<uint32_t> data(n);
        for (auto& x : data) x = static_cast<uint32_t>(rng() % 3000);  // many duplicates
        std::vector<uint32_t> expected = data;
        std::sort(expected.begin(), expected.end());
        for (int inUse : {1, 2, 3, 4, 8, 16, 100}) {
            pool.SetThreadsInUse(inUse);
            std::vector<uint32_t> v = data;
            ParallelSort(pool, v, std::less<uint32_t>());
            EXPECT_EQ(v, expected) << "n " << n << " inUse " << inUse;
        }
    }
}

// Sorting on a key field only: a permutation ordered by key, equal keys in the
// order of the chunks they started in.
TEST(Pool, ParallelSortOfEqualKeysIsAPermutationInChunkOrder) {
    Pool pool(100);
    std::mt19937 rng(19999);
    const auto byKey = [](const Keyed& a, const Keyed& b) { return a.key < b.key; };
    for (size_t n : {size_t{19999}, size_t{20000}, size_t{20001}, size_t{99999}}) {
        std::vector<Keyed> data(n);
        for (size_t i = 0; i < n; ++i) data[i] = {static_cast<uint32_t>(rng() % 97), static_cast<uint32_t>(i)};
        std::vector<Keyed> reference = data;
        std::stable_sort(reference.begin(), reference.end(), byKey);
        for (int inUse : {1, 2, 3, 4, 8, 100}) {
            pool.SetThreadsInUse(inUse);
            std::vector<Keyed> v = data;
            ParallelSort(pool, v, byKey);
            SCOPED_TRACE(testing::Message() << "n " << n << " inUse " << inUse);
            ASSERT_TRUE(std::is_sorted(v.begin(), v.end(), byKey));
            std::vector<int> seen(n);
            bool keysMatch = true;
            for (size_t i = 0; i < n; ++i) {
                ++seen[v[i].id];
                keysMatch = keysMatch && v[i].key == data[v[i].id].key && v[i].key == reference[i].key;
            }
            EXPECT_TRUE(keysMatch);
            EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int s) { return s == 1; }));
            if (n < 20000 || inUse < 2) continue;
            uint64_t chunks = 1;
            while (chunks <= static_cast<uint64_t>(std::min(inUse, 63))) chunks *= 2;
            const auto chunkOf = [&](uint32_t id) {
                uint64_t q = 0;
                while ((q + 1) * n / chunks <= id) ++q;
                return q;
            };
            int outOfChunkOrder = 0;
            for (size_t i = 1; i < n; ++i)
                if (v[i].key == v[i - 1].key && chunkOf(v[i].id) < chunkOf(v[i - 1].id)) ++outOfChunkOrder;
            EXPECT_EQ(outOfChunkOrder, 0);
        }
    }
}

}  // namespace
}  // namespace ov
