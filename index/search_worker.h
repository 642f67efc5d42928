// The search worker: one thread that takes the newest search request, makes the
// index ready for it, searches on the pool and hands the result to a sink. A new
// request cancels the running search; a cancelled search hands over nothing, one
// that failed (out of memory) a result that says so.
//
// The core knows no window: the sink decides where a result goes (the desktop
// build posts it to the main window, tests collect it).
//
// Locks: the request mutex is a leaf and is never held with the index lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "index/query.h"

namespace ov {

class Index;

// Posted to the main window with a SearchResult* in lParam (WM_APP + 50).
constexpr unsigned WM_APP_RESULTS = 0x8000u + 50u;

// What one search hands back; belongs to whoever the sink gives it to.
struct SearchResult {
    std::vector<uint32_t> ids;  // display order
    uint64_t sequence = 0;      // of the request searched
    uint64_t epoch = 0;         // entry numbers are valid for this epoch only
    uint64_t changes = 0;
    double ms = 0;                   // time spent in Searcher::Run
    std::string error;               // the query's error text, empty when it parsed
    std::vector<std::string> words;  // folded highlight words
    bool keepSelection = false;
    int threads = 0;  // threads the search was allowed to use
    // The search could not be finished (out of memory): ids and words are empty,
    // error is still the query's.
    bool failed = false;
};

// Takes the result; letting it go out of scope frees it (a failed hand-off).
using ResultSink = std::function<void(std::unique_ptr<SearchResult>)>;

// The one request block shared by the requesting thread and the worker.
struct SearchRequest {
    std::thread worker;
    uint64_t lastSequence = 0;        // guarded by mutex
    std::atomic<bool> cancel{false};  // changed under mutex, read without it
    bool quit = false;                // guarded by mutex; never cleared
    bool hasRequest = false;          // guarded by mutex
    std::string text;                 // guarded by mutex
    SearchOptions options;            // guarded by mutex
    uint64_t sequence = 0;            // guarded by mutex
    bool keepSelection = false;       // guarded by mutex
    int threads = 0;                  // guarded by mutex; 0 or less = all
    // Results handed back by their owner, freed by the worker; guarded by mutex.
    std::vector<std::unique_ptr<SearchResult>> released;
    std::condition_variable wake;
    std::mutex mutex;
    // Tests: called by the worker between a finished search and its hand-off.
    // Set before the worker starts.
    std::function<void()> afterSearchForTesting;

    SearchRequest() = default;
    SearchRequest(const SearchRequest&) = delete;
    SearchRequest& operator=(const SearchRequest&) = delete;
    // Stops and joins a worker still running (a joinable thread would end the process).
    ~SearchRequest();
};

// Starts the worker over index; results go to sink. Not while a worker runs.
void StartSearchWorker(SearchRequest& request, Index& index, ResultSink sink);

// Stores a request (replacing one still waiting), cancels the running search and
// wakes the worker. Returns the request's sequence number, or 0 after the worker
// was told to stop (nothing is searched then). Any thread; returns at once.
uint64_t RequestSearch(SearchRequest& request, const std::string& text, const SearchOptions& options,
                       bool keepSelection, int threads);

// Hands a result back to the worker, so that freeing a large one costs its
// owner nothing: before its next search the worker frees it or keeps its
// memory for that search's answer. Any thread; after the
// worker stopped (or when it never ran) the result is freed by the last
// StopSearchWorker or the request's destructor.
void ReleaseResult(SearchRequest& request, std::unique_ptr<SearchResult> result);

// The worker thread's body; returns after StopSearchWorker.
void SearchWorker(SearchRequest& request, Index& index, const ResultSink& sink);

// Ends the worker and waits for it, then frees the results handed back. Safe
// to call again.
void StopSearchWorker(SearchRequest& request);

}  // namespace ov
