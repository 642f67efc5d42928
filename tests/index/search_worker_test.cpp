#include "index/search_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <thread>

#include "index/index.h"
#include "tests/support/failing_alloc.h"
#include "tests/support/index_reference.h"
#include "tests/support/random_index.h"
#include "tests/support/random_query.h"
#include "tests/support/search_reference.h"

namespace ov {
namespace {

using namespace std::chrono_literals;

// Collects what the worker hands over.
struct Inbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::unique_ptr<SearchResult>> results;

    ResultSink Sink() {
        return [this](std::unique_ptr<SearchResult> r) {
            std::lock_guard<std::mutex> hold(mutex);
            results.push_back(std::move(r));
            arrived.notify_all();
        };
    }
    // Waits until a result for `sequence` (or a later one) arrived.
    bool WaitFor(uint64_t sequence, std::chrono::seconds limit = 60s) {
        std::unique_lock<std::mutex> hold(mutex);
        return arrived.wait_for(hold, limit, [&] { return !results.empty() && results.back()->sequence >= sequence; });
    }
};

void FillSmall(Index& index) {
    testing::Rng rng(5);
    testing::FillRandomIndex(index, rng, {.entries = 2000, .mutate = true, .exclude = true});
}

bool Taken(SearchRequest& request) {
    std::lock_guard<std::mutex> hold(request.mutex);
    return !request.hasRequest;
}

TEST(SearchWorker, NewerRequestsCancelTheRunningSearch) {
    Index index;
    FillSmall(index);
    SearchRequest request;
    Inbox inbox;
    StartSearchWorker(request, index, inbox.Sink());
    uint64_t third = 0;
    {
        // Holding the lock keeps the first search from preparing until the others arrived.
        std::unique_lock<SharedMutex> hold(index.lock);
        RequestSearch(request, "a", {}, false, 0);
        while (!Taken(request)) std::this_thread::sleep_for(1ms);
        RequestSearch(request, "b", {}, false, 0);
        third = RequestSearch(request, "log", {}, true, 0);
    }
    ASSERT_TRUE(inbox.WaitFor(third));
    std::this_thread::sleep_for(50ms);  // room for a stray result to show up
    StopSearchWorker(request);
    ASSERT_EQ(inbox.results.size(), 1u);
    EXPECT_EQ(inbox.results[0]->sequence, third);
    EXPECT_TRUE(inbox.results[0]->keepSelection);
    EXPECT_EQ(inbox.results[0]->words, std::vector<std::string>{"log"});
    EXPECT_FALSE(inbox.results[0]->ids.empty());
}

TEST(SearchWorker, ANewerRequestBeforeTheHandOffDropsTheFinishedResult) {
    Index index;
    FillSmall(index);
    SearchRequest request;
    Inbox inbox;
    std::atomic<int> searches{0};
    request.afterSearchForTesting = [&] {
        if (searches++ == 0) RequestSearch(request, "b", {}, false, 0);
    };
    StartSearchWorker(request, index, inbox.Sink());
    const uint64_t first = RequestSearch(request, "a", {}, false, 0);
    ASSERT_TRUE(inbox.WaitFor(first + 1));
    StopSearchWorker(request);
    ASSERT_EQ(inbox.results.size(), 1u);
    EXPECT_EQ(inbox.results[0]->sequence, first + 1);
}

// A save holds the index lock shared for seconds; a search that needs nothing
// built must still answer meanwhile.
TEST(SearchWorker, ReadySearchAnswersWhileASaveHoldsTheSharedLock) {
    Index index;
    FillSmall(index);
    SearchRequest request;
    Inbox inbox;
    StartSearchWorker(request, index, inbox.Sink());
    const uint64_t first = RequestSearch(request, "log", {}, false, 0);
    ASSERT_TRUE(inbox.WaitFor(first));
    {
        std::shared_lock<SharedMutex> saving(index.lock);
        const uint64_t second = RequestSearch(request, "log", {}, false, 0);
        EXPECT_TRUE(inbox.WaitFor(second, 20s));
    }
    StopSearchWorker(request);
}

TEST(SearchWorker, ResultCarriesThreadsErrorAndIndexState) {
    Index index;
    FillSmall(index);
    const int poolThreads = index.pool.Threads();
    SearchRequest request;
    Inbox inbox;
    StartSearchWorker(request, index, inbox.Sink());
    struct Case {
        const char* text;
        int threads;
        int want;
        bool error;
    } cases[] = {
        {"", 0, poolThreads, false},
        {"x", poolThreads + 4, poolThreads, false},
        {"size:abc", 1, 1, true},
        {"regex:(", -3, poolThreads, true},
    };
    for (const auto& c : cases) {
        const uint64_t sequence = RequestSearch(request, c.text, {}, false, c.threads);
        ASSERT_TRUE(inbox.WaitFor(sequence)) << c.text;
        const SearchResult& r = *inbox.results.back();
        EXPECT_EQ(r.sequence, sequence);
        EXPECT_EQ(r.threads, c.want) << c.text;
        EXPECT_EQ(!r.error.empty(), c.error) << c.text;
        EXPECT_EQ(r.epoch, index.epoch);
        EXPECT_EQ(r.changes, index.changes);
        EXPECT_GE(r.ms, 0.0);
    }
    StopSearchWorker(request);
    StopSearchWorker(request);  // a second stop only sets the flags again
}

// Memory running out at any allocation of a search, on the worker or in a task
// of the pool, still gets an answer: the hits, or a result that says the search
// failed, never silence that would leave the last answer standing.
TEST(SearchWorker, ASearchThatRunsOutOfMemorySaysSo) {
    Index index;
    FillSmall(index);
    SearchRequest request;
    Inbox inbox;
    inbox.results.reserve(4096);  // the sink runs on the worker and must not allocate there
    StartSearchWorker(request, index, inbox.Sink());
    const std::vector<uint32_t> want = testing::NaiveSearch(index, ParseQuery("log", {}), {});
    ASSERT_TRUE(inbox.WaitFor(RequestSearch(request, "log", {}, false, 1)));  // the orders are built
    size_t failed = 0;
    for (size_t k = 0;; ++k) {
        uint64_t sequence = 0;
        {
            // Held, it keeps the search from starting before the failure is armed.
            std::unique_lock<SharedMutex> hold(index.lock);
            sequence = RequestSearch(request, "log", {}, false, 1);  // one thread: the tasks run on the worker
            while (!Taken(request)) std::this_thread::sleep_for(1ms);
            testing::FailAllocation(k, request.worker.get_id());
        }
        const bool answered = inbox.WaitFor(sequence);
        const bool reached = testing::StopFailingAllocations();
        ASSERT_TRUE(answered) << "allocation " << k << " failed and nothing was handed over";
        ASSERT_LT(inbox.results.size(), inbox.results.capacity());
        const SearchResult& r = *inbox.results.back();
        ASSERT_EQ(r.sequence, sequence);
        if (r.failed) {
            EXPECT_TRUE(r.ids.empty()) << k;
            ++failed;
        } else {
            EXPECT_EQ(r.ids, want) << k;
        }
        if (!reached) break;
    }
    StopSearchWorker(request);
    EXPECT_GT(failed, 0u);
}

// Going out of scope with the worker still running stops and joins it; a
// joinable thread would end the process.
TEST(SearchWorker, RequestDestroyedWhileItsWorkerRuns) {
    Index index;
    FillSmall(index);
    Inbox inbox;
    {
        SearchRequest request;
        StartSearchWorker(request, index, inbox.Sink());
        RequestSearch(request, "log", {}, false, 0);
    }
    // Reaching here means no terminate; and no search still holds the index.
    EXPECT_TRUE(index.lock.try_lock());
    index.lock.unlock();
}

TEST(SearchWorker, RequestAfterStopIsNeverSearched) {
    Index index;
    FillSmall(index);
    SearchRequest request;
    Inbox inbox;
    StartSearchWorker(request, index, inbox.Sink());
    StopSearchWorker(request);
    EXPECT_EQ(RequestSearch(request, "a", {}, false, 0), 0u);
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(inbox.results.empty());
}

// The owner hands each result back once it took the next one, as the window
// does; the worker frees it or fills the next answer into its memory, never
// into one still held (ASan; the held answer must stay as it came), every
// answer as a fresh search would give it, nothing left after the stop (LSan).
TEST(SearchWorker, ResultsHandedBackAreReusedOrFreedByTheWorker) {
    Index index;
    FillSmall(index);
    SearchRequest request;
    Inbox inbox;
    StartSearchWorker(request, index, inbox.Sink());
    const char* texts[] = {"", "log", "a", "x", "qzqzqz"};
    std::unique_ptr<SearchResult> held;
    std::vector<uint32_t> heldIds;
    for (int i = 0; i < 40; ++i) {
        const char* text = texts[i % 5];
        const uint64_t sequence = RequestSearch(request, text, {}, false, 0);
        ASSERT_TRUE(inbox.WaitFor(sequence));
        std::unique_ptr<SearchResult> next;
        {
            std::lock_guard<std::mutex> hold(inbox.mutex);
            std::lock_guard<std::mutex> holdRequest(request.mutex);
            EXPECT_TRUE(request.released.empty()) << i;  // taken before this search
            next = std::move(inbox.results.back());
            inbox.results.clear();
        }
        const std::vector<uint32_t> want = testing::NaiveSearch(index, ParseQuery(text, {}), {});
        EXPECT_EQ(next->ids, want) << text;
        if (held) {
            EXPECT_EQ(held->ids, heldIds) << i;
        }
        ReleaseResult(request, std::move(held));
        held = std::move(next);
        heldIds = held->ids;
    }
    StopSearchWorker(request);
    ReleaseResult(request, std::move(held));  // after the stop: freed with the request
}

// Requests pour in while a writer keeps changing the index; run under TSan. The
// last request must always be answered, and answers only ever move forward.
TEST(SearchWorker, RandomRequestsAgainstAChangingIndex) {
    Index index;
    FillSmall(index);
    SearchRequest request;
    Inbox inbox;
    StartSearchWorker(request, index, inbox.Sink());
    std::atomic<bool> stopWriter{false};
    std::thread writer([&] {
        testing::Rng rng(11);
        while (!stopWriter.load()) {
            {
                std::unique_lock<SharedMutex> hold(index.lock);
                for (int k = 0; k < 5; ++k) testing::RandomChange(index, rng);
                if (rng() % 200 == 0) index.Compact();
                if (rng() % 50 == 0) index.hideHidden = !index.hideHidden;
            }
            std::this_thread::yield();
        }
    });
    testing::Rng rng(3);
    std::vector<std::string> folders;
    {
        std::shared_lock<SharedMutex> hold(index.lock);
        folders = testing::SomeFolderPaths(index, rng, 10);
    }
    uint64_t last = 0;
    for (int i = 0; i < 10000; ++i) {
        const auto rs = testing::RandomQuery(rng, folders);
        last = RequestSearch(request, rs.text, rs.options, rng() % 2, static_cast<int>(rng() % 10));
        // Now and then let a search finish, so searches and writes overlap often.
        if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 500));
        if (i % 1000 == 999 && !inbox.WaitFor(last)) break;  // checked below, after the writer stopped
    }
    const bool answered = inbox.WaitFor(last, 120s);
    stopWriter = true;
    writer.join();
    StopSearchWorker(request);
    ASSERT_TRUE(answered);
    EXPECT_EQ(inbox.results.back()->sequence, last);
    for (size_t k = 1; k < inbox.results.size(); ++k)
        EXPECT_LT(inbox.results[k - 1]->sequence, inbox.results[k]->sequence);
}

}  // namespace
}  // namespace ov
