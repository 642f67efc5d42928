// Compaction and the merge of a scanned volume (Ingest), which share one
// rebuild of the table and both pools.
//
// The rebuild compacts the table and the pools in place (Ingest appends the
// piece behind the survivors, which is what appending it and then compacting
// would give), so neither needs a second copy of a multi-hundred-megabyte pool.
// Done in place it cannot be undone, so it happens whole or not at all: a plan
// first works out which entries survive and their new numbers, and allocates
// all the rebuild will use (the pools' and tables' room, the maps made anew,
// the open counts, the scratch of the folder totals) while the index is still
// untouched. An allocation that fails throws out of the plan and leaves the
// index as it was. The commit then only moves what was planned; the memory it
// tries to give back, it may fail to give back at no cost.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <string_view>

#include "index/index.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kCountBlock = uint32_t{1} << 16;

// The bytes a pool really holds at [offset, offset + length).
std::string_view Cut(const std::string& pool, uint64_t offset, uint64_t length) {
    if (offset >= pool.size()) return {};
    return std::string_view(pool.data() + offset, std::min<uint64_t>(length, pool.size() - offset));
}

bool PieceIsSound(const Index::Piece& piece) {
    const uint64_t n = piece.entries.size();
    for (const Entry& e : piece.entries) {
        if (e.parent != kNoEntry && e.parent >= n) return false;
        if (uint64_t{e.nameOffset} + e.nameLength > piece.names.size()) return false;
        if (uint64_t{e.foldedOffset} + e.foldedLength > piece.folded.size()) return false;
    }
    if (piece.root != kNoEntry && piece.root >= n) return false;
    for (uint32_t v : piece.recordMap) {
        if (v != kNoEntry && v >= n) return false;
    }
    for (const auto& link : piece.hardLinks) {
        if (link.second >= n) return false;
    }
    return true;
}

// Old entry numbers to new ones: one bit per survivor and, per word of 64
// entries, the survivors before it. A few megabytes for ten million entries,
// where a plain table would take forty.
class Renumbering {
public:
    explicit Renumbering(size_t count) : n(count), live((count + 63) / 64, 0), before(live.size(), 0) {}
    void Keep(size_t i) { live[i >> 6] |= uint64_t{1} << (i & 63); }
    // Once every survivor is kept; returns how many there are.
    uint32_t Count() {
        uint32_t total = 0;
        for (size_t w = 0; w < live.size(); ++w) {
            before[w] = total;
            total += static_cast<uint32_t>(std::popcount(live[w]));
        }
        return total;
    }
    bool Survives(uint32_t v) const { return v < n && ((live[v >> 6] >> (v & 63)) & 1); }
    // kNoEntry for an entry that goes and for a number outside the table.
    uint32_t operator()(uint32_t v) const {
        if (!Survives(v)) return kNoEntry;
        const uint64_t below = live[v >> 6] & ((uint64_t{1} << (v & 63)) - 1);
        return before[v >> 6] + static_cast<uint32_t>(std::popcount(below));
    }

private:
    size_t n;
    std::vector<uint64_t> live;
    std::vector<uint32_t> before;
};

// Compacts one name pool in place. Plan each survivor's name in entry order,
// then Move them in the same order: each name moves down to the end of the
// ones before it. A name whose new place starts past its old one (a renamed
// entry's name lies at the pool's end) could be overwritten before it is read,
// so Plan saves it aside first. Compacting in place needs no second pool.
class PoolCompactor {
public:
    explicit PoolCompactor(std::string& pool) : pool(pool) {}

    void Plan(uint32_t offset, uint16_t length) {
        const std::string_view bytes = Cut(pool, offset, length);
        if (offset < planned) aside.append(bytes);
        planned += bytes.size() + 1;
    }
    // Room for the planned names and `appended` bytes behind them; only the
    // capacity changes. It grows as appending them would have grown it, by
    // doubling, so the names added after a merge find room as they did before.
    void Reserve(uint64_t appended) {
        const uint64_t need = std::max<uint64_t>(pool.size(), planned + appended);
        if (pool.capacity() >= need) return;
        uint64_t room = std::max<uint64_t>(pool.capacity(), 15);
        while (room < need) room *= 2;
        pool.reserve(room);
    }

