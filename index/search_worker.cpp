#include "index/search_worker.h"

#include <algorithm>
#include <new>
#include <shared_mutex>

#include "index/index.h"
#include "index/searcher.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr int kPrepareRounds = 6;

enum class Outcome { Answered, Cancelled, Failed };

// Parses, prepares and runs one request into result. May throw std::bad_alloc.
Outcome Search(SearchRequest& request, Index& index, Searcher& searcher, const std::string& text,
               const SearchOptions& options, SearchResult& result) {
    Query query = ParseQuery(text, options);
    result.error = query.error;
    result.words = query.highlightWords;

    std::shared_lock<SharedMutex> shared(index.lock, std::defer_lock);
    // Readiness is checked under the shared lock, so a save (which holds it shared
    // for seconds) does not hold up a search that needs nothing built. A writer
    // may slip in between Prepare and the search and leave pending work; after
    // kPrepareRounds preparations the search runs on whatever state it finds.
    for (int round = 0;; ++round) {
        if (request.cancel.load()) return Outcome::Cancelled;
        shared.lock();
        if (SearchReady(index, query, options) || round == kPrepareRounds) break;
        shared.unlock();
        std::unique_lock<SharedMutex> exclusive(index.lock);
        searcher.Prepare(query, options);
    }

    const double t0 = NowMs();
    const bool ok = searcher.Run(query, options, result.ids, &request.cancel);
    const double t1 = NowMs();
    result.epoch = index.epoch;
    result.changes = index.changes;
    result.ms = t1 - t0;
    if (ok) return Outcome::Answered;
    return searcher.LastRunFailed() ? Outcome::Failed : Outcome::Cancelled;
}

}  // namespace

SearchRequest::~SearchRequest() {
    StopSearchWorker(*this);
}

void StartSearchWorker(SearchRequest& request, Index& index, ResultSink sink) {
    request.worker = std::thread([&request, &index, sink = std::move(sink)] { SearchWorker(request, index, sink); });
}

uint64_t RequestSearch(SearchRequest& request, const std::string& text, const SearchOptions& options,
                       bool keepSelection, int threads) {
    uint64_t sequence = 0;
    {
        std::lock_guard<std::mutex> hold(request.mutex);
        if (request.quit) return 0;
        sequence = ++request.lastSequence;
        request.text = text;
        request.options = options;
        request.sequence = sequence;
        request.keepSelection = keepSelection;
        request.threads = threads;
        request.hasRequest = true;
        request.cancel.exchange(true);
    }
    request.wake.notify_all();
    return sequence;
}

void ReleaseResult(SearchRequest& request, std::unique_ptr<SearchResult> result) {
    if (!result) return;
    std::lock_guard<std::mutex> hold(request.mutex);
    request.released.push_back(std::move(result));
}

void SearchWorker(SearchRequest& request, Index& index, const ResultSink& sink) {
    Searcher searcher(&index);  // one for every search: its buffers are kept
    std::vector<std::unique_ptr<SearchResult>> released;
    // The next answer's record is made while the worker waits, so that a search
    // that runs out of memory still has one to say so with.
    std::unique_ptr<SearchResult> next;
    for (;;) {
        if (!next) next.reset(new (std::nothrow) SearchResult);
        std::string text;
        SearchOptions options;
        uint64_t sequence = 0;
        bool keepSelection = false;
        int threads = 0;
        {
            std::unique_lock<std::mutex> hold(request.mutex);
            request.wake.wait(hold, [&] { return request.hasRequest || request.quit; });
            released.swap(request.released);
            if (request.quit) break;
            text.swap(request.text);  // taken, not copied: nothing here may fail
            options = request.options;
            sequence = request.sequence;
            keepSelection = request.keepSelection;
            threads = request.threads;
            request.hasRequest = false;
            request.cancel.exchange(false);
        }
        // Outside the lock: the largest handed-back list becomes this answer's
        // buffer, so neither freeing it nor filling fresh memory holds up the
        // keystroke; the rest is freed.
        std::vector<uint32_t> buffer;
        for (const std::unique_ptr<SearchResult>& old : released) {
            if (old->ids.capacity() > buffer.capacity()) buffer.swap(old->ids);
        }
        released.clear();
        buffer.clear();

        const int poolThreads = index.pool.Threads();
        index.pool.SetThreadsInUse(threads >= 1 ? std::min(threads, poolThreads) : poolThreads);

        std::unique_ptr<SearchResult> result = std::move(next);
        if (!result) result.reset(new (std::nothrow) SearchResult);
        if (!result) continue;            // not even a record to tell the window with
        result->ids = std::move(buffer);  // Searcher::Run empties it, keeping its memory
        result->sequence = sequence;
        result->keepSelection = keepSelection;
        result->threads = index.pool.ThreadsInUse();

        // Allocation failures are the only exceptions left here.
        Outcome outcome = Outcome::Failed;
        try {
            outcome = Search(request, index, searcher, text, options, *result);
        } catch (const std::exception&) {
        }
        if (outcome == Outcome::Failed) {
            // Not an answer: the window must not go on showing the last one as if it were.
            result->failed = true;
            result->ids.clear();
            result->words.clear();
        }
        if (request.afterSearchForTesting) request.afterSearchForTesting();
        // A newer request that arrived after the search ended still wins: the
        // window would drop this result anyway.
        if (outcome != Outcome::Cancelled && !request.cancel.load()) sink(std::move(result));
    }
}

void StopSearchWorker(SearchRequest& request) {
    {
        std::lock_guard<std::mutex> hold(request.mutex);
        request.quit = true;
        request.cancel.exchange(true);
    }
    request.wake.notify_all();
    if (request.worker.joinable() && request.worker.get_id() != std::this_thread::get_id()) request.worker.join();
    std::vector<std::unique_ptr<SearchResult>> released;
    {
        std::lock_guard<std::mutex> hold(request.mutex);
        released.swap(request.released);
    }
}

}  // namespace ov
