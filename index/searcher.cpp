// Parallel search over the index.
//
// Design: candidates are found in exactly one way, the first that applies: a
// binary-searched slice of the size or date order (one range term), the stored
// extension hashes (extension terms alone), a substring scan straight through the
// folded-name pool for needles every hit must hold (then the renamed entries,
// whose new names sit outside their block's stretch of the pool), or a plain scan.
// Every candidate still passes the entry filter and the whole query. Block tasks
// of 65,536 entries own whole words of the hit bitmap and need no lock; range
// tasks hit arbitrary entries and set their bits under the mutex. Hits are put in
// order by walking the kept sort order when they are many, else by sorting them
// on the order's rank; no names are compared at search time. Tasks look at the
// cancel flag every 1,024 entries, and before every entry when the query has a
// regular expression (one entry can cost microseconds there), so a newer request
// stops the search within a fraction of a task's work.
#include <algorithm>
#include <bit>

#include "index/mem_mem.h"
#include "index/searcher.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kNoRank = 0xFFFFFFFFu;

inline bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

inline bool HasBit(const std::vector<uint64_t>& bitmap, uint32_t i) {
    return (bitmap[i >> 6] >> (i & 63)) & 1;
}
inline void SetBit(std::vector<uint64_t>& bitmap, uint32_t i) {
    bitmap[i >> 6] |= uint64_t{1} << (i & 63);
}

// Entry numbers of the set bits, ascending.
void CollectBits(const std::vector<uint64_t>& bitmap, std::vector<uint32_t>& out) {
    for (size_t w = 0; w < bitmap.size(); ++w) {
        for (uint64_t bits = bitmap[w]; bits != 0; bits &= bits - 1)
            out.push_back(static_cast<uint32_t>(w * 64 + static_cast<unsigned>(std::countr_zero(bits))));
    }
}

uint64_t ValueOf(const Entry& e, SortKey key) {
    switch (key) {
        case SortKey::Size:
            return e.size;
        case SortKey::DateModified:
            return e.modified;
        default:
            return e.created;
    }
}

// The entry whose folded name holds pool offset `at`: the last one in
// [from, end) whose offset is not above it, given that `from`'s is not. Hits come
// in pool order, so the search gallops forward from the previous hit's entry:
// nearby hits cost a probe or two, distant ones a logarithm, none a walk from the
// block's start.
uint32_t EntryAt(const uint32_t* offsets, uint32_t from, uint32_t end, size_t at) {
    uint32_t lo = from;  // offsets[lo] <= at
    uint32_t step = 1;
    uint32_t hi = from + 1;
    while (hi < end && offsets[hi] <= at) {
        lo = hi;
        step *= 2;
        hi = end - lo > step ? lo + step : end;
    }
    return static_cast<uint32_t>(std::upper_bound(offsets + lo + 1, offsets + hi, at) - offsets - 1);
}

// An exception must not leave a pool task: on a worker thread it would end the
// program, on the calling thread it would unwind while others still run the job.
template <class Task>
void RunGuarded(Pool& pool, std::atomic<bool>& failed, int n, Task&& task) {
    pool.Run(n, [&](int q) {
        try {
            task(q);
        } catch (const std::exception&) {
            failed.store(true, std::memory_order_relaxed);
        }
    });
}

}  // namespace

bool Searcher::Passes(const Entry& e) const {
    if (e.flags & (EntryFlags::Deleted | EntryFlags::Excluded)) return false;
    if (hideHidden && (e.flags & FileAttr::Hidden)) return false;
    if (hideSystem && (e.flags & FileAttr::System) && !(e.flags & EntryFlags::VolumeRoot)) return false;
    return true;
}

bool Searcher::RangeKey(const Query& query, SortKey& key, const Term** term) {
    for (const auto& group : query.groups) {
        if (group.size() != 1 || group[0].negate) continue;
        switch (group[0].kind) {
            case TermKind::Size:
                key = SortKey::Size;
                break;
            case TermKind::Modified:
                key = SortKey::DateModified;
                break;
            case TermKind::Created:
                key = SortKey::DateCreated;
                break;
            default:
                continue;
        }
        if (term) *term = &group[0];
        return true;
    }
    return false;
}