    // From here on everything stays within the room reserved.
    void Start() {
        if (planned > pool.size()) pool.resize(planned);  // names that overlap may need it
    }
    // The name's new offset; length becomes what the pool really held.
    uint32_t Move(uint32_t offset, uint16_t& length) {
        const size_t bytes = Cut(pool, offset, length).size();
        const size_t at = written;
        if (offset < at) {
            std::memcpy(pool.data() + at, aside.data() + asideRead, bytes);
            asideRead += bytes;
        } else if (offset != at) {
            std::memmove(pool.data() + at, pool.data() + offset, bytes);
        }
        pool[at + bytes] = '\0';
        written += bytes + 1;
        length = static_cast<uint16_t>(bytes);
        return static_cast<uint32_t>(at);
    }
    // Drops the garbage after the moved names; appended names follow them.
    void Finish() { pool.resize(written); }
    uint32_t Append(std::string_view bytes) {
        const auto at = static_cast<uint32_t>(pool.size());
        pool.append(bytes);
        pool.push_back('\0');
        return at;
    }

private:
    std::string& pool;
    std::string aside;
    size_t asideRead = 0;
    uint64_t planned = 0;
    size_t written = 0;
};

// Swaps v for a copy with room for `capacity` elements when memory allows.
template <class V>
void GiveBack(V& v, size_t capacity) {
    try {
        V smaller;
        smaller.reserve(capacity);
        smaller.assign(v.begin(), v.end());
        v.swap(smaller);
    } catch (const std::bad_alloc&) {
        // It keeps its room.
    }
}

