#include "index/searcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/text.h"
#include "index/volume_maps.h"
#include "tests/support/index_reference.h"
#include "tests/support/random_index.h"
#include "tests/support/random_query.h"
#include "tests/support/search_reference.h"

namespace ov {
namespace {

using testing::AddNamed;
using Strategy = Searcher::Strategy;
using Ordering = Searcher::Ordering;

constexpr uint32_t kDir = EntryFlags::Directory;
constexpr uint32_t kRoot = EntryFlags::Directory | EntryFlags::VolumeRoot;

std::vector<uint32_t> Search(Index& index, Query query, const SearchOptions& options, Searcher* keep = nullptr) {
    Searcher local(&index);
    Searcher& searcher = keep ? *keep : local;
    searcher.Prepare(query, options);
    std::vector<uint32_t> out;
    EXPECT_TRUE(searcher.Run(query, options, out, nullptr));
    return out;
}

std::vector<std::string> Names(const Index& index, const std::vector<uint32_t>& ids) {
    std::vector<std::string> out;
    for (uint32_t id : ids) out.emplace_back(index.NameOf(id));
    return out;
}

Query OneTerm(Term t) {
    Query q;
    q.needsPaths = t.matchPath || t.kind == TermKind::Parent;
    q.groups.push_back({std::move(t)});
    return q;
}

Term Substring(const std::string& text, bool matchPath = false) {
    Term t;
    t.text = FoldCaseUtf8(text);
    t.matchPath = matchPath;
    return t;
}

// The guard for everything here: random indexes (deleted, excluded, hidden and
// system, renamed and moved entries, some compacted), random queries of the query
// language, every candidate strategy and both orderings, several thread counts,
// against a brute-force filter, match and std::sort; each way of finding and
// ordering hits must take part.
void AgreesWithNaiveSearch(unsigned first, unsigned last) {
    std::map<Strategy, int> strategies;
    std::map<Ordering, int> orderings;
    for (unsigned seed = first; seed <= last; ++seed) {
        testing::Rng rng(seed);
        Index index;
        testing::FillRandomIndex(index, rng, {.entries = 600 + rng() % 1500, .mutate = true, .exclude = true});
        if (seed % 3 == 0) {
            index.Compact();
            for (int k = 0; k < 100; ++k) testing::RandomChange(index, rng);
        }
        index.hideHidden = seed % 2 == 0;
        index.hideSystem = seed % 4 < 2;
        index.BuildAllDirPaths();
        const auto folders = testing::SomeFolderPaths(index, rng, 12);
        // One searcher for every query, as the search worker keeps one: nothing a
        // run leaves in its kept buffers may reach the next query's hits.
        Searcher searcher(&index);
        for (int round = 0; round < 60; ++round) {
            const testing::RandomSearch rs = testing::RandomQuery(rng, folders);
            Query query = ParseQuery(rs.text, rs.options);
            searcher.Prepare(query, rs.options);
            const std::vector<uint32_t> want = testing::NaiveSearch(index, query, rs.options);
            for (Strategy from : {Strategy::Range, Strategy::ExtHashes, Strategy::Needles, Strategy::Scan}) {
                for (Ordering ordering : {Ordering::Walk, Ordering::RankSort}) {
                    index.pool.SetThreadsInUse(1 + static_cast<int>(rng() % 8));
                    searcher.ForceForTesting(from, ordering);
                    std::vector<uint32_t> got;
                    ASSERT_TRUE(searcher.Run(query, rs.options, got, nullptr));
                    strategies[searcher.LastStrategy()] += 1;
                    orderings[searcher.LastOrdering()] += 1;
                    ASSERT_EQ(got, want) << "seed " << seed << " query '" << rs.text << "' sort " << rs.options.sort
                                         << (rs.options.descending ? " descending" : "") << " case "
                                         << rs.options.matchCase << " ww " << rs.options.wholeWord << " path "
                                         << rs.options.matchPath << " regex " << rs.options.regex << " filter "
                                         << rs.options.filter << " strategy "
                                         << static_cast<int>(searcher.LastStrategy()) << " ordering "
                                         << static_cast<int>(searcher.LastOrdering());
                }
            }
        }
    }
    // Every way of finding and ordering hits took part.
    for (Strategy s : {Strategy::Range, Strategy::ExtHashes, Strategy::Needles, Strategy::Scan, Strategy::AllEntries})
        EXPECT_GT(strategies[s], 0) << "strategy " << static_cast<int>(s);
    EXPECT_GT(orderings[Ordering::Walk], 0);
    EXPECT_GT(orderings[Ordering::RankSort], 0);
}

// Two halves, so that a sharded run spreads them over two processes.
TEST(Searcher, AgreesWithNaiveSearchOnRandomIndexes) {
    AgreesWithNaiveSearch(1, 6);
}

TEST(Searcher, AgreesWithNaiveSearchOnMoreRandomIndexes) {
    AgreesWithNaiveSearch(7, 12);
}

TEST(Searcher, EmptyQueryListsEveryVisibleEntryInOrder) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    AddNamed(index, root, "b.txt", 0);
    AddNamed(index, root, "A.txt", 0);
    AddNamed(index, root, "hidden", FileAttr::Hidden);
    index.Remove(AddNamed(index, root, "gone", 0));
    AddNamed(index, root, "zdir", kDir);
    index.hideHidden = true;
    SearchOptions options;
    EXPECT_EQ(Names(index, Search(index, {}, options)), (std::vector<std::string>{"C:", "zdir", "A.txt", "b.txt"}));
    options.descending = true;
    EXPECT_EQ(Names(index, Search(index, {}, options)), (std::vector<std::string>{"b.txt", "A.txt", "zdir", "C:"}));
}

TEST(Searcher, EmptyIndexGivesNoHits) {
    Index index;
    EXPECT_TRUE(Search(index, {}, {}).empty());
    EXPECT_TRUE(Search(index, OneTerm(Substring("abc")), {}).empty());
}

TEST(Searcher, RenamedFileIsFoundUnderItsNewNameOnly) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    const uint32_t file = AddNamed(index, root, "oldname.txt", 0);
    AddNamed(index, root, "other.txt", 0);
    index.Rename(file, root, "newname.txt", "newname.txt");
    Searcher searcher(&index);
    EXPECT_EQ(Search(index, OneTerm(Substring("newname")), {}, &searcher), std::vector<uint32_t>{file});
    EXPECT_EQ(searcher.LastStrategy(), Strategy::Needles);
    EXPECT_TRUE(Search(index, OneTerm(Substring("oldname")), {}).empty());
}

