// The query language: words AND-ed, '|' alternatives OR-ed, '!'
// per alternative, stackable per-word prefixes, keywords, wildcards, '*.ext',
// the whole-text regular expression mode and the filter row as one more group.
//
// Regular expressions are the one input here that can hurt the process: the
// standard library's compiler recurses once per atom and its backtracking
// matcher once per haystack byte, and neither reports running out of stack.
// So a pattern is first measured (RegexCost) and refused above a budget, and
// with libstdc++ it is compiled in polynomial mode, which makes
// std::regex_search use the breadth-first executor: time linear in the
// haystack per start position, stack bounded by the pattern, never by the
// name or path. That mode refuses back-references, which thus get the error
// text too. The matcher must still catch what regex_search throws. A pattern
// our own automaton cannot run (lookahead) is refused as well: the library's
// matcher allocates per state and position, 0.1 ms and more per short name, and
// under a contended heap one name can take longer than a keystroke may wait.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 with sanitizers at -O1 takes a moved std::function inside libstdc++'s
// regex compiler for maybe uninitialized: a false positive in library code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "index/query.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "index/regex_compiler.h"
#include "index/text.h"
#include "index/values.h"

namespace ov {

const FilterDef kFilters[kFilterCount] = {
    {L"Everything", 0, nullptr, L"Show every file and folder that matches."},
    {L"Files only", 1, nullptr, L"Show only files (no folders)."},
    {L"Folders only", 2, nullptr, L"Show only folders."},
    {L"Pictures", 1,
     "ani;apng;arw;avif;bmp;cr2;cr3;dng;gif;heic;heif;ico;jfif;jpe;jpeg;jpg;nef;orf;pcx;png;psd;raw;svg;tga;tif;"
     "tiff;webp;wmf",
     L"Photos and images: jpg, png, gif, heic, raw camera files and more."},
    {L"Video", 1,
     "3g2;3gp;asf;avi;divx;flv;m2t;m2ts;m4v;mkv;mov;mp4;mpe;mpeg;mpg;mts;mxg;ogv;qt;rm;rmvb;ts;vob;webm;wmv",
     L"Video files: mp4, mov, mkv, avi, MOBOTIX mxg and more."},
    {L"Audio", 1, "aac;ac3;aif;aiff;amr;ape;au;flac;m3u;m4a;m4b;mid;midi;mka;mp2;mp3;mpa;ogg;opus;ra;wav;wma",
     L"Music and sound files: mp3, wav, flac, m4a and more."},
    {L"Documents", 1,
     "csv;doc;docm;docx;dot;dotx;eml;htm;html;json;log;md;msg;odp;ods;odt;one;pdf;pps;ppsx;ppt;pptm;pptx;rtf;txt;"
     "vsd;vsdx;wpd;wps;xls;xlsb;xlsm;xlsx;xml;xps",
     L"Documents: PDF, Word, Excel, PowerPoint, text, email and web pages."},
    {L"Compressed", 1, "7z;arj;bz2;cab;gz;iso;jar;lz;lzma;rar;tar;tgz;txz;xz;z;zip;zst",
     L"Archives: zip, 7z, rar, iso and more."},
    {L"Programs", 1, "appx;bat;cmd;com;exe;msi;msix;msp;msu;ps1;reg;scr;vbs",
     L"Programs and installers: exe, msi, bat, PowerShell scripts and more."},
};

namespace {

constexpr char kSizeError[] = "Orvane didn't understand that size. Examples: size:>100mb  size:1gb..5gb  size:huge";
constexpr char kDateError[] =
    "Orvane didn't understand that date. Examples: dm:today  dm:last7days  dm:2024  dm:>=1/1/2025";
constexpr char kRegexError[] = "That regular expression isn't valid.";
constexpr char kNoMemoryError[] = "The search couldn't be finished: there wasn't enough memory.";

// The most a pattern may cost (RegexCost units, about one per state of the
// library's automaton). Measured with libstdc++: compiling and matching stay
// far inside a 1 MiB stack up to tens of thousands of states; names need far
// fewer than this.
constexpr uint64_t kRegexBudget = 1000;

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i)
        if (i >= text.size() || Lower(text[i]) != prefix[i]) return false;
    return true;
}

std::string WithoutQuotes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '"') out.push_back(c);
    return out;
}

// True when word starts with keyword (compared lowered); out then gets the rest
// of the word without its double quotes. False leaves out unchanged.
bool TakePrefixed(const std::string& word, const char* keyword, std::string& out) {
    if (!StartsWithNoCase(word, keyword)) return false;
    out = WithoutQuotes(word.substr(std::char_traits<char>::length(keyword)));
    return true;
}

