// The in-memory index of every volume: one flat table of 48-byte entries linked
// by parent, two append-only UTF-8 pools (names and folded names), folder sizes
// and child counts kept exact on every change, and per sort key an order, its
// ranks and the entries changed since it was last brought up to date.
//
// Locking: none of these operations lock. Writers hold `lock` exclusively, readers
// shared; the fields below say what each group promises. Anyone who keeps entry
// numbers outside the lock keeps the epoch they belong to and drops them when it
// moved.
//
// Lock order of the whole program, the one place it is written down: the engine's
// volumesMutex (or its saveMutex, held for a whole save), then Index::lock, then
// the pool's runMutex, then the pool's stateMutex. The engine's statusMutex, the
// activity log's lock, the icon loader's mutex and a search request's mutex are
// leaves: nothing else is taken while one of them is held, and the search worker
// never holds its request mutex together with Index::lock.
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "index/entry.h"
#include "index/file_record.h"
#include "index/platform.h"
#include "index/pool.h"
#include "index/volume_maps.h"

namespace ov {

class Index {
public:
    // Limits of the record format: 16-bit name lengths, 32-bit pool offsets.
    static constexpr size_t kMaxNameBytes = 0xFFFF;
    static constexpr uint64_t kMaxPoolBytes = 0xFFFFFFFFull;
    static constexpr size_t kPendingCap = 200000;
    static constexpr int kMaxDepth = 256;
    static constexpr int kMaxVolumes = 256;

    // One volume's scan output, merged whole by Ingest.
    struct Piece {
        std::vector<Entry> entries;  // piece-local parents; offsets into the piece's pools
        std::string names;           // each name followed by one NUL
        std::string folded;
        std::vector<uint32_t> recordMap;                       // record -> piece entry of its first name
        std::vector<std::pair<uint32_t, uint32_t>> hardLinks;  // further names: (record, piece entry)
        uint32_t root = kNoEntry;
        uint64_t files = 0;
        uint64_t folders = 0;

        // Appends one entry, its name and folded name each followed by one NUL;
        // returns its piece number, or kNoEntry (nothing added) when a name is too
        // long or a pool would pass kMaxPoolBytes. The counts are the caller's.
        uint32_t Add(uint32_t parent, std::string_view name, std::string_view folded, uint32_t flags, uint64_t size,
                     uint64_t modified, uint64_t created);
    };

    Index();
    ~Index();
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

    // --- single-entry operations (exclusive lock) ---

    // Appends one entry. Returns kNoEntry, changing nothing, when the name is
    // longer than kMaxNameBytes or a pool would pass kMaxPoolBytes.
    uint32_t Add(uint32_t parent, const char* name, size_t nameLength, const std::string& folded, uint32_t flags,
                 uint64_t size, uint64_t modified, uint64_t created);
    // Flags the entry and, for a folder, its whole subtree Deleted.
    void Remove(uint32_t entry) { RemoveTree(entry, nullptr); }
    // Remove, lowering the volume's file and folder counts by every entry that goes.
    void RemoveCounted(VolumeMaps& volume, uint32_t entry);
    // Renames and/or moves one entry. False, changing nothing, when the new name
    // does not fit the record format; std::bad_alloc, changing nothing, when a
    // pool cannot grow.
    bool Rename(uint32_t entry, uint32_t newParent, const std::string& name, const std::string& folded);
    void SetMeta(uint32_t entry, uint64_t size, uint64_t modified, uint64_t created, uint16_t attributes);

    // Calls fn(entry), in ascending order, for every live entry other than
    // folder that has folder among its first 256 ancestors: the subtree Remove
    // takes with it. One pass over the table, as there are no child lists; each
    // entry's distance below folder is remembered, so a walk up stops at the
    // first ancestor already placed.
    template <class Fn>
    void ForEachBelow(uint32_t folder, Fn&& fn) const {
        const auto count = static_cast<uint32_t>(entries.size());
        if (folder >= count) return;
        constexpr uint16_t kUnknown = 0, kNotBelow = 0xFFFF;  // else levels below folder, 1 to 256
        std::vector<uint16_t> below;
        try {
            below.assign(count, kUnknown);
        } catch (const std::bad_alloc&) {
            // No room to remember: every entry walks up on its own.
            for (uint32_t j = 0; j < count; ++j) {
                if (j == folder || IsDeleted(entries[j])) continue;
                uint32_t cur = entries[j].parent;
                for (int depth = 0; depth < kMaxDepth && cur < count; ++depth, cur = entries[cur].parent) {
                    if (cur == folder) {
                        fn(j);
                        break;
                    }
                }
            }
            return;
        }
        uint32_t chain[kMaxDepth + 1];
        for (uint32_t j = 0; j < count; ++j) {
            if (j == folder) continue;
            if (below[j] == kUnknown) {
                int n = 0;
                uint32_t top = kNotBelow;  // levels below folder of what the walk stopped at
                for (uint32_t cur = j; n <= kMaxDepth; cur = entries[cur].parent) {
                    if (cur == folder) {
                        top = 0;
                        break;
                    }
                    if (cur == kNoEntry || cur >= count) break;
                    if (below[cur] != kUnknown) {
                        top = below[cur];
                        break;
                    }
                    chain[n++] = cur;
                }
                if (n > kMaxDepth) {
                    below[j] = kNotBelow;  // folder is not among its first 256 ancestors
                } else {
                    for (int i = 0; i < n; ++i) {
                        const uint32_t level = top == kNotBelow ? kNotBelow : top + static_cast<uint32_t>(n - i);
                        below[chain[i]] =
                            level > static_cast<uint32_t>(kMaxDepth) ? kNotBelow : static_cast<uint16_t>(level);
                    }
                }
            }
            if (below[j] != kNotBelow && !IsDeleted(entries[j])) fn(j);
        }
    }