// The literal a regular expression search looks for in the folded pool must be
// in every name the expression finds: random expressions made of literals,
// escapes that spell letters or take digits (hex, Unicode, control letters,
// back-references), classes, groups and counts, searched through the needles
// and by a plain scan, give the same hits.
TEST(Searcher, RegexNeedlesNeverMissWhatAPlainScanFinds) {
    const char* const nameParts[] = {"apple", "Apple", "APPLE", "p", "le", ".txt", ".TXT", "x", "A",
                                     "1",     "12",    "_",     " ", "-",  "]",    "a]",   "41"};
    const char* const patternParts[] = {"a",
                                        "p",
                                        "le",
                                        "pp",
                                        "txt",
                                        ".",
                                        "A",
                                        "1",
                                        "_",
                                        "\\x41",
                                        "\\x61",
                                        "\\x70",
                                        "\\x2e",
                                        "\\x2E",
                                        "\\u0041",
                                        "\\u0070",
                                        "\\u002e",
                                        "\\ca",
                                        "\\cA",
                                        "(p)",
                                        "\\1",
                                        "(a)\\12",
                                        "\\d",
                                        "\\w",
                                        "\\.",
                                        "[[:alpha:]x]",
                                        "[\\x41-\\x5a]",
                                        "[[:digit:]]",
                                        "[\\c]a]",
                                        "*",
                                        "+",
                                        "?",
                                        "{2}",
                                        "{0,1}",
                                        "^",
                                        "$",
                                        "(?:le)",
                                        "[^a]"};
    testing::Rng rng(17);
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    for (int i = 0; i < 400; ++i) {
        std::string name;
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) name += nameParts[rng() % std::size(nameParts)];
        AddNamed(index, root, name, 0);
    }
    Searcher searcher(&index);
    int prefiltered = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string pattern;
        for (int k = 1 + static_cast<int>(rng() % 5); k > 0; --k)
            pattern += patternParts[rng() % std::size(patternParts)];
        SearchOptions options;
        options.regex = true;
        options.matchCase = rng() % 2 == 0;
        Query query = ParseQuery(pattern, options);
        searcher.Prepare(query, options);
        std::vector<uint32_t> scanned, needled;
        searcher.ForceForTesting(Strategy::Scan, Ordering::Walk);
        ASSERT_TRUE(searcher.Run(query, options, scanned, nullptr));
        searcher.ForceForTesting(Strategy::Needles, Ordering::Walk);
        ASSERT_TRUE(searcher.Run(query, options, needled, nullptr));
        ASSERT_EQ(needled, scanned) << "pattern '" << pattern << "' case " << options.matchCase << " literal '"
                                    << Matcher::LongestRegexLiteral(pattern) << "'";
        if (searcher.LastStrategy() == Strategy::Needles && !scanned.empty()) ++prefiltered;
    }
    EXPECT_GT(prefiltered, 100) << "too few expressions went through the needles";
}

