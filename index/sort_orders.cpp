// Sort orders: one list of live entry numbers per key, with its inverse (ranks).
//
// A full sort packs each entry into a 16-byte record whose leading value (the
// first eight name or extension bytes read big-endian, or the number itself)
// settles most comparisons, and sorts the records on the pool by group, value
// and entry number alone. Real names share long prefixes, so many records tie
// on the value; each run of ties is then put in Less order by reading the next
// eight bytes of every name in the run (a few levels deep) instead of comparing
// whole names out of the pools at every step. Path ranks the folders' cached
// paths first and sorts entries by their parent's rank; RunCount leads with the
// open count. Every key ends in exactly the order Less gives.
//
// Between searches the writers only note entries; a short pending list is
// merged in one pass: the surviving order is compacted in place, each pending
// entry's place is found by a binary search (in parallel, the searches are
// independent), and the runs are then moved right to make room, back to front.
#include <algorithm>
#include <bit>

#include "index/index.h"
#include "index/text.h"

namespace ov {
namespace {

// The 16-byte record of a full sort. group: bit 0 is 0 for folders and 1 for
// files where folders come first (else 0); bits 8-31 carry the byte length of
// the name the ties are settled on, so a run of ties learns which names go on
// without another look at the entry.
struct SK {
    SK() noexcept {}  // left unset: the buffers are written in parallel before use
    SK(uint64_t v, uint32_t i, uint32_t g) noexcept : value(v), id(i), group(g) {}
    uint64_t value;
    uint32_t id;
    uint32_t group;
};
static_assert(sizeof(SK) == 16);

uint32_t Group(bool file, size_t length) {
    return (file ? 1u : 0u) | static_cast<uint32_t>(length) << 8;
}
uint32_t LengthOf(const SK& r) {
    return r.group >> 8;
}

constexpr ptrdiff_t kSmallRun = 16;     // ties sorted by Less directly
constexpr size_t kDeepestByte = 64;     // past this, ties are sorted by Less directly
constexpr size_t kParallelMin = 20000;  // smaller jobs stay on the calling thread

// The folded extension of a file; empty for a folder.
std::string_view ExtensionOf(const Index& index, const Entry& e) {
    if (IsDir(e)) return {};
    return FoldedExtension(std::string_view(index.folded.data() + e.foldedOffset, e.foldedLength));
}

// Eight bytes from offset, big-endian, missing bytes 0: compares as the bytes do
// because names hold no zero byte.
uint64_t Digit(std::string_view bytes, size_t offset) {
    uint64_t v = 0;
    const size_t end = std::min(bytes.size(), offset + 8);
    for (size_t i = offset; i < end; ++i)
        v |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (56 - 8 * (i - offset));
    return v;
}

size_t TaskCount(const Pool& pool, size_t n) {
    const int threads = pool.ThreadsInUse();
    return n < kParallelMin || threads < 2 ? 1 : static_cast<size_t>(threads) * 8;
}

// Runs fn(task, begin, end) over [0, n) split evenly into `tasks` parts.
template <class Fn>
void ForBlocks(Pool& pool, size_t n, size_t tasks, Fn fn) {
    if (tasks <= 1) {
        fn(size_t{0}, size_t{0}, n);
        return;
    }
    pool.Run(static_cast<int>(tasks), [&](int t) {
        const auto task = static_cast<size_t>(t);
        fn(task, n * task / tasks, n * (task + 1) / tasks);
    });
}

template <class Fn>
void ForBlocks(Pool& pool, size_t n, Fn fn) {
    ForBlocks(pool, n, TaskCount(pool, n), fn);
}

// The names ties are settled on: folded names, or folders' cached paths.
struct FoldedNames {
    const Index& index;
    std::string_view operator()(uint32_t id) const {
        const Entry& e = index.entries[id];
        return std::string_view(index.folded.data() + e.foldedOffset, e.foldedLength);
    }
    const void* Where(uint32_t id) const { return &index.entries[id]; }
};
struct CachedPaths {
    const Index& index;
    std::string_view operator()(uint32_t id) const { return index.CachedPath(id); }
    const void* Where(uint32_t id) const { return &index.pathOffset[id]; }
};

// Orders [first, last), which tie on everything before `offset` bytes of
// bytes(id), by the full comparison `full`; bytes must order like `full` does.
// settle(first, last) orders records whose bytes are all equal.
template <class Bytes, class Full, class Settle>
void RefineRun(SK* first, SK* last, size_t offset, const Bytes& bytes, const Full& full, const Settle& settle) {
    auto byFull = [&full](const SK& a, const SK& b) { return full(a.id, b.id); };
    if (last - first <= kSmallRun || offset >= kDeepestByte) {
        std::sort(first, last, byFull);
        return;
    }
    // The ids are scattered over the table: fetch the records a few steps
    // ahead and their bytes a few steps after that.
    constexpr ptrdiff_t kAhead = 8;
    for (SK* r = first; r != last; ++r) {
        if (last - r > 2 * kAhead) __builtin_prefetch(bytes.Where(r[2 * kAhead].id));
        if (last - r > kAhead) {
            const std::string_view ahead = bytes(r[kAhead].id);
            __builtin_prefetch(ahead.data() + std::min(offset, ahead.size()));
        }
        r->value = Digit(bytes(r->id), offset);
    }
    std::sort(first, last,
              [](const SK& a, const SK& b) { return a.value != b.value ? a.value < b.value : a.id < b.id; });
    for (SK* run = first; run != last;) {
        SK* end = run;
        bool longer = false;
        for (; end != last && end->value == run->value; ++end) longer |= LengthOf(*end) > offset + 8;
        if (end - run > 1) {
            if (longer) {
                RefineRun(run, end, offset + 8, bytes, full, settle);
            } else {
                settle(run, end);
            }
        }
        run = end;
    }
}

// Sorts records by (group, value, id) on the pool, then calls refine(first,
// last) on every run of two or more that tie on (group, value), in parallel.
template <class Refine>
void SortRecords(Pool& pool, std::vector<SK>& records, const Refine& refine) {
    ParallelSort(pool, records, [](const SK& a, const SK& b) {
        if ((a.group & 1) != (b.group & 1)) return (a.group & 1) < (b.group & 1);
        return a.value != b.value ? a.value < b.value : a.id < b.id;
    });
    const size_t n = records.size();
    auto tie = [&records](size_t i) {
        return ((records[i - 1].group ^ records[i].group) & 1) == 0 && records[i - 1].value == records[i].value;
    };
    // Cut the records into tasks at run boundaries, before any run is touched.
    const size_t tasks = TaskCount(pool, n);
    std::vector<size_t> cuts{0};
    for (size_t t = 1; t < tasks; ++t) {
        size_t c = std::max(n * t / tasks, cuts.back());
        while (c > 0 && c < n && tie(c)) ++c;
        cuts.push_back(c);
    }
    cuts.push_back(n);
    auto work = [&](int t) {
        const size_t end = cuts[static_cast<size_t>(t) + 1];
        for (size_t i = cuts[static_cast<size_t>(t)]; i < end;) {
            size_t j = i + 1;
            while (j < end && tie(j)) ++j;
            if (j - i > 1) refine(records.data() + i, records.data() + j);
            i = j;
        }
    };
    if (tasks == 1) {
        work(0);
    } else {
        pool.Run(static_cast<int>(tasks), work);
    }
}

// Dense ranks of the folders' cached paths: equal paths share a rank, the empty
// path (no parent, or a parent outside the cache) is 0. top is the largest rank.
std::vector<uint32_t> RankCachedPaths(const Index& index, Pool& pool, uint32_t& top) {
    const size_t n = std::min(index.entries.size(), index.pathOffset.size());
    std::vector<SK> folders;
    for (uint32_t i = 0; i < n; ++i) {
        if (index.pathOffset[i] == kNoEntry) continue;
        const std::string_view p = index.CachedPath(i);
        folders.emplace_back(Digit(p, 0), i, Group(false, p.size()));
    }
    const CachedPaths path{index};
    auto byPath = [&path](uint32_t a, uint32_t b) {
        const std::string_view pa = path(a);
        const std::string_view pb = path(b);
        const int c = CompareBytes(pa.data(), pa.size(), pb.data(), pb.size());
        return c != 0 ? c < 0 : a < b;
    };
    auto byId = [](SK* first, SK* last) {
        std::sort(first, last, [](const SK& a, const SK& b) { return a.id < b.id; });
    };
    SortRecords(pool, folders, [&](SK* first, SK* last) { RefineRun(first, last, 8, path, byPath, byId); });
    std::vector<uint32_t> rank(index.entries.size(), 0);
    uint32_t current = 0;
    std::string_view previous;
    for (const SK& f : folders) {
        const std::string_view p = path(f.id);
        if (p != previous) {
            ++current;
            previous = p;
        }
        rank[f.id] = current;
    }
    top = current;
    return rank;
}

// Puts entries of one key in Less order by way of 16-byte records: Record makes
// an entry's record, Sort orders a vector of them.
class KeySorter {
public:
    // Path records need every folder's path rank, a full pass of their own;
    // without rankPaths, Sort orders Path records by Less directly.
    KeySorter(Index& index, SortKey key, bool rankPaths) : index(index), key(key), foldedOf{index} {
        if (key == SortKey::Path && rankPaths) parentRank = RankCachedPaths(index, index.pool, top);
        if (key == SortKey::RunCount) {
            for (const auto& kv : index.openCounts) top = std::max(top, kv.second);
        }
        topBits = std::bit_width(top);
    }

