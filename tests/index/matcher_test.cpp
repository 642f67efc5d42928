#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "index/matcher.h"
#include "index/text.h"
#include "tests/support/index_reference.h"
#include "tests/support/search_reference.h"

namespace ov {
namespace {

using testing::AddNamed;

Term Kind(int kind, std::string text = {}) {
    Term t;
    t.kind = kind;
    t.text = std::move(text);
    return t;
}
Term Sub(std::string text) {
    return Kind(TermKind::Substring, std::move(text));
}
Term Wild(std::string text) {
    return Kind(TermKind::Wildcard, std::move(text));
}
Term Ext(std::vector<std::string> exts) {
    Term t = Kind(TermKind::Extension);
    t.exts = std::move(exts);
    return t;
}
Term Rx(std::string pattern, bool caseSensitive = false) {
    Term t = Kind(TermKind::Regex, pattern);
    t.caseSensitive = caseSensitive;
    auto flags = std::regex::ECMAScript;
    if (!caseSensitive) flags |= std::regex::icase;
    t.regex = std::make_shared<const std::regex>(pattern, flags);
    return t;
}
Term With(Term t, void (*change)(Term&)) {
    change(t);
    return t;
}

constexpr uint32_t kDir = EntryFlags::Directory;

TEST(Matcher, TermKindsOnSingleEntries) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kDir | EntryFlags::VolumeRoot);
    auto add = [&](const std::string& name, uint32_t flags = 0, uint64_t size = 0) {
        return AddNamed(index, root, name, flags, size, 500, 700);
    };
    const uint32_t folder = add("photos.jpg", kDir);
    const uint32_t emptyFolder = add("empty", kDir);
    AddNamed(index, folder, "inside.jpg", 0);
    struct Case {
        const char* what;
        Term term;
        std::string name;  // a file of that name is added unless `entry` is given
        bool want;
        uint32_t entry = kNoEntry;
    } cases[] = {
        {"!ext:txt keeps folders", With(Ext({"txt"}), [](Term& t) { t.negate = true; }), "", true, folder},
        {"!ext:txt drops a.txt", With(Ext({"txt"}), [](Term& t) { t.negate = true; }), "a.txt", false},
        {"negated file: keeps folders", With(Kind(TermKind::Any), [](Term& t) { t.negate = true, t.selector = 1; }), "",
         true, folder},
        {"negated file: drops files", With(Kind(TermKind::Any), [](Term& t) { t.negate = true, t.selector = 1; }), "f",
         false},
        {"folder:ext:txt on a file", With(Ext({"txt"}), [](Term& t) { t.selector = 2; }), "a.txt", false},
        {"ext of archive.tar.gz", Ext({"gz"}), "archive.tar.gz", true},
        {"ext tar.gz never matches", Ext({"tar.gz"}), "archive.tar.gz", false},
        {".gitignore has no ext", Ext({"gitignore"}), ".gitignore", false},
        {"name. has no ext", Ext({""}), "name.", false},
        {"folder photos.jpg", Ext({"jpg"}), "", false, folder},
        {"ext binary search", Ext({"a", "gif", "jpg", "png", "zz"}), "X.PNG", true},
        {"ww:log log.txt", With(Sub("log"), [](Term& t) { t.wholeWord = true; }), "log.txt", true},
        {"ww:log my log", With(Sub("log"), [](Term& t) { t.wholeWord = true; }), "my log", true},
        {"ww:log x-log", With(Sub("log"), [](Term& t) { t.wholeWord = true; }), "x-log", true},
        {"ww:log logs", With(Sub("log"), [](Term& t) { t.wholeWord = true; }), "logs", false},
        {"ww:log catalog", With(Sub("log"), [](Term& t) { t.wholeWord = true; }), "catalog", false},
        {"ww:log log_1", With(Sub("log"), [](Term& t) { t.wholeWord = true; }), "log_1", false},
        {"ww:log next to an accent", With(Sub("log"), [](Term& t) { t.wholeWord = true; }), "\xC3\xA9log", false},
        {"ww:log second occurrence", With(Sub("log"), [](Term& t) { t.wholeWord = true; }), "catalog log", true},
        {"ww:a-a after an overlapping miss", With(Sub("a-a"), [](Term& t) { t.wholeWord = true; }), "ba-a-a", true},
        {"a*b ab", Wild("a*b"), "ab", true},
        {"a*b axxb", Wild("a*b"), "axxb", true},
        {"a*b abc", Wild("a*b"), "abc", false},
        {"?.txt two-byte letter", Wild("?.txt"), "\xC3\xA9.txt", true},
        {"a** a", Wild("a**"), "a", true},
        {"a? a", Wild("a?"), "a", false},
        {"case:Foo Foo.txt", With(Sub("Foo"), [](Term& t) { t.caseSensitive = true; }), "Foo.txt", true},
        {"case:Foo foo.txt", With(Sub("Foo"), [](Term& t) { t.caseSensitive = true; }), "foo.txt", false},
        {"foo Foo.txt", Sub("foo"), "Foo.txt", true},
        {"folded accent", Sub("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89.doc", true},
        {"size in range", With(Kind(TermKind::Size), [](Term& t) { t.lo = 10, t.hi = 11; }), "s10", true},
        {"size at hi", With(Kind(TermKind::Size), [](Term& t) { t.lo = 0, t.hi = 10; }), "s10", false},
        {"modified", With(Kind(TermKind::Modified), [](Term& t) { t.lo = 500, t.hi = 501; }), "m", true},
        {"created", With(Kind(TermKind::Created), [](Term& t) { t.lo = 0, t.hi = 700; }), "c", false},
        {"attributes all set", With(Kind(TermKind::Attributes), [](Term& t) { t.attrMask = 3; }), "h3", true},
        {"attributes one missing", With(Kind(TermKind::Attributes), [](Term& t) { t.attrMask = 5; }), "h3", false},
        {"empty folder", Kind(TermKind::EmptyFolder), "", true, emptyFolder},
        {"folder with a child", Kind(TermKind::EmptyFolder), "", false, folder},
        {"unresolved parent", Kind(TermKind::Parent), "p", false},
        {"negated unresolved parent", With(Kind(TermKind::Parent), [](Term& t) { t.negate = true; }), "p", true},
        {"error", Kind(TermKind::Error), "e", false},
        {"negated error", With(Kind(TermKind::Error), [](Term& t) { t.negate = true; }), "e", true},
        {"regex on name as written", Rx("^Re.*\\.PDF$"), "report_1.pdf", true},
        {"case-sensitive regex", Rx("^Re", true), "report_1.pdf", false},
        {"null regex", Kind(TermKind::Regex, "x"), "x", false},
    };
    for (auto& c : cases) {
        uint32_t entry = c.entry;
        if (entry == kNoEntry) {
            const uint32_t attrs = c.name == "h3" ? 3 : 0;
            entry = add(c.name, attrs, c.name == "s10" ? 10 : 0);
        }
        Matcher matcher(index);
        MatchScratch scratch;
        EXPECT_EQ(matcher.Match(c.term, entry, scratch), c.want) << c.what;
        EXPECT_EQ(testing::NaiveTermMatch(index, c.term, entry), c.want) << "reference: " << c.what;
    }
}

TEST(Matcher, WildcardAgreesWithReference) {
    std::mt19937 rng(99);
    const char* const pieces[] = {"a", "b", "*", "?", "\xC3\xA9", "\xE2\x82\xAC", "."};
    for (int round = 0; round < 30000; ++round) {
        std::string pattern;
        std::string hay;
        for (int k = static_cast<int>(rng() % 7); k > 0; --k) pattern += pieces[rng() % std::size(pieces)];
        for (int k = static_cast<int>(rng() % 9); k > 0; --k) {
            std::string p = pieces[rng() % 7];
            hay += (p == "*" || p == "?") ? "b" : p;
        }
        ASSERT_EQ(WildcardMatch(hay, pattern), testing::NaiveWildcard(hay, pattern))
            << "pattern '" << pattern << "' haystack '" << hay << "'";
    }
}

Query Groups(std::vector<std::vector<Term>> groups) {
    Query q;
    q.groups = std::move(groups);
    return q;
}

TEST(Matcher, CollectNeedlesPicksTheMostSelectiveGroup) {
    auto regexMode = [](std::string p) { return Rx(std::move(p)); };
    struct Case {
        const char* what;
        Query query;
        bool usable;
        std::vector<std::string> needles;
    } cases[] = {
        {"ab cdef", Groups({{Sub("ab")}, {Sub("cdef")}}), true, {"cdef"}},
        {"abc def keeps the first", Groups({{Sub("abc")}, {Sub("def")}}), true, {"abc"}},
        {"ab|abcdef", Groups({{Sub("ab"), Sub("abcdef")}}), true, {"ab", "abcdef"}},
        {"a alone", Groups({{Sub("a")}}), false, {"a"}},
        {"regex alternation", Groups({{regexMode("jpg|png")}}), false, {}},
        {"five extensions", Groups({{Ext({"a", "b", "c", "d", "e"})}}), false, {}},
        {"extensions", Groups({{Ext({"jpg", "png"})}}), true, {".jpg", ".png"}},
        {"fewer needles on a tie", Groups({{Sub("xyz"), Sub("abc")}, {Sub("qqq")}}), true, {"qqq"}},
        {"wildcard run", Groups({{Wild("*rep?rt_x*")}}), true, {"rt_x"}},
        {"case-sensitive folds", Groups({{With(Sub("ABc"), [](Term& t) { t.caseSensitive = true; })}}), true, {"abc"}},
        {"negated group unusable", Groups({{With(Sub("abc"), [](Term& t) { t.negate = true; })}}), false, {}},
        {"path group unusable", Groups({{With(Sub("abc"), [](Term& t) { t.matchPath = true; })}}), false, {}},
        {"folders only unusable", Groups({{With(Sub("abc"), [](Term& t) { t.selector = 2; })}}), false, {}},
        {"size term unusable", Groups({{Kind(TermKind::Size)}, {Sub("ab")}}), true, {"ab"}},
        {"bare star unusable", Groups({{Wild("*")}}), false, {}},
        {"no groups", Groups({}), false, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out;
        EXPECT_EQ(Matcher::CollectNeedles(c.query, out), c.usable) << c.what;
        if (c.usable || !c.needles.empty()) {
            EXPECT_EQ(out, c.needles) << c.what;
        }
    }
}

TEST(Matcher, LongestRegexLiteral) {
    struct Case {
        const char* pattern;
        const char* want;
    } cases[] = {
        {"^report_(\\d+)\\.pdf$", "report_"},
        {"colou?r", "colo"},
        {"ab[cd]ef", "ab"},
        {"x{2}yz", "yz"},
        {"ab{10}", ""},  // a repeat count is not a literal
        {"a|bcd", ""},
        {"(abc)de", "de"},
        {"AbC", "abc"},
        {"a\\.bc", "bc"},
        {"[a\\]b]cd", "cd"},
        {"my file-1", "my file-1"},
        {"x", ""},
        {"abc*", "ab"},
    };
    for (const auto& c : cases) EXPECT_EQ(Matcher::LongestRegexLiteral(c.pattern), c.want) << c.pattern;
}

TEST(Matcher, ExtHashesPicksTheShortestExtensionGroup) {
    const uint32_t png = ExtensionHash("png", 3);
    const uint32_t jpg = ExtensionHash("jpg", 3);
    std::vector<uint32_t> out;
    EXPECT_TRUE(Matcher::ExtHashes(Groups({{Ext({"jpg", "png"})}, {Ext({"png"})}}), out));
    EXPECT_EQ(out, std::vector<uint32_t>({png}));
    EXPECT_TRUE(Matcher::ExtHashes(Groups({{Ext({"jpg"}), Ext({"png"})}}), out));
    EXPECT_EQ(out, std::vector<uint32_t>({jpg, png}));
    EXPECT_FALSE(Matcher::ExtHashes(Groups({{Ext({"txt"}), Sub("foo")}}), out));
    EXPECT_FALSE(Matcher::ExtHashes(Groups({{With(Ext({"txt"}), [](Term& t) { t.negate = true; })}}), out));
    EXPECT_FALSE(Matcher::ExtHashes(Groups({{Ext({})}}), out));
}

// A path of about 32 KB: the regular expressions below would recurse once per
// byte, or backtrack exponentially, in a backtracking matcher.
TEST(Matcher, RegexOnLongPathNeitherCrashesNorStalls) {
    Index index;
    uint32_t parent = AddNamed(index, kNoEntry, "D:", kDir | EntryFlags::VolumeRoot);
    for (int depth = 0; depth < 130; ++depth) parent = AddNamed(index, parent, std::string(250, 'a'), kDir);
    const uint32_t file = AddNamed(index, parent, "ab.txt", 0);
    ASSERT_GT(index.Path(file, false).size(), 32000u);
    struct Case {
        const char* pattern;
        bool want;
    } cases[] = {
        {"(a|b)*c", false},
        {"(a|b)*\\\\ab", true},
        {"(a*)*b", true},
        {"(a*)*z", false},
        {"^d:(\\\\a+)+\\\\ab\\.txt$", true},
        {"(a)\\1", true},
        {"(a)\\1z", false},
    };
    Matcher matcher(index);
    for (const auto& c : cases) {
        Term t = Rx(c.pattern);
        t.matchPath = true;
        MatchScratch scratch;
        EXPECT_EQ(matcher.Match(t, file, scratch), c.want) << c.pattern;
    }
}

}  // namespace
}  // namespace ov