TEST(Searcher, HiddenAndSystemSwitches) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot | FileAttr::Hidden | FileAttr::System);
    const uint32_t hidden = AddNamed(index, root, "h", FileAttr::Hidden);
    const uint32_t system = AddNamed(index, root, "s", FileAttr::System);
    index.hideSystem = true;
    EXPECT_EQ(Search(index, {}, {}), (std::vector<uint32_t>{root, hidden}));
    index.hideSystem = false;
    index.hideHidden = true;
    EXPECT_EQ(Search(index, {}, {}), std::vector<uint32_t>{system});
}

TEST(Searcher, OrdersManyHitsByWalkingAndFewByRank) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    for (uint64_t i = 1; i < 32000; ++i) AddNamed(index, root, std::to_string(i) + "f", 0, i);
    ASSERT_EQ(index.entries.size(), 32000u);
    struct Case {
        uint64_t hits;
        Ordering want;
    } cases[] = {{1000, Ordering::Walk}, {999, Ordering::RankSort}};
    for (const auto& c : cases) {
        Term t;
        t.kind = TermKind::Size;
        t.lo = 1;
        t.hi = 1 + c.hits;
        SearchOptions options;
        options.sort = static_cast<int>(SortKey::Name);
        Searcher searcher(&index);
        const auto ids = Search(index, OneTerm(t), options, &searcher);
        EXPECT_EQ(ids.size(), c.hits);
        EXPECT_EQ(searcher.LastStrategy(), Strategy::Range);
        EXPECT_EQ(searcher.LastOrdering(), c.want) << c.hits << " hits";
        EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end(),
                                   [&](uint32_t a, uint32_t b) { return index.Less(SortKey::Name, a, b); }));
    }
    // Sorting by rank gathers few hits on the calling thread and many on the
    // pool; both give the walk's order.
    for (uint64_t hits : {Searcher::kSerialGatherMax, Searcher::kSerialGatherMax + 1, uint64_t{20000}}) {
        Term t;
        t.kind = TermKind::Size;
        t.lo = 1;
        t.hi = 1 + hits;
        Searcher walk(&index);
        walk.ForceForTesting(Strategy::Range, Ordering::Walk);
        Searcher rank(&index);
        rank.ForceForTesting(Strategy::Range, Ordering::RankSort);
        const auto want = Search(index, OneTerm(t), {}, &walk);
        EXPECT_EQ(want.size(), hits);
        EXPECT_EQ(Search(index, OneTerm(t), {}, &rank), want) << hits << " hits";
        EXPECT_EQ(rank.LastOrdering(), Ordering::RankSort);
    }
}

// A root whose name already ends in '\' joins its children without another one.
TEST(Searcher, PathTermAcrossARootEndingInBackslash) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "E:\\", kRoot);
    const uint32_t file = AddNamed(index, root, "foo.txt", 0);
    const uint32_t dir = AddNamed(index, root, "proj", kDir);
    const uint32_t inner = AddNamed(index, dir, "src.txt", 0);
    for (bool cached : {true, false}) {
        if (cached) index.BuildAllDirPaths();
        EXPECT_EQ(Search(index, OneTerm(Substring("e:\\fo", true)), {}), std::vector<uint32_t>{file});
        EXPECT_EQ(Search(index, OneTerm(Substring("proj\\src", true)), {}), std::vector<uint32_t>{inner});
        EXPECT_EQ(Search(index, OneTerm(Substring("e:\\proj", true)), {}), (std::vector<uint32_t>{dir, inner}));
    }
}

