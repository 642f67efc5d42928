// Regular expressions as byte automata.
//
// Why not std::regex at search time: libstdc++'s linear-time (polynomial) matcher
// allocates its state on every call, dozens of blocks for a short name, and the
// Windows build's heap (measured under Wine) serialises those allocations on one
// lock, so threads matching names at once queue on it. Here the pattern is
// compiled once per search (regex_compiler.h) into a table-driven automaton:
// matching a name is one table lookup per byte, reading shared tables and
// writing nothing.
//
// Matching asks only whether a match exists, so capture groups, greediness and
// the order of alternatives do not matter, and an unanchored search is the
// automaton restarted at every position. The table is the subset construction
// over that, built eagerly: a state is the set of instructions to resume at the
// next position plus whether the previous byte was a word byte (for \b), and a
// transition first follows the splits and assertions at the current position,
// knowing the next byte, then consumes it. Bytes that every test treats alike
// share a column. States from which no match can follow are merged into one dead
// state, so a search stops at the first byte that rules a match out, as soon as
// a match is certain, or at the end of the text through the end-of-text column.
// When the table would grow past its budget, Search runs the same construction
// one position at a time over sets of instructions instead (still linear in the
// text, times the pattern's size), with the working space in the caller's scratch.
#include "index/regex_automaton.h"

#include <algorithm>
#include <exception>
#include <string>
#include <unordered_map>

