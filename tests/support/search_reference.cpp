#include "tests/support/search_reference.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>

#include "index/text.h"

namespace ov::testing {
namespace {

bool WordByte(unsigned char c) {
    return std::isalnum(c) || c == '_' || c >= 0x80;
}

bool NaiveSubstring(const std::string& hay, const std::string& text, bool wholeWord) {
    for (size_t pos = hay.find(text); pos != std::string::npos; pos = hay.find(text, pos + 1)) {
        if (!wholeWord) return true;
        const size_t end = pos + text.size();
        const bool before = pos == 0 || !WordByte(static_cast<unsigned char>(hay[pos - 1]));
        const bool after = end >= hay.size() || !WordByte(static_cast<unsigned char>(hay[end]));
        if (before && after) return true;
        if (pos >= hay.size()) break;
    }
    return false;
}

std::vector<uint32_t> Chain(const Index& index, uint32_t entry) {
    std::vector<uint32_t> chain;
    for (uint32_t cur = entry; cur != kNoEntry && chain.size() < Index::kMaxDepth; cur = index.entries[cur].parent)
        chain.push_back(cur);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

std::string Join(const Index& index, const std::vector<uint32_t>& chain, bool folded) {
    std::string out;
    for (size_t k = 0; k < chain.size(); ++k) {
        if (k > 0 && (out.empty() || out.back() != '\\')) out.push_back('\\');
        out.append(folded ? index.FoldedOf(chain[k]) : index.NameOf(chain[k]));
    }
    return out;
}

}  // namespace

bool NaiveWildcard(std::string_view hay, std::string_view pattern) {
    // memo[p][h]: 0 unknown, 1 no, 2 yes.
    std::vector<std::vector<uint8_t>> memo(pattern.size() + 1, std::vector<uint8_t>(hay.size() + 1, 0));
    auto match = [&](auto&& self, size_t p, size_t h) -> bool {
        uint8_t& m = memo[p][h];
        if (m) return m == 2;
        bool r;
        if (p == pattern.size()) {
            r = h == hay.size();
        } else if (pattern[p] == '*') {
            r = self(self, p + 1, h) || (h < hay.size() && self(self, p, h + 1));
        } else if (pattern[p] == '?') {
            size_t next = h + 1;
            while (next < hay.size() && (static_cast<unsigned char>(hay[next]) & 0xC0) == 0x80) ++next;
            r = h < hay.size() && self(self, p + 1, next);
        } else {
            r = h < hay.size() && pattern[p] == hay[h] && self(self, p + 1, h + 1);
        }
        m = r ? 2 : 1;
        return r;
    };
    return match(match, 0, 0);
}

std::string NaiveFoldedPath(const Index& index, uint32_t entry) {
    return Join(index, Chain(index, entry), true);
}

std::string NaiveWrittenPath(const Index& index, uint32_t entry) {
    const auto chain = Chain(index, entry);
    std::string out = Join(index, chain, false);
    if (chain.size() == 1 && out.size() == 2 && out[1] == ':') out.push_back('\\');
    return out;
}

uint32_t NaiveFindFolder(const Index& index, const std::string& path) {
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        const Entry& e = index.entries[i];
        if (IsDir(e) && !IsDeleted(e) && NaiveFoldedPath(index, i) == path) return i;
    }
    return kNoEntry;
}

bool NaiveTermMatch(const Index& index, const Term& t, uint32_t entry) {
    const Entry& e = index.entries[entry];
    const bool dir = IsDir(e);
    bool r = false;
    if ((t.selector == 1 && dir) || (t.selector == 2 && !dir)) return t.negate;
    const std::string foldedName(index.FoldedOf(entry));
    switch (t.kind) {
        case TermKind::Extension: {
            const size_t dot = foldedName.rfind('.');
            if (!dir && dot != std::string::npos && dot != 0 && dot + 1 != foldedName.size())
                r = std::find(t.exts.begin(), t.exts.end(), foldedName.substr(dot + 1)) != t.exts.end();
            break;
        }
        case TermKind::Size:
            r = t.lo <= e.size && e.size < t.hi;
            break;
        case TermKind::Modified:
            r = t.lo <= e.modified && e.modified < t.hi;
            break;
        case TermKind::Created:
            r = t.lo <= e.created && e.created < t.hi;
            break;
        case TermKind::Attributes:
            r = (e.flags & t.attrMask) == t.attrMask;
            break;
        case TermKind::EmptyFolder:
            r = dir && e.childCount == 0;
            break;
        case TermKind::Parent: {
            const uint32_t folder = NaiveFindFolder(index, t.parentPath);
            r = folder != kNoEntry && e.parent == folder;
            break;
        }
        case TermKind::Any:
            r = true;
            break;
        case TermKind::Substring:
        case TermKind::Wildcard:
        case TermKind::Regex: {
            std::string hay;
            if (t.kind == TermKind::Regex || t.caseSensitive)
                hay = t.matchPath ? NaiveWrittenPath(index, entry) : std::string(index.NameOf(entry));
            else
                hay = t.matchPath ? NaiveFoldedPath(index, entry) : foldedName;
            if (t.kind == TermKind::Substring)
                r = NaiveSubstring(hay, t.text, t.wholeWord);
            else if (t.kind == TermKind::Wildcard)
                r = NaiveWildcard(hay, t.text);
            else
                r = t.regex && std::regex_search(hay, *t.regex);
            break;
        }
        default:
            r = false;
    }
    return r != t.negate;
}

}  // namespace ov::testing
