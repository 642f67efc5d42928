// Searcher::Run over the shared corpus, per query and sort key, with every thread
// and with one. Next to it, in the same run, the floor: one parallel pass over the
// folded-name pool, and a first-and-last-byte scan that turns its hits into entry
// numbers in name order (what any name search must at least do).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/corpus.h"
#include "index/index.h"
#include "index/mem_mem.h"
#include "index/searcher.h"

namespace {

using ov::Index;
using ov::SortKey;

constexpr uint64_t kSeed = 0x0EDA11;
const int64_t kSizes[] = {1000000, 3000000, 8000000, 10000000};

struct QueryCase {
    const char* name;
    const char* text;
};
const QueryCase kQueries[] = {
    {"Substring3", "lib"},
    {"Substring6", "report"},
    {"Substring1", "x"},
    {"RareWord", "wombat"},
    {"NoMatch", "qzqzqz"},
    {"StarDotExt", "*.pdf"},
    {"ExtList", "ext:jpg;png"},
    {"SizeOver1Gb", "size:>1gb"},
    {"ModifiedToday", "dm:today"},
    {"Wildcard", "lib*.so.?"},
    {"Regex", "regex:^lib.*\\.so\\.[0-9]+$"},
    {"PathTerm", "path:share\\doc\\lib"},
    {"Dupe", "dupe:readme"},
};

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
    if (!ov::bench::FillIndex(*filled, corpus->paths, kSeed, error)) return nullptr;
    {
        std::unique_lock<std::shared_mutex> hold(filled->lock);
        filled->pool.SetThreadsInUse(filled->pool.Threads());
        filled->ApplyExclusions();
        filled->BuildAllDirPaths();
        for (SortKey key : {SortKey::Name, SortKey::Path, SortKey::Size, SortKey::DateModified})
            filled->EnsureSortedBy(key);
    }
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
    ov::SearchOptions options;
    options.sort = static_cast<int>(sort);
    ov::Query query = ov::ParseQuery(text, options);
    ov::Searcher searcher(index);
    {
        std::unique_lock<std::shared_mutex> hold(index->lock);
        searcher.Prepare(query, options);
    }
    std::shared_lock<std::shared_mutex> hold(index->lock);
    std::vector<uint32_t> out;
    for (auto _ : state) {
        searcher.Run(query, options, out, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, *index, out.size());
    state.SetLabel(text);
}

// Floor 1: every byte of the folded pool read once, on the pool's threads.
void FloorPoolPass(benchmark::State& state) {
    Index* index = BenchIndex(state);
    if (!index) return;
    std::shared_lock<std::shared_mutex> hold(index->lock);
    const std::string& pool = index->folded;
    const int tasks = static_cast<int>((pool.size() + (1 << 20) - 1) >> 20);
    std::vector<uint64_t> sums(static_cast<size_t>(tasks));
    for (auto _ : state) {
        index->pool.Run(tasks, [&](int t) {
            const size_t begin = static_cast<size_t>(t) << 20;
            const size_t end = std::min(pool.size(), begin + (size_t{1} << 20));
            uint64_t sum = 0;
            for (size_t i = begin; i + 8 <= end; i += 8) {
                uint64_t word;
                std::memcpy(&word, pool.data() + i, 8);
                sum += word;
            }
            sums[static_cast<size_t>(t)] = sum;
        });
        benchmark::DoNotOptimize(sums.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pool.size()));
    SetCounters(state, *index, 0);
}

// Floor 2: first-and-last-byte scan of each block's stretch of the pool, hits
// mapped to entries, then put in name order by rank (or by walking the order when
// they are many), with no filter and no term test.
void FloorScan(benchmark::State& state, const std::string& needle) {
    Index* index = BenchIndex(state);
    if (!index) return;
    std::shared_lock<std::shared_mutex> hold(index->lock);
    const auto n = static_cast<uint32_t>(index->entries.size());
    const uint32_t block = ov::Searcher::kBlock;
    const int blocks = static_cast<int>((n + block - 1) / block);
    const uint32_t* offsets = index->foldedOffsets.data();
    const char* pool = index->folded.data();
    const std::vector<uint32_t>& ranks = index->ranks[static_cast<size_t>(SortKey::Name)];
    const std::vector<uint32_t>& order = index->orders[static_cast<size_t>(SortKey::Name)];
    std::vector<uint64_t> bitmap;
    std::vector<uint32_t> out;
    for (auto _ : state) {
        bitmap.assign((size_t{n} + 63) / 64, 0);
        std::atomic<uint64_t> hits{0};
        index->pool.Run(blocks, [&](int q) {
            const uint32_t begin = static_cast<uint32_t>(q) * block;
            const uint32_t end = std::min<uint64_t>(n, uint64_t{begin} + block);
            const size_t stop = end < n ? offsets[end] : index->folded.size();
            uint32_t cursor = begin;
            uint64_t count = 0;
            for (size_t at = offsets[begin]; at < stop;) {
                const char* hit = ov::MemMem(pool + at, stop - at, needle.data(), needle.size());
                if (!hit) break;
                const auto offset = static_cast<size_t>(hit - pool);
                cursor = static_cast<uint32_t>(std::upper_bound(offsets + cursor, offsets + end, offset) - offsets - 1);
                bitmap[cursor >> 6] |= uint64_t{1} << (cursor & 63);
                ++count;
                at = size_t{offsets[cursor]} + index->entries[cursor].foldedLength;
            }
            hits.fetch_add(count);
        });
        out.clear();
        if (hits.load() >= n / 32) {
            for (uint32_t id : order)
                if ((bitmap[id >> 6] >> (id & 63)) & 1) out.push_back(id);
        } else {
            for (size_t w = 0; w < bitmap.size(); ++w)
                for (uint64_t bits = bitmap[w]; bits; bits &= bits - 1)
                    out.push_back(static_cast<uint32_t>(w * 64 + static_cast<unsigned>(__builtin_ctzll(bits))));
            auto byRank = [&ranks](uint32_t a, uint32_t b) { return ranks[a] < ranks[b]; };
            if (out.size() <= ov::Searcher::kSerialSortMax)
                std::sort(out.begin(), out.end(), byRank);
            else
                ov::ParallelSort(index->pool, out, byRank);
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, *index, out.size());
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
        for (const char* needle : {"report", "x"}) {
            configure(benchmark::RegisterBenchmark((std::string("BM_Floor_Scan_") + needle).c_str(),
                                                   [needle](benchmark::State& s) { FloorScan(s, needle); }),
                      size);
        }
        for (const QueryCase& q : kQueries) {
            for (SortKey sort : {SortKey::Name, SortKey::Path}) {
                const std::string name =
                    std::string("BM_Search_") + q.name + (sort == SortKey::Name ? "_ByName" : "_ByPath");
                configure(benchmark::RegisterBenchmark(
                              name.c_str(), [text = q.text, sort](benchmark::State& s) { SearchQuery(s, text, sort); }),
                          size);
            }
        }
    }
    return true;
}();

}  // namespace
