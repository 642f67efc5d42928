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
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "index/index.h"
#include "index/query.h"

namespace ov {

// One search task's cache of the full path of the entry last tested, so the terms
// of one entry build its path at most once.
struct MatchScratch {
    std::string foldedPath;
    std::string writtenPath;
    uint32_t foldedFor = kNoEntry;
    uint32_t writtenFor = kNoEntry;
};

// The whole haystack against the whole pattern, bytewise: '*' any run of bytes,
// '?' one character (a byte and the UTF-8 continuation bytes after it).
bool WildcardMatch(std::string_view haystack, std::string_view pattern);

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
    // A backtracking regular-expression search is given at most this many bytes.
    static constexpr size_t kBacktrackBytes = 256;

    explicit Searcher(Index* index) : index(index) {}
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    // Brings exclusions, the path cache and the orders the query needs up to date
    // and resolves parent: terms. Index lock held exclusively.
    void Prepare(Query& query, const SearchOptions& options);

    // The hits in display order for options.sort (reversed when descending). False
    // when *cancel was found set; out is then no result. Index lock held shared,
    // after Prepare for the same query and options. Attaches folder-match bytes to
    // the query's path terms.
    bool Run(Query& query, const SearchOptions& options, std::vector<uint32_t>& out, const std::atomic<bool>* cancel);

    // Whether one entry satisfies one term (negation applied). Safe from many
    // tasks at once, each with its own scratch. Index lock held shared.
    bool Match(const Term& term, uint32_t entry, MatchScratch& scratch) const;

    // Literal byte strings, one of which every hit must hold in its folded name.
    // False when no group gives needles of at least 2 bytes.
    static bool CollectNeedles(const Query& query, std::vector<std::string>& out);
    // The longest lower-cased literal run every match of the pattern contains, or
    // empty when there is none of at least 2 bytes.
    static std::string LongestRegexLiteral(const std::string& pattern);
    // Extension hashes, one of which every hit must carry. False when no group
    // consists of extension terms alone.
    static bool ExtHashes(const Query& query, std::vector<uint32_t>& out);
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
    struct LinearPattern;  // a linear-time copy of a term's expression
    struct LinearRegex {
        const std::regex* source;
        std::shared_ptr<const LinearPattern> linear;  // null: the pattern needs backtracking
    };

    bool RawMatch(const Term& term, uint32_t entry, MatchScratch& scratch) const;
    bool NameMatch(const Term& term, uint32_t entry, MatchScratch& scratch) const;
    bool RegexFind(const Term& term, std::string_view haystack) const;
    std::string_view FoldedPath(uint32_t entry, MatchScratch& scratch) const;
    std::string_view WrittenPath(uint32_t entry, MatchScratch& scratch) const;
    static std::shared_ptr<const LinearPattern> CompileLinear(const Term& term);

    struct RunState;

    bool Passes(const Entry& e) const;
    bool QueryMatches(const Query& query, uint32_t entry, MatchScratch& scratch) const;
    void BuildFolderMatch(Term& term, uint32_t n);
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

    // Per Run: visibility switches read once, and the linear-time regexes.
    bool hideHidden = false;
    bool hideSystem = false;
    std::vector<LinearRegex> linearRegexes;

    bool forced = false;
    Strategy forcedFrom = Strategy::Range;
    Ordering forcedOrdering = Ordering::Walk;
    Strategy lastStrategy = Strategy::Scan;
    Ordering lastOrdering = Ordering::Walk;
};

}  // namespace ov
