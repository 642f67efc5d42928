#include "index/index.h"

#include <algorithm>
#include <thread>

#include "index/text.h"

namespace ov {

Index::Index() : pool(static_cast<int>(std::thread::hardware_concurrency())) {}

// The pool member stops and joins its workers; volumes belong to the engine.
Index::~Index() = default;

uint32_t Index::ExtHashOfFolded(const char* foldedName, size_t length, bool directory) {
    if (directory) return 0;
    const std::string_view ext = FoldedExtension(std::string_view(foldedName, length));
    return ext.empty() ? 0 : ExtensionHash(ext.data(), ext.size());
}

uint32_t Index::Piece::Add(uint32_t parent, std::string_view name, std::string_view foldedName, uint32_t flags,
                           uint64_t size, uint64_t modified, uint64_t created) {
    if (name.size() > kMaxNameBytes || foldedName.size() > kMaxNameBytes || entries.size() >= kNoEntry ||
        names.size() + name.size() + 1 > kMaxPoolBytes + 1 || folded.size() + foldedName.size() + 1 > kMaxPoolBytes + 1)
        return kNoEntry;
    Entry e{};
    e.parent = parent;
    e.nameOffset = static_cast<uint32_t>(names.size());
    e.foldedOffset = static_cast<uint32_t>(folded.size());
    e.nameLength = static_cast<uint16_t>(name.size());
    e.foldedLength = static_cast<uint16_t>(foldedName.size());
    e.flags = flags;
    e.size = size;
    e.modified = modified;
    e.created = created;
    names.append(name);
    names.push_back('\0');
    folded.append(foldedName);
    folded.push_back('\0');
    entries.push_back(e);
    return static_cast<uint32_t>(entries.size() - 1);
}

std::string_view Index::CachedPath(uint32_t folder) const {
    if (folder >= pathOffset.size() || folder >= pathLength.size() || pathOffset[folder] == kNoEntry) return {};
    const size_t offset = pathOffset[folder];
    if (offset >= pathBuffer.size()) return {};
    return std::string_view(pathBuffer.data() + offset,
                            std::min<size_t>(pathLength[folder], pathBuffer.size() - offset));
}

void Index::NoteKey(SortKey key, uint32_t entry) noexcept {
    const auto k = static_cast<size_t>(key);
    if (overflow[k]) return;
    // Past the cap a full rebuild is cheaper than a merge; a note that cannot
    // be kept for want of memory asks for the same.
    bool kept = pending[k].size() < kPendingCap;
    if (kept) {
        try {
            pending[k].push_back(entry);
        } catch (const std::bad_alloc&) {
            kept = false;
        }
    }
    if (!kept) {
        overflow[k] = true;
        pending[k].clear();
        pending[k].shrink_to_fit();
    }
}

void Index::NoteAllKeys(uint32_t entry) noexcept {
    for (int k = 0; k < kSortKeys; ++k) NoteKey(static_cast<SortKey>(k), entry);
}

void Index::AddToAncestors(uint32_t from, uint64_t delta) noexcept {
    uint32_t cur = from;
    for (int depth = 0; depth < kMaxDepth && cur != kNoEntry && cur < entries.size(); ++depth) {
        entries[cur].size += delta;
        NoteKey(SortKey::Size, cur);
        cur = entries[cur].parent;
    }
}

bool Index::PoolsFit(size_t nameBytes, size_t foldedBytes) const {
    // Every offset, and the NUL after each name, must stay addressable by 32 bits.
    return names.size() + nameBytes + 1 <= kMaxPoolBytes + 1 && folded.size() + foldedBytes + 1 <= kMaxPoolBytes + 1;
}

uint32_t Index::Add(uint32_t parent, const char* name, size_t nameLength, const std::string& foldedName, uint32_t flags,
                    uint64_t size, uint64_t modified, uint64_t created) {
    if (nameLength > kMaxNameBytes || foldedName.size() > kMaxNameBytes || !PoolsFit(nameLength, foldedName.size()) ||
        entries.size() >= kNoEntry)
        return kNoEntry;
    const auto n = static_cast<uint32_t>(entries.size());
    const bool dir = (flags & EntryFlags::Directory) != 0;

    Entry e{};
    e.parent = parent;
    e.nameOffset = static_cast<uint32_t>(names.size());
    e.foldedOffset = static_cast<uint32_t>(folded.size());
    e.nameLength = static_cast<uint16_t>(nameLength);
    e.foldedLength = static_cast<uint16_t>(foldedName.size());
    e.flags = flags;
    e.size = size;
    e.modified = modified;
    e.created = created;
    names.append(name, nameLength);
    names.push_back('\0');
    folded.append(foldedName);
    folded.push_back('\0');
    entries.push_back(e);

    foldedOffsets.push_back(e.foldedOffset);
    extHashes.push_back(ExtHashOfFolded(foldedName.data(), foldedName.size(), dir));
    if (pathsValid) {
        pathOffset.push_back(kNoEntry);
        pathLength.push_back(0);
    }
    if (parent != kNoEntry && parent < n) {
        Entry& p = entries[parent];
        p.childCount += 1;
        if (!dir && size > 0) AddToAncestors(parent, size);
        if (p.flags & EntryFlags::Excluded) entries[n].flags |= EntryFlags::Excluded;
    }
    if (dir && pathsValid) CachePathOf(n);
    changes += 1;
    NoteAllKeys(n);
    return n;
}

void Index::RemoveTree(uint32_t entry, VolumeMaps* counts) {
    if (entry >= entries.size() || IsDeleted(entries[entry])) return;
    const Entry& e = entries[entry];
    uint64_t files = IsDir(e) ? 0 : 1;
    uint64_t folders = 1 - files;
    if (IsDir(e) && e.childCount > 0) {
        ForEachBelow(entry, [&](uint32_t j) {
            (IsDir(entries[j]) ? folders : files) += 1;
            entries[j].flags |= EntryFlags::Deleted;
            changes += 1;
            deletedCount += 1;
            NoteAllKeys(j);
        });
    }
    if (counts) {
        counts->files -= std::min(counts->files, files);
        counts->folders -= std::min(counts->folders, folders);
    }
    const uint32_t parent = entries[entry].parent;
    if (parent != kNoEntry && parent < entries.size()) {
        entries[parent].childCount -= 1;
        if (entries[entry].size > 0) AddToAncestors(parent, 0 - entries[entry].size);
    }
    entries[entry].flags |= EntryFlags::Deleted;
    changes += 1;
    deletedCount += 1;
    NoteAllKeys(entry);
}

bool Index::Rename(uint32_t entry, uint32_t newParent, const std::string& name, const std::string& foldedName) {
    if (entry >= entries.size()) return false;
    Entry& e = entries[entry];
    const bool nameChanged = name.size() != e.nameLength || names.compare(e.nameOffset, e.nameLength, name) != 0;
    if (nameChanged) {
        if (name.size() > kMaxNameBytes || foldedName.size() > kMaxNameBytes ||
            !PoolsFit(name.size(), foldedName.size()))
            return false;
        // Everything that can fail comes before the entry points anywhere new:
        // should a pool not grow, the entry keeps its old name and the next name
        // appended is nobody else's.
        const size_t nameAt = names.size();
        const size_t foldedAt = folded.size();
        const bool listed = (e.flags & EntryFlags::NameChanged) != 0;
        try {
            names.append(name.c_str(), name.size() + 1);
            folded.append(foldedName.c_str(), foldedName.size() + 1);
            if (!listed) changedNames.push_back(entry);
        } catch (...) {
            names.resize(nameAt);
            folded.resize(foldedAt);
            throw;
        }
        e.nameOffset = static_cast<uint32_t>(nameAt);
        e.foldedOffset = static_cast<uint32_t>(foldedAt);
        e.nameLength = static_cast<uint16_t>(name.size());
        e.foldedLength = static_cast<uint16_t>(foldedName.size());
        e.flags |= EntryFlags::NameChanged;
        garbageBytes += 2 * static_cast<uint64_t>(name.size());
        if (entry < extHashes.size())
            extHashes[entry] = ExtHashOfFolded(foldedName.data(), foldedName.size(), IsDir(e));
    }
    if (!nameChanged && newParent == e.parent) return true;

    // A deleted entry no longer counts in any folder, so a move only relinks it.
    const bool live = !IsDeleted(e);
    if (newParent != e.parent) {
        const uint32_t oldParent = e.parent;
        const uint64_t size = e.size;
        if (live && oldParent != kNoEntry && oldParent < entries.size()) {
            entries[oldParent].childCount -= 1;
            if (size > 0) AddToAncestors(oldParent, 0 - size);
        }
        entries[entry].parent = newParent;
        uint32_t excluded = 0;
        if (newParent != kNoEntry && newParent < entries.size()) {
            if (live) {
                entries[newParent].childCount += 1;
                if (size > 0) AddToAncestors(newParent, size);
            }
            excluded = entries[newParent].flags & EntryFlags::Excluded;
        }
        entries[entry].flags = (entries[entry].flags & ~EntryFlags::Excluded) | excluded;
    }
    if (IsDir(entries[entry])) {
        pathsValid = false;
        overflow[static_cast<size_t>(SortKey::Path)] = true;
        excludesDirty = true;
    }
    changes += 1;
    if (nameChanged) {
        // Every order breaks ties by name, so a new name can move the entry in all of them.
        NoteAllKeys(entry);
    } else {
        for (SortKey k : {SortKey::Name, SortKey::Extension, SortKey::Type, SortKey::RunCount, SortKey::Path})
            NoteKey(k, entry);
    }
    return true;
}

void Index::SetMeta(uint32_t entry, uint64_t size, uint64_t modified, uint64_t created, uint16_t attributes) {
    if (entry >= entries.size()) return;
    Entry& e = entries[entry];
    e.flags = (e.flags & ~EntryFlags::AttributeMask) | attributes;
    if (!IsDir(e) && size != e.size) {
        const uint64_t delta = size - e.size;  // modulo 2^64: a shrink subtracts
        e.size = size;
        // A deleted file's bytes were already taken out of its folders.
        if (e.parent != kNoEntry && !IsDeleted(e)) AddToAncestors(e.parent, delta);
        NoteKey(SortKey::Size, entry);
    }
    Entry& same = entries[entry];
    if (modified != same.modified || created != same.created) {
        same.modified = modified;
        same.created = created;
        NoteKey(SortKey::DateModified, entry);
        NoteKey(SortKey::DateCreated, entry);
    }
    changes += 1;
}

void Index::TotalsScratch::Make(size_t n) {
    depth.assign(n, 0);
    chain.reserve(kMaxDepth + 2);
    start.assign(kMaxDepth + 2, 0);
}

void Index::RecomputeFolderTotals() {
    TotalsScratch scratch;
    scratch.Make(entries.size());
    RecomputeFolderTotals(scratch);
}

// Each live file counts for its nearest 256 folders. When no entry lies deeper
// than 256 levels (the normal case) that equals summing each folder into its
// parent bottom-up, deepest first, which visits every entry once instead of once
// per ancestor.
void Index::RecomputeFolderTotals(TotalsScratch& s) {
    const auto n = static_cast<uint32_t>(entries.size());
    for (Entry& e : entries) {
        if (IsDir(e)) {
            e.size = 0;
            e.childCount = 0;
        }
    }
    // Depths, memoised along each walk.
    std::vector<uint16_t>& depth = s.depth;
    std::vector<uint32_t>& chain = s.chain;
    bool shallow = true;
    for (uint32_t i = 0; i < n && shallow; ++i) {
        chain.clear();
        uint32_t cur = i;
        while (cur < n && depth[cur] == 0 && chain.size() <= static_cast<size_t>(kMaxDepth)) {
            chain.push_back(cur);
            cur = entries[cur].parent;
        }
        uint32_t d = cur < n ? depth[cur] : 0;
        for (size_t k = chain.size(); k-- > 0;)
            depth[chain[k]] = static_cast<uint16_t>(std::min<uint32_t>(++d, 0xFFFF));
        shallow = d <= static_cast<uint32_t>(kMaxDepth);  // also ends loops, whose walks run out
    }
    if (!shallow) {
        for (uint32_t i = 0; i < n; ++i) {
            const Entry& e = entries[i];
            if (IsDeleted(e) || e.parent >= n) continue;
            entries[e.parent].childCount += 1;
            if (IsDir(e) || e.size == 0) continue;
            uint32_t cur = e.parent;
            for (int level = 0; level < kMaxDepth && cur < n; ++level) {
                entries[cur].size += e.size;
                cur = entries[cur].parent;
            }
        }
        return;
    }
    // Counting sort by depth, deepest first.
    std::vector<uint32_t>& start = s.start;
    for (uint32_t i = 0; i < n; ++i) ++start[depth[i]];
    for (size_t d = start.size() - 1; d-- > 0;) start[d] += start[d + 1];
    std::vector<uint32_t>& byDepth = s.byDepth;
    byDepth.resize(n);
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

void Index::CachePathOf(uint32_t folder) {
    if (folder >= pathOffset.size() || folder >= pathLength.size() || folder >= entries.size()) return;
    const size_t start = pathBuffer.size();
    if (start >= kNoEntry) return;  // offsets are 32-bit; leave it uncached
    const Entry& e = entries[folder];
    const uint32_t parent = e.parent;
    size_t parentLength = 0;
    uint32_t parentOffset = kNoEntry;
    if (parent != kNoEntry && parent < pathOffset.size() && pathOffset[parent] != kNoEntry) {
        parentOffset = pathOffset[parent];
        parentLength = pathLength[parent];
    }
    // Reserve first: the parent's path is copied out of the same buffer.
    pathBuffer.reserve(start + parentLength + 1 + e.foldedLength);
    if (parentOffset != kNoEntry) {
        pathBuffer.append(pathBuffer.data() + parentOffset, parentLength);
        if (parentLength == 0 || pathBuffer[parentOffset + parentLength - 1] != '\\') pathBuffer.push_back('\\');
    }
    pathBuffer.append(folded, e.foldedOffset, e.foldedLength);
    pathOffset[folder] = static_cast<uint32_t>(start);
    pathLength[folder] = static_cast<uint16_t>(std::min<size_t>(pathBuffer.size() - start, 0xFFFF));
}

void Index::BuildAllDirPaths() {
    if (pathsValid) return;
    const size_t n = entries.size();
    pathOffset.assign(n, kNoEntry);
    pathLength.assign(n, 0);
    pathBuffer.clear();
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < n; ++i) {
        const Entry& e = entries[i];
        if (!IsDir(e) || IsDeleted(e) || pathOffset[i] != kNoEntry) continue;
        chain.clear();
        uint32_t cur = i;
        while (cur != kNoEntry && cur < n && pathOffset[cur] == kNoEntry && chain.size() < kMaxDepth) {
            chain.push_back(cur);
            cur = entries[cur].parent;
        }
        for (size_t k = chain.size(); k-- > 0;) CachePathOf(chain[k]);
    }
    pathsValid = true;
}

void Index::ComputeExtHashes() {
    extHashes.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        extHashes[i] = ExtHashOfFolded(folded.data() + e.foldedOffset, e.foldedLength, IsDir(e));
    }
}

std::string Index::Path(uint32_t entry, bool fromParent) const {
    std::string out;
    AppendPath(entry, fromParent, out);
    return out;
}

void Index::AppendPath(uint32_t entry, bool fromParent, std::string& out) const {
    if (entry >= entries.size()) return;
    const size_t begin = out.size();
    uint32_t start = fromParent ? entries[entry].parent : entry;
    uint32_t chain[kMaxDepth];
    int depth = 0;
    for (uint32_t cur = start; cur != kNoEntry && cur < entries.size() && depth < kMaxDepth; cur = entries[cur].parent)
        chain[depth++] = cur;
    for (int k = depth; k-- > 0;) {
        if (k != depth - 1 && (out.size() == begin || out.back() != '\\')) out.push_back('\\');
        out.append(NameOf(chain[k]));
    }
    if (depth == 1 && out.size() - begin == 2 && out.back() == ':') out.push_back('\\');
}

WString Index::PathW(uint32_t entry, bool fromParent) const {
    return ToWide(Path(entry, fromParent));
}

}  // namespace ov
