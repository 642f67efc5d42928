// Runs one parsed query over the whole index on the pool's threads and returns the
// hits in the order of a sort key. Made on the stack for each search.
//
// Locking: Prepare needs the index lock held exclusively, Run (and Match) shared.
// Run's tasks only read the index; a searcher holds nothing between searches
// except what Run attaches to the query's terms.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "index/index.h"
#include "index/matcher.h"
#include "index/query.h"

namespace ov {

class Searcher {
public:
    // How candidates were found, in order of preference.
    enum class Strategy { Range, ExtHashes, Needles, Scan, AllEntries };
    // How hits were put in display order.
    enum class Ordering { Walk, RankSort };

    // Tasks of Run: entries per block, and the hit counts above which the ordered
    // walk and the pool sort take over.
    static constexpr uint32_t kBlock = 65536;
    static constexpr size_t kSerialSortMax = 50000;
    static constexpr size_t kSerialGatherMax = 2048;
    explicit Searcher(Index* index) : index(index), matcher(*index) {}
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    // Brings exclusions, the path cache and the orders the query needs up to date:
    // afterwards SearchReady holds until a writer changes the index. Index lock
    // held exclusively.
    void Prepare(const Query& query, const SearchOptions& options);

    // The hits in display order for options.sort (reversed when descending). False
    // when *cancel was found set or a task failed (LastRunFailed tells which); out
    // is then no result. May throw std::bad_alloc from the calling thread. Index
    // lock held shared, after Prepare for the same query and options. Resolves the
    // query's parent: folders and attaches folder-match bytes to its path terms.
    bool Run(Query& query, const SearchOptions& options, std::vector<uint32_t>& out, const std::atomic<bool>* cancel);
    // The last Run ended false because one of its tasks failed (out of memory),
    // not because it was cancelled.
    bool LastRunFailed() const { return lastFailed; }

    // The first group made of one non-negated size or date term gives the key of
    // the order that holds its hits as one slice.
    static bool RangeKey(const Query& query, SortKey& key, const Term** term = nullptr);

    // Tests: begin the choice of candidates at `from` (a strategy whose conditions
    // do not hold still passes to the next) and prefer an ordering.
    void ForceForTesting(Strategy from, Ordering ordering) {
        forcedFrom = from;
        forcedOrdering = ordering;
        forced = true;
    }
    Strategy LastStrategy() const { return lastStrategy; }
    Ordering LastOrdering() const { return lastOrdering; }

private:
    struct RunState;

    bool Passes(const Entry& e) const;
    void ResolveParents(Query& query) const;
    // Fills `bytes` (resized to n) for the term and attaches it.
    void BuildFolderMatch(Term& term, uint32_t n, std::shared_ptr<std::vector<uint8_t>> bytes);
    // The k-th folder-match buffer of this run; a kept one unless something else
    // still holds it.
    std::shared_ptr<std::vector<uint8_t>> FolderBuffer(size_t k);
    // The four ways of finding candidates; each sets the bits of the hits.
    void FindInRange(RunState& run, SortKey key, const Term& term);
    void FindInBlocks(RunState& run, const std::vector<uint32_t>* hashes);  // null: every entry
    void FindByNeedles(RunState& run, const std::vector<std::string>& needles);
    // The two ways of ordering hits; false when the search was stopped.
    bool WalkOrder(RunState& run, const std::vector<uint32_t>& order, bool allEntries, bool descending,
                   std::vector<uint32_t>& out);
    bool SortByRank(RunState& run, const std::vector<uint32_t>& ranks, bool descending, std::vector<uint32_t>& out);
    void Dupes(int mode, std::vector<uint64_t>& bitmap);

    std::mutex mutex;  // guards the hit bitmap while range tasks set their bits
    Index* index;
    Matcher matcher;
    // Buffers kept between runs: Windows' heap hands large blocks back to the
    // system when they are freed, so fresh ones fault in page by page on every
    // keystroke, from all threads at once, under one lock of the kernel.
    std::vector<uint64_t> hitBits;
    std::vector<uint64_t> rankKeys;
    std::vector<uint64_t> sortScratch;
    std::vector<std::vector<uint32_t>> walkLists;                    // one per ordered-walk task
    std::vector<std::shared_ptr<std::vector<uint8_t>>> folderBytes;  // one per path term
    std::vector<uint32_t> dupeIds;
    std::vector<uint32_t> dupeScratch;

    // Per Run: visibility switches read once.
    bool hideHidden = false;
    bool hideSystem = false;

    bool forced = false;
    Strategy forcedFrom = Strategy::Range;
    Ordering forcedOrdering = Ordering::Walk;
    bool lastFailed = false;
    Strategy lastStrategy = Strategy::Scan;
    Ordering lastOrdering = Ordering::Walk;
};

// Whether the index is ready for Run of the query without Prepare: exclusions
// applied, the sort key's order (and a single range group's order) current, and
// the path cache complete when the query needs paths or sorts by path. Must
// change with Prepare. Index lock held, shared is enough.
bool SearchReady(const Index& index, const Query& query, const SearchOptions& options);

}  // namespace ov
