// Term matching: whether one entry satisfies one term, and the advance knowledge
// (needles, extension hashes) that lets the search skip most entries.
//
// Regular expressions: Prepare compiles each term's pattern once per search into
// our own automaton (regex_automaton.h), which answers in one pass over the name
// or path without allocating and without writing anything the tasks share. The
// library's linear-time matcher allocates its state on every call, and on
// Windows every allocation takes the heap's lock, so tasks matching at once
// queued on it. A pattern the automaton cannot express (lookahead; a
// back-reference, which only callers other than the parser can hand in) keeps
// the library: where it offers it (libstdc++'s polynomial mode), compiled a
// second time as "[\s\S]*?(?:pattern)" and run anchored at the start, so the
// search is one breadth-first pass whose recursion is bounded by the pattern;
// else, or for back-references, the backtracking matcher, which recurses once or
// more per haystack byte and can take exponential time, fed only the last
// kBacktrackBytes bytes of the haystack: the name and its nearest folders. Any
// exception the library throws counts as no match. The parser refuses what the
// automaton cannot run, so only terms built by other callers reach the library.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 with sanitizers at -O1 takes a moved std::function inside libstdc++'s
// regex compiler for maybe uninitialized: a false positive in library code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <cctype>
#include <cstring>
#include <locale>

#include "index/matcher.h"
#include "index/mem_mem.h"
#include "index/text.h"

namespace ov {
namespace {

// Letters, digits, '_' and every byte of a multi-byte character join a word.
inline bool IsWordByte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}

bool FindSubstring(std::string_view hay, const std::string& text, bool wholeWord) {
    if (!wholeWord) return MemMem(hay.data(), hay.size(), text.data(), text.size()) != nullptr;
    for (size_t from = 0; from <= hay.size();) {
        const char* at = MemMem(hay.data() + from, hay.size() - from, text.data(), text.size());
        if (!at) return false;
        const size_t pos = static_cast<size_t>(at - hay.data());
        const size_t end = pos + text.size();
        const bool before = pos == 0 || !IsWordByte(static_cast<unsigned char>(hay[pos - 1]));
        const bool after = end >= hay.size() || !IsWordByte(static_cast<unsigned char>(hay[end]));
        if (before && after) return true;
        from = pos + 1;
    }
    return false;
}

// Longest run between wildcard characters; the first on equal lengths.
std::string LongestWildcardRun(const std::string& pattern) {
    size_t bestStart = 0;
    size_t bestLength = 0;
    size_t start = 0;
    for (size_t i = 0; i <= pattern.size(); ++i) {
        if (i == pattern.size() || pattern[i] == '*' || pattern[i] == '?') {
            if (i - start > bestLength) {
                bestStart = start;
                bestLength = i - start;
            }
            start = i + 1;
        }
    }
    return pattern.substr(bestStart, bestLength);
}

// Fills `needles` for a group; false when the group cannot bound its hits.
bool GroupNeedles(const std::vector<Term>& group, std::vector<std::string>& needles) {
    needles.clear();
    for (const Term& t : group) {
        if (t.negate || t.matchPath || t.selector == 2) return false;
        std::string needle;
        switch (t.kind) {
            case TermKind::Substring:
                needle = t.caseSensitive ? FoldCaseUtf8(t.text) : t.text;
                break;
            case TermKind::Wildcard:
                needle = LongestWildcardRun(t.caseSensitive ? FoldCaseUtf8(t.text) : t.text);
                break;
            case TermKind::Regex:
                needle = Matcher::LongestRegexLiteral(t.text);
                break;
            case TermKind::Extension:
                if (t.exts.size() > 4) return false;
                for (const std::string& ext : t.exts) needles.push_back("." + ext);
                continue;
            default:
                return false;
        }
        if (needle.empty()) return false;
        needles.push_back(std::move(needle));
    }
    return true;
}

}  // namespace