namespace ov {
namespace {

using Inst = RegexProgram::Inst;
using enum RegexProgram::Op;
using enum RegexProgram::Assertion;

// What a position looks like to the assertions.
constexpr unsigned kAtBegin = 1;
constexpr unsigned kAtEnd = 2;
constexpr unsigned kPrevWord = 4;
constexpr unsigned kNextWord = 8;

inline bool HasByte(const RegexProgram::ByteSet& set, unsigned char b) {
    return (set[b >> 6] >> (b & 63)) & 1;
}

inline bool Holds(uint8_t assertion, unsigned context) {
    switch (assertion) {
        case kLineBegin:
            return context & kAtBegin;
        case kLineEnd:
            return context & kAtEnd;
        case kWordBoundary:
            return ((context & kPrevWord) != 0) != ((context & kNextWord) != 0);
        default:
            return ((context & kPrevWord) != 0) == ((context & kNextWord) != 0);
    }
}

void SizeScratch(RegexScratch& scratch, size_t instructions) {
    if (scratch.marks.size() >= instructions) return;
    scratch.marks.assign(instructions, 0);
    scratch.stamp = 0;
    scratch.stack.resize(instructions);
    scratch.pending.resize(instructions);
    scratch.closure.resize(instructions);
}

}  // namespace

bool RegexAutomaton::Compile(std::string_view pattern, bool icase, size_t maxDfaStates,
                             const std::atomic<bool>* cancel) {
    *this = RegexAutomaton();
    try {
        if (!CompileRegex(pattern, icase, program)) return false;
        RegexScratch scratch;
        SizeScratch(scratch, program.insts.size());
        deadWithoutState = true;
        size_t steps = 0;
        for (unsigned context = 0; context < 16; context += 2) {  // every context but the text's start
            size_t reached = 0;
            if (Closure(nullptr, 0, context, scratch, scratch.closure.data(), reached, steps) || reached != 0)
                deadWithoutState = false;
        }
        if (maxDfaStates > 0) BuildTable(maxDfaStates, cancel);
        return true;
    } catch (const std::exception&) {  // bad_alloc
        *this = RegexAutomaton();
        return false;
    }
}

bool RegexAutomaton::Closure(const uint32_t* from, size_t count, unsigned context, RegexScratch& scratch, uint32_t* out,
                             size_t& outCount, size_t& steps) const {
    uint32_t stamp = ++scratch.stamp;
    if (stamp == 0) {
        std::fill(scratch.marks.begin(), scratch.marks.end(), 0);
        stamp = scratch.stamp = 1;
    }
    uint32_t* marks = scratch.marks.data();
    uint32_t* stack = scratch.stack.data();
    size_t top = 0;
    auto push = [&](uint32_t pc) {
        if (marks[pc] != stamp) {
            marks[pc] = stamp;
            stack[top++] = pc;
        }
    };
    for (size_t i = 0; i <= count; ++i) {
        push(i < count ? from[i] : program.start);  // the search may begin a match here
        while (top > 0) {
            const Inst& inst = program.insts[stack[--top]];
            ++steps;
            switch (inst.op) {
                case kByte:
                    out[outCount++] = static_cast<uint32_t>(&inst - program.insts.data());
                    break;
                case kSplit:
                    push(inst.alt);
                    push(inst.next);
                    break;
                case kAssert:
                    if (Holds(inst.assertion, context)) push(inst.next);
                    break;
                default:
                    return true;
            }
        }
    }
    return false;
}

bool RegexAutomaton::SearchStates(std::string_view text, RegexScratch& scratch) const {
    SizeScratch(scratch, program.insts.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t length = text.size();
    uint32_t* pending = scratch.pending.data();
    uint32_t* reached = scratch.closure.data();
    size_t pendingCount = 0;
    size_t steps = 0;
    bool prevWord = false;
    for (size_t i = 0;; ++i) {
        if (i > 0 && pendingCount == 0 && deadWithoutState) return false;
        const bool nextWord = i < length && HasByte(program.wordBytes, bytes[i]);
        const unsigned context = (i == 0 ? kAtBegin : 0) | (i == length ? kAtEnd : 0) | (prevWord ? kPrevWord : 0) |
                                 (nextWord ? kNextWord : 0);
        size_t reachedCount = 0;
        if (Closure(pending, pendingCount, context, scratch, reached, reachedCount, steps)) return true;
        if (i == length) return false;
        pendingCount = 0;
        for (size_t k = 0; k < reachedCount; ++k) {
            const Inst& inst = program.insts[reached[k]];
            if (HasByte(program.sets[inst.alt], bytes[i])) pending[pendingCount++] = inst.next;
        }
        prevWord = nextWord;
    }
}

void RegexAutomaton::BuildTable(size_t maxStates, const std::atomic<bool>* cancel) {
    // Byte classes: bytes no test (and no word boundary) tells apart.
    bool wordTests = false;
    for (const Inst& inst : program.insts)
        wordTests = wordTests || (inst.op == kAssert && inst.assertion >= kWordBoundary);
    std::array<uint32_t, 256> cls{};
    uint32_t classes = 1;
    auto refine = [&](const RegexProgram::ByteSet& set) {
        std::unordered_map<uint32_t, uint32_t> renumber;
        for (int b = 0; b < 256; ++b) {
            const uint32_t key = cls[b] * 2 + (HasByte(set, static_cast<unsigned char>(b)) ? 1 : 0);
            cls[b] = renumber.emplace(key, static_cast<uint32_t>(renumber.size())).first->second;
        }
        classes = static_cast<uint32_t>(renumber.size());
    };
    for (const Inst& inst : program.insts)
        if (inst.op == kByte) refine(program.sets[inst.alt]);
    if (wordTests) refine(program.wordBytes);
    std::array<unsigned char, 256> representative{};
    for (int b = 255; b >= 0; --b) representative[cls[b]] = static_cast<unsigned char>(b);
    const uint32_t width = classes + 1;  // the last column is the text's end

    // States: the sorted instructions to resume, then the context byte.
    std::unordered_map<std::string, uint32_t> ids;
    std::vector<std::string> keys(2);  // 0 dead, 1 matched
    std::vector<uint32_t> next(2 * static_cast<size_t>(width), 0);
    for (uint32_t k = 0; k < width; ++k) next[width + k] = 1;
    bool overflow = false;
    auto intern = [&](std::vector<uint32_t>& resume, unsigned context) -> uint32_t {
        std::sort(resume.begin(), resume.end());
        resume.erase(std::unique(resume.begin(), resume.end()), resume.end());
        std::string key(resume.size() * sizeof(uint32_t) + 1, '\0');
        key[0] = static_cast<char>(context);
        std::copy_n(reinterpret_cast<const char*>(resume.data()), resume.size() * sizeof(uint32_t), key.data() + 1);
        const auto [it, added] = ids.emplace(key, static_cast<uint32_t>(keys.size()));
        if (added) {
            if (keys.size() >= maxStates + 2 || next.size() + width > (size_t{1} << 20)) {
                overflow = true;
                return 0;
            }
            keys.push_back(std::move(key));
            next.resize(next.size() + width, 0);
        }
        return it->second;
    };

    RegexScratch scratch;
    SizeScratch(scratch, program.insts.size());
    std::vector<uint32_t> resume;
    std::vector<uint32_t> reached[2];
    std::vector<uint32_t> atEnd(program.insts.size());
    size_t steps = 0;
    resume.clear();
    const uint32_t first = intern(resume, kAtBegin);
    for (uint32_t state = 2; state < keys.size() && !overflow; ++state) {
        const std::string key = keys[state];
        const unsigned context = static_cast<unsigned char>(key[0]);
        std::vector<uint32_t> from((key.size() - 1) / sizeof(uint32_t));
        std::copy_n(key.data() + 1, key.size() - 1, reinterpret_cast<char*>(from.data()));
        bool matched[2] = {false, false};
        bool known[2] = {false, false};
        for (uint32_t k = 0; k < classes && !overflow; ++k) {
            const unsigned char b = representative[k];
            const int w = HasByte(program.wordBytes, b) ? 1 : 0;
            if (!known[w]) {
                reached[w].resize(program.insts.size());
                size_t count = 0;
                matched[w] = Closure(from.data(), from.size(), context | (w ? kNextWord : 0), scratch,
                                     reached[w].data(), count, steps);
                reached[w].resize(count);
                known[w] = true;
            }
            uint32_t target = 1;
            if (!matched[w]) {
                resume.clear();
                for (uint32_t pc : reached[w])
                    if (HasByte(program.sets[program.insts[pc].alt], b)) resume.push_back(program.insts[pc].next);
                target = intern(resume, wordTests && w ? kPrevWord : 0);
            }
            next[size_t{state} * width + k] = target;
        }
        size_t count = 0;
        next[size_t{state} * width + classes] =
            Closure(from.data(), from.size(), context | kAtEnd, scratch, atEnd.data(), count, steps) ? 1 : 0;
        if (steps > kMaxBuildSteps || (cancel && cancel->load(std::memory_order_relaxed))) overflow = true;
    }
    if (overflow) return;  // Search works state set by state set instead

    // States that cannot lead to a match become the dead state.
    const size_t states = keys.size();
    std::vector<std::vector<uint32_t>> sources(states);
    for (uint32_t s = 2; s < states; ++s)
        for (uint32_t k = 0; k < width; ++k) sources[next[size_t{s} * width + k]].push_back(s);
    std::vector<bool> live(states, false);
    std::vector<uint32_t> work = {1};
    live[1] = true;
    while (!work.empty()) {
        const uint32_t s = work.back();
        work.pop_back();
        for (uint32_t from : sources[s]) {
            if (!live[from]) {
                live[from] = true;
                work.push_back(from);
            }
        }
    }
    table.resize(next.size());
    for (size_t i = 0; i < next.size(); ++i) table[i] = live[next[i]] ? next[i] * width : 0;
    for (int b = 0; b < 256; ++b) classOf[b] = static_cast<uint8_t>(cls[b]);
    stride = width;
    startRow = live[first] ? first * width : 0;
}

bool RegexAutomaton::Search(std::string_view text, RegexScratch& scratch) const {
    if (table.empty()) return SearchStates(text, scratch);
    const uint32_t* t = table.data();
    const uint32_t settled = 2 * stride;  // rows below: dead or matched
    uint32_t row = startRow;
    for (const char c : text) {
        row = t[row + classOf[static_cast<unsigned char>(c)]];
        if (row < settled) return row != 0;
    }
    return t[row + stride - 1] != 0;
}

}  // namespace ov