void Searcher::Prepare(const Query& query, const SearchOptions& options) {
    Index& idx = *index;
    const auto sort = SortKeyOf(options);
    if (idx.excludesDirty) idx.ApplyExclusions();
    if (query.needsPaths || sort == SortKey::Path) idx.BuildAllDirPaths();
    idx.EnsureSortedBy(sort);
    SortKey rangeKey;
    if (RangeKey(query, rangeKey)) idx.EnsureSortedBy(rangeKey);
}

bool SearchReady(const Index& index, const Query& query, const SearchOptions& options) {
    const auto sort = SortKeyOf(options);
    if (index.excludesDirty) return false;
    if (!index.OrderCurrent(sort)) return false;
    SortKey rangeKey;
    if (Searcher::RangeKey(query, rangeKey) && !index.OrderCurrent(rangeKey)) return false;
    if ((query.needsPaths || sort == SortKey::Path) &&
        (!index.pathsValid || index.pathOffset.size() < index.entries.size()))
        return false;
    return true;
}

void Searcher::ResolveParents(Query& query) const {
    const Index& idx = *index;
    for (auto& group : query.groups) {
        for (Term& t : group) {
            if (t.kind != TermKind::Parent) continue;
            t.parentEntry = kNoEntry;
            const auto n = static_cast<uint32_t>(std::min(idx.entries.size(), idx.pathOffset.size()));
            for (uint32_t i = 0; i < n; ++i) {
                const Entry& e = idx.entries[i];
                if (!IsDir(e) || IsDeleted(e) || idx.pathOffset[i] == kNoEntry) continue;
                if (idx.CachedPath(i) == t.parentPath) {
                    t.parentEntry = i;
                    break;
                }
            }
        }
    }
}

std::shared_ptr<std::vector<uint8_t>> Searcher::FolderBuffer(size_t k) {
    if (k == folderBytes.size()) folderBytes.emplace_back();
    std::shared_ptr<std::vector<uint8_t>>& kept = folderBytes[k];
    if (!kept || kept.use_count() > 1) kept = std::make_shared<std::vector<uint8_t>>();
    return kept;
}

void Searcher::BuildFolderMatch(Term& term, uint32_t n, std::shared_ptr<std::vector<uint8_t>> bytes) {
    const Index& idx = *index;
    bytes->resize(n);  // every byte is written below
    const std::string& text = term.text;
    const size_t slash = text.rfind('\\');
    // Bit 1 says the text can continue into a child's name across the joining '\':
    // the path, with that '\' added when it does not end in one, ends with the text
    // up to its last '\'.
    Pool& pool = index->pool;
    const std::string_view folderPart =
        slash == std::string::npos ? std::string_view() : std::string_view(text).substr(0, slash);
    const uint32_t blocks = (n + kBlock - 1) / kBlock;
    std::vector<uint8_t>& out = *bytes;
    pool.Run(static_cast<int>(blocks), [&](int q) {
        const uint32_t begin = static_cast<uint32_t>(q) * kBlock;
        const uint32_t end = std::min<uint64_t>(n, uint64_t{begin} + kBlock);
        for (uint32_t i = begin; i < end; ++i) {
            out[i] = 0;
            if (!IsDir(idx.entries[i]) || idx.pathOffset[i] == kNoEntry) continue;
            const std::string_view path = idx.CachedPath(i);
            uint8_t b = MemMem(path.data(), path.size(), text.data(), text.size()) ? 1 : 0;
            if (slash != std::string::npos) {
                const bool joined = !path.empty() && path.back() == '\\';
                const std::string_view want = joined ? std::string_view(text).substr(0, slash + 1) : folderPart;
                if (path.size() >= want.size() && SameBytes(path.substr(path.size() - want.size()), want)) b |= 2;
            }
            out[i] = b;
        }
    });
    term.folderMatch = std::move(bytes);
}

