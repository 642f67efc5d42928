// A parsed search: groups of terms (every group must match, any term of a group
// may), the duplicate mode, the words to highlight and the last error text.
#pragma once

#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "index/entry.h"
#include "index/values.h"  // kOpenEnd

namespace ov {

// The switches of one search, copied by value.
struct SearchOptions {
    bool matchCase = false;
    bool wholeWord = false;
    bool matchPath = false;
    bool regex = false;
    int filter = 0;  // FilterDef row, 0-8
    int sort = 0;    // SortKey, 0-7
    bool descending = false;
};

// The options' sort key; an out-of-range value sorts by name.
inline SortKey SortKeyOf(const SearchOptions& options) {
    return static_cast<SortKey>(options.sort >= 0 && options.sort < kSortKeys ? options.sort : 0);
}

namespace TermKind {
enum : int {
    Substring = 0,
    Wildcard = 1,
    Regex = 2,
    Extension = 3,
    Size = 4,
    Modified = 5,
    Created = 6,
    Attributes = 7,
    EmptyFolder = 8,
    Parent = 9,
    Any = 10,
    Error = 11,
};
}  // namespace TermKind

struct Term {
    int kind = TermKind::Substring;
    bool negate = false;
    bool caseSensitive = false;
    bool wholeWord = false;
    bool matchPath = false;
    int selector = 0;               // 0 any, 1 files only, 2 folders only
    std::string text;               // folded unless caseSensitive; a regex's source is never folded
    std::vector<std::string> exts;  // sorted ascending bytewise
    uint64_t lo = 0;
    uint64_t hi = kOpenEnd;  // exclusive
    uint32_t attrMask = 0;
    std::shared_ptr<const std::regex> regex;
    std::string parentPath;  // folded
    uint32_t parentEntry = kNoEntry;
    std::shared_ptr<std::vector<uint8_t>> folderMatch;  // attached by the searcher
};

struct Query {
    std::vector<std::vector<Term>> groups;
    int dupe = 0;  // 0 none, 1 same name, 2 same size
    bool needsPaths = false;
    std::vector<std::string> highlightWords;  // folded
    std::string error;
};

struct FilterDef {
    const wchar_t* title;
    int kind;                // 0 all, 1 files, 2 folders
    const char* extensions;  // ';'-separated, or null
    const wchar_t* tooltip;
};
constexpr int kFilterCount = 9;
extern const FilterDef kFilters[kFilterCount];

// Never fails: problems become the error text and terms that match nothing.
Query ParseQuery(const std::string& text, const SearchOptions& options);

}  // namespace ov