    // Sets every folder's size and child count from scratch.
    void RecomputeFolderTotals();
    // The same in buffers made beforehand, by a caller that must not fail halfway
    // (a rebuild): after Make(entry count) and room in byDepth for one element per
    // entry, it allocates nothing.
    struct TotalsScratch {
        std::vector<uint16_t> depth;  // 0 = not known yet
        std::vector<uint32_t> chain;
        std::vector<uint32_t> start;
        std::vector<uint32_t> byDepth;
        void Make(size_t n);
    };
    void RecomputeFolderTotals(TotalsScratch& scratch);

    void CachePathOf(uint32_t folder);
    // A folder's cached folded path; empty outside the (possibly incomplete) cache.
    std::string_view CachedPath(uint32_t folder) const;
    void BuildAllDirPaths();
    void ComputeExtHashes();
    // Full path from the names as written; fromParent starts at the parent. Shared lock.
    std::string Path(uint32_t entry, bool fromParent) const;
    // Path appended to out, whose capacity a caller may keep from call to call.
    void AppendPath(uint32_t entry, bool fromParent, std::string& out) const;
    WString PathW(uint32_t entry, bool fromParent) const;

    // --- bulk operations (exclusive lock) ---

    // Replaces everything of `slot` by the piece; empties the piece. False when the
    // slot is empty or out of range, or the merged pools would not fit.
    bool Ingest(int slot, Piece& piece);
    // Reconciles one file record's entries with its fresh parse. False, changing
    // nothing, when the record number lies beyond what the volume's file table
    // can plausibly hold (see the volume's recordCount); the caller should read
    // the volume again.
    bool ApplyFile(VolumeMaps& volume, uint32_t record, bool inUse, const FileRec& info,
                   const std::vector<NameRec>& rows, const std::string& namePool, const std::string& foldedPool);
    // ApplyFile accepts the record number (it is within the volume's bound).
    bool RecordFits(const VolumeMaps& volume, uint32_t record) const;
    // Room for `more` entries added and renamed and their name bytes, so that
    // the changes that follow need not allocate for them. May throw
    // std::bad_alloc, changing nothing.
    void ReserveGrowth(size_t more, size_t nameBytes, size_t foldedBytes);
    // The record map grows by this many records past the one that needs it.
    static constexpr uint64_t kRecordMapGrowth = 4096;
    void Compact();
    void ApplyExclusions();
    // Refills the name map of each volume `which` selects from its live entries
    // with a parent numbered from `first` on: one counting and one filling pass
    // over the table on the pool, each map sized once.
    void FillNameMaps(const std::bitset<kMaxVolumes>& which, uint32_t first);
    // The filling pass alone, for a caller that counted each selected map's pairs
    // (pairs[slot]) and made room for them (NameMap::Reserve): empties the maps and
    // fills them, allocating nothing they cannot do without.
    void FillCountedNameMaps(const std::bitset<kMaxVolumes>& which, uint32_t first,
                             const std::array<size_t, kMaxVolumes>& pairs);

    // --- sort orders ---

    // Strict total order of entry numbers under key (shared lock; many threads).
    bool Less(SortKey key, uint32_t a, uint32_t b) const;
    void FullSort(SortKey key);
    // Makes orders[key] and ranks[key] current (exclusive lock).
    void EnsureSortedBy(SortKey key);
    // The order is valid, not overflowed and has nothing pending.
    bool OrderCurrent(SortKey key) const;

    // Notes that entry's place in key's order may have changed.
    // Never fails: a note that cannot be kept marks the key overflowed instead.
    void NoteKey(SortKey key, uint32_t entry) noexcept;
    void NoteAllKeys(uint32_t entry) noexcept;

