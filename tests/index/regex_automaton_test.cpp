#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 with sanitizers at -O1 takes a moved std::function inside libstdc++'s
// regex compiler for maybe uninitialized: a false positive in library code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "index/regex_automaton.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

namespace ov {
namespace {

// std::regex as the parser compiles it: the reference every answer must equal.
std::regex Library(const std::string& pattern, bool icase) {
    auto flags = std::regex::ECMAScript;
    if (icase) flags |= std::regex::icase;
#ifdef __GLIBCXX__
    flags |= std::regex_constants::__polynomial;
#endif
    return std::regex(pattern, flags);
}

// Random ECMAScript patterns over a small alphabet, so that they match the
// random names below often: every kind of atom, bracket, quantifier and
// assertion the automaton takes. Depth-limited.
std::string RandomPattern(std::mt19937& rng, int depth) {
    static const char* const kAtoms[] = {
        "a",
        "b",
        "A",
        "B",
        "_",
        "1",
        ".",
        "\\.",
        "-",
        " ",
        "\\d",
        "\\D",
        "\\w",
        "\\W",
        "\\s",
        "\\S",
        "\\x41",
        "\\u0062",
        "\\n",
        "\\cA",
        "\xC3",
        "\xA9",
        "[ab]",
        "[^a]",
        "[a-c]",
        "[A-Z]",
        "[Z-a]",
        "[^]",
        "[]",
        "[-a]",
        "[a-]",
        "[\\w-]",
        "[\\d.]",
        "[[:alpha:]]",
        "[^[:digit:]_]",
        "[[:upper:]]",
        "[[:lower:]1]",
        "[\\B-a]",
        "[\\b]",
        "[\\x80-\\xff]",
        "[a-c-e]",
        "[--/]",
        "[\\D]",
        "[^\\W]",
        "[.]",
        "]",
        "}",
        "[[]",
        "\\0",
    };
    static const char* const kQuantifiers[] = {"*", "+", "?", "*?", "+?", "{2}", "{0,2}", "{1,}", "{0}", "{1,3}?"};
    static const char* const kAssertions[] = {"^", "$", "\\b", "\\B"};
    std::string out;
    const int terms = static_cast<int>(rng() % 4);
    for (int t = 0; t < terms; ++t) {
        const unsigned pick = rng() % 10;
        if (pick == 0) {
            out += kAssertions[rng() % std::size(kAssertions)];
            continue;
        }
        if (pick == 1 && depth > 0) {
            out += rng() % 2 ? "(" : "(?:";
            out += RandomPattern(rng, depth - 1);
            while (rng() % 3 == 0) {
                out += '|';
                out += RandomPattern(rng, depth - 1);
            }
            out += ")";
        } else {
            out += kAtoms[rng() % std::size(kAtoms)];
        }
        if (rng() % 3 == 0) out += kQuantifiers[rng() % std::size(kQuantifiers)];
    }
    if (rng() % 5 == 0) {
        out += '|';
        out += RandomPattern(rng, depth - 1);
    }
    return out;
}

std::string RandomName(std::mt19937& rng) {
    static const char* const kPieces[] = {"a", "b", "A", "B", "_", "1", "9", ".", "-", " ", "\n", "\xC3\xA9", "\xE2"};
    std::string name;
    for (int k = static_cast<int>(rng() % 9); k > 0; --k) name += kPieces[rng() % std::size(kPieces)];
    return name;
}

// The differential test: generated patterns, generated names, both case modes,
// table and state-set matching, against the standard library.
TEST(RegexAutomaton, AgreesWithTheStandardLibrary) {
    std::mt19937 rng(1606);
    int compared = 0;
    for (int round = 0; round < 6000; ++round) {
        const std::string pattern = RandomPattern(rng, 2);
        const bool icase = rng() % 2 == 0;
        std::regex library;
        try {
            library = Library(pattern, icase);
        } catch (const std::regex_error&) {
            continue;  // the parser refuses it before any automaton sees it
        }
        RegexAutomaton table;
        RegexAutomaton states;
        ASSERT_TRUE(table.Compile(pattern, icase)) << pattern;
        ASSERT_TRUE(states.Compile(pattern, icase, 0)) << pattern;
        ASSERT_FALSE(states.HasTable());
        RegexScratch scratch;
        for (int n = 0; n < 40; ++n) {
            const std::string name = RandomName(rng);
            const bool want = std::regex_search(name, library);
            ASSERT_EQ(table.Search(name, scratch), want)
                << "pattern '" << pattern << "' name '" << name << "' icase " << icase;
            ASSERT_EQ(states.Search(name, scratch), want)
                << "states, pattern '" << pattern << "' name '" << name << "' icase " << icase;
        }
        ++compared;
    }
    EXPECT_GT(compared, 3000);
}

// What a finite automaton cannot do is refused, so the caller keeps the library.
TEST(RegexAutomaton, RefusesWhatItCannotExpress) {
    for (const char* pattern :
         {"(a)\\1", "a(?=b)", "a(?!b)", "[[.a.]]", "[[=a=]]", "(", "a{2,1}", "[z-a]", "*a", "^*", "\\", "a{99999}"}) {
        RegexAutomaton automaton;
        EXPECT_FALSE(automaton.Compile(pattern, false)) << pattern;
    }
}

// Linear time and constant stack on a long text, including where a backtracking
// matcher would take exponential time.
TEST(RegexAutomaton, LongTextsInOnePass) {
    std::string text(200000, 'a');
    for (bool table : {true, false}) {
        RegexAutomaton automaton;
        ASSERT_TRUE(automaton.Compile("(a|aa)*(a*)*b", false, table ? RegexAutomaton::kMaxDfaStates : 0));
        RegexScratch scratch;
        EXPECT_FALSE(automaton.Search(text, scratch));
        EXPECT_TRUE(automaton.Search(text + "b", scratch));
    }
    // Nested quantifiers keep one copy of what they repeat, as the library does.
    RegexAutomaton nested;
    ASSERT_TRUE(nested.Compile("(?:a" + std::string(30, '+') + ")b", false));
    RegexScratch scratch;
    EXPECT_TRUE(nested.Search(text + "b", scratch));
    // A pattern whose table would need 2^20 states is matched state set by state set.
    RegexAutomaton wide;
    ASSERT_TRUE(wide.Compile("a.{20}b", false));
    EXPECT_FALSE(wide.HasTable());
    EXPECT_TRUE(wide.Search(text + std::string(20, 'c') + "b", scratch));
    EXPECT_FALSE(wide.Search(text + std::string(21, 'c') + "b", scratch));
}

}  // namespace
}  // namespace ov