// The working state of one Run, shared by reference with its tasks.
struct Searcher::RunState {
    Query& query;
    const std::atomic<bool>* cancel;
    uint32_t n;
    uint32_t blocks;
    std::vector<uint64_t>& bitmap;  // block tasks own whole words of it
    std::atomic<uint64_t> hitCount{0};
    std::atomic<bool> failed{false};
    uint32_t checkMask = 0;  // entries whose number has these bits clear look at the cancel flag

    bool Stopped() const { return Cancelled(cancel) || failed.load(); }
    bool StopAt(uint64_t i) const { return (i & checkMask) == 0 && Cancelled(cancel); }
    uint32_t BlockBegin(int q) const { return static_cast<uint32_t>(q) * kBlock; }
    uint32_t BlockEnd(int q) const {
        return static_cast<uint32_t>(std::min<uint64_t>(n, uint64_t{BlockBegin(q)} + kBlock));
    }
};

bool Searcher::Run(Query& query, const SearchOptions& options, std::vector<uint32_t>& out,
                   const std::atomic<bool>* cancel) {
    out.clear();
    lastFailed = false;
    const Index& idx = *index;
    const auto n = static_cast<uint32_t>(idx.entries.size());
    hideHidden = idx.hideHidden.load();
    hideSystem = idx.hideSystem.load();

    const bool pathCacheFull = idx.pathsValid && idx.pathOffset.size() >= n && idx.pathLength.size() >= n;
    matcher.Prepare(query, cancel);
    RunState run{query, cancel, n, (n + kBlock - 1) / kBlock, hitBits};
    run.checkMask = matcher.HasRegex() ? 0 : 1023;
    // Entry numbers of parent: folders are taken under the lock this search
    // holds: a compaction between Prepare and here renumbers them.
    ResolveParents(query);
    // Terms let go of their bytes first, so this run can refill the kept buffers.
    for (auto& group : query.groups) {
        for (Term& t : group) t.folderMatch.reset();
    }
    size_t pathTerms = 0;
    for (auto& group : query.groups) {
        for (Term& t : group) {
            if (t.kind == TermKind::Substring && t.matchPath && !t.caseSensitive && !t.wholeWord && pathCacheFull)
                BuildFolderMatch(t, n, FolderBuffer(pathTerms++));
        }
    }

    const bool allEntries = query.groups.empty() && query.dupe == 0;
    if (allEntries) {
        lastStrategy = Strategy::AllEntries;
    } else {
        run.bitmap.assign((size_t{n} + 63) / 64, 0);
        std::vector<std::string> needles;
        std::vector<uint32_t> hashes;
        SortKey rangeKey = SortKey::Size;
        const Term* rangeTerm = nullptr;
        const Strategy from = forced ? forcedFrom : Strategy::Range;
        if (from <= Strategy::Range && RangeKey(query, rangeKey, &rangeTerm) && idx.OrderCurrent(rangeKey)) {
            lastStrategy = Strategy::Range;
            FindInRange(run, rangeKey, *rangeTerm);
        } else if (from <= Strategy::ExtHashes && Matcher::ExtHashes(query, hashes) && idx.extHashes.size() == n) {
            lastStrategy = Strategy::ExtHashes;
            FindInBlocks(run, &hashes);
        } else if (from <= Strategy::Needles && Matcher::CollectNeedles(query, needles) &&
                   idx.foldedOffsets.size() == n) {
            lastStrategy = Strategy::Needles;
            FindByNeedles(run, needles);
        } else {
            lastStrategy = Strategy::Scan;
            FindInBlocks(run, nullptr);
        }
        if (run.Stopped()) {
            lastFailed = run.failed.load();
            return false;
        }
        if (query.dupe != 0) {
            Dupes(query.dupe, run.bitmap);
            uint64_t bits = 0;
            for (uint64_t w : run.bitmap) bits += static_cast<uint64_t>(std::popcount(w));
            run.hitCount.store(bits);
        }
    }

    const auto key = static_cast<size_t>(SortKeyOf(options));
    const bool ranksFull = idx.ranks[key].size() == n;
    bool walk = allEntries || run.hitCount.load() >= n / 32 || !ranksFull;
    if (forced && !allEntries && ranksFull) walk = forcedOrdering == Ordering::Walk;
    lastOrdering = walk ? Ordering::Walk : Ordering::RankSort;
    const bool done = walk ? WalkOrder(run, idx.orders[key], allEntries, options.descending, out)
                           : SortByRank(run, idx.ranks[key], options.descending, out);
    lastFailed = !done && run.failed.load();
    return done;
}

