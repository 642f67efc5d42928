// Compaction and the merge of a scanned volume, on the shared 10-million-entry index.
#include <benchmark/benchmark.h>

#include <mutex>
#include <random>
#include <shared_mutex>
#include <string>

#include "bench/big_index.h"

namespace {

constexpr int kDeleted = 100000;

void Report(benchmark::State& state, const ov::Index& index) {
    const auto n = static_cast<double>(index.entries.size());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(index.entries.size()));
    state.counters["entries"] = n;
    state.counters["bytes_per_entry"] = static_cast<double>(ov::bench::IndexBytesWithOrders(index)) / n;
    state.counters["table_pool_bytes_per_entry"] = static_cast<double>(ov::bench::IndexBytes(index)) / n;
}

// Adds count files under random folders, named like the synthetic tree's files.
void Refill(ov::Index& index, std::mt19937_64& rng, int count) {
    const ov::bench::EntryList& names = ov::bench::BigPieceEntries();
    for (int added = 0; added < count;) {
        const auto parent = static_cast<uint32_t>(rng() % index.entries.size());
        const ov::Entry& p = index.entries[parent];
        if (!ov::IsDir(p) || ov::IsDeleted(p)) continue;
        const ov::bench::EntrySpec& spec = names.entries[rng() % names.entries.size()];
        if (spec.flags & ov::EntryFlags::Directory) continue;
        const std::string_view name = names.NameOf(spec);
        index.Add(parent, name.data(), name.size(), std::string(names.FoldedOf(spec)),
                  spec.flags | (p.flags & ov::EntryFlags::SlotMask), spec.size, spec.modified, spec.created);
        ++added;
    }
}

// Compaction after 100,000 files were removed.
void BM_Index_Compact(benchmark::State& state) {
    ov::Index& index = ov::bench::SharedBigIndex().index;
    std::unique_lock<ov::SharedMutex> guard(index.lock);
    std::mt19937_64 rng(3);
    for (auto _ : state) {
        state.PauseTiming();
        for (int removed = 0; removed < kDeleted;) {
            const auto e = static_cast<uint32_t>(rng() % index.entries.size());
            if (ov::IsDir(index.entries[e]) || ov::IsDeleted(index.entries[e])) continue;
            index.Remove(e);
            ++removed;
        }
        state.ResumeTiming();
        index.Compact();
        state.PauseTiming();
        Refill(index, rng, kDeleted);  // back to the same size for the next round and the next benchmark
        state.ResumeTiming();
    }
    Report(state, index);
}
BENCHMARK(BM_Index_Compact)
    ->Name("BM_Index_Compact/deleted:" + std::to_string(kDeleted) +
           "/entries:" + std::to_string(ov::bench::kBigEntries))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// A fresh scan of the 2-million-entry volume replacing its old entries.
void BM_Index_Ingest(benchmark::State& state) {
    ov::bench::BigIndex& big = ov::bench::SharedBigIndex();
    ov::Index& index = big.index;
    std::unique_lock<ov::SharedMutex> guard(index.lock);
    for (auto _ : state) {
        state.PauseTiming();
        ov::Index::Piece piece = ov::bench::PieceOf(ov::bench::BigPieceEntries());
        state.ResumeTiming();
        if (!index.Ingest(1, piece)) state.SkipWithError("Ingest refused the piece");
    }
    Report(state, index);
}
BENCHMARK(BM_Index_Ingest)
    ->Name("BM_Index_Ingest/piece:" + std::to_string(ov::bench::kBigPieceEntries) +
           "/entries:" + std::to_string(ov::bench::kBigEntries))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
