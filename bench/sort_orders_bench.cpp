// Full sorts of every key and merges of a pending list, on the shared 10-million-entry index.
#include <benchmark/benchmark.h>

#include <mutex>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>

#include "bench/big_index.h"

namespace {

using ov::SortKey;

const char* const kKeyNames[ov::kSortKeys] = {"Name",         "Path",        "Size", "Extension",
                                              "DateModified", "DateCreated", "Type", "RunCount"};
constexpr int kPending = 200000;

// The path cache (for Path) and some opened entries (for RunCount), once.
ov::Index& PreparedIndex() {
    ov::Index& index = ov::bench::SharedBigIndex().index;
    static const bool prepared = [&index] {
        std::mt19937_64 rng(7);
        for (int i = 0; i < 10000; ++i)
            index.openCounts[static_cast<uint32_t>(rng() % index.entries.size())] += 1 + rng() % 5;
        index.BuildAllDirPaths();
        return true;
    }();
    (void)prepared;
    return index;
}

void Report(benchmark::State& state, const ov::Index& index) {
    const auto n = static_cast<double>(index.entries.size());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(index.entries.size()));
    state.counters["threads"] = index.pool.ThreadsInUse();
    state.counters["bytes_per_entry"] = static_cast<double>(ov::bench::IndexBytesWithOrders(index)) / n;
    state.counters["table_pool_bytes_per_entry"] = static_cast<double>(ov::bench::IndexBytes(index)) / n;
}

void FullSort(benchmark::State& state, SortKey key) {
    ov::Index& index = PreparedIndex();
    std::unique_lock<ov::SharedMutex> guard(index.lock);
    if (key == SortKey::Path) index.BuildAllDirPaths();
    for (auto _ : state) index.FullSort(key);
    Report(state, index);
}

// 200,000 noted entries (some twice) merged into a current order of the key.
void MergePending(benchmark::State& state, SortKey key) {
    ov::Index& index = PreparedIndex();
    std::unique_lock<ov::SharedMutex> guard(index.lock);
    index.EnsureSortedBy(key);
    const auto k = static_cast<size_t>(key);
    std::mt19937_64 rng(11);
    for (auto _ : state) {
        state.PauseTiming();
        const auto n = static_cast<uint32_t>(index.entries.size());
        for (int i = 0; i < kPending; ++i) index.NoteKey(key, static_cast<uint32_t>(rng() % n));
        if (index.overflow[k] || !index.orderValid[k]) state.SkipWithError("the pending list overflowed");
        state.ResumeTiming();
        index.EnsureSortedBy(key);
    }
    Report(state, index);
}

const bool kRegistered = [] {
    const std::string threads = "/threads:" + std::to_string(std::max(1u, std::thread::hardware_concurrency()));
    const std::string entries = "/entries:" + std::to_string(ov::bench::kBigEntries);
    for (int k = 0; k < ov::kSortKeys; ++k) {
        const auto key = static_cast<SortKey>(k);
        benchmark::RegisterBenchmark(("BM_Index_FullSort/key:" + std::string(kKeyNames[k]) + entries + threads).c_str(),
                                     FullSort, key)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    for (SortKey key : {SortKey::Name, SortKey::Path, SortKey::Size}) {
        benchmark::RegisterBenchmark(("BM_Index_MergePending/key:" + std::string(kKeyNames[static_cast<int>(key)]) +
                                      "/pending:" + std::to_string(kPending) + entries + threads)
                                         .c_str(),
                                     MergePending, key)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    return true;
}();

}  // namespace