// 64-bit FNV-1a, continued over the '\\'-joined folded names of a path.
constexpr uint64_t kPathHashBasis = 0xCBF29CE484222325ull;
uint64_t HashOn(uint64_t h, std::string_view bytes) {
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

// The folded names from the volume root down to entry, joined by '\\'; empty
// when the chain is broken or deeper than the walks allow.
std::string FoldedPathOf(const std::vector<Entry>& entries, const std::string& folded, uint32_t entry) {
    std::vector<uint32_t> chain;
    for (uint32_t cur = entry; cur != kNoEntry; cur = entries[cur].parent) {
        if (cur >= entries.size() || chain.size() == static_cast<size_t>(Index::kMaxDepth)) return {};
        chain.push_back(cur);
    }
    std::string path;
    for (size_t k = chain.size(); k-- > 0;) {
        if (k + 1 != chain.size()) path.push_back('\\');
        const Entry& e = entries[chain[k]];
        path.append(Cut(folded, e.foldedOffset, e.foldedLength));
    }
    return path;
}

// Open counts of one slot's entries, carried across the slot's replacement: by
// file record when the old and the new entries both come from a file table (a
// renamed file keeps its count), by folded path otherwise (folder volumes are
// scanned again at every start).
class CarriedCounts {
public:
    CarriedCounts(const Index& index, const VolumeMaps& volume, int slot, bool byRecord) {
        std::unordered_map<uint32_t, uint32_t> counted;
        for (const auto& [entry, count] : index.openCounts) {
            if (entry < index.entries.size() && count != 0 && !IsDeleted(index.entries[entry]) &&
                SlotOf(index.entries[entry].flags) == slot)
                counted.emplace(entry, count);
        }
        if (counted.empty()) return;
        if (byRecord) {
            auto take = [&](uint32_t record, uint32_t entry) {
                const auto it = counted.find(entry);
                if (it == counted.end()) return;
                records.emplace_back(record, it->second);
                counted.erase(it);
            };
            for (size_t r = 0; r < volume.recordMap.size(); ++r) take(static_cast<uint32_t>(r), volume.recordMap[r]);
            for (const auto& [record, entry] : volume.hardLinks) take(record, entry);
        }
        for (const auto& [entry, count] : counted) {
            std::string path = FoldedPathOf(index.entries, index.folded, entry);
            if (!path.empty()) paths.push_back({HashOn(kPathHashBasis, path), std::move(path), count});
        }
    }

    // Adds the counts to `counts` under the piece's entries, which are to be
    // numbered from base.
    void GiveTo(std::unordered_map<uint32_t, uint32_t>& counts, const Index::Piece& piece, uint32_t base) const {
        for (const auto& [record, count] : records) {
            if (record < piece.recordMap.size() && piece.recordMap[record] != kNoEntry)
                counts[piece.recordMap[record] + base] += count;
        }
        if (paths.empty()) return;
        std::unordered_multimap<uint64_t, const ByPath*> wanted;
        for (const ByPath& p : paths) wanted.emplace(p.hash, &p);
        // Path hashes of the piece's entries, each from its parent's: a chain is
        // walked up to the first known hash, then filled in on the way down.
        const auto n = static_cast<uint32_t>(piece.entries.size());
        auto foldedOf = [&](uint32_t i) {
            return Cut(piece.folded, piece.entries[i].foldedOffset, piece.entries[i].foldedLength);
        };
        std::vector<uint64_t> hash(n, 0);
        std::vector<uint8_t> known(n, 0);
        std::vector<uint32_t> chain;
        for (uint32_t i = 0; i < n; ++i) {
            chain.clear();
            uint32_t cur = i;
            while (cur < n && !known[cur] && chain.size() <= static_cast<size_t>(Index::kMaxDepth)) {
                chain.push_back(cur);
                cur = piece.entries[cur].parent;
            }
            if (chain.size() > static_cast<size_t>(Index::kMaxDepth)) continue;
            uint64_t h = kPathHashBasis;
            bool root = true;
            if (cur < n) {
                h = hash[cur];
                root = false;
            } else if (cur != kNoEntry) {
                continue;  // a chain that leaves the piece has no path of its own
            }
            for (size_t k = chain.size(); k-- > 0;) {
                if (!root) h = HashOn(h, "\\");
                h = HashOn(h, foldedOf(chain[k]));
                root = false;
                hash[chain[k]] = h;
                known[chain[k]] = 1;
            }
        }
        for (uint32_t i = 0; i < n; ++i) {
            if (!known[i]) continue;
            for (auto [it, end] = wanted.equal_range(hash[i]); it != end; ++it) {
                if (FoldedPathOf(piece.entries, piece.folded, i) == it->second->path)
                    counts[i + base] += it->second->count;
            }
        }
    }

private:
    struct ByPath {
        uint64_t hash;
        std::string path;
        uint32_t count;
    };
    std::vector<std::pair<uint32_t, uint32_t>> records;
    std::vector<ByPath> paths;
};

// One rebuild: the constructor plans it, allocating all it needs and changing
// nothing; Commit carries it out and cannot fail.
class Rebuild {
public:
    // Survivors are the entries that are not Deleted and, when a piece comes
    // in, not of its slot.
    Rebuild(Index& index, Index::Piece* piece, int slot);
    void Commit();

private:
    void PlanTable();
    void PlanNameMaps();
    void PlanOpenCounts();
    void PlanPiece();
    void CommitTable();
    void CommitMaps();
    void ResetDerived();
    void CommitPiece();

    Index& index;
    Index::Piece* const piece;
    const int slot;
    const size_t entriesBefore;
    const size_t namesBefore;
    const size_t foldedBefore;
    Renumbering renumber;
    PoolCompactor names;
    PoolCompactor folded;
    uint32_t live = 0;  // survivors; the piece's entries follow them
    size_t total = 0;   // entries afterwards
    size_t room = 0;    // room of the table and its side tables afterwards, for the entries to come
    std::bitset<Index::kMaxVolumes> refill;          // name maps made anew from the table
    std::array<size_t, Index::kMaxVolumes> pairs{};  // each one's pairs
    uint32_t refillFrom = 0;
    std::unordered_map<uint32_t, uint32_t> openCounts;  // under the new numbers
    // Ingest only: the slot's further names, and the folder totals' scratch.
    std::unordered_multimap<uint32_t, uint32_t> hardLinks;
    Index::TotalsScratch totals;
    bool borrowRanks = false;
};

Rebuild::Rebuild(Index& index, Index::Piece* piece, int slot)
    : index(index),
      piece(piece),
      slot(slot),
      entriesBefore(index.entries.size()),
      namesBefore(index.names.size()),
      foldedBefore(index.folded.size()),
      renumber(index.entries.size()),
      names(index.names),
      folded(index.folded) {
    PlanTable();
    PlanNameMaps();
    PlanOpenCounts();
    if (piece) PlanPiece();
}

void Rebuild::PlanTable() {
    const std::vector<Entry>& entries = index.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (IsDeleted(e) || (piece && SlotOf(e.flags) == slot)) continue;
        renumber.Keep(i);
        names.Plan(e.nameOffset, e.nameLength);
        folded.Plan(e.foldedOffset, e.foldedLength);
    }
    live = renumber.Count();
    uint64_t nameBytes = 0;
    uint64_t foldedBytes = 0;
    if (piece) {
        for (const Entry& e : piece->entries) {
            nameBytes += Cut(piece->names, e.nameOffset, e.nameLength).size() + 1;
            foldedBytes += Cut(piece->folded, e.foldedOffset, e.foldedLength).size() + 1;
        }
    }
    names.Reserve(nameBytes);
    folded.Reserve(foldedBytes);
    total = live + (piece ? piece->entries.size() : 0);
    // Room for the entries to come: without it the first Add after a merge or a
    // compaction copies the whole table and its side tables under the lock.
    room = total + total / 32 + 4096;
    if (index.entries.capacity() < room) index.entries.reserve(room);
    if (index.foldedOffsets.capacity() < room) index.foldedOffsets.reserve(room);
    if (index.extHashes.capacity() < room) index.extHashes.reserve(room);
}