void Searcher::FindInRange(RunState& run, SortKey key, const Term& term) {
    const Index& idx = *index;
    const uint32_t n = run.n;
    const std::vector<uint32_t>& order = idx.orders[static_cast<size_t>(key)];
    // Entry numbers past n count as smaller than any bound, so they are stepped over.
    auto firstNotBelow = [&](size_t first, uint64_t bound) {
        const auto it =
            std::partition_point(order.begin() + static_cast<ptrdiff_t>(first), order.end(),
                                 [&](uint32_t id) { return id >= n || ValueOf(idx.entries[id], key) < bound; });
        return static_cast<size_t>(it - order.begin());
    };
    const size_t start = firstNotBelow(0, term.lo);
    const size_t stop = std::max(start, firstNotBelow(start, term.hi));
    const uint64_t length = stop - start;
    const uint64_t tasks = length <= 32767 ? 1 : length < 1048576 ? length / 16384 : 64;
    RunGuarded(index->pool, run.failed, static_cast<int>(tasks), [&](int t) {
        if (Cancelled(run.cancel)) return;
        MatchScratch scratch;
        std::vector<uint32_t> local;
        const uint64_t lo = start + static_cast<uint64_t>(t) * length / tasks;
        const uint64_t hi = start + (static_cast<uint64_t>(t) + 1) * length / tasks;
        for (uint64_t pos = lo; pos < hi; ++pos) {
            if (run.StopAt(pos)) return;
            const uint32_t id = order[pos];
            if (id < n && Passes(idx.entries[id]) && matcher.Matches(run.query, id, scratch)) local.push_back(id);
        }
        // Hits of a slice fall anywhere in the bitmap, so they are set under the lock.
        std::lock_guard<std::mutex> hold(mutex);
        for (uint32_t id : local) SetBit(run.bitmap, id);
        run.hitCount.fetch_add(local.size(), std::memory_order_relaxed);
    });
}

void Searcher::FindInBlocks(RunState& run, const std::vector<uint32_t>* hashes) {
    const Index& idx = *index;
    const uint32_t* stored = idx.extHashes.data();
    RunGuarded(index->pool, run.failed, static_cast<int>(run.blocks), [&](int q) {
        if (Cancelled(run.cancel)) return;
        MatchScratch scratch;
        uint64_t count = 0;
        for (uint32_t i = run.BlockBegin(q), end = run.BlockEnd(q); i < end; ++i) {
            if (run.StopAt(i)) return;
            if (hashes && (stored[i] == 0 || std::find(hashes->begin(), hashes->end(), stored[i]) == hashes->end()))
                continue;
            if (Passes(idx.entries[i]) && matcher.Matches(run.query, i, scratch)) {
                SetBit(run.bitmap, i);
                ++count;
            }
        }
        run.hitCount.fetch_add(count, std::memory_order_relaxed);
    });
}

