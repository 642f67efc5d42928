// Filling the index and building paths, on the synthetic tree and on the shared corpus.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "bench/corpus.h"
#include "bench/synthetic.h"
#include "index/index.h"

namespace {

using ov::bench::EntryList;

constexpr uint64_t kSeed = 0x0EDA11;

const EntryList& SyntheticEntries(size_t count) {
    static std::map<size_t, std::unique_ptr<EntryList>> lists;
    auto& list = lists[count];
    if (!list) list = std::make_unique<EntryList>(ov::bench::MakeSyntheticEntries(count, kSeed));
    return *list;
}

// Times the Add calls only; making and freeing the index are left out.
void TimeAdds(benchmark::State& state, const EntryList& list) {
    uint64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto index = std::make_unique<ov::Index>();
        std::string error;
        state.ResumeTiming();
        if (!ov::bench::AddEntries(*index, list, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.PauseTiming();
        bytes = ov::bench::IndexBytes(*index);
        index.reset();
        state.ResumeTiming();
    }
    const auto n = static_cast<double>(list.entries.size());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(list.entries.size()));
    state.counters["bytes_per_entry"] = static_cast<double>(bytes) / n;
    state.counters["avg_name"] = list.AverageNameBytes();
    state.counters["avg_depth"] = list.AverageDepth();
    state.counters["folders_pct"] = 100.0 * static_cast<double>(list.folders) / n;
}

void BM_Index_Add(benchmark::State& state) {
    TimeAdds(state, SyntheticEntries(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_Index_Add)->ArgNames({"entries"})->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Index_AddCorpus(benchmark::State& state) {
    static std::map<int64_t, std::unique_ptr<EntryList>> lists;
    auto& list = lists[state.range(0)];
    if (!list) {
        ov::bench::CorpusSize size;
        std::string error;
        if (!ov::bench::CorpusOfSize(state.range(0), size)) {
            state.SkipWithError("no corpus of that size");
            return;
        }
        const ov::bench::Corpus* corpus = ov::bench::LoadCorpus(size, error);
        auto entries = std::make_unique<EntryList>();
        if (!corpus || !ov::bench::PathsToEntries(corpus->paths, kSeed, *entries, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        list = std::move(entries);
    }
    TimeAdds(state, *list);
}
BENCHMARK(BM_Index_AddCorpus)->ArgNames({"entries"})->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Index_Path(benchmark::State& state) {
    const auto count = static_cast<size_t>(state.range(0));
    static std::map<size_t, std::unique_ptr<ov::Index>> indexes;
    auto& index = indexes[count];
    if (!index) {
        auto filled = std::make_unique<ov::Index>();
        std::string error;
        if (!ov::bench::AddEntries(*filled, SyntheticEntries(count), error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        index = std::move(filled);
    }
    std::shared_lock<ov::SharedMutex> guard(index->lock);
    const auto n = static_cast<uint32_t>(index->entries.size());
    uint64_t pathBytes = 0;
    for (auto _ : state) {
        for (uint32_t e = 0; e < n; ++e) {
            const std::string path = index->Path(e, false);
            benchmark::DoNotOptimize(path.data());
            pathBytes += path.size();
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
    state.SetBytesProcessed(static_cast<int64_t>(pathBytes));
}
BENCHMARK(BM_Index_Path)->ArgNames({"entries"})->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