TEST(Searcher, CancelledSearchReturnsFalse) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    for (int i = 0; i < 1000; ++i) AddNamed(index, root, std::to_string(i) + "name", 0);
    const std::atomic<bool> cancel{true};
    for (Query q : {Query{}, OneTerm(Substring("1name"))}) {
        Searcher searcher(&index);
        searcher.Prepare(q, {});
        std::vector<uint32_t> out;
        EXPECT_FALSE(searcher.Run(q, {}, out, &cancel));
    }
}

// Inside pool tasks on several threads: a pattern that a backtracking matcher
// would take through one recursive call per byte of a 32 KB path, one that
// backtracks exponentially, and one with a back-reference.
TEST(Searcher, PathologicalRegexOnLongPathKeepsSearching) {
    Index index;
    uint32_t parent = AddNamed(index, kNoEntry, "D:", kRoot);
    const uint32_t root = parent;
    for (int depth = 0; depth < 130; ++depth) parent = AddNamed(index, parent, std::string(250, 'a'), kDir);
    // Filler folders put each long-path file in a block of its own.
    for (int file = 0; file < 3; ++file) {
        for (uint32_t k = 0; k < Searcher::kBlock; ++k) AddNamed(index, root, "f", kDir);
        AddNamed(index, parent, std::to_string(file) + "b.txt", 0);
    }
    for (const char* pattern : {"(a|b)*c", "(a*)*c", "(a)\\1c"}) {
        Term t;
        t.kind = TermKind::Regex;
        t.text = pattern;
        t.matchPath = true;
        t.selector = 1;
        t.regex = std::make_shared<const std::regex>(pattern, std::regex::ECMAScript | std::regex::icase);
        EXPECT_TRUE(Search(index, OneTerm(t), {}).empty()) << pattern;
        t.negate = true;
        EXPECT_EQ(Search(index, OneTerm(t), {}).size(), index.entries.size()) << pattern;
    }
}

// A compaction that slips in between Prepare and Run renumbers the folders that
// parent: terms name; the run must see the numbers of its own time.
TEST(Searcher, ParentTermsFollowACompactionBetweenPrepareAndRun) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    for (int i = 0; i < 20; ++i) AddNamed(index, root, "gone" + std::to_string(i), kDir);
    const uint32_t docs = AddNamed(index, root, "docs", kDir);
    AddNamed(index, docs, "a.txt", 0);
    AddNamed(index, docs, "b.txt", 0);
    Query query = ParseQuery("parent:c:\\docs", {});
    Searcher searcher(&index);
    searcher.Prepare(query, {});
    for (uint32_t i = 1; i <= 20; ++i) index.Remove(i);
    index.Compact();
    Searcher other(&index);  // another search brings the index up to date again
    other.Prepare(query, {});
    ASSERT_TRUE(SearchReady(index, query, {}));
    std::vector<uint32_t> out;
    ASSERT_TRUE(searcher.Run(query, {}, out, nullptr));
    EXPECT_EQ(Names(index, out), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// Once a search applied the exclusions, entries that arrive inside an excluded
// folder (added, or moved or reconciled into it) stay out of later searches.
TEST(Searcher, EntriesArrivingInsideAnExcludedFolderStayOut) {
    Index index;
    VolumeMaps volume;
    volume.kind = VolumeKind::FileTable;
    index.volumes = {&volume};
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    const uint32_t cache = AddNamed(index, root, "cache", kDir);
    const uint32_t outside = AddNamed(index, root, "zmoved.txt", 0);
    volume.rootEntry = root;
    volume.recordMap.assign(64, kNoEntry);
    volume.recordMap[30] = cache;
    index.excluded = {"c:\\cache"};
    index.excludesDirty = true;
    EXPECT_EQ(Names(index, Search(index, OneTerm(Substring("z")), {})), std::vector<std::string>{"zmoved.txt"});

    AddNamed(index, cache, "zadded.txt", 0);
    index.Rename(outside, cache, "zmoved.txt", "zmoved.txt");
    FileRec info;
    info.record = 40;
    std::vector<NameRec> rows{{40, 30, 0, 0, 11, 11, 1}};
    ASSERT_TRUE(index.ApplyFile(volume, 40, true, info, rows, "zreconciled", "zreconciled"));
    ASSERT_FALSE(index.excludesDirty);
    EXPECT_TRUE(Search(index, OneTerm(Substring("z")), {}).empty());
}

}  // namespace
}  // namespace ov
