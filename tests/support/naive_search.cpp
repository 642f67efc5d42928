// Kept apart from the term reference: filtering, duplicates and ordering. It
// works out exclusions and every key's order on its own, from the names and
// the parent chains, instead of reading the index's flags or calling Less.
#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "index/text.h"
#include "tests/support/search_reference.h"

namespace ov::testing {
namespace {

// Entries inside an excluded folder: the entry or one of its ancestors is a live
// folder whose folded path is on the index's list.
std::vector<bool> NaiveExcluded(const Index& index) {
    const size_t n = index.entries.size();
    std::vector<bool> excluded(n, false);
    if (index.excluded.empty()) return excluded;
    const std::set<std::string> paths(index.excluded.begin(), index.excluded.end());
    std::vector<bool> listed(n, false);
    for (uint32_t i = 0; i < n; ++i) {
        const Entry& e = index.entries[i];
        listed[i] = IsDir(e) && !IsDeleted(e) && paths.count(NaiveFoldedPath(index, i));
    }
    for (uint32_t i = 0; i < n; ++i) {
        int depth = 0;
        for (uint32_t cur = i; cur != kNoEntry && depth < Index::kMaxDepth; cur = index.entries[cur].parent, ++depth)
            excluded[i] = excluded[i] || listed[cur];
    }
    return excluded;
}

bool Visible(const Index& index, const std::vector<bool>& excluded, uint32_t entry) {
    const Entry& e = index.entries[entry];
    if (IsDeleted(e) || excluded[entry]) return false;
    if (index.hideHidden.load() && (e.flags & FileAttr::Hidden)) return false;
    if (index.hideSystem.load() && (e.flags & FileAttr::System) && !(e.flags & EntryFlags::VolumeRoot)) return false;
    return true;
}

std::string Extension(const Index& index, uint32_t entry) {
    if (IsDir(index.entries[entry])) return "";
    const std::string name(index.FoldedOf(entry));
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
}

// Every key's order, spelled out: the key's own rule first, then folded name,
// name as written and entry number.
bool NaiveLess(const Index& index, SortKey key, uint32_t a, uint32_t b) {
    const Entry& ea = index.entries[a];
    const Entry& eb = index.entries[b];
    const int folderA = IsDir(ea) ? 0 : 1;  // folders first where the key groups them
    const int folderB = IsDir(eb) ? 0 : 1;
    auto count = [&](uint32_t id) {
        const auto it = index.openCounts.find(id);
        return it == index.openCounts.end() ? 0u : it->second;
    };
    auto parentPath = [&](const Entry& e) {
        return e.parent == kNoEntry ? std::string() : NaiveFoldedPath(index, e.parent);
    };
    const auto tie = [&](uint32_t id) {
        return std::make_tuple(std::string(index.FoldedOf(id)), std::string(index.NameOf(id)), id);
    };
    switch (key) {
        case SortKey::Name:
            if (folderA != folderB) return folderA < folderB;
            break;
        case SortKey::Path:
            if (parentPath(ea) != parentPath(eb)) return parentPath(ea) < parentPath(eb);
            if (folderA != folderB) return folderA < folderB;
            break;
        case SortKey::Extension:
        case SortKey::Type:
            if (folderA != folderB) return folderA < folderB;
            if (Extension(index, a) != Extension(index, b)) return Extension(index, a) < Extension(index, b);
            break;
        case SortKey::Size:
            if (ea.size != eb.size) return ea.size < eb.size;
            break;
        case SortKey::DateModified:
            if (ea.modified != eb.modified) return ea.modified < eb.modified;
            break;
        case SortKey::DateCreated:
            if (ea.created != eb.created) return ea.created < eb.created;
            break;
        case SortKey::RunCount:
            if (count(a) != count(b)) return count(a) > count(b);
            break;
    }
    return tie(a) < tie(b);
}

}  // namespace

std::vector<uint32_t> NaiveSearch(const Index& index, const Query& query, const SearchOptions& options) {
    std::vector<uint32_t> hits;
    const std::vector<bool> excluded = NaiveExcluded(index);
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        if (!Visible(index, excluded, i)) continue;
        bool all = true;
        for (const auto& group : query.groups) {
            bool any = false;
            for (const Term& t : group) any = any || NaiveTermMatch(index, t, i);
            all = all && any;
        }
        if (all) hits.push_back(i);
    }
    if (query.dupe != 0) {
        std::map<std::string, std::vector<uint32_t>> byKey;
        for (uint32_t id : hits) {
            const Entry& e = index.entries[id];
            if (query.dupe == 2 && (IsDir(e) || e.size == 0)) continue;
            byKey[query.dupe == 2 ? std::to_string(e.size) : std::string(index.FoldedOf(id))].push_back(id);
        }
        hits.clear();
        for (const auto& [key, ids] : byKey) {
            if (ids.size() >= 2) hits.insert(hits.end(), ids.begin(), ids.end());
        }
    }
    const auto key = SortKeyOf(options);
    std::sort(hits.begin(), hits.end(), [&](uint32_t a, uint32_t b) { return NaiveLess(index, key, a, b); });
    if (options.descending) std::reverse(hits.begin(), hits.end());
    return hits;
}

}  // namespace ov::testing
