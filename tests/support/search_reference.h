// A deliberately naive search: every haystack built from scratch by walking the
// parent chain, plain string searches, a memoised recursive wildcard matcher,
// exclusions worked out from the excluded paths, and a full sort by its own
// spelled-out comparison. It shares the parsed query and the entry table with the
// searcher, nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/index.h"
#include "index/query.h"

namespace ov::testing {

// '*' any run of bytes, '?' one byte plus the continuation bytes after it.
bool NaiveWildcard(std::string_view hay, std::string_view pattern);

// Folded full path and full path as written, from the parent chain.
std::string NaiveFoldedPath(const Index& index, uint32_t entry);
std::string NaiveWrittenPath(const Index& index, uint32_t entry);

// The first live folder whose folded full path is exactly `path`, or kNoEntry.
uint32_t NaiveFindFolder(const Index& index, const std::string& path);

// One term against one entry, negation applied. Parent terms are resolved here.
bool NaiveTermMatch(const Index& index, const Term& term, uint32_t entry);

// Entry filter, every group, duplicates, then std::sort by the key's rules
// (reversed when descending). Reads the index's hideHidden and hideSystem.
std::vector<uint32_t> NaiveSearch(const Index& index, const Query& query, const SearchOptions& options);

}  // namespace ov::testing