void Rebuild::PlanNameMaps() {
    std::bitset<Index::kMaxVolumes> others;
    for (size_t s = 0; s < index.volumes.size(); ++s) {
        const VolumeMaps* v = index.volumes[s];
        if (v && !(piece && static_cast<int>(s) == slot) && !v->nameMap.Empty()) others.set(s);
    }
    if (others.any()) {
        // What FillCountedNameMaps will find: survivors whose parent survives.
        const std::vector<Entry>& entries = index.entries;
        const auto n = static_cast<uint32_t>(entries.size());
        const int blocks = static_cast<int>((uint64_t{n} + kCountBlock - 1) / kCountBlock);
        std::vector<std::array<uint32_t, Index::kMaxVolumes>> perBlock(static_cast<size_t>(blocks));
        index.pool.Run(blocks, [&](int b) {
            std::array<uint32_t, Index::kMaxVolumes>& counts = perBlock[static_cast<size_t>(b)];
            counts.fill(0);
            const uint32_t lo = static_cast<uint32_t>(b) * kCountBlock;
            for (uint32_t i = lo, hi = std::min(n, lo + kCountBlock); i < hi; ++i) {
                const auto s = static_cast<size_t>(SlotOf(entries[i].flags));
                if (others[s] && renumber.Survives(i) && renumber.Survives(entries[i].parent)) counts[s] += 1;
            }
        });
        for (const auto& counts : perBlock) {
            for (size_t s = 0; s < Index::kMaxVolumes; ++s) pairs[s] += counts[s];
        }
    }
    refill = others;
    refillFrom = others.any() ? 0 : live;
    if (piece && index.volumes[static_cast<size_t>(slot)]->kind == VolumeKind::Folders) {
        refill.set(static_cast<size_t>(slot));
        pairs[static_cast<size_t>(slot)] = static_cast<size_t>(std::count_if(
            piece->entries.begin(), piece->entries.end(), [](const Entry& e) { return e.parent != kNoEntry; }));
    }
    // Growing keeps a map's pairs, so a failure later leaves it as it was.
    for (size_t s = 0; s < Index::kMaxVolumes; ++s) {
        if (refill[s]) index.volumes[s]->nameMap.Reserve(pairs[s]);
    }
}

void Rebuild::PlanOpenCounts() {
    openCounts.reserve(index.openCounts.size());
    for (const auto& [e, count] : index.openCounts) {
        const uint32_t to = renumber(e);
        if (to != kNoEntry) openCounts.emplace(to, count);
    }
}

void Rebuild::PlanPiece() {
    VolumeMaps& volume = *index.volumes[static_cast<size_t>(slot)];
    const CarriedCounts carried(index, volume, slot, !volume.recordMap.empty() && !piece->recordMap.empty());
    carried.GiveTo(openCounts, *piece, live);
    hardLinks.max_load_factor(volume.hardLinks.max_load_factor());
    hardLinks.reserve(piece->hardLinks.size());
    for (const auto& link : piece->hardLinks) hardLinks.emplace(link.first, link.second + live);
    totals.Make(total);
    // The ranks are emptied anyway: the Name ranks' buffer can serve the totals.
    borrowRanks = index.ranks[0].capacity() >= total;
    if (!borrowRanks) totals.byDepth.reserve(total);
}

void Rebuild::Commit() {
    const bool follow = index.followed && index.followedEpoch == index.epoch;
    CommitTable();
    CommitMaps();
    if (follow)
        for (uint32_t& v : *index.followed) v = renumber(v);
    ResetDerived();
    if (follow) index.followedEpoch = index.epoch;
    if (piece) CommitPiece();
}

void Rebuild::CommitTable() {
    std::vector<Entry>& entries = index.entries;
    const size_t n = entries.size();
    names.Start();
    folded.Start();
    size_t w = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!renumber.Survives(static_cast<uint32_t>(i))) continue;
        Entry e = entries[i];  // w <= i: moving down never overwrites an unread entry
        e.parent = renumber(e.parent);
        e.nameOffset = names.Move(e.nameOffset, e.nameLength);
        e.foldedOffset = folded.Move(e.foldedOffset, e.foldedLength);
        e.flags &= ~EntryFlags::NameChanged;
        entries[w++] = e;
    }
    names.Finish();
    folded.Finish();
    entries.resize(live);
    if (piece) {
        for (Entry e : piece->entries) {
            if (e.parent != kNoEntry) e.parent += live;
            e.nameOffset = names.Append(Cut(piece->names, e.nameOffset, e.nameLength));
            e.foldedOffset = folded.Append(Cut(piece->folded, e.foldedOffset, e.foldedLength));
            e.flags = (e.flags & ~(EntryFlags::SlotMask | EntryFlags::NameChanged)) | SlotBits(slot);
            entries.push_back(e);
        }
    }
    // Give back what a large removal freed (a dropped volume, a burst of
    // deletions); a little slack stays for the entries to come.
    if (entriesBefore > total + total / 4) GiveBack(entries, room);
    if (namesBefore > index.names.size() + index.names.size() / 4) index.names.shrink_to_fit();
    if (foldedBefore > index.folded.size() + index.folded.size() / 4) index.folded.shrink_to_fit();
}

