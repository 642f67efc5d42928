// The corpus's paths as index entries: portable, so the Windows build's timing
// driver fills its index exactly as the native benchmarks do.
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "bench/corpus.h"

namespace ov::bench {

bool PathsToEntries(const std::vector<std::string_view>& paths, uint64_t seed, EntryList& list, std::string& error) {
    std::unordered_set<std::string_view> folders;
    for (std::string_view p : paths) {
        for (size_t j = p.rfind('/'); j != std::string_view::npos && j > 0; j = p.rfind('/', j - 1))
            if (!folders.insert(p.substr(0, j)).second) break;  // its ancestors are in already
    }
    std::unordered_map<std::string_view, uint32_t> folderAt;
    folderAt.reserve(folders.size());
    list.entries.reserve(list.entries.size() + paths.size());
    std::mt19937_64 rng(seed);

    // Position of path p in the list, adding it (and any missing ancestors) first.
    std::vector<std::string_view> missing;
    auto add = [&](std::string_view p) -> bool {
        if (p.size() < 2 || p[0] != '/' || p.back() == '/') {
            error = "not an absolute path to a named item: \"" + std::string(p) + "\"";
            return false;
        }
        missing.clear();
        uint32_t parent = kNoEntry;
        for (std::string_view q = p;;) {
            missing.push_back(q);
            const size_t j = q.rfind('/');
            if (j == 0) break;
            q = q.substr(0, j);
            if (auto it = folderAt.find(q); it != folderAt.end()) {
                parent = it->second;
                break;
            }
        }
        for (size_t k = missing.size(); k-- > 0;) {
            const std::string_view q = missing[k];
            const bool topLevel = q.rfind('/') == 0;
            const bool folder = topLevel || k > 0 || folders.count(q) > 0;
            if (topLevel) {
                const int slot = static_cast<int>(list.volumes);
                if (slot >= Index::kMaxVolumes) {
                    error = "more than " + std::to_string(Index::kMaxVolumes) + " top-level folders";
                    return false;
                }
                uint64_t size, modified, created;
                RandomFileMeta(rng, size, modified, created);
                list.Append(kNoEntry, VolumeName(slot), RootFlags(slot), 0, modified, created);
            } else {
                const int slot = SlotOf(list.entries[parent].flags);
                const std::string_view name = q.substr(q.rfind('/') + 1);
                uint64_t size, modified, created;
                RandomFileMeta(rng, size, modified, created);
                if (!list.Append(parent, name, folder ? FolderFlags(slot) : FileFlags(slot), folder ? 0 : size,
                                 modified, created)) {
                    error = "name too long for an entry in \"" + std::string(p) + "\"";
                    return false;
                }
            }
            parent = static_cast<uint32_t>(list.entries.size() - 1);
            if (folder) folderAt.emplace(q, parent);
        }
        return true;
    };
    for (std::string_view p : paths) {
        if (folderAt.count(p)) continue;  // a folder already supplied as some path's parent
        if (!add(p)) return false;
    }
    return true;
}

std::vector<std::string_view> SplitPaths(std::string_view text, size_t limit) {
    std::vector<std::string_view> paths;
    for (size_t start = 0; start < text.size() && paths.size() < limit;) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) paths.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return paths;
}

bool FillIndex(Index& index, const std::vector<std::string_view>& paths, uint64_t seed, std::string& error) {
    EntryList list;
    return PathsToEntries(paths, seed, list, error) && AddEntries(index, list, error);
}

}  // namespace ov::bench
