#include "tests/support/index_reference.h"

#include "index/text.h"

namespace ov::testing {

FolderTotals RecomputeTotals(const Index& index) {
    const size_t n = index.entries.size();
    FolderTotals t;
    t.size.assign(n, 0);
    t.childCount.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const Entry& e = index.entries[i];
        if (IsDeleted(e) || e.parent == kNoEntry) continue;
        t.childCount[e.parent] += 1;
        if (IsDir(e)) continue;
        uint32_t cur = e.parent;
        for (int depth = 0; depth < Index::kMaxDepth && cur != kNoEntry; ++depth) {
            t.size[cur] += e.size;
            cur = index.entries[cur].parent;
        }
    }
    return t;
}

std::string CheckTotals(const Index& index) {
    FolderTotals t = RecomputeTotals(index);
    for (size_t i = 0; i < index.entries.size(); ++i) {
        const Entry& e = index.entries[i];
        if (IsDeleted(e) || !IsDir(e)) continue;
        if (e.size != t.size[i] || e.childCount != t.childCount[i])
            return "folder " + std::to_string(i) + " '" + std::string(index.NameOf(static_cast<uint32_t>(i))) +
                   "': size " + std::to_string(e.size) + " vs " + std::to_string(t.size[i]) + ", children " +
                   std::to_string(e.childCount) + " vs " + std::to_string(t.childCount[i]);
    }
    return {};
}

uint32_t AddNamed(Index& index, uint32_t parent, const std::string& name, uint32_t flags, uint64_t size,
                  uint64_t modified, uint64_t created) {
    return index.Add(parent, name.data(), name.size(), FoldCaseUtf8(name), flags, size, modified, created);
}

}  // namespace ov::testing