// Moves every other volume's maps to the new numbers in place, and fills the
// name maps anew from the table.
void Rebuild::CommitMaps() {
    for (size_t s = 0; s < index.volumes.size(); ++s) {
        VolumeMaps* volume = index.volumes[s];
        if (volume == nullptr || (piece && static_cast<int>(s) == slot)) continue;
        volume->rootEntry = renumber(volume->rootEntry);
        for (uint32_t& v : volume->recordMap) v = renumber(v);
        for (auto it = volume->hardLinks.begin(); it != volume->hardLinks.end();) {
            const uint32_t to = renumber(it->second);
            if (to == kNoEntry) {
                it = volume->hardLinks.erase(it);
            } else {
                it->second = to;
                ++it;
            }
        }
    }
    index.FillCountedNameMaps(refill, refillFrom, pairs);
    index.openCounts.swap(openCounts);
}

// Everything derived from entry numbers starts over: side tables rebuilt, orders
// and the path cache marked for rebuilding, the epoch raised.
void Rebuild::ResetDerived() {
    index.foldedOffsets.resize(total);
    for (size_t i = 0; i < total; ++i) index.foldedOffsets[i] = index.entries[i].foldedOffset;
    index.changedNames.clear();
    index.ComputeExtHashes();
    index.deletedCount = 0;
    index.garbageBytes = 0;
    for (int k = 0; k < kSortKeys; ++k) {
        index.overflow[k] = true;
        index.pending[k].clear();
        index.ranks[k].clear();
    }
    index.pathsValid = false;
    index.pathOffset.clear();
    index.pathLength.clear();
    index.pathBuffer.clear();
    index.epoch += 1;
    index.changes += 1;
}

// The slot's own maps and counts come from the piece, which is emptied; every
// volume's folders, not only the new ones, come out exact.
void Rebuild::CommitPiece() {
    VolumeMaps& volume = *index.volumes[static_cast<size_t>(slot)];
    volume.rootEntry = piece->root == kNoEntry ? kNoEntry : piece->root + live;
    volume.recordMap = std::move(piece->recordMap);
    for (uint32_t& v : volume.recordMap) {
        if (v != kNoEntry) v += live;
    }
    // A file-table piece maps every record of the table; that size bounds later record numbers.
    volume.recordCount = static_cast<uint32_t>(std::min<size_t>(volume.recordMap.size(), kNoEntry));
    volume.hardLinks.swap(hardLinks);
    if (!refill[static_cast<size_t>(slot)]) volume.nameMap.Clear();  // only a folder volume has one
    volume.files = piece->files;
    volume.folders = piece->folders;
    std::vector<Entry>().swap(piece->entries);
    std::string().swap(piece->names);
    std::string().swap(piece->folded);
    std::vector<uint32_t>().swap(piece->recordMap);
    std::vector<std::pair<uint32_t, uint32_t>>().swap(piece->hardLinks);
    piece->root = kNoEntry;
    piece->files = 0;
    piece->folders = 0;

    if (borrowRanks) totals.byDepth.swap(index.ranks[0]);
    index.RecomputeFolderTotals(totals);
    index.excludesDirty = true;
}

}  // namespace

bool Index::Ingest(int slot, Piece& piece) {
    if (slot < 0 || slot >= kMaxVolumes || static_cast<size_t>(slot) >= volumes.size() || volumes[slot] == nullptr)
        return false;
    if (uint64_t{entries.size()} + piece.entries.size() >= kNoEntry) return false;
    if (uint64_t{names.size()} + piece.names.size() > kMaxPoolBytes ||
        uint64_t{folded.size()} + piece.folded.size() > kMaxPoolBytes)
        return false;
    if (!PieceIsSound(piece)) return false;
    Rebuild rebuild(*this, &piece, slot);
    rebuild.Commit();
    return true;
}

void Index::Compact() {
    Rebuild rebuild(*this, nullptr, 0);
    rebuild.Commit();
}

}  // namespace ov