    SK Record(uint32_t id) const {
        const Entry& e = index.entries[id];
        const bool file = !IsDir(e);
        const uint32_t group = Group(file, e.foldedLength);
        const uint32_t ungrouped = Group(false, e.foldedLength);
        switch (key) {
            case SortKey::Name:
                return SK{Digit(foldedOf(id), 0), id, group};
            case SortKey::Extension:
            case SortKey::Type: {
                // A short extension, a zero byte (which no name holds) and the
                // name's first bytes: ties are then rarer than on the extension alone.
                const std::string_view x = ExtensionOf(index, e);
                uint64_t value = Digit(x, 0);
                if (x.size() < 7) value |= Digit(foldedOf(id), 0) >> (8 * (x.size() + 1));
                return SK{value, id, group};
            }
            case SortKey::Size:
                return SK{e.size, id, ungrouped};
            case SortKey::DateModified:
                return SK{e.modified, id, ungrouped};
            case SortKey::DateCreated:
                return SK{e.created, id, ungrouped};
            case SortKey::Path: {
                if (parentRank.empty()) return SK{0, id, ungrouped};
                const uint64_t rank = e.parent < parentRank.size() ? parentRank[e.parent] : 0;
                return SK{Lead(rank, uint64_t{file} << 63 | Digit(foldedOf(id), 0) >> 1), id, ungrouped};
            }
            case SortKey::RunCount: {
                uint32_t count = 0;
                if (!index.openCounts.empty()) {
                    auto it = index.openCounts.find(id);
                    if (it != index.openCounts.end()) count = it->second;
                }
                return SK{Lead(top - count, Digit(foldedOf(id), 0)), id, ungrouped};
            }
        }
        return SK{0, id, ungrouped};
    }