    static uint32_t ExtHashOfFolded(const char* folded, size_t length, bool directory);

    std::string_view NameOf(uint32_t entry) const {
        const Entry& e = entries[entry];
        return std::string_view(names).substr(e.nameOffset, e.nameLength);
    }
    std::string_view FoldedOf(uint32_t entry) const {
        const Entry& e = entries[entry];
        return std::string_view(folded).substr(e.foldedOffset, e.foldedLength);
    }

    // --- state ---

    mutable SharedMutex lock;

    // The table and its pools (lock). Every parent is an entry number or kNoEntry;
    // every name lies inside its pool and is followed by one NUL. Deleted entries
    // stay in the table, out of every folder's totals, until compaction.
    std::vector<Entry> entries;
    std::string names;
    std::string folded;
    std::vector<VolumeMaps*> volumes;  // slot table (lock); not owned

    // Counters (lock). epoch rises whenever entry numbers change (compaction,
    // Ingest, a load); changes rises on every change. deletedCount entries are
    // flagged Deleted and garbageBytes name bytes superseded by renames, both until
    // the next compaction.
    uint64_t epoch = 1;
    uint64_t changes = 0;
    uint64_t deletedCount = 0;
    uint64_t garbageBytes = 0;

    // Read without the lock, once per search.
    std::atomic<bool> hideHidden{false};
    std::atomic<bool> hideSystem{false};

    // Sort orders (lock). orders[k] holds live entries in Less order when
    // orderValid[k] and not overflow[k], except for the entries in pending[k],
    // whose places may have moved (and deleted ones not yet taken out); a pending
    // list past kPendingCap is dropped and overflow[k] set instead. ranks[k] is the
    // inverse of orders[k] and complete only when sized to the entry count
    // (kNoEntry for entries the order lacks).
    std::array<std::vector<uint32_t>, kSortKeys> orders;
    std::array<bool, kSortKeys> orderValid{};
    std::array<std::vector<uint32_t>, kSortKeys> pending;
    std::array<bool, kSortKeys> overflow{};
    std::array<std::vector<uint32_t>, kSortKeys> ranks;

    // Path cache (lock): a folder's folded full path at pathBuffer[pathOffset,
    // +pathLength) when its offset is not kNoEntry. pathsValid promises that both
    // arrays are sized to the entry count and every live folder is cached (Add keeps
    // that; a folder's rename or move, compaction and Ingest clear it). Without it
    // the arrays may be short or stale: read them only through CachedPath.
    std::vector<uint32_t> pathOffset;
    std::vector<uint16_t> pathLength;
    std::string pathBuffer;
    bool pathsValid = false;

    // Side tables of the search (lock), each sized to the entry count. An entry
    // flagged NameChanged was renamed since the last compaction: its new name lies
    // at the pools' end, listed once in changedNames, while foldedOffsets keeps its
    // old offset, so foldedOffsets ascends with the entry number and the needle scan
    // can map pool positions back to entries. extHashes holds each name's extension
    // hash (0: none, and for folders).
    std::vector<uint32_t> foldedOffsets;
    std::vector<uint32_t> changedNames;
    std::vector<uint32_t> extHashes;

    std::unordered_map<uint32_t, uint32_t> openCounts;  // entry -> times opened (lock)

    // One reader's entry numbers (an export that reads them in short holds),
    // renumbered in place by every compaction and Ingest so they keep naming the
    // same entries; kNoEntry once an entry is gone. Set and cleared by their
    // owner under the exclusive lock; valid while followedEpoch == epoch (a load
    // replaces every entry and leaves them behind). Not owned.
    std::vector<uint32_t>* followed = nullptr;
    uint64_t followedEpoch = 0;

    // Folded full paths of excluded folders (lock). excludesDirty: the entries'
    // Excluded flags may not match them; ApplyExclusions clears it. Entries added or
    // moved below an excluded folder take the flag from their new parent.
    std::vector<std::string> excluded;
    bool excludesDirty = true;

    // Own locks; used by holders of `lock` (searches shared, sorts exclusive).
    Pool pool;

private:
    template <class Fn>
    void ForNameMapBlock(const std::bitset<kMaxVolumes>& which, uint32_t first, int b, Fn&& fn) const;

    // Steps of EnsureSortedBy: place the pending entries into the kept order, and
    // make the ranks its inverse.
    void MergePending(SortKey key);
    void RebuildRanks(SortKey key);

    // Remove, counting the files and folders that go into counts when given.
    void RemoveTree(uint32_t entry, VolumeMaps* counts);
    // Applies delta (mod 2^64) to the sizes of `from` and up to 255 further ancestors.
    void AddToAncestors(uint32_t from, uint64_t delta) noexcept;
    bool PoolsFit(size_t nameBytes, size_t foldedBytes) const;
};

}  // namespace ov