bool WildcardMatch(std::string_view hay, std::string_view pattern) {
    size_t p = 0;
    size_t h = 0;
    size_t star = std::string_view::npos;  // pattern position of the last '*'
    size_t starFrom = 0;                   // haystack position that '*' was tried at
    while (h < hay.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starFrom = h;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            ++h;
            while (h < hay.size() && (static_cast<unsigned char>(hay[h]) & 0xC0) == 0x80) ++h;
        } else if (p < pattern.size() && pattern[p] == hay[h]) {
            ++p;
            ++h;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            h = ++starFrom;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string_view Matcher::FoldedPath(uint32_t entry, MatchScratch& scratch) const {
    if (scratch.foldedFor != entry) {
        const Index& idx = index;
        const Entry& e = idx.entries[entry];
        scratch.foldedPath.clear();
        if (e.parent != kNoEntry && e.parent < idx.pathOffset.size() && idx.pathOffset[e.parent] != kNoEntry) {
            const std::string_view parentPath = idx.CachedPath(e.parent);
            scratch.foldedPath.append(parentPath);
            if (parentPath.empty() || parentPath.back() != '\\') scratch.foldedPath.push_back('\\');
        }
        scratch.foldedPath.append(idx.FoldedOf(entry));
        scratch.foldedFor = entry;
    }
    return scratch.foldedPath;
}

std::string_view Matcher::WrittenPath(uint32_t entry, MatchScratch& scratch) const {
    if (scratch.writtenFor != entry) {
        scratch.writtenPath.clear();
        index.AppendPath(entry, false, scratch.writtenPath);
        scratch.writtenFor = entry;
    }
    return scratch.writtenPath;
}

// The standard traits look the case facet up on every character of a
// case-insensitive match; this keeps it from the locale once.
struct CachedCaseTraits : std::regex_traits<char> {
    CachedCaseTraits() : ctype(&std::use_facet<std::ctype<char>>(getloc())) {}
    locale_type imbue(locale_type locale) {
        ctype = &std::use_facet<std::ctype<char>>(locale);
        return std::regex_traits<char>::imbue(locale);
    }
    char translate_nocase(char c) const { return ctype->tolower(c); }

    const std::ctype<char>* ctype;
};

struct Matcher::LinearPattern {
    std::basic_regex<char, CachedCaseTraits> regex;
};

std::shared_ptr<const Matcher::LinearPattern> Matcher::CompileLinear(const Term& term) {
#if defined(__GLIBCXX__)
    if (!term.regex) return nullptr;
    // An expression that starts with '^' and has no alternative can only match at
    // the start, so it needs no leading "any run" of its own.
    const bool anchored = !term.text.empty() && term.text[0] == '^' && term.text.find('|') == std::string::npos;
    try {
        return std::make_shared<const LinearPattern>(LinearPattern{
            std::basic_regex<char, CachedCaseTraits>((anchored ? "(?:" : "[\\s\\S]*?(?:") + term.text + ")",
                                                     term.regex->flags() | std::regex_constants::__polynomial)});
    } catch (const std::exception&) {
        return nullptr;  // back-references: only the backtracking matcher takes them
    }
#else
    return nullptr;
#endif
}

void Matcher::Compile(const Term& term, CompiledRegex& out, const std::atomic<bool>* cancel) {
    out.source = term.regex.get();
    const auto flags = term.regex->flags();
    const auto other = std::regex_constants::collate | std::regex_constants::multiline;
    if ((flags & std::regex_constants::ECMAScript) && !(flags & other)) {
        try {
            auto automaton = std::make_unique<RegexAutomaton>();
            if (automaton->Compile(term.text, (flags & std::regex_constants::icase) != 0, RegexAutomaton::kMaxDfaStates,
                                   cancel)) {
                out.automaton = std::move(automaton);
                return;
            }
        } catch (const std::bad_alloc&) {
        }
    }
    out.linear = CompileLinear(term);
}

bool Matcher::RegexFind(const CompiledRegex& compiled, std::string_view hay, MatchScratch& scratch) const {
    if (compiled.automaton) return compiled.automaton->Search(hay, scratch.regex);
    const char* first = hay.data();
    const char* last = hay.data() + hay.size();
    if (compiled.linear)
        return std::regex_search(first, last, compiled.linear->regex, std::regex_constants::match_continuous);
    if (hay.size() > kBacktrackBytes)
        return std::regex_search(last - kBacktrackBytes, last, *compiled.source,
                                 std::regex_constants::match_prev_avail);
    return std::regex_search(first, last, *compiled.source);
}

bool Matcher::RegexFind(const Term& term, std::string_view hay, MatchScratch& scratch) const {
    if (!term.regex) return false;
    try {
        for (const CompiledRegex& compiled : regexes)
            if (compiled.source == term.regex.get()) return RegexFind(compiled, hay, scratch);
        CompiledRegex local;  // a Match outside Run compiles its own
        Compile(term, local);
        return RegexFind(local, hay, scratch);
    } catch (const std::exception&) {
        return false;
    }
}

bool Matcher::NameMatch(const Term& t, uint32_t entry, MatchScratch& scratch) const {
    const Index& idx = index;
    const Entry& e = idx.entries[entry];
    if (t.kind == TermKind::Substring && t.matchPath && !t.caseSensitive && !t.wholeWord && t.folderMatch &&
        entry < t.folderMatch->size()) {
        // The text lies inside the parent's path, inside the name, or across the
        // '\' that joins them; the folder bytes answer the first and the last.
        const std::vector<uint8_t>& bytes = *t.folderMatch;
        if (IsDir(e)) return (bytes[entry] & 1) != 0;
        const uint32_t parent = e.parent;
        const bool parentKnown = parent != kNoEntry && parent < bytes.size();
        if (parentKnown && (bytes[parent] & 1)) return true;
        const std::string_view name = idx.FoldedOf(entry);
        const size_t slash = t.text.rfind('\\');
        if (slash != std::string::npos) {
            const std::string_view tail = std::string_view(t.text).substr(slash + 1);
            return parentKnown && (bytes[parent] & 2) && name.size() >= tail.size() &&
                   name.compare(0, tail.size(), tail) == 0;
        }
        return MemMem(name.data(), name.size(), t.text.data(), t.text.size()) != nullptr;
    }

    std::string_view hay;
    if (t.kind == TermKind::Regex || t.caseSensitive)
        hay = t.matchPath ? WrittenPath(entry, scratch) : idx.NameOf(entry);
    else
        hay = t.matchPath ? FoldedPath(entry, scratch) : idx.FoldedOf(entry);

    switch (t.kind) {
        case TermKind::Substring:
            return FindSubstring(hay, t.text, t.wholeWord);
        case TermKind::Wildcard:
            return WildcardMatch(hay, t.text);
        default:
            return RegexFind(t, hay, scratch);
    }
}

bool Matcher::RawMatch(const Term& t, uint32_t entry, MatchScratch& scratch) const {
    const Entry& e = index.entries[entry];
    const bool isDir = IsDir(e);
    if ((t.selector == 1 && isDir) || (t.selector == 2 && !isDir)) return false;
    switch (t.kind) {
        case TermKind::Extension: {
            if (isDir) return false;
            const std::string_view ext = FoldedExtension(index.FoldedOf(entry));
            if (ext.empty()) return false;
            const auto it = std::lower_bound(t.exts.begin(), t.exts.end(), ext,
                                             [](const std::string& a, std::string_view b) { return a < b; });
            return it != t.exts.end() && *it == ext;
        }
        case TermKind::Size:
            return t.lo <= e.size && e.size < t.hi;
        case TermKind::Modified:
            return t.lo <= e.modified && e.modified < t.hi;
        case TermKind::Created:
            return t.lo <= e.created && e.created < t.hi;
        case TermKind::Attributes:
            return (e.flags & t.attrMask) == t.attrMask;
        case TermKind::EmptyFolder:
            return isDir && e.childCount == 0;
        case TermKind::Parent:
            return t.parentEntry != kNoEntry && e.parent == t.parentEntry;
        case TermKind::Any:
            return true;
        case TermKind::Substring:
        case TermKind::Wildcard:
        case TermKind::Regex:
            return NameMatch(t, entry, scratch);
        default:
            return false;
    }
}

bool Matcher::Match(const Term& term, uint32_t entry, MatchScratch& scratch) const {
    return RawMatch(term, entry, scratch) != term.negate;
}

bool Matcher::Matches(const Query& query, uint32_t entry, MatchScratch& scratch) const {
    for (const auto& group : query.groups) {
        bool any = false;
        for (const Term& t : group) {
            if (Match(t, entry, scratch)) {
                any = true;
                break;
            }
        }
        if (!any) return false;
    }
    return true;
}

void Matcher::Prepare(const Query& query, const std::atomic<bool>* cancel) {
    regexes.clear();
    try {
        for (const auto& group : query.groups) {
            for (const Term& t : group) {
                if (t.kind != TermKind::Regex || !t.regex) continue;
                regexes.emplace_back();
                Compile(t, regexes.back(), cancel);
            }
        }
    } catch (const std::bad_alloc&) {
        regexes.clear();  // each term then compiles its own, or counts as no match
    }
}

bool Matcher::CollectNeedles(const Query& query, std::vector<std::string>& out) {
    out.clear();
    size_t best = 0;
    std::vector<std::string> needles;
    for (const auto& group : query.groups) {
        if (!GroupNeedles(group, needles) || needles.empty()) continue;
        size_t shortest = needles.front().size();
        for (const std::string& n : needles) shortest = std::min(shortest, n.size());
        if (shortest > best || (shortest == best && needles.size() < out.size())) {
            best = shortest;
            out = needles;
        }
    }
    return !out.empty() && best > 1;
}

namespace {

// Where an escape that starts at pattern[i] (the backslash) ends, as the regular
// expression reads it: a hex or Unicode escape takes its digits, a control
// escape its letter, a back-reference all its digits. None of those bytes is
// a literal of the name: \x41 matches "A", not "41".
size_t EscapeEnd(const std::string& pattern, size_t i) {
    auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (++i >= pattern.size()) return i;
    const char c = pattern[i];
    size_t take = 0;
    if (c == 'x' || c == 'u') {
        const size_t most = c == 'x' ? 2 : 4;
        while (take < most && i + take + 1 < pattern.size() && isHex(pattern[i + take + 1])) ++take;
    } else if (c == 'c') {
        take = 1;
    } else if (isDigit(c)) {
        while (i + take + 1 < pattern.size() && isDigit(pattern[i + take + 1])) ++take;
    }
    return std::min(i + take, pattern.size());
}

// The ']' that ends the bracket opened at pattern[i]: escapes (a control
// escape may take a ']') and "[:name:]", "[.x.]", "[=x=]" inside do not end it.
size_t BracketEnd(const std::string& pattern, size_t i) {
    for (++i; i < pattern.size() && pattern[i] != ']'; ++i) {
        if (pattern[i] == '\\') {
            i = EscapeEnd(pattern, i);
        } else if (pattern[i] == '[' && i + 1 < pattern.size() &&
                   (pattern[i + 1] == ':' || pattern[i + 1] == '.' || pattern[i + 1] == '=')) {
            const char kind = pattern[i + 1];
            size_t j = i + 2;
            while (j + 1 < pattern.size() && !(pattern[j] == kind && pattern[j + 1] == ']')) ++j;
            i = j + 1;  // on the inner ']'
        }
    }
    return i;
}

}  // namespace

std::string Matcher::LongestRegexLiteral(const std::string& pattern) {
    if (pattern.find('|') != std::string::npos) return {};
    std::string run;
    std::string best;
    int depth = 0;
    auto close = [&] {
        if (run.size() > best.size()) best = run;
        run.clear();
    };
    for (size_t i = 0; i < pattern.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(pattern[i]);
        if (std::isalnum(c) && c < 0x80) {
            if (depth != 0) {
                close();
            } else {
                run.push_back(static_cast<char>(std::tolower(c)));
            }
        } else if (c == '_' || c == '-' || c == ' ') {
            if (depth != 0) {
                close();
            } else {
                run.push_back(static_cast<char>(c));
            }
        } else if (c == '(' || c == ')') {
            close();
            depth += c == '(' ? 1 : -1;
        } else if (c == '*' || c == '?' || c == '{') {
            if (!run.empty()) run.pop_back();  // the character before may occur zero times
            close();
            if (c == '{') {
                // The digits of a repeat count are no literal: 'ab{10}' holds no "10".
                while (i + 1 < pattern.size() && pattern[i + 1] != '}') ++i;
            }
        } else if (c == '[') {
            close();
            i = BracketEnd(pattern, i);
        } else if (c == '\\') {
            close();
            i = EscapeEnd(pattern, i);
        } else {
            close();
        }
    }
    close();
    return best.size() >= 2 ? best : std::string();
}

bool Matcher::ExtHashes(const Query& query, std::vector<uint32_t>& out) {
    out.clear();
    bool found = false;
    std::vector<uint32_t> list;
    for (const auto& group : query.groups) {
        bool qualifies = !group.empty();
        list.clear();
        for (const Term& t : group) {
            if (t.kind != TermKind::Extension || t.negate || t.exts.empty() || t.exts.size() > 64) {
                qualifies = false;
                break;
            }
            for (const std::string& ext : t.exts) list.push_back(ExtensionHash(ext.data(), ext.size()));
        }
        if (!qualifies) continue;
        if (!found || list.size() < out.size()) {
            out = list;
            found = true;
        }
    }
    return !out.empty();
}

}  // namespace ov
