// The search benchmark's cases: its queries, the two floors it is measured
// against, and the corpus index they run on. Shared by the Google Benchmark
// program and the plain timing driver of the Windows build (which has no Google
// Benchmark), so both time the same work under the same names.
//
// Locking: PrepareForSearch and the constructors take the index lock exclusively;
// the caller holds it shared around Run.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "index/index.h"
#include "index/query.h"
#include "index/searcher.h"

namespace ov::bench {

constexpr uint64_t kSearchSeed = 0x0EDA11;

struct QueryCase {
    const char* name;
    const char* text;
};
std::span<const QueryCase> SearchQueries();

// Costly patterns the parser accepts, for the cancellation latency: the deepest
// nesting its budget admits, and one whose automaton is too large for a table,
// on names and on paths.
std::span<const QueryCase> CostlyQueries();

// The needles of the scan floor.
constexpr const char* kFloorNeedles[] = {"report", "x"};

// "BM_Search_<name>_ByName" or "_ByPath".
std::string SearchCaseName(const QueryCase& query, SortKey sort);

// Every pool thread in use, exclusions applied, the folder paths cached and the
// orders the cases sort by built, so each measurement is Run alone.
void PrepareForSearch(Index& index);

// Searcher::Run of one query, parsed and prepared once.
class QueryRun {
public:
    QueryRun(Index& index, const char* text, SortKey sort);
    size_t Run(const std::atomic<bool>* cancel = nullptr);  // hits

private:
    SearchOptions options;
    Query query;
    Searcher searcher;
    std::vector<uint32_t> out;
};

// How long a running search takes to stop once its cancel flag is raised: the
// search is started on a thread of its own, the flag raised after startMs, and
// the time until Run returns measured.
class CancelRun {
public:
    CancelRun(Index& index, const char* text) : run(index, text, SortKey::Name) {}
    double Run(double startMs = 50);  // milliseconds; negative when the search ended before the cancel

private:
    QueryRun run;
};

// Floor 1: every byte of the folded pool read once, on the pool's threads.
class PoolPassRun {
public:
    explicit PoolPassRun(Index& index) : index(index) {}
    void Run();
    uint64_t Bytes() const { return index.folded.size(); }

private:
    Index& index;
    std::vector<uint64_t> sums;
};

// Floor 2: a first-and-last-byte scan of each block's stretch of the pool, hits
// mapped to entries, then put in name order by rank (or by walking the order when
// they are many), with no filter and no term test.
class ScanRun {
public:
    ScanRun(Index& index, std::string needle) : index(index), needle(std::move(needle)) {}
    size_t Run();  // hits

private:
    Index& index;
    std::string needle;
    std::vector<uint64_t> bitmap;
    std::vector<uint32_t> out;
};

}  // namespace ov::bench
