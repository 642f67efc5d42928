#include "bench/search_cases.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "index/mem_mem.h"

namespace ov::bench {
namespace {

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
    {"RegexSo", "regex:^lib.*\\.so$"},
    {"RegexNoLiteral", "regex:[0-9]+\\.[0-9]+\\.[0-9]+"},
    {"PathTerm", "path:share\\doc\\lib"},
    {"Dupe", "dupe:readme"},
};

}  // namespace

std::span<const QueryCase> SearchQueries() {
    return kQueries;
}

std::span<const QueryCase> CostlyQueries() {
    // Built on first use: the benchmarks register from other files' static initialisers.
    static const std::string deepest = "regex:" + std::string(498, '(') + "r" + std::string(498, ')');
    static const QueryCase costly[] = {
        {"Deepest", deepest.c_str()},
        {"NoTable", "regex:[a-q][^u-z]{13}x"},
        {"PathNoTable", "path:regex:[a-q][^u-z]{13}x"},
    };
    return costly;
}

double CancelRun::Run(double startMs) {
    std::atomic<bool> cancel{false};
    std::atomic<bool> ended{false};
    std::chrono::steady_clock::time_point stopped;
    std::thread search([&] {
        run.Run(&cancel);
        stopped = std::chrono::steady_clock::now();
        ended.store(true);
    });
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(startMs));
    const bool early = ended.load();
    const auto raised = std::chrono::steady_clock::now();
    cancel.store(true);
    search.join();
    if (early) return -1;
    return std::chrono::duration<double, std::milli>(stopped - raised).count();
}

std::string SearchCaseName(const QueryCase& query, SortKey sort) {
    return std::string("BM_Search_") + query.name + (sort == SortKey::Name ? "_ByName" : "_ByPath");
}

void PrepareForSearch(Index& index) {
    std::unique_lock<ov::SharedMutex> hold(index.lock);
    index.pool.SetThreadsInUse(index.pool.Threads());
    index.ApplyExclusions();
    index.BuildAllDirPaths();
    for (SortKey key : {SortKey::Name, SortKey::Path, SortKey::Size, SortKey::DateModified}) index.EnsureSortedBy(key);
}

QueryRun::QueryRun(Index& index, const char* text, SortKey sort) : searcher(&index) {
    options.sort = static_cast<int>(sort);
    query = ParseQuery(text, options);
    std::unique_lock<ov::SharedMutex> hold(index.lock);
    searcher.Prepare(query, options);
}

size_t QueryRun::Run(const std::atomic<bool>* cancel) {
    searcher.Run(query, options, out, cancel);
    return out.size();
}

void PoolPassRun::Run() {
    const std::string& pool = index.folded;
    const int tasks = static_cast<int>((pool.size() + (1 << 20) - 1) >> 20);
    sums.assign(static_cast<size_t>(tasks), 0);
    index.pool.Run(tasks, [&](int t) {
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
}

size_t ScanRun::Run() {
    const auto n = static_cast<uint32_t>(index.entries.size());
    const uint32_t block = Searcher::kBlock;
    const int blocks = static_cast<int>((n + block - 1) / block);
    const uint32_t* offsets = index.foldedOffsets.data();
    const char* pool = index.folded.data();
    const std::vector<uint32_t>& ranks = index.ranks[static_cast<size_t>(SortKey::Name)];
    const std::vector<uint32_t>& order = index.orders[static_cast<size_t>(SortKey::Name)];
    bitmap.assign((size_t{n} + 63) / 64, 0);
    std::atomic<uint64_t> hits{0};
    index.pool.Run(blocks, [&](int q) {
        const uint32_t begin = static_cast<uint32_t>(q) * block;
        const uint32_t end = std::min<uint64_t>(n, uint64_t{begin} + block);
        const size_t stop = end < n ? offsets[end] : index.folded.size();
        uint32_t cursor = begin;
        uint64_t count = 0;
        for (size_t at = offsets[begin]; at < stop;) {
            const char* hit = MemMem(pool + at, stop - at, needle.data(), needle.size());
            if (!hit) break;
            const auto offset = static_cast<size_t>(hit - pool);
            cursor = static_cast<uint32_t>(std::upper_bound(offsets + cursor, offsets + end, offset) - offsets - 1);
            bitmap[cursor >> 6] |= uint64_t{1} << (cursor & 63);
            ++count;
            at = size_t{offsets[cursor]} + index.entries[cursor].foldedLength;
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
                out.push_back(static_cast<uint32_t>(w * 64 + static_cast<unsigned>(std::countr_zero(bits))));
        auto byRank = [&ranks](uint32_t a, uint32_t b) { return ranks[a] < ranks[b]; };
        if (out.size() <= Searcher::kSerialSortMax)
            std::sort(out.begin(), out.end(), byRank);
        else
            ParallelSort(index.pool, out, byRank);
    }
    return out.size();
}

}  // namespace ov::bench