    void Sort(std::vector<SK>& records) const {
        auto less = [this](uint32_t a, uint32_t b) { return index.Less(key, a, b); };
        auto byLess = [&less](const SK& a, const SK& b) { return less(a.id, b.id); };
        if (key == SortKey::Path && parentRank.empty()) {
            ParallelSort(index.pool, records, byLess);
            return;
        }
        // Equal folded names: often the very same name many times over, which the
        // entry number alone then orders.
        auto settle = [&](SK* first, SK* last) {
            const std::string_view name = index.NameOf(first->id);
            if (std::all_of(first + 1, last, [&](const SK& r) { return index.NameOf(r.id) == name; })) {
                std::sort(first, last, [](const SK& a, const SK& b) { return a.id < b.id; });
            } else {
                std::sort(first, last, byLess);
            }
        };
        SortRecords(index.pool, records, [&](SK* first, SK* last) {
            size_t offset = 0;  // folded bytes the leading value already holds
            if (key == SortKey::Name) {
                offset = 8;
            } else if (key == SortKey::Extension || key == SortKey::Type) {
                const size_t x = ExtensionOf(index, index.entries[first->id]).size();
                if (x > 8 || (x == 8 && std::any_of(first, last, [&](const SK& r) {
                                  return ExtensionOf(index, index.entries[r.id]).size() > 8;
                              }))) {
                    std::sort(first, last, byLess);  // long extensions that share eight bytes: rare
                    return;
                }
                offset = x < 8 ? 7 - x : 0;
            }
            RefineRun(first, last, offset, foldedOf, less, settle);
        });
    }

private:
    // Path and RunCount lead with a number; it takes only the bits its largest
    // value needs, and the name's first bytes fill the rest.
    uint64_t Lead(uint64_t number, uint64_t rest) const {
        return topBits == 0 ? rest : number << (64 - topBits) | rest >> topBits;
    }

