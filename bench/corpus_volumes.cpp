#include "bench/corpus_volumes.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>

#include "index/text.h"

namespace ov::bench {
namespace {

// A volume per slot, in slot order, each with its root entry.
std::vector<uint32_t> RootEntries(const Index& index) {
    std::vector<uint32_t> roots;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        const Entry& e = index.entries[i];
        if (e.parent != kNoEntry) continue;
        const auto slot = static_cast<size_t>(SlotOf(e.flags));
        if (roots.size() <= slot) roots.resize(slot + 1, kNoEntry);
        roots[slot] = i;
    }
    return roots;
}

// The top-level folders' names in the order the paths first name them, which is
// the order FillIndex gives their slots in.
std::vector<std::string_view> TopLevelNames(const std::vector<std::string_view>& paths) {
    std::vector<std::string_view> names;
    for (std::string_view p : paths) {
        const std::string_view top = p.substr(1, p.find('/', 1) - 1);
        if (std::find(names.begin(), names.end(), top) == names.end()) names.push_back(top);
    }
    return names;
}

}  // namespace

void AddCorpusVolumes(Index& index, std::vector<std::unique_ptr<Volume>>& volumes) {
    std::unique_lock<ov::SharedMutex> hold(index.lock);
    volumes.clear();
    index.volumes.clear();
    const auto n = static_cast<uint32_t>(index.entries.size());
    auto volumeOf = [&](int slot) -> Volume& {
        while (volumes.size() <= static_cast<size_t>(slot)) {
            auto v = std::make_unique<Volume>();
            v->slot = static_cast<int>(volumes.size());
            v->kind = VolumeKind::FileTable;
            v->fileSystem = ToWide("NTFS");
            v->serial = 0x5EED0000u + static_cast<uint32_t>(v->slot);
            v->journalId = 0x01D9000000000000ull + static_cast<uint64_t>(v->slot);
            v->recordMap.assign(16, kNoEntry);  // the file table's reserved records
            volumes.push_back(std::move(v));
            index.volumes.push_back(volumes.back().get());
        }
        return *volumes[slot];
    };
    for (uint32_t i = 0; i < n; ++i) {
        const Entry& e = index.entries[i];
        Volume& v = volumeOf(SlotOf(e.flags));
        if (e.parent == kNoEntry) {
            v.rootEntry = i;
            v.recordMap[5] = i;
            v.root = index.PathW(i, false);
            v.name = ToWide(std::string(index.NameOf(i)));
            continue;
        }
        const auto record = static_cast<uint32_t>(v.recordMap.size());
        v.recordMap.push_back(i);
        (IsDir(e) ? v.folders : v.files) += 1;
        // One file in a hundred has a second name, one in fifty has been opened.
        if (!IsDir(e) && i % 100 == 7) v.hardLinks.emplace(record, i);
        if (!IsDir(e) && i % 50 == 3) index.openCounts[i] = 1 + i % 9;
    }
    for (auto& v : volumes) v->nextUsn = 0x100000 + v->recordMap.size() * 96;
}

bool AddCorpusFolderVolumes(Index& index, const std::vector<std::string_view>& paths, const std::string& base,
                            std::vector<std::unique_ptr<Volume>>& volumes, std::string& error) {
    std::unique_lock<ov::SharedMutex> hold(index.lock);
    const std::vector<uint32_t> roots = RootEntries(index);
    const std::vector<std::string_view> tops = TopLevelNames(paths);
    if (roots.size() != tops.size()) {
        error = std::to_string(tops.size()) + " top-level folders for " + std::to_string(roots.size()) + " volumes";
        return false;
    }
    std::string prefix = base;
    while (!prefix.empty() && prefix.back() == '\\') prefix.pop_back();
    std::vector<std::string> names, folded;
    for (size_t slot = 0; slot < roots.size(); ++slot) {
        if (roots[slot] == kNoEntry) {
            error = "slot " + std::to_string(slot) + " has no root entry";
            return false;
        }
        names.push_back(prefix + "\\" + std::string(tops[slot]));
        folded.push_back(FoldCaseUtf8(names.back()));
        if (names.back().size() > Index::kMaxNameBytes || folded.back().size() > Index::kMaxNameBytes) {
            error = "folder name too long: " + names.back();
            return false;
        }
    }
    volumes.clear();
    index.volumes.clear();
    for (size_t slot = 0; slot < roots.size(); ++slot) {
        auto v = std::make_unique<Volume>();
        v->slot = static_cast<int>(slot);
        v->kind = VolumeKind::Folders;
        v->addedFolder = true;
        v->name = ToWide(names[slot]);
        v->root = v->name + WChar(u'\\');
        v->rootEntry = roots[slot];
        volumes.push_back(std::move(v));
        index.volumes.push_back(volumes.back().get());
    }
    // Compacted after the renames, the pools hold the names in entry order, as
    // the loader expects (it would otherwise compact the index while loading).
    for (size_t slot = 0; slot < roots.size(); ++slot) {
        if (!index.Rename(roots[slot], kNoEntry, names[slot], folded[slot])) {
            error = "the index cannot take the name " + names[slot];
            return false;
        }
    }
    index.Compact();
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        const Entry& e = index.entries[i];
        if (e.parent == kNoEntry) continue;
        Volume& v = *volumes[SlotOf(e.flags)];
        (IsDir(e) ? v.folders : v.files) += 1;
        if (!IsDir(e) && i % 50 == 3) index.openCounts[i] = 1 + i % 9;
    }
    return true;
}

}  // namespace ov::bench
