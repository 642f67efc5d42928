// The query language. Each parse is rendered to a compact text:
// groups joined by " & ", the terms of a group by " | ", a term as
// [!]Kind[/flags]['text'][{exts}][[lo,hi)][ a=mask][ parent='path'], flags
// c case-sensitive, w whole word, p match path, f files only, d folders only.
#include "index/query.h"
#include "index/regex_automaton.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "index/platform.h"
#include "index/values.h"
#include "tests/support/failing_alloc.h"

namespace ov {
namespace {

const char* const kSizeError = "Orvane didn't understand that size. Examples: size:>100mb  size:1gb..5gb  size:huge";
const char* const kDateError =
    "Orvane didn't understand that date. Examples: dm:today  dm:last7days  dm:2024  dm:>=1/1/2025";
const char* const kRegexError = "That regular expression isn't valid.";

std::string KindName(int kind) {
    static const char* const kNames[] = {"Sub",     "Wild", "Regex", "Ext",    "Size", "Mod",
                                         "Created", "Attr", "Empty", "Parent", "Any",  "Error"};
    return kind >= 0 && kind <= TermKind::Error ? kNames[kind] : "?";
}

std::string Render(const Term& t) {
    std::string s = t.negate ? "!" : "";
    s += KindName(t.kind);
    std::string flags;
    if (t.caseSensitive) flags += 'c';
    if (t.wholeWord) flags += 'w';
    if (t.matchPath) flags += 'p';
    if (t.selector == 1) flags += 'f';
    if (t.selector == 2) flags += 'd';
    if (!flags.empty()) s += "/" + flags;
    if (!t.text.empty()) s += "'" + t.text + "'";
    if (t.kind == TermKind::Extension) {
        s += "{";
        for (size_t i = 0; i < t.exts.size(); ++i) s += (i ? "," : "") + t.exts[i];
        s += "}";
    }
    if (t.kind == TermKind::Size) {
        s.append("[").append(std::to_string(t.lo)).append(",");
        s.append(t.hi == kOpenEnd ? std::string("max") : std::to_string(t.hi)).append(")");
    }
    if (t.attrMask != 0 || t.kind == TermKind::Attributes) {
        char mask[16];
        std::snprintf(mask, sizeof mask, " a=0x%x", t.attrMask);
        s += mask;
    }
    if (t.kind == TermKind::Parent) s += " parent='" + t.parentPath + "'";
    return s;
}

std::string Render(const Query& q) {
    std::string s;
    for (size_t g = 0; g < q.groups.size(); ++g) {
        if (g) s += " & ";
        for (size_t i = 0; i < q.groups[g].size(); ++i) s += (i ? " | " : "") + Render(q.groups[g][i]);
    }
    return s;
}

std::string Join(const std::vector<std::string>& words) {
    std::string s;
    for (size_t i = 0; i < words.size(); ++i) s += (i ? "," : "") + words[i];
    return s;
}

SearchOptions Opts(const char* flags = "", int filter = 0) {
    SearchOptions o;
    for (const char* p = flags; *p; ++p) {
        if (*p == 'c') o.matchCase = true;
        if (*p == 'w') o.wholeWord = true;
        if (*p == 'p') o.matchPath = true;
        if (*p == 'r') o.regex = true;
    }
    o.filter = filter;
    return o;
}

struct Case {
    std::string text;
    const char* options;  // letters c, w, p, r as in Opts
    int filter;
    const char* groups;  // Render of the query
    const char* highlight;
    bool needsPaths;
    int dupe;
    const char* error;
};

const Case kCases[] = {
    // Words, quotes, alternatives, negation.
    {"", "", 0, "", "", false, 0, ""},
    {"    ", "", 0, "", "", false, 0, ""},
    {"foo bar", "", 0, "Sub'foo' & Sub'bar'", "foo,bar", false, 0, ""},
    {"  foo   bar  ", "", 0, "Sub'foo' & Sub'bar'", "foo,bar", false, 0, ""},
    {"foo|bar", "", 0, "Sub'foo' | Sub'bar'", "foo,bar", false, 0, ""},
    {"\"my file\"", "", 0, "Sub'my file'", "my file", false, 0, ""},
    {"\"a b", "", 0, "Sub'a b'", "a b", false, 0, ""},  // unbalanced quote runs to the end
    {"\"a|b\"", "", 0, "Sub'a|b'", "a|b", false, 0, ""},
    {"a\tb", "", 0, "Sub'a\tb'", "a\tb", false, 0, ""},  // a tab is no blank
    {"a|", "", 0, "Sub'a'", "a", false, 0, ""},
    {"|||", "", 0, "", "", false, 0, ""},
    {"!", "", 0, "!Any", "", false, 0, ""},
    {"!foo", "", 0, "!Sub'foo'", "", false, 0, ""},
    {"!!foo", "", 0, "Sub'foo'", "foo", false, 0, ""},
    {"!tmp|log", "", 0, "!Sub'tmp' | Sub'log'", "log", false, 0, ""},
    {"FOO", "", 0, "Sub'foo'", "foo", false, 0, ""},
    {"\xC3\x84"
     "BC",
     "", 0,
     "Sub'\xC3\xA4"
     "bc'",
     "\xC3\xA4"
     "bc",
     false, 0, ""},  // ÄBC folds to äbc
    {"foo:", "", 0, "Sub'foo:'", "foo:", false, 0, ""},
    // Prefixes, stacked, case-insensitive, later ones overriding.
    {"case:Foo", "", 0, "Sub/c'Foo'", "foo", false, 0, ""},
    {"CASE:Foo", "", 0, "Sub/c'Foo'", "foo", false, 0, ""},
    {"Foo", "c", 0, "Sub/c'Foo'", "foo", false, 0, ""},
    {"nocase:Foo", "c", 0, "Sub'foo'", "foo", false, 0, ""},
    {"case:nocase:x", "", 0, "Sub'x'", "x", false, 0, ""},
    {"case:ww:path:abc", "", 0, "Sub/cwp'abc'", "abc", true, 0, ""},
    {"wholeword:x noww:y", "w", 0, "Sub/w'x' & Sub'y'", "x,y", false, 0, ""},
    {"nopath:x", "p", 0, "Sub'x'", "x", false, 0, ""},
    {"x", "p", 0, "Sub/p'x'", "x", true, 0, ""},
    {"file:", "", 0, "Any/f", "", false, 0, ""},
    {"files:x", "", 0, "Sub/f'x'", "x", false, 0, ""},
    {"folders:x", "", 0, "Sub/d'x'", "x", false, 0, ""},
    {"file:folder:x", "", 0, "Sub/d'x'", "x", false, 0, ""},
    {"path:", "", 0, "Any/p", "", true, 0, ""},
    {"!case:x", "", 0, "!Sub/c'x'", "", false, 0, ""},
    {"case:!x", "", 0, "Sub/c'!x'", "!x", false, 0, ""},  // a '!' after a prefix is text
    // Wildcards and '*.ext'.
    {"*.TXT", "", 0, "Ext/f{txt}", "", false, 0, ""},
    {"*.a", "", 0, "Ext/f{a}", "", false, 0, ""},
    {"*.tar.gz", "", 0, "Wild'*.tar.gz'", "", false, 0, ""},
    {"*.t?t", "", 0, "Wild'*.t?t'", "", false, 0, ""},
    {"**.txt", "", 0, "Wild'**.txt'", "", false, 0, ""},
    {"*.", "", 0, "Wild'*.'", "", false, 0, ""},
    {"path:*.txt", "", 0, "Wild/p'*.txt'", "", true, 0, ""},
    {"*.txt", "p", 0, "Wild/p'*.txt'", "", true, 0, ""},
    {"folder:*.txt", "", 0, "Ext/d{txt}", "", false, 0, ""},
    {"A?C*", "", 0, "Wild'a?c*'", "", false, 0, ""},
    {"case:A?C*", "", 0, "Wild/c'A?C*'", "", false, 0, ""},
    {"src\\*.cpp", "", 0, "Wild/p'src\\*.cpp'", "", true, 0, ""},
    // Implicit path matching.
    {"C:\\Users", "", 0, "Sub/p'c:\\users'", "c:\\users", true, 0, ""},
    {"nopath:a\\b", "", 0, "Sub/p'a\\b'", "a\\b", true, 0, ""},
    // Keywords.
    {"ext:.JPG;png,gif", "", 0, "Ext/f{gif,jpg,png}", "", false, 0, ""},
    {"EXT:\"TXT\"", "", 0, "Ext/f{txt}", "", false, 0, ""},
    {"ext:", "", 0, "Ext/f{}", "", false, 0, ""},
    {"ext:;;,", "", 0, "Ext/f{}", "", false, 0, ""},
    {"ext:b;a;ab;B", "", 0, "Ext/f{a,ab,b,b}", "", false, 0, ""},
    {"folder:ext:txt", "", 0, "Ext/d{txt}", "", false, 0, ""},
    {"size:Huge", "", 0, "Size[16777217,134217729)", "", false, 0, ""},
    {"size:\"10 kb\"", "", 0, "Error", "", false, 0, kSizeError},
    {"size:abc", "", 0, "Error", "", false, 0, kSizeError},
    {"size:", "", 0, "Error", "", false, 0, kSizeError},
    {"!size:abc", "", 0, "!Error", "", false, 0, kSizeError},
    {"dm:last7days", "", 0, "Mod", "", false, 0, ""},
    {"DM:today", "", 0, "Mod", "", false, 0, ""},
    {"datemodified:2024", "", 0, "Mod", "", false, 0, ""},
    {"DC:today", "", 0, "Created", "", false, 0, ""},
    {"datecreated:2024", "", 0, "Created", "", false, 0, ""},
    {"dm:", "", 0, "Error", "", false, 0, kDateError},
    {"dm:\"last 7 days\"", "", 0, "Error", "", false, 0, kDateError},
    {"dm:1600", "", 0, "Error", "", false, 0, kDateError},
    {"dc:1/1/1500", "", 0, "Error", "", false, 0, kDateError},
    {"attrib:rh", "", 0, "Attr a=0x3", "", false, 0, ""},
    {"attrib:d", "", 0, "Attr/d a=0x0", "", false, 0, ""},
    {"attributes:SALCOE", "", 0, "Attr a=0x5c24", "", false, 0, ""},
    {"attr:r-x\xC3\xA9", "", 0, "Attr a=0x1", "", false, 0, ""},  // other bytes skipped
    {"attr:", "", 0, "Attr a=0x0", "", false, 0, ""},
    {"parent:C:\\Windows\\\\", "", 0, "Parent parent='c:\\windows'", "", true, 0, ""},
    {"parent:c:\\", "", 0, "Parent parent='c:'", "", true, 0, ""},
    {"parent:c:x", "", 0, "Parent parent='c:x'", "", true, 0, ""},  // a name, not a drive
    {"parent:\\\\", "", 0, "Parent parent='\\\\'", "", true, 0, ""},
    {"parent:\"D:\\My Files\\\"", "", 0, "Parent parent='d:\\my files'", "", true, 0, ""},
    {"empty:", "", 0, "Empty/d", "", false, 0, ""},
    {"empty:whatever", "", 0, "Empty/d", "", false, 0, ""},
    {"folder:empty:", "", 0, "Empty/d", "", false, 0, ""},
    {"dupe:", "", 0, "Any", "", false, 1, ""},
    {"dupe:Foo", "", 0, "Sub'foo'", "", false, 1, ""},
    // With Match Case the dupe text stays as typed, like any case-sensitive substring.
    {"dupe:Foo", "c", 0, "Sub/c'Foo'", "", false, 1, ""},
    {"case:dupe:Foo", "", 0, "Sub/c'Foo'", "", false, 1, ""},
    {"sizedupe:", "", 0, "Any/f", "", false, 2, ""},
    {"sizedupe:ABC", "", 0, "Sub/f'abc'", "", false, 2, ""},
    {"dupe: sizedupe:", "", 0, "Any & Any/f", "", false, 2, ""},
    // Regular expressions.
    {"regex:a|b", "", 0, "Regex'a' | Sub'b'", "b", false, 0, ""},
    {"regex:\"a|b\"", "", 0, "Regex'a|b'", "", false, 0, ""},
    {"regex:ext:x", "", 0, "Regex'ext:x'", "", false, 0, ""},
    {"case:regex:ABC", "", 0, "Regex/c'ABC'", "", false, 0, ""},
    {"regex:(", "", 0, "Error'('", "", false, 0, kRegexError},
    {"regex:[z-a]", "", 0, "Error'[z-a]'", "", false, 0, kRegexError},
    {"regex:(a)\\1", "", 0, "Error'(a)\\1'", "", false, 0, kRegexError},    // back-references refused
    {"regex:a{5000}", "", 0, "Error'a{5000}'", "", false, 0, kRegexError},  // over the budget
    {"regex:\\d{4}", "", 0, "Regex'\\d{4}'", "", false, 0, ""},
    {"path:regex:x", "", 0, "Regex/p'x'", "", true, 0, ""},
    {"a b", "r", 0, "Regex'a b'", "", false, 0, ""},
    {"\"x\" !y|z ext:q", "r", 0, "Regex'\"x\" !y|z ext:q'", "", false, 0, ""},
    {"Ab", "rcwp", 0, "Regex/cp'Ab'", "", true, 0, ""},  // whole word never applies to the expression
    {"(", "r", 0, "Error'('", "", false, 0, kRegexError},
    {"", "r", 0, "", "", false, 0, ""},
    {"   ", "r", 0, "Regex'   '", "", false, 0, ""},
    // Errors: the last one met wins; nothing aborts.
    {"size:abc dm:xyz", "", 0, "Error & Error", "", false, 0, kDateError},
    {"dm:xyz size:abc foo", "", 0, "Error & Error & Sub'foo'", "foo", false, 0, kSizeError},
    {"regex:( size:abc", "", 0, "Error'(' & Error", "", false, 0, kSizeError},
    // The filter row as one more group.
    {"", "", 1, "Any/f", "", false, 0, ""},
    {"", "", 2, "Any/d", "", false, 0, ""},
    {"x", "", 7, "Sub'x' & Ext/f{7z,arj,bz2,cab,gz,iso,jar,lz,lzma,rar,tar,tgz,txz,xz,z,zip,zst}", "x", false, 0, ""},
    {"x", "", 8, "Sub'x' & Ext/f{appx,bat,cmd,com,exe,msi,msix,msp,msu,ps1,reg,scr,vbs}", "x", false, 0, ""},
    {"x", "cwp", 1, "Sub/cwp'x' & Any/f", "x", true, 0, ""},  // the filter term takes no switches
    {"x", "r", 2, "Regex'x' & Any/d", "", false, 0, ""},
    {"x", "", 0, "Sub'x'", "x", false, 0, ""},
    {"x", "", 9, "Sub'x'", "x", false, 0, ""},
    {"x", "", -1, "Sub'x'", "x", false, 0, ""},
};

TEST(Query, ParsesTheTable) {
    platform::SetFixedNowForTesting(116444736000000000ull + 1710331200ull * 10000000ull);  // 2024-03-13 12:00 UTC
    for (const Case& c : kCases) {
        Query q = ParseQuery(c.text, Opts(c.options, c.filter));
        SCOPED_TRACE("text '" + c.text + "' options '" + c.options + "' filter " + std::to_string(c.filter));
        EXPECT_EQ(Render(q), c.groups);
        EXPECT_EQ(Join(q.highlightWords), c.highlight);
        EXPECT_EQ(q.needsPaths, c.needsPaths);
        EXPECT_EQ(q.dupe, c.dupe);
        EXPECT_EQ(q.error, c.error);
    }
    platform::SetFixedNowForTesting(0);
}

TEST(Query, FilterRowsMatchTheTable) {
    const size_t counts[kFilterCount] = {0, 0, 0, 28, 25, 22, 35, 17, 13};
    const char* const titles[kFilterCount] = {"Everything", "Files only", "Folders only", "Pictures", "Video",
                                              "Audio",      "Documents",  "Compressed",   "Programs"};
    for (int row = 0; row < kFilterCount; ++row) {
        std::wstring title(kFilters[row].title);
        EXPECT_EQ(std::string(title.begin(), title.end()), titles[row]);
        EXPECT_NE(std::wstring(kFilters[row].tooltip), L"");
        Query q = ParseQuery("", Opts("", row));
        if (row == 0) {
            EXPECT_TRUE(q.groups.empty());
            continue;
        }
        ASSERT_EQ(q.groups.size(), 1u) << row;
        ASSERT_EQ(q.groups[0].size(), 1u) << row;
        const Term& t = q.groups[0][0];
        EXPECT_EQ(t.selector, kFilters[row].kind) << row;
        EXPECT_EQ(t.exts.size(), counts[row]) << row;
        EXPECT_EQ(t.kind, counts[row] ? TermKind::Extension : TermKind::Any) << row;
        EXPECT_TRUE(std::is_sorted(t.exts.begin(), t.exts.end())) << row;
    }
    EXPECT_EQ(std::wstring(kFilters[3].tooltip), L"Photos and images: jpg, png, gif, heic, raw camera files and more.");
}

TEST(Query, DateTermsCarryTheirRange) {
    platform::SetFixedNowForTesting(116444736000000000ull + 1710331200ull * 10000000ull);
    for (const char* value : {"today", "last7days", ">=1/1/2025", "2023..2024", "<2024"}) {
        Query q = ParseQuery(std::string("dm:") + value, Opts());
        uint64_t lo = 0, hi = 0;
        ASSERT_TRUE(ParseDateRange(value, lo, hi)) << value;
        ASSERT_EQ(q.groups.size(), 1u);
        EXPECT_EQ(q.groups[0][0].lo, lo) << value;
        EXPECT_EQ(q.groups[0][0].hi, hi) << value;
    }
    // The raw value, not folded, goes to the date parser (which lowers it itself).
    Query q = ParseQuery("dm:\"TODAY\"", Opts());
    EXPECT_EQ(q.groups[0][0].kind, TermKind::Modified);
    // A relative value has no upper end, so '>' of it keeps nothing.
    q = ParseQuery("dm:>last7days", Opts());
    EXPECT_EQ(q.groups[0][0].lo, kOpenEnd);
    EXPECT_EQ(q.groups[0][0].hi, kOpenEnd);
    platform::SetFixedNowForTesting(0);
}

TEST(Query, RegexCaseAndSharing) {
    Query q = ParseQuery("regex:^a.c$ case:regex:^A.C$", Opts());
    ASSERT_EQ(q.groups.size(), 2u);
    const Term& icase = q.groups[0][0];
    const Term& exact = q.groups[1][0];
    ASSERT_TRUE(icase.regex);
    ASSERT_TRUE(exact.regex);
    EXPECT_TRUE(std::regex_search(std::string("ABC"), *icase.regex));
    EXPECT_TRUE(std::regex_search(std::string("abc"), *icase.regex));
    EXPECT_TRUE(std::regex_search(std::string("ABC"), *exact.regex));
    EXPECT_FALSE(std::regex_search(std::string("abc"), *exact.regex));
    Term copy = icase;
    EXPECT_EQ(copy.regex.get(), icase.regex.get());  // copies share the compiled expression
    // The regex option with Match Case off is case-insensitive too.
    q = ParseQuery("report_\\d+", Opts("r"));
    ASSERT_TRUE(q.groups[0][0].regex);
    EXPECT_TRUE(std::regex_search(std::string("REPORT_12.pdf"), *q.groups[0][0].regex));
}

// Patterns that would overflow the stack while compiling (one recursion per
// atom in the library) are refused by their size; nothing crashes.
TEST(Query, LongPatternsAreRefusedNotCompiled) {
    const std::string longText(30000, 'a');
    Query q = ParseQuery(longText, Opts("r"));
    EXPECT_EQ(q.error, kRegexError);
    std::string nested = std::string(20000, '(') + "a" + std::string(20000, ')');
    q = ParseQuery(nested, Opts("r"));
    EXPECT_EQ(q.error, kRegexError);
    q = ParseQuery("((a?){100}){100}", Opts("r"));
    EXPECT_EQ(q.error, kRegexError);
    q = ParseQuery(std::string(900, 'a'), Opts("r"));
    EXPECT_EQ(q.error, "");
}

// A pattern that memory could not hold is not an invalid one: the error says
// which it was.
TEST(Query, ARegexThatRunsOutOfMemorySaysSoNotThatItIsInvalid) {
    Query q;
    size_t memoryErrors = 0;
    testing::FailEachAllocation(
        [&] { q = Query(); }, [&] { q = ParseQuery("regex:^rep(ort)?_\\d+\\.pdf$", {}); },
        [&](bool threw) {
            if (threw) return;
            EXPECT_NE(q.error, kRegexError);
            memoryErrors += q.error == "The search couldn't be finished: there wasn't enough memory." ? 1 : 0;
        });
    EXPECT_GT(memoryErrors, 0u);
    EXPECT_EQ(q.error, "");
}

// Every pattern the parser lets through runs on the automaton: nesting up to
// what the budget admits, while a lookahead (only the library's far slower
// matcher runs it) gets the error text.
TEST(Query, AcceptedPatternsRunOnTheAutomaton) {
    for (int depth : {199, 201, 300, 498}) {
        const std::string nested = std::string(depth, '(') + "a" + std::string(depth, ')');
        EXPECT_EQ(ParseQuery(nested, Opts("r")).error, "") << depth;
        RegexAutomaton automaton;
        EXPECT_TRUE(automaton.Compile(nested, true)) << depth;
    }
    for (const char* lookahead : {"^(?!~).*\\.log$", "(?=.*a)(?=.*e).*x"})
        EXPECT_EQ(ParseQuery(lookahead, Opts("r")).error, kRegexError) << lookahead;
}

#ifdef __GLIBCXX__
// With libstdc++ the expression is compiled for the breadth-first matcher, so
// a long haystack costs time, not stack: the backtracking matcher recurses once
// per byte here and would overflow even an 8 MiB stack.
TEST(Query, RegexMatchingDepthDoesNotGrowWithTheHaystack) {
    Query q = ParseQuery("regex:\"x(a|b)*c\"", Opts());  // quoted: a bare '|' splits the word
    ASSERT_TRUE(q.groups[0][0].regex);
    std::string haystack(300001, 'a');
    haystack[0] = 'x';
    EXPECT_FALSE(std::regex_search(haystack, *q.groups[0][0].regex));
    haystack += "c";
    EXPECT_TRUE(std::regex_search(haystack, *q.groups[0][0].regex));
}
#endif

TEST(Query, HighBytesAreOrdinaryText) {
    // Bytes of 0x80 and above go through classification and case changes as
    // unsigned char; under UBSan a plain char would be caught here.
    std::string text;
    for (int b = 0x80; b <= 0xFF; ++b) text.push_back(static_cast<char>(b));
    for (const char* prefix : {"", "size:", "dm:", "attr:", "ext:", "parent:", "case:", "regex:", "dupe:"}) {
        Query q = ParseQuery(prefix + text, Opts());
        EXPECT_EQ(q.groups.size(), 1u) << prefix;
    }
}

}  // namespace
}  // namespace ov
