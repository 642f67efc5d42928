// Sort orders: one list of live entry numbers per key, with its inverse (ranks).
//
// A full sort packs each entry into a 16-byte record whose leading value (the
// first eight name or extension bytes read big-endian, or the number itself)
// settles most comparisons without touching the pools; Less breaks the rest.
// Between searches the writers only note entries; a short pending list is
// merged in one pass: the surviving order is compacted in place, each pending
// entry's place is found by a binary search (in parallel, the searches are
// independent), and the runs are then moved right to make room, back to front.
#include <algorithm>
#include <cstring>

#include "index/index.h"

namespace ov {
namespace {

int CompareBytes(const char* a, size_t aLength, const char* b, size_t bLength) {
    const size_t common = std::min(aLength, bLength);
    if (common > 0) {
        if (int c = std::memcmp(a, b, common)) return c;  // memcmp compares unsigned bytes
    }
    return aLength < bLength ? -1 : (aLength > bLength ? 1 : 0);
}

// The folded bytes after the last '.', empty for a folder, for a name without a
// dot and for one whose only dot leads ('.profile').
std::string_view ExtensionOf(const Entry& e, const std::string& foldedPool) {
    if (IsDir(e) || e.foldedLength == 0) return {};
    const char* name = foldedPool.data() + e.foldedOffset;
    for (size_t i = e.foldedLength; i-- > 1;) {
        if (name[i] == '.') return std::string_view(name + i + 1, e.foldedLength - i - 1);
    }
    return {};
}

uint64_t BigEndianPrefix(std::string_view bytes) {
    uint64_t v = 0;
    const size_t n = std::min<size_t>(bytes.size(), 8);
    for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (56 - 8 * i);
    return v;
}

// Runs fn(begin, end) over [0, n) in blocks on the pool.
template <class Fn>
void ForBlocks(Pool& pool, size_t n, size_t minBlock, Fn fn) {
    const size_t threads = static_cast<size_t>(std::max(1, pool.ThreadsInUse()));
    size_t blocks = std::min(threads * 4, (n + minBlock - 1) / minBlock);
    if (blocks <= 1) {
        if (n > 0) fn(size_t{0}, n);
        return;
    }
    pool.Run(static_cast<int>(blocks), [&](int b) {
        fn(n * static_cast<size_t>(b) / blocks, n * static_cast<size_t>(b + 1) / blocks);
    });
}

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
                // The parents' cached paths; a parent outside the (possibly
                // incomplete) cache counts as the empty path.
                auto parentPath = [this](uint32_t p) -> std::string_view {
                    if (p >= pathOffset.size() || p >= pathLength.size() || pathOffset[p] == kNoEntry) return {};
                    const size_t offset = pathOffset[p];
                    if (offset >= pathBuffer.size()) return {};
                    return std::string_view(pathBuffer.data() + offset,
                                            std::min<size_t>(pathLength[p], pathBuffer.size() - offset));
                };
                const std::string_view pa = parentPath(ea.parent);
                const std::string_view pb = parentPath(eb.parent);
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
            const std::string_view xa = ExtensionOf(ea, folded);
            const std::string_view xb = ExtensionOf(eb, folded);
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
    std::vector<uint32_t>& order = orders[k];
    order.clear();
    order.reserve(n - std::min<uint64_t>(deletedCount, n));

    if (key == SortKey::Path || key == SortKey::RunCount) {
        for (uint32_t i = 0; i < n; ++i) {
            if (!IsDeleted(entries[i])) order.push_back(i);
        }
        ParallelSort(pool, order, [this, key](uint32_t a, uint32_t b) { return Less(key, a, b); });
    } else {
        // Leading value, entry, folders-first group: 16 bytes, so a sort moves little.
        struct SK {
            uint64_t value;
            uint32_t id;
            uint32_t group;
        };
        static_assert(sizeof(SK) == 16);
        std::vector<SK> records;
        records.reserve(order.capacity());
        for (uint32_t i = 0; i < n; ++i) {
            const Entry& e = entries[i];
            if (IsDeleted(e)) continue;
            SK r{0, i, 0};
            switch (key) {
                case SortKey::Name:
                    r.group = IsDir(e) ? 0 : 1;
                    r.value = BigEndianPrefix(std::string_view(folded.data() + e.foldedOffset, e.foldedLength));
                    break;
                case SortKey::Extension:
                case SortKey::Type:
                    r.group = IsDir(e) ? 0 : 1;
                    r.value = BigEndianPrefix(ExtensionOf(e, folded));
                    break;
                case SortKey::Size: r.value = e.size; break;
                case SortKey::DateModified: r.value = e.modified; break;
                case SortKey::DateCreated: r.value = e.created; break;
                default: break;
            }
            records.push_back(r);
        }
        ParallelSort(pool, records, [this, key](const SK& a, const SK& b) {
            if (a.group != b.group) return a.group < b.group;
            if (a.value != b.value) return a.value < b.value;
            return Less(key, a.id, b.id);
        });
        order.resize(records.size());
        for (size_t i = 0; i < records.size(); ++i) order[i] = records[i].id;
    }
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
    const size_t n = entries.size();
    std::vector<uint32_t>& order = orders[k];
    std::vector<uint32_t>& pend = pending[k];

    if (!orderValid[k] || overflow[k] || pend.size() > n / 8) {
        FullSort(key);
    } else if (!pend.empty()) {
        std::sort(pend.begin(), pend.end());
        pend.erase(std::unique(pend.begin(), pend.end()), pend.end());
        std::vector<uint64_t> marked((n + 63) / 64, 0);
        std::vector<uint32_t> live;
        for (uint32_t x : pend) {
            if (x >= n) continue;
            marked[x / 64] |= uint64_t{1} << (x % 64);
            if (!IsDeleted(entries[x])) live.push_back(x);
        }
        auto isMarked = [&marked](uint32_t x) { return (marked[x / 64] >> (x % 64)) & 1; };
        // Kept part, compacted in place and in order.
        size_t kept = 0;
        for (uint32_t x : order) {
            if (x < n && !isMarked(x) && !IsDeleted(entries[x])) order[kept++] = x;
        }
        order.resize(kept);
        auto less = [this, key](uint32_t a, uint32_t b) { return Less(key, a, b); };
        std::sort(live.begin(), live.end(), less);

        // Where each live entry goes: the first kept element it precedes.
        std::vector<uint32_t> at(live.size());
        ForBlocks(pool, live.size(), 4096, [&](size_t begin, size_t end) {
            auto from = order.begin();
            for (size_t j = begin; j < end; ++j) {
                from = std::upper_bound(from, order.end(), live[j], less);  // live is sorted: bounds ascend
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
    } else if (ranks[k].size() == n) {
        return;
    }

    std::vector<uint32_t>& rank = ranks[k];
    rank.assign(n, kNoEntry);
    for (size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<uint32_t>(i);
}

}  // namespace ov
