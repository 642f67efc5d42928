// An ECMAScript regular expression read as std::regex reads it, laid out as a
// Thompson automaton over bytes: the program RegexAutomaton runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ov {

struct RegexProgram {
    using ByteSet = std::array<uint64_t, 4>;
    enum Op : uint8_t { kByte, kSplit, kAssert, kMatch };
    enum Assertion : uint8_t { kLineBegin, kLineEnd, kWordBoundary, kNotWordBoundary };
    struct Inst {
        uint8_t op;
        uint8_t assertion;  // kAssert
        uint32_t next;
        uint32_t alt;  // kSplit: the second branch; kByte: the index of its byte set
    };

    // Past these a pattern is refused: instructions, and nesting of groups and
    // quantifiers (the compiler recurses through it, under 1 KiB a level). The
    // depth must not be lower than the query's cost budget lets through: a
    // pattern refused here falls to the library's far slower matcher.
    static constexpr size_t kMaxInstructions = 20000;
    static constexpr int kMaxDepth = 512;

    std::vector<Inst> insts;  // insts[0] is the match
    std::vector<ByteSet> sets;
    ByteSet wordBytes{};  // the bytes \b and \B count as word characters
    uint32_t start = 0;
};

// Reads pattern as libstdc++ reads ECMAScript, icase as its flag, with the case
// mapping and character classes of the global locale. False, leaving out empty,
// when the pattern is not valid or needs what a finite automaton does not give:
// back-references, lookahead, collating elements and equivalence classes, or more
// than the limits above. May throw std::bad_alloc, leaving out empty: a pattern
// that memory could not hold is not an invalid one.
bool CompileRegex(std::string_view pattern, bool icase, RegexProgram& out);

}  // namespace ov