    Index& index;
    const SortKey key;
    const FoldedNames foldedOf;
    std::vector<uint32_t> parentRank;
    uint32_t top = 0;
    int topBits = 0;
};

}  // namespace

bool Index::Less(SortKey key, uint32_t a, uint32_t b) const {
    const Entry& ea = entries[a];
    const Entry& eb = entries[b];
    const bool da = IsDir(ea);
    const bool db = IsDir(eb);
    switch (key) {
        case SortKey::Name:
            if (da != db) return da;
            break;
        case SortKey::Path: {
            if (ea.parent != eb.parent) {
                const std::string_view pa = CachedPath(ea.parent);
                const std::string_view pb = CachedPath(eb.parent);
                if (int c = CompareBytes(pa.data(), pa.size(), pb.data(), pb.size())) return c < 0;
            }
            if (da != db) return da;
            break;
        }
        case SortKey::Size:
            if (ea.size != eb.size) return ea.size < eb.size;
            break;
        case SortKey::Extension:
        case SortKey::Type: {
            if (da != db) return da;
            if (da) break;
            const std::string_view xa = ExtensionOf(*this, ea);
            const std::string_view xb = ExtensionOf(*this, eb);
            if (int c = CompareBytes(xa.data(), xa.size(), xb.data(), xb.size())) return c < 0;
            break;
        }
        case SortKey::DateModified:
            if (ea.modified != eb.modified) return ea.modified < eb.modified;
            break;
        case SortKey::DateCreated:
            if (ea.created != eb.created) return ea.created < eb.created;
            break;
        case SortKey::RunCount:
            if (!openCounts.empty()) {
                auto ia = openCounts.find(a);
                auto ib = openCounts.find(b);
                const uint32_t ca = ia == openCounts.end() ? 0 : ia->second;
                const uint32_t cb = ib == openCounts.end() ? 0 : ib->second;
                if (ca != cb) return ca > cb;
            }
            break;
    }
    if (int c = CompareBytes(folded.data() + ea.foldedOffset, ea.foldedLength, folded.data() + eb.foldedOffset,
                             eb.foldedLength))
        return c < 0;
    if (int c = CompareBytes(names.data() + ea.nameOffset, ea.nameLength, names.data() + eb.nameOffset, eb.nameLength))
        return c < 0;
    return a < b;
}

void Index::FullSort(SortKey key) {
    const auto k = static_cast<size_t>(key);
    const size_t n = entries.size();
    const KeySorter sorter(*this, key, true);

    // Records of the live entries, built in blocks: count, then fill in place.
    const size_t tasks = TaskCount(pool, n);
    std::vector<size_t> start(tasks + 1, 0);
    ForBlocks(pool, n, tasks, [&](size_t t, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) start[t + 1] += IsDeleted(entries[i]) ? 0 : 1;
    });
    for (size_t t = 0; t < tasks; ++t) start[t + 1] += start[t];
    std::vector<SK> records(start[tasks]);
    ForBlocks(pool, n, tasks, [&](size_t t, size_t begin, size_t end) {
        size_t out = start[t];
        for (size_t i = begin; i < end; ++i) {
            if (!IsDeleted(entries[i])) records[out++] = sorter.Record(static_cast<uint32_t>(i));
        }
    });
    sorter.Sort(records);

    std::vector<uint32_t>& order = orders[k];
    order.resize(records.size());  // keeps the old buffer: fresh pages cost more than the copy
    ForBlocks(pool, records.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) order[i] = records[i].id;
    });
    orderValid[k] = true;
    overflow[k] = false;
    pending[k].clear();
}