void Searcher::FindByNeedles(RunState& run, const std::vector<std::string>& needles) {
    const Index& idx = *index;
    const uint32_t* offsets = idx.foldedOffsets.data();
    const char* pool = idx.folded.data();
    RunGuarded(index->pool, run.failed, static_cast<int>(run.blocks), [&](int q) {
        if (Cancelled(run.cancel)) return;
        MatchScratch scratch;
        const uint32_t begin = run.BlockBegin(q);
        const uint32_t end = run.BlockEnd(q);
        const size_t sliceEnd = end < run.n ? offsets[end] : idx.folded.size();
        uint64_t count = 0;
        for (const std::string& needle : needles) {
            size_t at = offsets[begin];
            uint32_t cursor = begin;
            uint32_t handled = kNoEntry;
            while (at < sliceEnd) {
                const char* hit = MemMem(pool + at, sliceEnd - at, needle.data(), needle.size());
                if (!hit) break;
                const auto hitOffset = static_cast<size_t>(hit - pool);
                cursor = EntryAt(offsets, cursor, end, hitOffset);
                const Entry& e = idx.entries[cursor];
                const size_t nameEnd = size_t{offsets[cursor]} + e.foldedLength;
                // A renamed entry's bytes here are its old name; a hit past the name's
                // end lies in the separator or in garbage.
                if (cursor == handled || (e.flags & EntryFlags::NameChanged) || nameEnd < hitOffset + needle.size()) {
                    at = hitOffset + 1;
                    continue;
                }
                if (run.StopAt(cursor - begin)) return;
                if (!HasBit(run.bitmap, cursor) && Passes(e) && matcher.Matches(run.query, cursor, scratch)) {
                    SetBit(run.bitmap, cursor);
                    ++count;
                }
                handled = cursor;
                at = nameEnd;
            }
        }
        run.hitCount.fetch_add(count, std::memory_order_relaxed);
    });
    // Renamed entries keep their old offset in foldedOffsets; their new names lie at
    // the end of the pool, outside every block's stretch.
    MatchScratch scratch;
    for (uint32_t id : idx.changedNames) {
        if (id >= run.n || HasBit(run.bitmap, id) || Cancelled(run.cancel)) continue;
        if (Passes(idx.entries[id]) && matcher.Matches(run.query, id, scratch)) {
            SetBit(run.bitmap, id);
            run.hitCount.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

bool Searcher::WalkOrder(RunState& run, const std::vector<uint32_t>& order, bool allEntries, bool descending,
                         std::vector<uint32_t>& out) {
    const Index& idx = *index;
    const uint64_t m = order.size();
    const auto tasks = static_cast<uint32_t>(std::clamp<uint64_t>((m + 32767) / 32768, 1, 256));
    std::vector<std::vector<uint32_t>>& lists = walkLists;
    if (lists.size() < tasks) lists.resize(tasks);
    RunGuarded(index->pool, run.failed, static_cast<int>(tasks), [&](int a) {
        std::vector<uint32_t>& list = lists[static_cast<size_t>(a)];
        list.clear();
        if (Cancelled(run.cancel)) return;
        const uint64_t lo = static_cast<uint64_t>(a) * m / tasks;
        const uint64_t hi = (static_cast<uint64_t>(a) + 1) * m / tasks;
        list.reserve(allEntries ? hi - lo : (hi - lo) / 4);
        for (uint64_t pos = lo; pos < hi; ++pos) {
            const uint32_t id = order[pos];
            if (id >= run.n) continue;
            if (allEntries ? Passes(idx.entries[id]) : HasBit(run.bitmap, id)) list.push_back(id);
        }
    });
    if (run.Stopped()) return false;
    size_t total = 0;
    for (uint32_t a = 0; a < tasks; ++a) total += lists[a].size();
    out.reserve(total);
    if (descending) {
        for (uint32_t a = tasks; a-- > 0;) out.insert(out.end(), lists[a].rbegin(), lists[a].rend());
    } else {
        for (uint32_t a = 0; a < tasks; ++a) out.insert(out.end(), lists[a].begin(), lists[a].end());
    }
    return true;
}

bool Searcher::SortByRank(RunState& run, const std::vector<uint32_t>& ranks, bool descending,
                          std::vector<uint32_t>& out) {
    // Ranks are distinct, so sorting (rank, entry) pairs as plain numbers gives the
    // rank order without a lookup per comparison. Each block's hits are counted
    // first, so the blocks fill one array side by side; the lookups miss the cache,
    // so many hits are gathered by the pool, a few on this thread (waking the pool
    // costs more than they do).
    std::vector<size_t> start(size_t{run.blocks} + 1, 0);
    auto wordsOf = [&](size_t q) {
        const size_t first = q * (kBlock / 64);
        return std::make_pair(first, std::min(run.bitmap.size(), first + kBlock / 64));
    };
    for (size_t q = 0; q < run.blocks; ++q) {
        size_t count = 0;
        for (auto [w, end] = wordsOf(q); w < end; ++w) count += static_cast<size_t>(std::popcount(run.bitmap[w]));
        start[q + 1] = start[q] + count;
    }
    constexpr uint64_t kHole = ~uint64_t{0};  // a hit the order lacks; sorts last
    std::vector<uint64_t>& keyed = rankKeys;
    keyed.resize(start.back());
    auto gather = [&](int task) {
        const auto q = static_cast<size_t>(task);
        size_t at = start[q];
        for (auto [w, end] = wordsOf(q); w < end; ++w) {
            for (uint64_t bits = run.bitmap[w]; bits != 0; bits &= bits - 1) {
                const auto id = static_cast<uint32_t>(w * 64 + static_cast<unsigned>(std::countr_zero(bits)));
                keyed[at++] = ranks[id] != kNoRank ? uint64_t{ranks[id]} << 32 | id : kHole;
            }
        }
    };
    if (keyed.size() <= kSerialGatherMax) {
        for (uint32_t q = 0; q < run.blocks; ++q) gather(static_cast<int>(q));
    } else {
        RunGuarded(index->pool, run.failed, static_cast<int>(run.blocks), gather);
    }
    if (keyed.size() <= kSerialSortMax)
        std::sort(keyed.begin(), keyed.end());
    else
        ParallelSort(index->pool, keyed, std::less<uint64_t>(), &sortScratch);
    while (!keyed.empty() && keyed.back() == kHole) keyed.pop_back();
    if (descending) std::reverse(keyed.begin(), keyed.end());
    out.resize(keyed.size());
    for (size_t i = 0; i < keyed.size(); ++i) out[i] = static_cast<uint32_t>(keyed[i]);
    return !run.Stopped();
}

void Searcher::Dupes(int mode, std::vector<uint64_t>& bitmap) {
    const Index& idx = *index;
    std::vector<uint32_t>& ids = dupeIds;
    ids.clear();
    CollectBits(bitmap, ids);
    if (mode == 2) {
        ids.erase(std::remove_if(ids.begin(), ids.end(),
                                 [&](uint32_t id) { return IsDir(idx.entries[id]) || idx.entries[id].size == 0; }),
                  ids.end());
        auto bySize = [&idx](uint32_t a, uint32_t b) { return idx.entries[a].size < idx.entries[b].size; };
        ParallelSort(index->pool, ids, bySize, &dupeScratch);
    } else {
        const char* folded = idx.folded.data();
        auto byName = [&idx, folded](uint32_t a, uint32_t b) {
            const Entry& ea = idx.entries[a];
            const Entry& eb = idx.entries[b];
            return CompareBytes(folded + ea.foldedOffset, ea.foldedLength, folded + eb.foldedOffset, eb.foldedLength) <
                   0;
        };
        ParallelSort(index->pool, ids, byName, &dupeScratch);
    }
    std::fill(bitmap.begin(), bitmap.end(), 0);
    auto same = [&](uint32_t a, uint32_t b) {
        return mode == 2 ? idx.entries[a].size == idx.entries[b].size : SameBytes(idx.FoldedOf(a), idx.FoldedOf(b));
    };
    for (size_t i = 0; i < ids.size();) {
        size_t j = i + 1;
        while (j < ids.size() && same(ids[i], ids[j])) ++j;
        if (j - i >= 2) {
            for (size_t k = i; k < j; ++k) SetBit(bitmap, ids[k]);
        }
        i = j;
    }
}

}  // namespace ov
