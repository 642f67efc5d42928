// Bulk changes of the index besides the rebuild (rebuild.cpp): reconciling one
// file record with its fresh parse (ApplyFile) and the excluded flags.
//
// ApplyFile keeps entry numbers: it renames old entries into new names before
// it removes or adds, so an open count or a shown result follows a renamed
// file. Record numbers reach it from disk and from the journal and are not
// trusted: they only index the record map, and the map grows only within a
// bound derived from the volume's file-table size.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "index/index.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kRootRecord = 5;
constexpr uint64_t kMapGrowth = Index::kRecordMapGrowth;
// Room for records created after the table was read: the table may double, or
// grow by this many records when it was small, before a number counts as bogus.
constexpr uint64_t kRecordHeadroom = uint64_t{1} << 20;

// The bytes a pool really holds at [offset, offset + length).
std::string_view Cut(const std::string& pool, uint64_t offset, uint64_t length) {
    if (offset >= pool.size()) return {};
    return std::string_view(pool.data() + offset, std::min<uint64_t>(length, pool.size() - offset));
}

// entry is `ancestor` or lies within its first 256 levels.
bool IsBelowIn(const std::vector<Entry>& entries, uint32_t entry, uint32_t ancestor) {
    for (int depth = 0; depth <= Index::kMaxDepth && entry < entries.size(); ++depth) {
        if (entry == ancestor) return true;
        entry = entries[entry].parent;
    }
    return false;
}

}  // namespace

void Index::RemoveCounted(VolumeMaps& volume, uint32_t entry) {
    RemoveTree(entry, &volume);
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
    if (!RecordFits(volume, record)) return false;
    if (record >= volume.recordMap.size() && volume.recordCount == 0)
        volume.recordCount = static_cast<uint32_t>(std::min<size_t>(volume.recordMap.size(), kNoEntry));

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

bool Index::RecordFits(const VolumeMaps& volume, uint32_t record) const {
    if (record < volume.recordMap.size()) return true;
    const uint64_t known =
        volume.recordCount != 0 ? volume.recordCount : std::min<size_t>(volume.recordMap.size(), kNoEntry);
    return record < known + std::max(known, kRecordHeadroom);
}

void Index::ReserveGrowth(size_t more, size_t nameBytes, size_t foldedBytes) {
    // Grown as appending would grow them: room for exactly this much more
    // would copy the whole table at every batch.
    auto room = [](auto& v, size_t extra) {
        if (v.capacity() - v.size() < extra) v.reserve(std::max(v.size() + extra, 2 * v.capacity()));
    };
    room(entries, more);
    room(foldedOffsets, more);
    room(extHashes, more);
    room(changedNames, more);
    if (pathsValid) {
        room(pathOffset, more);
        room(pathLength, more);
    }
    room(names, nameBytes);
    room(folded, foldedBytes);
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
