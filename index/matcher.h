// Term matching: whether one entry satisfies one term or a whole query, and the
// advance knowledge (needles, extension hashes) that lets a search skip most
// entries. A Matcher reads the index and is shared by a search's tasks.
//
// Locking: the index lock held shared for every Match; Prepare before the tasks
// start. Matching itself changes nothing, so many tasks may match at once, each
// with its own scratch.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "index/index.h"
#include "index/query.h"
#include "index/regex_automaton.h"

namespace ov {

// One search task's cache of the full path of the entry last tested, so the terms
// of one entry build its path at most once, and its regular-expression working
// space. Buffers keep their capacity from entry to entry.
struct MatchScratch {
    std::string foldedPath;
    std::string writtenPath;
    uint32_t foldedFor = kNoEntry;
    uint32_t writtenFor = kNoEntry;
    RegexScratch regex;
};

// The whole haystack against the whole pattern, bytewise: '*' any run of bytes,
// '?' one character (a byte and the UTF-8 continuation bytes after it).
bool WildcardMatch(std::string_view haystack, std::string_view pattern);

class Matcher {
public:
    // A backtracking regular-expression search is given at most this many bytes.
    static constexpr size_t kBacktrackBytes = 256;

    explicit Matcher(const Index& index) : index(index) {}
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    // Compiles the query's regular expressions into automata, once per search; a
    // term matched without it compiles its own on every call. *cancel found set
    // cuts the work short (the search is then dropped).
    void Prepare(const Query& query, const std::atomic<bool>* cancel = nullptr);

    // Whether the prepared query has regular expressions, whose cost per entry
    // can be far above a substring's.
    bool HasRegex() const { return !regexes.empty(); }

    // Whether one entry satisfies one term (negation applied).
    bool Match(const Term& term, uint32_t entry, MatchScratch& scratch) const;
    // Every group has a term that matches.
    bool Matches(const Query& query, uint32_t entry, MatchScratch& scratch) const;

    // Literal byte strings, one of which every hit must hold in its folded name.
    // False when no group gives needles of at least 2 bytes.
    static bool CollectNeedles(const Query& query, std::vector<std::string>& out);
    // The longest lower-cased literal run every match of the pattern contains, or
    // empty when there is none of at least 2 bytes.
    static std::string LongestRegexLiteral(const std::string& pattern);
    // Extension hashes, one of which every hit must carry. False when no group
    // consists of extension terms alone.
    static bool ExtHashes(const Query& query, std::vector<uint32_t>& out);

private:
    struct LinearPattern;  // a linear-time copy of a term's expression in the library's form
    // A term's expression as it is matched: by our automaton, else by the library.
    struct CompiledRegex {
        const std::regex* source = nullptr;
        std::unique_ptr<RegexAutomaton> automaton;    // null: a pattern it cannot express
        std::shared_ptr<const LinearPattern> linear;  // null too: the pattern needs backtracking
    };

    bool RawMatch(const Term& term, uint32_t entry, MatchScratch& scratch) const;
    bool NameMatch(const Term& term, uint32_t entry, MatchScratch& scratch) const;
    bool RegexFind(const Term& term, std::string_view haystack, MatchScratch& scratch) const;
    bool RegexFind(const CompiledRegex& compiled, std::string_view haystack, MatchScratch& scratch) const;
    std::string_view FoldedPath(uint32_t entry, MatchScratch& scratch) const;
    std::string_view WrittenPath(uint32_t entry, MatchScratch& scratch) const;
    static void Compile(const Term& term, CompiledRegex& out, const std::atomic<bool>* cancel = nullptr);
    static std::shared_ptr<const LinearPattern> CompileLinear(const Term& term);

    const Index& index;
    std::vector<CompiledRegex> regexes;
};

}  // namespace ov
