// Kept apart from the term reference: it needs the sort orders' comparison.
#include <algorithm>
#include <map>

#include "tests/support/search_reference.h"

namespace ov::testing {
namespace {

bool Visible(const Index& index, const Entry& e) {
    if (e.flags & (EntryFlags::Deleted | EntryFlags::Excluded)) return false;
    if (index.hideHidden.load() && (e.flags & FileAttr::Hidden)) return false;
    if (index.hideSystem.load() && (e.flags & FileAttr::System) && !(e.flags & EntryFlags::VolumeRoot)) return false;
    return true;
}

}  // namespace

std::vector<uint32_t> NaiveSearch(const Index& index, const Query& query, const SearchOptions& options) {
    std::vector<uint32_t> hits;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        if (!Visible(index, index.entries[i])) continue;
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
    std::sort(hits.begin(), hits.end(), [&](uint32_t a, uint32_t b) { return index.Less(key, a, b); });
    if (options.descending) std::reverse(hits.begin(), hits.end());
    return hits;
}

}  // namespace ov::testing
