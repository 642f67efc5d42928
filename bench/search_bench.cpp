// Searcher::Run over the shared corpus, per query and sort key, with every thread
// and with one. Next to it, in the same run, the floor: one parallel pass over the
// folded-name pool, and a first-and-last-byte scan that turns its hits into entry
// numbers in name order (what any name search must at least do). The cases live in
// search_cases.h, which the Windows build's timing driver runs too.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/corpus.h"
#include "bench/search_cases.h"
#include "index/index.h"

namespace {

using ov::Index;
using ov::SortKey;

const int64_t kSizes[] = {1000000, 3000000, 8000000, 10000000};

// One corpus index at a time (the 10M one takes gigabytes), with the tables every
// query here needs already built, so each measurement is Run alone.
Index* CorpusIndex(int64_t entries, std::string& error) {
    static std::unique_ptr<Index> index;
    static int64_t loadedEntries = 0;
    if (index && loadedEntries == entries) return index.get();
    index.reset();
    ov::bench::CorpusSize size;
    if (!ov::bench::CorpusOfSize(entries, size)) {
        error = "no corpus of that size";
        return nullptr;
    }
    const ov::bench::Corpus* corpus = ov::bench::LoadCorpus(size, error);
    if (!corpus) return nullptr;
    auto filled = std::make_unique<Index>();
    if (!ov::bench::FillIndex(*filled, corpus->paths, ov::bench::kSearchSeed, error)) return nullptr;
    ov::bench::PrepareForSearch(*filled);
    index = std::move(filled);
    loadedEntries = entries;
    return index.get();
}

template <class T>
uint64_t Bytes(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

// Everything a search reads: the entries and pools, the side tables, the orders
// and ranks built, and the folder path cache.
uint64_t SearchBytes(const Index& index) {
    uint64_t bytes = Bytes(index.entries) + index.names.capacity() + index.folded.capacity() +
                     Bytes(index.foldedOffsets) + Bytes(index.extHashes) + Bytes(index.pathOffset) +
                     Bytes(index.pathLength) + index.pathBuffer.capacity();
    for (int k = 0; k < ov::kSortKeys; ++k) bytes += Bytes(index.orders[k]) + Bytes(index.ranks[k]);
    return bytes;
}

void SetCounters(benchmark::State& state, const Index& index, size_t hits) {
    const auto n = static_cast<double>(index.entries.size());
    state.counters["hits"] = static_cast<double>(hits);
    state.counters["index_bytes_per_entry"] =
        static_cast<double>(Bytes(index.entries) + index.names.capacity() + index.folded.capacity()) / n;
    state.counters["search_bytes_per_entry"] = static_cast<double>(SearchBytes(index)) / n;
}

// The corpus index of the benchmark's size with its thread count set; null (the
// benchmark skipped with the reason) when the corpus can't be had.
Index* BenchIndex(benchmark::State& state) {
    std::string error;
    Index* index = CorpusIndex(state.range(0), error);
    if (!index) {
        state.SkipWithError(error.c_str());
        return nullptr;
    }
    index->pool.SetThreadsInUse(static_cast<int>(state.range(1)));
    return index;
}

void SearchQuery(benchmark::State& state, const char* text, SortKey sort) {
    Index* index = BenchIndex(state);
    if (!index) return;
    ov::bench::QueryRun run(*index, text, sort);
    std::shared_lock<ov::SharedMutex> hold(index->lock);
    size_t hits = 0;
    for (auto _ : state) benchmark::DoNotOptimize(hits = run.Run());
    SetCounters(state, *index, hits);
    state.SetLabel(text);
}

// Milliseconds from raising the cancel flag of a running costly search until it
// returns (manual time), so a newer keystroke or the exit is not held up.
void CancelLatency(benchmark::State& state, const char* text) {
    Index* index = BenchIndex(state);
    if (!index) return;
    ov::bench::CancelRun run(*index, text);
    std::shared_lock<ov::SharedMutex> hold(index->lock);
    double worst = 0;
    for (auto _ : state) {
        const double ms = run.Run();
        if (ms < 0) {
            state.SkipWithError("the search ended before it was cancelled");
            return;
        }
        worst = std::max(worst, ms);
        state.SetIterationTime(ms / 1000);
    }
    state.counters["worst_ms"] = worst;
    state.SetLabel(std::string(text).substr(0, 40));
}

void FloorPoolPass(benchmark::State& state) {
    Index* index = BenchIndex(state);
    if (!index) return;
    ov::bench::PoolPassRun run(*index);
    std::shared_lock<ov::SharedMutex> hold(index->lock);
    for (auto _ : state) run.Run();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(run.Bytes()));
    SetCounters(state, *index, 0);
}

void FloorScan(benchmark::State& state, const char* needle) {
    Index* index = BenchIndex(state);
    if (!index) return;
    ov::bench::ScanRun run(*index, needle);
    std::shared_lock<ov::SharedMutex> hold(index->lock);
    size_t hits = 0;
    for (auto _ : state) benchmark::DoNotOptimize(hits = run.Run());
    SetCounters(state, *index, hits);
    state.SetLabel(needle);
}

// Registered size by size so each corpus index is built once.
const bool kRegistered = [] {
    const int64_t all = std::max<int64_t>(1, std::thread::hardware_concurrency());
    auto configure = [all](benchmark::internal::Benchmark* b, int64_t size) {
        b->ArgNames({"entries", "threads"})
            ->Args({size, all})
            ->Args({size, 1})
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.2)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    };
    for (int64_t size : kSizes) {
        configure(benchmark::RegisterBenchmark("BM_Floor_PoolPass", FloorPoolPass), size);
        for (const char* needle : ov::bench::kFloorNeedles) {
            configure(benchmark::RegisterBenchmark((std::string("BM_Floor_Scan_") + needle).c_str(),
                                                   [needle](benchmark::State& s) { FloorScan(s, needle); }),
                      size);
        }
        for (const ov::bench::QueryCase& q : ov::bench::CostlyQueries()) {
            benchmark::RegisterBenchmark((std::string("BM_Cancel_") + q.name).c_str(),
                                         [text = q.text](benchmark::State& s) { CancelLatency(s, text); })
                ->ArgNames({"entries", "threads"})
                ->Args({size, all})
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(10);
        }
        for (const ov::bench::QueryCase& q : ov::bench::SearchQueries()) {
            for (SortKey sort : {SortKey::Name, SortKey::Path}) {
                configure(benchmark::RegisterBenchmark(
                              ov::bench::SearchCaseName(q, sort).c_str(),
                              [text = q.text, sort](benchmark::State& s) { SearchQuery(s, text, sort); }),
                          size);
            }
        }
    }
    return true;
}();

}  // namespace
