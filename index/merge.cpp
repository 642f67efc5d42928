// Bulk changes of the index: merging a volume's scan (Ingest), reconciling one
// file record with its fresh parse (ApplyFile), compaction and the excluded flags.
//
// ApplyFile keeps entry numbers: it renames old entries into new names before
// it removes or adds, so an open count or a shown result follows a renamed
// file. Record numbers reach it from disk and from the journal and are not
// trusted: they only index the record map, and the map grows only within a
// bound derived from the volume's file-table size.
//
// Compaction and Ingest share one rebuild that compacts the table and both
// pools in place (Ingest appends the piece behind the survivors, which is what
// appending it and then compacting would give), so neither needs a second
// copy of a multi-hundred-megabyte pool.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "index/index.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kRootRecord = 5;
constexpr uint64_t kMapGrowth = 4096;
// Room for records created after the table was read: the table may double, or
// grow by this many records when it was small, before a number counts as bogus.
constexpr uint64_t kRecordHeadroom = uint64_t{1} << 20;

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

// entry is `ancestor` or lies within its first 256 levels.
bool IsBelowIn(const std::vector<Entry>& entries, uint32_t entry, uint32_t ancestor) {
    for (int depth = 0; depth <= Index::kMaxDepth && entry < entries.size(); ++depth) {
        if (entry == ancestor) return true;
        entry = entries[entry].parent;
    }
    return false;
}

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
    // Once everything is planned; a pool whose names overlap may need room.
    void Start() {
        if (planned > pool.size()) pool.resize(planned);
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

// Drops deleted entries and their name bytes from the table and both pools in
// place, keeping the order. renumber[i] becomes entry i's new number (kNoEntry
// for a deleted one). Returns the number of survivors; the pools are left open
// for a piece to be appended behind them.
uint32_t CompactTable(Index& index, std::vector<uint32_t>& renumber, PoolCompactor& names, PoolCompactor& folded) {
    auto& entries = index.entries;
    const size_t n = entries.size();
    renumber.resize(n);
    uint32_t live = 0;
    for (size_t i = 0; i < n; ++i) {
        const Entry& e = entries[i];
        if (IsDeleted(e)) {
            renumber[i] = kNoEntry;
            continue;
        }
        renumber[i] = live++;
        names.Plan(e.nameOffset, e.nameLength);
        folded.Plan(e.foldedOffset, e.foldedLength);
    }
    names.Start();
    folded.Start();
    size_t w = 0;
    for (size_t i = 0; i < n; ++i) {
        if (renumber[i] == kNoEntry) continue;
        Entry e = entries[i];  // w <= i: moving down never overwrites an unread entry
        e.parent = e.parent < n ? renumber[e.parent] : kNoEntry;
        e.nameOffset = names.Move(e.nameOffset, e.nameLength);
        e.foldedOffset = folded.Move(e.foldedOffset, e.foldedLength);
        e.flags &= ~EntryFlags::NameChanged;
        entries[w++] = e;
    }
    names.Finish();
    folded.Finish();
    entries.resize(live);
    return live;
}

// Appends a piece's entries behind the survivors, with the slot's bits, parents
// moved by `base` and names copied into the pools.
void AppendPiece(Index& index, const Index::Piece& piece, int slot, uint32_t base, PoolCompactor& names,
                 PoolCompactor& folded) {
    index.entries.reserve(base + piece.entries.size());
    for (Entry e : piece.entries) {
        if (e.parent != kNoEntry) e.parent += base;
        e.nameOffset = names.Append(Cut(piece.names, e.nameOffset, e.nameLength));
        e.foldedOffset = folded.Append(Cut(piece.folded, e.foldedOffset, e.foldedLength));
        e.flags = (e.flags & ~(EntryFlags::SlotMask | EntryFlags::NameChanged)) | SlotBits(slot);
        index.entries.push_back(e);
    }
}

// Moves every volume's maps and the open counts to the new numbers.
void RenumberMaps(Index& index, const std::vector<uint32_t>& renumber) {
    const size_t n = renumber.size();
    auto map = [&](uint32_t v) { return v < n ? renumber[v] : kNoEntry; };
    std::bitset<Index::kMaxVolumes> refill;
    for (size_t slot = 0; slot < index.volumes.size(); ++slot) {
        VolumeMaps* volume = index.volumes[slot];
        if (volume == nullptr) continue;
        volume->rootEntry = map(volume->rootEntry);
        for (uint32_t& v : volume->recordMap) v = map(v);
        if (!volume->hardLinks.empty()) {
            std::unordered_multimap<uint32_t, uint32_t> links;
            links.max_load_factor(volume->hardLinks.max_load_factor());
            links.reserve(volume->hardLinks.size());
            for (const auto& [record, e] : volume->hardLinks) {
                if (map(e) != kNoEntry) links.emplace(record, map(e));
            }
            volume->hardLinks.swap(links);
        }
        if (!volume->nameMap.Empty()) refill.set(slot);
    }
    // The table is renumbered already: the maps come anew from the live entries.
    index.FillNameMaps(refill, 0);
    std::unordered_map<uint32_t, uint32_t> counts;
    counts.reserve(index.openCounts.size());
    for (const auto& [e, count] : index.openCounts) {
        if (map(e) != kNoEntry) counts.emplace(map(e), count);
    }
    index.openCounts.swap(counts);
}

// Everything derived from entry numbers starts over: side tables rebuilt, orders
// and the path cache marked for rebuilding, the epoch raised.
void ResetDerived(Index& index) {
    const size_t total = index.entries.size();
    // Room for the entries to come: without it the first Add after a merge or a
    // compaction copies the whole table and its side tables under the lock.
    const size_t room = total + total / 32 + 4096;
    index.entries.reserve(room);
    index.foldedOffsets.reserve(room);
    index.extHashes.reserve(room);
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

// Drops deleted entries and garbage name bytes and renumbers, keeping the
// order; a piece's entries, when given, follow the survivors (what appending the
// piece and compacting would give, without the pools' detour). Table and pools
// are compacted in place. Returns the piece's base.
uint32_t Rebuild(Index& index, const Index::Piece* piece, int slot) {
    const size_t entriesBefore = index.entries.size();
    const size_t namesBefore = index.names.size();
    const size_t foldedBefore = index.folded.size();
    // Compaction empties the ranks anyway; the first one's buffer serves here.
    std::vector<uint32_t> renumber = std::move(index.ranks[0]);
    PoolCompactor names(index.names);
    PoolCompactor folded(index.folded);
    const uint32_t live = CompactTable(index, renumber, names, folded);
    if (piece) AppendPiece(index, *piece, slot, live, names, folded);
    // Give back what a large removal freed (a dropped volume, a burst of
    // deletions); a little slack stays for the entries to come.
    auto release = [](auto& buffer, size_t before) {
        if (before > buffer.size() + buffer.size() / 4) buffer.shrink_to_fit();
    };
    release(index.entries, entriesBefore);
    release(index.names, namesBefore);
    release(index.folded, foldedBefore);
    RenumberMaps(index, renumber);
    ResetDerived(index);
    return live;
}

}  // namespace

// Each live file counts for its nearest 256 folders. When no entry lies deeper
// than 256 levels (the normal case) that equals summing each folder into its
// parent bottom-up, deepest first, which visits every entry once instead of once
// per ancestor.
void Index::RecomputeFolderTotals() {
    const auto n = static_cast<uint32_t>(entries.size());
    for (Entry& e : entries) {
        if (IsDir(e)) {
            e.size = 0;
            e.childCount = 0;
        }
    }
    // Depths, memoised along each walk; 0 = not known yet.
    std::vector<uint16_t> depth(n, 0);
    std::vector<uint32_t> chain;
    bool shallow = true;
    for (uint32_t i = 0; i < n && shallow; ++i) {
        chain.clear();
        uint32_t cur = i;
        while (cur < n && depth[cur] == 0 && chain.size() <= static_cast<size_t>(Index::kMaxDepth)) {
            chain.push_back(cur);
            cur = entries[cur].parent;
        }
        uint32_t d = cur < n ? depth[cur] : 0;
        for (size_t k = chain.size(); k-- > 0;)
            depth[chain[k]] = static_cast<uint16_t>(std::min<uint32_t>(++d, 0xFFFF));
        shallow = d <= static_cast<uint32_t>(Index::kMaxDepth);  // also ends loops, whose walks run out
    }
    if (!shallow) {
        for (uint32_t i = 0; i < n; ++i) {
            const Entry& e = entries[i];
            if (IsDeleted(e) || e.parent >= n) continue;
            entries[e.parent].childCount += 1;
            if (IsDir(e) || e.size == 0) continue;
            uint32_t cur = e.parent;
            for (int level = 0; level < Index::kMaxDepth && cur < n; ++level) {
                entries[cur].size += e.size;
                cur = entries[cur].parent;
            }
        }
        return;
    }
    // Counting sort by depth, deepest first.
    std::vector<uint32_t> start(Index::kMaxDepth + 2, 0);
    for (uint32_t i = 0; i < n; ++i) ++start[depth[i]];
    for (size_t d = start.size() - 1; d-- > 0;) start[d] += start[d + 1];
    std::vector<uint32_t> byDepth(n);
    for (uint32_t i = 0; i < n; ++i) byDepth[--start[depth[i]]] = i;
    for (uint32_t i : byDepth) {
        const Entry& e = entries[i];
        if (e.parent >= n) continue;
        Entry& parent = entries[e.parent];
        if (!IsDeleted(e)) parent.childCount += 1;
        // A folder's size is final here, its children being deeper; a deleted
        // folder still passes on what live files below it hold.
        if (IsDir(e) || !IsDeleted(e)) parent.size += e.size;
    }
}

namespace {

// 64-bit FNV-1a, continued over the '\\'-joined folded names of a path.
constexpr uint64_t kPathHashBasis = 0xCBF29CE484222325ull;
uint64_t HashOn(uint64_t h, std::string_view bytes) {
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

// The folded names from the volume root down to entry, joined by '\\'; empty
// when the chain is broken or deeper than the walks allow.
std::string FoldedPathOf(const Index& index, uint32_t entry) {
    std::vector<uint32_t> chain;
    for (uint32_t cur = entry; cur != kNoEntry; cur = index.entries[cur].parent) {
        if (cur >= index.entries.size() || chain.size() == static_cast<size_t>(Index::kMaxDepth)) return {};
        chain.push_back(cur);
    }
    std::string path;
    for (size_t k = chain.size(); k-- > 0;) {
        if (k + 1 != chain.size()) path.push_back('\\');
        path.append(index.FoldedOf(chain[k]));
    }
    return path;
}

}  // namespace

// Open counts of one slot's entries, carried across the slot's replacement: by
// file record when the old and the new entries both come from a file table (a
// renamed file keeps its count), by folded path otherwise (folder volumes are
// scanned again at every start).
class Index::CarriedCounts {
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
            std::string path = FoldedPathOf(index, entry);
            if (!path.empty()) paths.push_back({HashOn(kPathHashBasis, path), std::move(path), count});
        }
    }

    // After the slot's new entries [base, end) are in place with their maps.
    void Give(Index& index, const VolumeMaps& volume, uint32_t base) const {
        for (const auto& [record, count] : records) {
            if (record < volume.recordMap.size() && volume.recordMap[record] != kNoEntry)
                index.openCounts[volume.recordMap[record]] += count;
        }
        if (paths.empty()) return;
        std::unordered_multimap<uint64_t, const ByPath*> wanted;
        for (const ByPath& p : paths) wanted.emplace(p.hash, &p);
        // Path hashes of the new entries, each from its parent's: a chain is
        // walked up to the first known hash, then filled in on the way down.
        const auto n = static_cast<uint32_t>(index.entries.size());
        std::vector<uint64_t> hash(n - base, 0);
        std::vector<uint8_t> known(n - base, 0);
        std::vector<uint32_t> chain;
        for (uint32_t i = base; i < n; ++i) {
            chain.clear();
            uint32_t cur = i;
            while (cur >= base && cur < n && !known[cur - base] && chain.size() <= static_cast<size_t>(kMaxDepth)) {
                chain.push_back(cur);
                cur = index.entries[cur].parent;
            }
            if (chain.size() > static_cast<size_t>(kMaxDepth)) continue;
            uint64_t h = kPathHashBasis;
            bool root = true;
            if (cur >= base && cur < n) {
                h = hash[cur - base];
                root = false;
            } else if (cur != kNoEntry) {
                continue;  // a chain that leaves the slot has no path of its own
            }
            for (size_t k = chain.size(); k-- > 0;) {
                if (!root) h = HashOn(h, "\\");
                h = HashOn(h, index.FoldedOf(chain[k]));
                root = false;
                hash[chain[k] - base] = h;
                known[chain[k] - base] = 1;
            }
        }
        for (uint32_t i = base; i < n; ++i) {
            if (!known[i - base]) continue;
            for (auto [it, end] = wanted.equal_range(hash[i - base]); it != end; ++it) {
                if (FoldedPathOf(index, i) == it->second->path) index.openCounts[i] += it->second->count;
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

void Index::RemoveCounted(VolumeMaps& volume, uint32_t entry) {
    RemoveTree(entry, &volume);
}

bool Index::Ingest(int slot, Piece& piece) {
    if (slot < 0 || slot >= kMaxVolumes || static_cast<size_t>(slot) >= volumes.size() || volumes[slot] == nullptr)
        return false;
    if (uint64_t{entries.size()} + piece.entries.size() >= kNoEntry) return false;
    if (uint64_t{names.size()} + piece.names.size() > kMaxPoolBytes ||
        uint64_t{folded.size()} + piece.folded.size() > kMaxPoolBytes)
        return false;
    if (!PieceIsSound(piece)) return false;
    VolumeMaps& volume = *volumes[slot];
    const CarriedCounts counts(*this, volume, slot, !volume.recordMap.empty() && !piece.recordMap.empty());

    for (Entry& e : entries) {
        if (!IsDeleted(e) && SlotOf(e.flags) == slot) {
            e.flags |= EntryFlags::Deleted;
            deletedCount += 1;
        }
    }
    // The slot's old maps point only at entries about to go.
    volume.recordMap.clear();
    volume.hardLinks.clear();
    volume.nameMap.Clear();
    const uint32_t base = Rebuild(*this, &piece, slot);

    volume.rootEntry = piece.root == kNoEntry ? kNoEntry : piece.root + base;
    volume.recordMap = std::move(piece.recordMap);
    for (uint32_t& v : volume.recordMap) {
        if (v != kNoEntry) v += base;
    }
    // A file-table piece maps every record of the table; that size bounds later record numbers.
    volume.recordCount = static_cast<uint32_t>(std::min<size_t>(volume.recordMap.size(), kNoEntry));
    volume.hardLinks.reserve(piece.hardLinks.size());
    for (const auto& link : piece.hardLinks) volume.hardLinks.emplace(link.first, link.second + base);
    volume.files = piece.files;
    volume.folders = piece.folders;
    piece.entries = {};
    piece.names = {};
    piece.folded = {};
    piece.recordMap = {};
    piece.hardLinks = {};
    piece.root = kNoEntry;
    piece.files = 0;
    piece.folders = 0;

    // Every volume's folders, not only the new ones, come out exact.
    RecomputeFolderTotals();
    if (volume.kind == VolumeKind::Folders) {
        std::bitset<kMaxVolumes> which;
        which.set(static_cast<size_t>(slot));
        FillNameMaps(which, base);
    }
    counts.Give(*this, volume, base);
    excludesDirty = true;
    return true;
}

namespace {

// One record's reconcile: the entries the index holds for it (old), the names
// its fresh parse gives (fresh), and which old entry becomes which name.
class FileReconcile {
public:
    struct NewName {
        uint32_t parent;
        std::string_view name;
        std::string_view folded;
    };

    FileReconcile(Index& index, VolumeMaps& volume, uint32_t record) : index(index), volume(volume), record(record) {}

    // The live entries of the record: its first name, then its further names.
    void CollectOld() {
        auto add = [&](uint32_t e) {
            if (Usable(e) && std::find(old.begin(), old.end(), e) == old.end()) old.push_back(e);
        };
        if (record < volume.recordMap.size()) add(volume.recordMap[record]);
        for (auto [it, end] = volume.hardLinks.equal_range(record); it != end; ++it) add(it->second);
    }

    // The record's rows whose parent folder the index holds; a folder keeps only
    // its first usable name.
    void CollectFresh(const FileRec& info, const std::vector<NameRec>& rows, const std::string& namePool,
                      const std::string& foldedPool) {
        const auto& entries = index.entries;
        for (const NameRec& row : rows) {
            if (row.record != record) continue;
            uint32_t parent = kNoEntry;
            if (row.parent == kRootRecord) {
                parent = volume.rootEntry;
            } else if (row.parent < volume.recordMap.size()) {
                parent = volume.recordMap[row.parent];
            }
            if (!Usable(parent) || !IsDir(entries[parent])) continue;
            // Records of one batch are applied one by one, so a folder's row can name
            // a parent that the index still shows below that folder. Moving there
            // would close a loop; the folder keeps its place until a later change.
            if (info.directory && !old.empty() && IsDir(entries[old[0]]) && IsBelowIn(entries, parent, old[0]))
                parent = entries[old[0]].parent;
            fresh.push_back({parent, Cut(namePool, row.nameOffset, row.nameLength),
                             Cut(foldedPool, row.foldedOffset, row.foldedLength)});
            if (info.directory) break;  // a folder has exactly one name
        }
    }

    // A record that changed between file and folder starts over: its old entries go.
    void DropOnTypeChange(bool directory) {
        if (old.empty() || directory == IsDir(index.entries[old[0]])) return;
        for (uint32_t e : old) index.RemoveCounted(volume, e);
        old.clear();
        // A name whose folder went with the old entries has nowhere to live.
        std::erase_if(fresh, [&](const NewName& f) { return !Usable(f.parent); });
    }

    // Old entries keep their numbers: an unchanged name keeps its entry, other
    // old entries are renamed into the remaining names, what is left over goes,
    // and missing names are added. Returns the record's entries, first name first.
    std::vector<uint32_t> Pair(const FileRec& info, uint16_t attributes) {
        std::vector<uint32_t> result(fresh.size(), kNoEntry);
        std::vector<bool> taken(old.size(), false);
        for (size_t j = 0; j < fresh.size(); ++j) {
            for (size_t i = 0; i < old.size(); ++i) {
                if (!taken[i] && index.entries[old[i]].parent == fresh[j].parent &&
                    index.NameOf(old[i]) == fresh[j].name) {
                    taken[i] = true;
                    result[j] = old[i];
                    break;
                }
            }
        }
        size_t next = 0;
        for (size_t j = 0; j < fresh.size(); ++j) {
            if (result[j] != kNoEntry) continue;
            while (next < old.size() && taken[next]) ++next;
            if (next == old.size()) break;
            taken[next] = true;
            result[j] = old[next];
            // Should the new name not fit, the entry stays the record's under its old one.
            index.Rename(old[next], fresh[j].parent, std::string(fresh[j].name), std::string(fresh[j].folded));
        }
        for (size_t i = 0; i < old.size(); ++i) {
            if (!taken[i]) index.RemoveCounted(volume, old[i]);
        }
        const uint32_t flags = SlotBits(volume.slot) | attributes | (info.directory ? EntryFlags::Directory : 0);
        for (size_t j = 0; j < fresh.size(); ++j) {
            if (result[j] != kNoEntry || !Usable(fresh[j].parent)) continue;  // its folder may have been dropped
            result[j] =
                index.Add(fresh[j].parent, fresh[j].name.data(), fresh[j].name.size(), std::string(fresh[j].folded),
                          flags, info.directory ? 0 : info.size, info.modified, info.created);
            if (result[j] != kNoEntry) (info.directory ? volume.folders : volume.files) += 1;
        }
        result.erase(std::remove(result.begin(), result.end(), kNoEntry), result.end());
        return result;
    }

    // The record map points at the first name, the hard-link map at the others.
    void StoreMaps(const std::vector<uint32_t>& result) {
        std::vector<uint32_t>& map = volume.recordMap;
        const uint32_t first = result.empty() ? kNoEntry : result[0];
        if (record >= map.size() && first != kNoEntry) map.resize(uint64_t{record} + kMapGrowth, kNoEntry);
        if (record < map.size()) map[record] = first;
        volume.hardLinks.erase(record);
        for (size_t j = 1; j < result.size(); ++j) volume.hardLinks.emplace(record, result[j]);
    }

private:
    bool Usable(uint32_t e) const { return e != kNoEntry && e < index.entries.size() && !IsDeleted(index.entries[e]); }

    Index& index;
    VolumeMaps& volume;
    const uint32_t record;
    std::vector<uint32_t> old;
    std::vector<NewName> fresh;
};

}  // namespace

bool Index::ApplyFile(VolumeMaps& volume, uint32_t record, bool inUse, const FileRec& info,
                      const std::vector<NameRec>& rows, const std::string& namePool, const std::string& foldedPool) {
    const auto attributes = static_cast<uint16_t>(info.attributes & EntryFlags::AttributeMask);
    if (record == kRootRecord) {
        if (inUse && volume.rootEntry < entries.size())
            SetMeta(volume.rootEntry, 0, info.modified, info.created, attributes);
        return true;
    }
    if (record >= volume.recordMap.size()) {
        if (volume.recordCount == 0)
            volume.recordCount = static_cast<uint32_t>(std::min<size_t>(volume.recordMap.size(), kNoEntry));
        const uint64_t known = volume.recordCount;
        if (record >= known + std::max(known, kRecordHeadroom)) return false;
    }

    FileReconcile reconcile(*this, volume, record);
    reconcile.CollectOld();
    if (inUse) reconcile.CollectFresh(info, rows, namePool, foldedPool);
    reconcile.DropOnTypeChange(info.directory);
    const std::vector<uint32_t> result = reconcile.Pair(info, attributes);
    reconcile.StoreMaps(result);
    for (uint32_t e : result) {
        const uint64_t size = IsDir(entries[e]) ? entries[e].size : info.size;
        SetMeta(e, size, info.modified, info.created, attributes);
    }
    return true;
}

void Index::Compact() {
    Rebuild(*this, nullptr, 0);
}

void Index::ApplyExclusions() {
    excludesDirty = false;
    for (Entry& e : entries) e.flags &= ~EntryFlags::Excluded;
    if (excluded.empty()) return;
    BuildAllDirPaths();

    const size_t n = entries.size();
    const std::unordered_set<std::string_view> targets(excluded.begin(), excluded.end());
    enum : uint8_t { kUnknown = 0, kInside = 1, kOutside = 2 };
    std::vector<uint8_t> mark(n, kUnknown);
    for (size_t i = 0; i < n; ++i) {
        if (!IsDir(entries[i]) || i >= pathOffset.size() || pathOffset[i] == kNoEntry) continue;
        if (targets.count(CachedPath(static_cast<uint32_t>(i)))) mark[i] = kInside;
    }
    // Each walk stops at the first entry already decided, so every entry is
    // walked over a bounded number of times.
    std::vector<uint32_t> chain;
    for (size_t i = 0; i < n; ++i) {
        if (mark[i] != kUnknown) continue;
        chain.clear();
        uint8_t verdict = kOutside;
        for (auto cur = static_cast<uint32_t>(i); cur != kNoEntry && cur < n; cur = entries[cur].parent) {
            if (mark[cur] != kUnknown) {
                verdict = mark[cur];
                break;
            }
            if (chain.size() == static_cast<size_t>(kMaxDepth)) break;
            chain.push_back(cur);
        }
        for (uint32_t c : chain) mark[c] = verdict;
    }
    for (size_t i = 0; i < n; ++i) {
        if (mark[i] == kInside) entries[i].flags |= EntryFlags::Excluded;
    }
}

}  // namespace ov
