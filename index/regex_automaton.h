// A regular expression compiled once into a byte automaton that tells whether
// the pattern occurs anywhere in a text, as std::regex_search with the ECMAScript
// grammar would: one pass over the text, constant stack, no allocation and no
// shared state touched while matching.
//
// Locking: Compile before sharing; then Search from any number of threads at
// once, each with its own RegexScratch.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "index/regex_compiler.h"

namespace ov {

// One task's working space for Search: sized on first use, reused after.
struct RegexScratch {
    std::vector<uint32_t> marks;  // stamp of the last closure that reached each instruction
    std::vector<uint32_t> stack;
    std::vector<uint32_t> pending;  // instructions to resume at the next position
    std::vector<uint32_t> closure;  // byte-consuming instructions reached at this position
    uint32_t stamp = 0;
};

class RegexAutomaton {
public:
    // Past these Search runs state sets instead of the table: its states, and the
    // closure steps spent building it.
    static constexpr size_t kMaxDfaStates = 4096;
    static constexpr size_t kMaxBuildSteps = 16000000;

    // CompileRegex, then the table. False, leaving the automaton empty, where
    // CompileRegex refuses the pattern. maxDfaStates 0 keeps the table from being
    // built (tests); *cancel found set gives the table up (the search is over
    // anyway). Never throws.
    bool Compile(std::string_view pattern, bool icase, size_t maxDfaStates = kMaxDfaStates,
                 const std::atomic<bool>* cancel = nullptr);

    // Whether the pattern matches somewhere in text. Compile must have
    // succeeded. Time linear in the text; scratch grows on its first use only.
    bool Search(std::string_view text, RegexScratch& scratch) const;

    bool HasTable() const { return !table.empty(); }

private:
    bool SearchStates(std::string_view text, RegexScratch& scratch) const;
    void BuildTable(size_t maxStates, const std::atomic<bool>* cancel);
    // Appends to out the byte tests reachable, without consuming input, from
    // `from` and from the start (a match may begin anywhere) at a position that
    // `context` describes; true as soon as the pattern's end is reached.
    bool Closure(const uint32_t* from, size_t count, unsigned context, RegexScratch& scratch, uint32_t* out,
                 size_t& outCount, size_t& steps) const;

    RegexProgram program;
    bool deadWithoutState = false;  // past the first byte, only resumed states can still match

    // The table, when built: per state one column per byte class plus one for the
    // text's end, holding the next state's row offset. Row 0 is the dead state
    // and row 1 the matched one, both absorbing.
    std::vector<uint32_t> table;
    std::array<uint8_t, 256> classOf{};
    uint32_t stride = 0;
    uint32_t startRow = 0;
};

}  // namespace ov