// Blank-separated words; a double quote toggles quoting and stays in the word.
std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == ' ' && !quoted) {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

// The '|'-separated alternatives of one word, empty ones included.
std::vector<std::string> SplitAlternatives(const std::string& word) {
    std::vector<std::string> parts(1);
    bool quoted = false;
    for (char c : word) {
        if (c == '"') quoted = !quoted;
        if (c == '|' && !quoted)
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    return parts;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}
uint64_t SaturatingMul(uint64_t a, uint64_t b) {
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

// An upper estimate of the automaton the library builds for pattern: one unit
// per atom, quantifier and group edge; a counted repetition {n,m} copies what
// it repeats max(n, m) + 1 times. Deliberately rough, never recursive, and
// saturating, so any text can be measured.
uint64_t RegexCost(const std::string& pattern) {
    struct Level {
        uint64_t done = 0;  // finished alternatives
        uint64_t open = 0;  // the alternative being read
        uint64_t last = 0;  // the last atom of it, for a quantifier
    };
    std::vector<Level> levels(1);
    auto atom = [&](uint64_t cost) {
        levels.back().open = SaturatingAdd(levels.back().open, cost);
        levels.back().last = cost;
    };
    const size_t n = pattern.size();
    for (size_t i = 0; i < n; ++i) {
        char c = pattern[i];
        if (c == '\\') {
            ++i;
            atom(1);
        } else if (c == '[') {
            for (++i; i < n && pattern[i] != ']'; ++i)
                if (pattern[i] == '\\') ++i;
            atom(1);
        } else if (c == '(') {
            levels.emplace_back();
        } else if (c == ')' && levels.size() > 1) {
            uint64_t group = SaturatingAdd(SaturatingAdd(levels.back().done, levels.back().open), 2);
            levels.pop_back();
            atom(group);
        } else if (c == '|') {
            levels.back().done = SaturatingAdd(levels.back().done, levels.back().open);
            levels.back().open = levels.back().last = 0;
        } else if (c == '*' || c == '+' || c == '?') {
            levels.back().open = SaturatingAdd(levels.back().open, 1);
        } else if (c == '{') {
            uint64_t lo = 0, hi = 0;
            size_t j = i + 1;
            bool digits = false;
            for (; j < n && pattern[j] >= '0' && pattern[j] <= '9'; ++j, digits = true)
                lo = std::min<uint64_t>(lo * 10 + static_cast<uint64_t>(pattern[j] - '0'), 1000000000);
            if (j < n && pattern[j] == ',')
                for (++j; j < n && pattern[j] >= '0' && pattern[j] <= '9'; ++j)
                    hi = std::min<uint64_t>(hi * 10 + static_cast<uint64_t>(pattern[j] - '0'), 1000000000);
            if (!digits || j >= n || pattern[j] != '}') {
                atom(1);  // not a repetition; the library decides what it is
                continue;
            }
            uint64_t copies = std::max(lo, hi) + 1;
            Level& level = levels.back();
            level.open = SaturatingAdd(level.open, SaturatingAdd(SaturatingMul(level.last, copies - 1), copies));
            level.last = SaturatingMul(level.last, copies);
            i = j;
        } else {
            atom(1);
        }
    }
    uint64_t total = 0;
    for (const Level& level : levels)  // unclosed groups count as closed
        total = SaturatingAdd(total, SaturatingAdd(SaturatingAdd(level.done, level.open), 2));
    return total;
}

// Compiles term.text into term.regex; on any failure the term becomes an
// Error term with the error text (the pattern's, or memory's), its regex null.
// Never throws.
void CompileRegex(Term& term, Query& query) {
    term.kind = TermKind::Regex;
    term.regex.reset();
    const char* error = kRegexError;
    try {
        RegexProgram program;
        if (RegexCost(term.text) <= kRegexBudget && ov::CompileRegex(term.text, !term.caseSensitive, program)) {
            auto flags = std::regex::ECMAScript;
            if (!term.caseSensitive) flags |= std::regex::icase;
#ifdef __GLIBCXX__
            flags |= std::regex_constants::__polynomial;  // breadth-first matching, see the file comment
#endif
            term.regex = std::make_shared<const std::regex>(term.text, flags);
            return;
        }
    } catch (const std::regex_error&) {
    } catch (const std::bad_alloc&) {
        error = kNoMemoryError;
    } catch (const std::exception&) {  // length_error
    }
    term.kind = TermKind::Error;
    term.regex.reset();
    query.error = error;
}

void SortBytewise(std::vector<std::string>& list) {
    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned char: bytewise, shorter first on a common prefix.
    std::sort(list.begin(), list.end());
}

struct PrefixRow {
    const char* prefix;
    void (*apply)(Term&, bool& regex);
};

const PrefixRow kPrefixes[] = {
    {"case:", [](Term& t, bool&) { t.caseSensitive = true; }},
    {"nocase:", [](Term& t, bool&) { t.caseSensitive = false; }},
    {"ww:", [](Term& t, bool&) { t.wholeWord = true; }},
    {"wholeword:", [](Term& t, bool&) { t.wholeWord = true; }},
    {"noww:", [](Term& t, bool&) { t.wholeWord = false; }},
    {"path:", [](Term& t, bool&) { t.matchPath = true; }},
    {"nopath:", [](Term& t, bool&) { t.matchPath = false; }},
    {"file:", [](Term& t, bool&) { t.selector = 1; }},
    {"files:", [](Term& t, bool&) { t.selector = 1; }},
    {"folder:", [](Term& t, bool&) { t.selector = 2; }},
    {"folders:", [](Term& t, bool&) { t.selector = 2; }},
    {"regex:", [](Term&, bool& regex) { regex = true; }},
};

struct SizeKeyword {
    const char* name;
    uint64_t lo, hi;
};
const SizeKeyword kSizeKeywords[] = {
    {"empty", 0, 1},
    {"tiny", 1, 10241},
    {"small", 10241, 102401},
    {"medium", 102401, 1048577},
    {"large", 1048577, 16777217},
    {"huge", 16777217, 134217729},
    {"gigantic", 134217729, kOpenEnd},
};

struct AttributeLetter {
    char letter;
    uint32_t bit;
};
const AttributeLetter kAttributeLetters[] = {
    {'R', FileAttr::ReadOnly},     {'H', FileAttr::Hidden},     {'S', FileAttr::System},  {'A', FileAttr::Archive},
    {'L', FileAttr::ReparsePoint}, {'C', FileAttr::Compressed}, {'O', FileAttr::Offline}, {'E', FileAttr::Encrypted},
};

void ParseExtensions(const std::string& value, Term& term) {
    term.kind = TermKind::Extension;
    std::string piece;
    for (char c : value + ";") {
        if (c != ';' && c != ',') {
            piece.push_back(c);
            continue;
        }
        if (!piece.empty()) term.exts.push_back(FoldCaseUtf8(piece[0] == '.' ? piece.substr(1) : piece));
        piece.clear();
    }
    SortBytewise(term.exts);
    if (term.selector == 0) term.selector = 1;
}

void ParseSize(const std::string& value, Term& term, Query& query) {
    term.kind = TermKind::Size;
    const std::string folded = FoldCaseUtf8(value);
    for (const SizeKeyword& row : kSizeKeywords) {
        if (folded == row.name) {
            term.lo = row.lo;
            term.hi = row.hi;
            return;
        }
    }
    if (!ParseSizeRange(folded, term.lo, term.hi)) {
        term.kind = TermKind::Error;
        query.error = kSizeError;
    }
}

void ParseDate(const std::string& rest, const std::string& value, Term& term, Query& query) {
    term.kind = StartsWithNoCase(rest, "dc:") || StartsWithNoCase(rest, "datecreated:") ? TermKind::Created
                                                                                        : TermKind::Modified;
    if (!ParseDateRange(value, term.lo, term.hi)) {
        term.kind = TermKind::Error;
        query.error = kDateError;
    }
}

void ParseAttributes(const std::string& value, Term& term) {
    term.kind = TermKind::Attributes;
    for (char c : value) {
        char u = Upper(c);
        if (u == 'D') term.selector = 2;
        for (const AttributeLetter& row : kAttributeLetters)
            if (row.letter == u) term.attrMask |= row.bit;
    }
}

void ParseParent(const std::string& value, Term& term, Query& query) {
    term.kind = TermKind::Parent;
    std::string path = FoldCaseUtf8(value);
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    // A drive is cached as "c:"; only its separator goes ("c:x" is a name, not a drive).
    if (path.size() == 3 && path[1] == ':' && path[2] == '\\') path.pop_back();
    term.parentPath = std::move(path);
    query.needsPaths = true;
}

// Duplicate mode with an optional text. The text follows the term's case rule
// like any substring term: folded unless case-sensitive. (Folding it while the
// term stays case-sensitive would compare 'foo' with names
// as written and miss 'Foo.txt' for 'dupe:Foo' with Match Case on.)
void ParseDupe(const std::string& value, int mode, Term& term, Query& query) {
    query.dupe = mode;
    if (mode == 2) term.selector = 1;
    term.kind = TermKind::Any;
    if (!value.empty()) {
        term.kind = TermKind::Substring;
        term.text = term.caseSensitive ? value : FoldCaseUtf8(value);
    }
}

// Returns false when no keyword starts the text.
bool ParseKeyword(const std::string& rest, Term& term, Query& query) {
    std::string value;
    if (TakePrefixed(rest, "ext:", value)) {
        ParseExtensions(value, term);
    } else if (TakePrefixed(rest, "size:", value)) {
        ParseSize(value, term, query);
    } else if (TakePrefixed(rest, "dm:", value) || TakePrefixed(rest, "datemodified:", value) ||
               TakePrefixed(rest, "dc:", value) || TakePrefixed(rest, "datecreated:", value)) {
        ParseDate(rest, value, term, query);
    } else if (TakePrefixed(rest, "attrib:", value) || TakePrefixed(rest, "attributes:", value) ||
               TakePrefixed(rest, "attr:", value)) {
        ParseAttributes(value, term);
    } else if (TakePrefixed(rest, "parent:", value)) {
        ParseParent(value, term, query);
    } else if (TakePrefixed(rest, "empty:", value)) {
        term.kind = TermKind::EmptyFolder;
        term.selector = 2;
    } else if (TakePrefixed(rest, "dupe:", value)) {
        ParseDupe(value, 1, term, query);
    } else if (TakePrefixed(rest, "sizedupe:", value)) {
        ParseDupe(value, 2, term, query);
    } else {
        return false;
    }
    return true;
}

void ParsePlainWord(const std::string& rest, Term& term, Query& query) {
    const std::string w = WithoutQuotes(rest);
    if (w.find('\\') != std::string::npos) term.matchPath = true;
    if (w.empty()) {
        term.kind = TermKind::Any;
        return;
    }
    if (w.find_first_of("*?") == std::string::npos) {
        term.kind = TermKind::Substring;
        std::string folded = FoldCaseUtf8(w);
        term.text = term.caseSensitive ? w : folded;
        if (!term.negate) query.highlightWords.push_back(std::move(folded));
        return;
    }
    if (w.size() >= 3 && w[0] == '*' && w[1] == '.' && w.find_first_of("*?.\\", 2) == std::string::npos &&
        !term.matchPath) {
        term.kind = TermKind::Extension;
        term.exts.push_back(FoldCaseUtf8(w.substr(2)));
        if (term.selector == 0) term.selector = 1;
        return;
    }
    term.kind = TermKind::Wildcard;
    term.text = term.caseSensitive ? w : FoldCaseUtf8(w);
}

Term FreshTerm(const SearchOptions& options) {
    Term term;
    term.caseSensitive = options.matchCase;
    term.wholeWord = options.wholeWord;
    term.matchPath = options.matchPath;
    return term;
}

Term ParseAlternative(const std::string& alternative, const SearchOptions& options, Query& query) {
    Term term = FreshTerm(options);
    size_t start = 0;
    while (start < alternative.size() && alternative[start] == '!') {
        term.negate = !term.negate;
        ++start;
    }
    std::string rest = alternative.substr(start);
    bool regex = false;
    for (bool again = true; again;) {
        again = false;
        for (const PrefixRow& row : kPrefixes) {
            if (StartsWithNoCase(rest, row.prefix)) {
                rest.erase(0, std::char_traits<char>::length(row.prefix));
                row.apply(term, regex);
                again = true;
                break;
            }
        }
    }
    if (regex) {
        term.text = WithoutQuotes(rest);  // keywords are not looked at: 'regex:ext:x' is 'ext:x'
        CompileRegex(term, query);
    } else if (!ParseKeyword(rest, term, query)) {
        ParsePlainWord(rest, term, query);
    }
    if (term.matchPath) query.needsPaths = true;
    return term;
}

void AddFilterGroup(int filter, Query& query) {
    if (filter < 1 || filter >= kFilterCount) return;
    const FilterDef& row = kFilters[filter];
    Term term;
    term.selector = row.kind;
    term.kind = TermKind::Any;
    if (row.extensions) {
        term.kind = TermKind::Extension;
        std::string piece;
        for (const char* p = row.extensions;; ++p) {
            if (*p == ';' || *p == '\0') {
                term.exts.push_back(piece);
                piece.clear();
                if (*p == '\0') break;
            } else {
                piece.push_back(*p);
            }
        }
        SortBytewise(term.exts);
    }
    query.groups.push_back({std::move(term)});
}

}  // namespace

Query ParseQuery(const std::string& text, const SearchOptions& options) {
    Query query;
    if (options.regex) {
        if (!text.empty()) {
            Term term = FreshTerm(options);
            term.wholeWord = false;
            term.text = text;
            CompileRegex(term, query);
            if (term.matchPath) query.needsPaths = true;
            query.groups.push_back({std::move(term)});
        }
    } else {
        for (const std::string& word : SplitWords(text)) {
            std::vector<Term> group;
            for (const std::string& alternative : SplitAlternatives(word))
                if (!alternative.empty()) group.push_back(ParseAlternative(alternative, options, query));
            if (!group.empty()) query.groups.push_back(std::move(group));
        }
    }
    AddFilterGroup(options.filter, query);
    return query;
}

}  // namespace ov