bool Index::OrderCurrent(SortKey key) const {
    const auto k = static_cast<size_t>(key);
    return orderValid[k] && !overflow[k] && pending[k].empty();
}

void Index::EnsureSortedBy(SortKey key) {
    const auto k = static_cast<size_t>(key);
    if (key == SortKey::Path) BuildAllDirPaths();
    if (!orderValid[k] || overflow[k] || pending[k].size() > entries.size() / 8) {
        FullSort(key);
    } else if (!pending[k].empty()) {
        MergePending(key);
    } else if (ranks[k].size() == entries.size()) {
        return;
    }
    RebuildRanks(key);
}

void Index::MergePending(SortKey key) {
    const auto k = static_cast<size_t>(key);
    const size_t n = entries.size();
    std::vector<uint32_t>& order = orders[k];
    std::vector<uint32_t>& pend = pending[k];
    std::sort(pend.begin(), pend.end());
    pend.erase(std::unique(pend.begin(), pend.end()), pend.end());
    // One bit per entry: pending or deleted, so it leaves the kept part.
    // Built from the table in order, which is far cheaper than visiting
    // each entry in the order's sequence.
    std::vector<uint64_t> leaves((n + 63) / 64, 0);
    ForBlocks(pool, leaves.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t w = begin; w < end; ++w) {
            uint64_t bits = 0;
            for (size_t i = w * 64, stop = std::min(n, w * 64 + 64); i < stop; ++i)
                bits |= uint64_t{IsDeleted(entries[i])} << (i % 64);
            leaves[w] = bits;
        }
    });
    std::vector<uint32_t> live;
    for (uint32_t x : pend) {
        if (x >= n) continue;
        if (!IsDeleted(entries[x])) live.push_back(x);
        leaves[x / 64] |= uint64_t{1} << (x % 64);
    }
    size_t kept = 0;
    for (uint32_t x : order) {
        if (x < n && !((leaves[x / 64] >> (x % 64)) & 1)) order[kept++] = x;
    }
    order.resize(kept);
    {
        const KeySorter sorter(*this, key, false);
        std::vector<SK> records;
        records.reserve(live.size());
        for (uint32_t x : live) records.push_back(sorter.Record(x));
        sorter.Sort(records);
        for (size_t j = 0; j < live.size(); ++j) live[j] = records[j].id;
    }

    // Where each live entry goes: the first kept element it precedes. live
    // is sorted, so the bounds ascend: each search gallops on from the last.
    auto less = [this, key](uint32_t a, uint32_t b) { return Less(key, a, b); };
    std::vector<uint32_t> at(live.size());
    ForBlocks(pool, live.size(), [&](size_t, size_t begin, size_t end) {
        const auto last = order.end();
        auto from = order.begin();
        for (size_t j = begin; j < end; ++j) {
            auto low = from;
            auto high = from;
            for (ptrdiff_t step = 1; high != last && !less(live[j], *high); step *= 2) {
                low = high + 1;
                high = last - high > step ? high + step : last;
            }
            from = std::upper_bound(low, high, live[j], less);
            at[j] = static_cast<uint32_t>(from - order.begin());
        }
    });
    // Back to front: move each run of kept elements right by the number of
    // live entries that precede it, then drop the live entry in before it.
    order.resize(kept + live.size());
    size_t src = kept;
    for (size_t j = live.size(); j-- > 0;) {
        const size_t run = src - at[j];
        std::memmove(order.data() + at[j] + j + 1, order.data() + at[j], run * sizeof(uint32_t));
        order[at[j] + j] = live[j];
        src = at[j];
    }
    pend.clear();
}

void Index::RebuildRanks(SortKey key) {
    const auto k = static_cast<size_t>(key);
    const std::vector<uint32_t>& order = orders[k];
    std::vector<uint32_t>& rank = ranks[k];
    rank.assign(entries.size(), kNoEntry);
    // Each entry appears once in the order, so the blocks write disjoint elements.
    ForBlocks(pool, order.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) rank[order[i]] = static_cast<uint32_t>(i);
    });
}

}  // namespace ov
