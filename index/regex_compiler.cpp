// Reading an ECMAScript pattern the way libstdc++'s std::regex compiler reads it:
// token by token with the same scanner states, escapes, bracket rules (the
// remembered last character of a range, '-' as a plain character where it cannot
// start one), quantifier stacking and case mapping through the global locale's
// ctype facet. Both therefore accept the same patterns and give every character
// test the same meaning, which the compiler folds into a set of the 256 bytes.
// The syntax tree is laid out as a Thompson automaton: byte tests, splits and the
// zero-width assertions ^, $, \b and \B. Recursion is bounded by kMaxDepth and the
// size by kMaxInstructions, both checked before anything is laid out.
#include "index/regex_compiler.h"

#include <algorithm>
#include <exception>
#include <locale>
#include <optional>
#include <string>

namespace ov {
namespace {

using ByteSet = RegexProgram::ByteSet;
using Inst = RegexProgram::Inst;
using enum RegexProgram::Op;
using enum RegexProgram::Assertion;

constexpr uint32_t kUnbounded = UINT32_MAX;
constexpr uint32_t kNoNode = UINT32_MAX;

inline void AddByte(ByteSet& set, unsigned char b) {
    set[b >> 6] |= uint64_t{1} << (b & 63);
}

// Character tests as std::regex_traits<char> answers them for the compiler.
class CharRules {
public:
    struct Class {
        std::ctype_base::mask base = 0;
        bool underscore = false;
    };

    explicit CharRules(bool icase) : ctype(std::use_facet<std::ctype<char>>(std::locale())), icase(icase) {}

    char Translate(char c) const { return icase ? ctype.tolower(c) : c; }
    bool IsUpper(char c) const { return ctype.is(std::ctype_base::upper, c); }
    bool IsDigit(char c) const { return ctype.is(std::ctype_base::digit, c); }
    bool IsXDigit(char c) const { return ctype.is(std::ctype_base::xdigit, c); }
    bool IsClass(char c, const Class& k) const { return ctype.is(k.base, c) || (k.underscore && c == '_'); }

    // A class name as the traits look it up: lowered, and with icase "lower" and
    // "upper" both mean letters.
    std::optional<Class> LookupClass(std::string_view name) const {
        using B = std::ctype_base;
        static const struct {
            const char* name;
            B::mask base;
            bool underscore;
        } kNames[] = {
            {"d", B::digit, false},     {"w", B::alnum, true},      {"s", B::space, false},
            {"alnum", B::alnum, false}, {"alpha", B::alpha, false}, {"blank", B::blank, false},
            {"cntrl", B::cntrl, false}, {"digit", B::digit, false}, {"graph", B::graph, false},
            {"lower", B::lower, false}, {"print", B::print, false}, {"punct", B::punct, false},
            {"space", B::space, false}, {"upper", B::upper, false}, {"xdigit", B::xdigit, false},
        };
        std::string lowered;
        for (char c : name) lowered += ctype.narrow(ctype.tolower(c), 0);
        for (const auto& row : kNames) {
            if (lowered != row.name) continue;
            if (icase && (row.base & (B::lower | B::upper)) != 0) return Class{B::alpha, false};
            return Class{row.base, row.underscore};
        }
        return std::nullopt;
    }

    bool InRange(char first, char last, char c) const {
        if (!icase) return first <= c && c <= last;
        const char lower = ctype.tolower(c);
        const char upper = ctype.toupper(c);
        return (first <= lower && lower <= last) || (first <= upper && upper <= last);
    }

    const std::ctype<char>& ctype;
    const bool icase;
};

// The tokens of libstdc++'s scanner in ECMAScript mode, with its state machine.
enum class Tok : uint8_t {
    AnyChar,
    OrdChar,
    HexNum,
    Backref,
    GroupBegin,
    LookaheadBegin,
    GroupEnd,
    BracketBegin,
    BracketNegBegin,
    BracketEnd,
    IntervalBegin,
    IntervalEnd,
    QuotedClass,
    ClassName,
    CollSymbol,
    EquivClass,
    Opt,
    Or,
    Closure0,
    Closure1,
    LineBegin,
    LineEnd,
    WordBound,
    Comma,
    DupCount,
    BracketDash,
    Eof,
    Bad,
};

class Scanner {
public:
    Scanner(std::string_view pattern, const CharRules& rules)
        : cur(pattern.data()), end(pattern.data() + pattern.size()), rules(rules) {
        Advance();
    }

    Tok token = Tok::Eof;
    std::string value;

    void Advance() {
        if (cur == end) {
            // libstdc++ leaves its state as is; only the bracket scanner objects.
            token = state == kInBracket || state == kInBrace ? Tok::Bad : Tok::Eof;
            return;
        }
        if (state == kNormal)
            ScanNormal();
        else if (state == kInBracket)
            ScanInBracket();
        else
            ScanInBrace();
    }

private:
    enum State { kNormal, kInBracket, kInBrace };

    void Set(Tok t, char c) {
        token = t;
        value.assign(1, c);
    }

    void ScanNormal() {
        const char c = *cur++;
        if (c != '\0' && std::string_view("^$\\.*+?()[]{}|").find(c) == std::string_view::npos)
            return Set(Tok::OrdChar, c);
        if (c == '\\') {
            if (cur == end) {
                token = Tok::Bad;
                return;
            }
            return EatEscape();
        }
        if (c == '(') {
            if (cur != end && *cur == '?') {
                if (++cur == end) {
                    token = Tok::Bad;
                } else if (*cur == ':') {
                    ++cur;
                    token = Tok::GroupBegin;
                } else if (*cur == '=' || *cur == '!') {
                    ++cur;
                    token = Tok::LookaheadBegin;
                } else {
                    token = Tok::Bad;
                }
            } else {
                token = Tok::GroupBegin;
            }
        } else if (c == ')') {
            token = Tok::GroupEnd;
        } else if (c == '[') {
            state = kInBracket;
            atBracketStart = true;
            if (cur != end && *cur == '^') {
                token = Tok::BracketNegBegin;
                ++cur;
            } else {
                token = Tok::BracketBegin;
            }
        } else if (c == '{') {
            state = kInBrace;
            token = Tok::IntervalBegin;
        } else if (c == '\0' || c == ']' || c == '}') {
            Set(Tok::OrdChar, c);
        } else {
            static const std::pair<char, Tok> kTable[] = {
                {'^', Tok::LineBegin}, {'$', Tok::LineEnd}, {'.', Tok::AnyChar}, {'*', Tok::Closure0},
                {'+', Tok::Closure1},  {'?', Tok::Opt},     {'|', Tok::Or},
            };
            token = Tok::Bad;
            for (const auto& [ch, t] : kTable)
                if (ch == c) token = t;
        }
    }

    void ScanInBracket() {
        const char c = *cur++;
        if (c == '-') {
            token = Tok::BracketDash;
        } else if (c == '[') {
            if (cur == end) {
                token = Tok::Bad;
            } else if (*cur == '.' || *cur == ':' || *cur == '=') {
                const char kind = *cur++;
                token = kind == '.' ? Tok::CollSymbol : kind == ':' ? Tok::ClassName : Tok::EquivClass;
                EatClass(kind);
            } else {
                Set(Tok::OrdChar, c);
            }
        } else if (c == ']') {
            token = Tok::BracketEnd;
            state = kNormal;
        } else if (c == '\\') {
            EatEscape();
        } else {
            Set(Tok::OrdChar, c);
        }
        atBracketStart = false;
    }

    void ScanInBrace() {
        const char c = *cur++;
        if (rules.IsDigit(c)) {
            Set(Tok::DupCount, c);
            while (cur != end && rules.IsDigit(*cur)) value += *cur++;
        } else if (c == ',') {
            token = Tok::Comma;
        } else if (c == '}') {
            state = kNormal;
            token = Tok::IntervalEnd;
        } else {
            token = Tok::Bad;
        }
    }

    void EatEscape() {
        if (cur == end) {
            token = Tok::Bad;
            return;
        }
        const char c = *cur++;
        static const std::pair<char, char> kEscapes[] = {{'0', '\0'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                                         {'r', '\r'}, {'t', '\t'}, {'v', '\v'}};
        for (const auto& [from, to] : kEscapes) {
            if (from == c && (c != 'b' || state == kInBracket)) return Set(Tok::OrdChar, to);
        }
        if (c == 'b' || c == 'B') {
            Set(Tok::WordBound, c == 'B' ? 'n' : 'p');
        } else if (std::string_view("dDsSwW").find(c) != std::string_view::npos) {
            Set(Tok::QuotedClass, c);
        } else if (c == 'c') {
            if (cur == end) {
                token = Tok::Bad;
                return;
            }
            Set(Tok::OrdChar, *cur++);
        } else if (c == 'x' || c == 'u') {
            value.clear();
            for (int i = 0; i < (c == 'x' ? 2 : 4); ++i) {
                if (cur == end || !rules.IsXDigit(*cur)) {
                    token = Tok::Bad;
                    return;
                }
                value += *cur++;
            }
            token = Tok::HexNum;
        } else if (rules.IsDigit(c)) {
            Set(Tok::Backref, c);
            while (cur != end && rules.IsDigit(*cur)) value += *cur++;
        } else {
            Set(Tok::OrdChar, c);
        }
    }

    // "[:name:]" and its kin; cur is past the opening pair.
    void EatClass(char kind) {
        value.clear();
        while (cur != end && *cur != kind) value += *cur++;
        if (cur == end || *cur++ != kind || cur == end || *cur++ != ']') token = Tok::Bad;
    }

    const char* cur;
    const char* end;
    const CharRules& rules;
    State state = kNormal;
    bool atBracketStart = false;
};

// The syntax tree, nodes in one vector.
struct Node {
    enum Kind : uint8_t { kEmpty, kSet, kAssert, kConcat, kAlt, kRepeat };
    Kind kind = kEmpty;
    uint8_t assertion = 0;
    uint32_t set = 0;
    uint32_t min = 0;
    uint32_t max = 0;
    uint32_t depth = 1;
    uint64_t size = 0;  // instructions it will take
    std::vector<uint32_t> children;
};

// Mirrors libstdc++'s _Compiler, building the tree instead of its automaton.
class Parser {
public:
    Parser(std::string_view pattern, const CharRules& rules, std::vector<Node>& nodes, std::vector<ByteSet>& sets)
        : scan(pattern, rules), rules(rules), nodes(nodes), sets(sets) {}

    // The root, or kNoNode when the pattern is refused.
    uint32_t Parse() {
        const uint32_t root = Disjunction(0);
        if (root == kNoNode || scan.token != Tok::Eof) return kNoNode;
        return root;
    }

private:
    bool Take(Tok t) {
        if (scan.token != t) return false;
        value = scan.value;
        scan.Advance();
        return true;
    }

    uint32_t Add(Node node) {
        for (uint32_t child : node.children) node.depth = std::max(node.depth, nodes[child].depth + 1);
        if (node.depth > RegexProgram::kMaxDepth || node.size > RegexProgram::kMaxInstructions) return kNoNode;
        nodes.push_back(std::move(node));
        return static_cast<uint32_t>(nodes.size() - 1);
    }

    uint32_t AddSet(const ByteSet& set) {
        sets.push_back(set);
        Node n;
        n.kind = Node::kSet;
        n.set = static_cast<uint32_t>(sets.size() - 1);
        n.size = 1;
        return Add(std::move(n));
    }

    template <class Test>
    ByteSet SetOf(Test&& test) const {
        ByteSet set{};
        for (int b = 0; b < 256; ++b)
            if (test(static_cast<char>(b))) AddByte(set, static_cast<unsigned char>(b));
        return set;
    }

    uint32_t Disjunction(int depth) {
        if (depth > RegexProgram::kMaxDepth) return kNoNode;
        Node alt;
        alt.kind = Node::kAlt;
        do {
            const uint32_t branch = Alternative(depth);
            if (branch == kNoNode) return kNoNode;
            alt.children.push_back(branch);
            alt.size += nodes[branch].size + 1;
        } while (Take(Tok::Or));
        if (alt.children.size() == 1) return alt.children[0];
        return Add(std::move(alt));
    }

    uint32_t Alternative(int depth) {
        Node seq;
        seq.kind = Node::kConcat;
        for (;;) {
            bool refused = false;
            const uint32_t term = Term(depth, refused);
            if (refused) return kNoNode;
            if (term == kNoNode) break;
            seq.children.push_back(term);
            seq.size += nodes[term].size;
        }
        if (seq.children.size() == 1) return seq.children[0];
        return Add(std::move(seq));
    }

    // kNoNode with refused false: no term starts here.
    uint32_t Term(int depth, bool& refused) {
        uint32_t node = kNoNode;
        if (Assertion(node, refused)) return node;  // a quantifier may not follow an assertion
        if (refused) return kNoNode;
        node = Atom(depth, refused);
        if (node == kNoNode) return kNoNode;
        for (;;) {
            uint32_t min = 0;
            uint32_t max = kUnbounded;
            if (Take(Tok::Closure0)) {
            } else if (Take(Tok::Closure1)) {
                min = 1;
            } else if (Take(Tok::Opt)) {
                max = 1;
            } else if (Take(Tok::IntervalBegin)) {
                if (!Take(Tok::DupCount)) return Refuse(refused);
                min = max = Count();
                if (Take(Tok::Comma)) max = Take(Tok::DupCount) ? Count() : kUnbounded;
                if (!Take(Tok::IntervalEnd) || max < min) return Refuse(refused);
            } else {
                return node;
            }
            Take(Tok::Opt);  // non-greedy: the same set of matches
            Node rep;
            rep.kind = Node::kRepeat;
            rep.min = min;
            rep.max = max;
            rep.children = {node};
            const uint64_t body = nodes[node].size;
            // x{n,} lays out n copies (the last one looping), x{n,m} m copies and m - n splits.
            rep.size = max == kUnbounded ? std::max<uint64_t>(min, 1) * body + 1
                                         : uint64_t{min} * body + (uint64_t{max} - min) * (body + 1);
            node = Add(std::move(rep));
            if (node == kNoNode) return Refuse(refused);
        }
    }

    uint32_t Refuse(bool& refused) {
        refused = true;
        return kNoNode;
    }

    // A repeat count, saturated: one this large blows the instruction budget anyway.
    uint32_t Count() const {
        uint32_t count = 0;
        for (char d : value) count = std::min<uint32_t>(count * 10 + static_cast<uint32_t>(d - '0'), 10000000);
        return count;
    }

    bool Assertion(uint32_t& node, bool& refused) {
        Node n;
        n.kind = Node::kAssert;
        n.size = 1;
        if (Take(Tok::LineBegin)) {
            n.assertion = kLineBegin;
        } else if (Take(Tok::LineEnd)) {
            n.assertion = kLineEnd;
        } else if (Take(Tok::WordBound)) {
            n.assertion = value[0] == 'n' ? kNotWordBoundary : kWordBoundary;
        } else {
            if (scan.token == Tok::LookaheadBegin) refused = true;
            return false;
        }
        node = Add(std::move(n));
        if (node == kNoNode) refused = true;
        return node != kNoNode;
    }

    // The character of an ordinary or hex token; false for any other token.
    bool TakeChar(char& c) {
        if (Take(Tok::HexNum)) {
            c = static_cast<char>(std::stoul(value, nullptr, 16));
            return true;
        }
        if (Take(Tok::OrdChar)) {
            c = value[0];
            return true;
        }
        return false;
    }

    uint32_t Atom(int depth, bool& refused) {
        char c;
        if (Take(Tok::AnyChar)) {
            const char nl = rules.Translate('\n');
            const char cr = rules.Translate('\r');
            return AddSet(SetOf([&](char b) { return rules.Translate(b) != nl && rules.Translate(b) != cr; }));
        }
        if (TakeChar(c)) {
            const char want = rules.Translate(c);
            return AddSet(SetOf([&](char b) { return rules.Translate(b) == want; }));
        }
        if (Take(Tok::QuotedClass)) {
            Bracket bracket;
            bracket.negated = rules.IsUpper(value[0]);
            if (!bracket.AddClass(rules, value, false)) return Refuse(refused);
            return AddSet(bracket.Bytes(rules));
        }
        if (Take(Tok::GroupBegin)) {
            const uint32_t inner = Disjunction(depth + 1);
            if (inner == kNoNode || !Take(Tok::GroupEnd)) return Refuse(refused);
            return inner;
        }
        const bool negated = scan.token == Tok::BracketNegBegin;
        if (Take(Tok::BracketBegin) || Take(Tok::BracketNegBegin)) {
            Bracket bracket;
            bracket.negated = negated;
            if (!BracketBody(bracket)) return Refuse(refused);
            return AddSet(bracket.Bytes(rules));
        }
        if (scan.token == Tok::Backref || scan.token == Tok::Bad) refused = true;
        return kNoNode;
    }

    struct Bracket {
        std::vector<char> chars;  // translated
        std::vector<std::pair<char, char>> ranges;
        CharRules::Class classes;
        std::vector<CharRules::Class> negatedClasses;
        bool negated = false;

        bool AddClass(const CharRules& rules, std::string_view name, bool negate) {
            const std::optional<CharRules::Class> k = rules.LookupClass(name);
            if (!k) return false;
            if (negate) {
                negatedClasses.push_back(*k);
            } else {
                classes.base |= k->base;
                classes.underscore |= k->underscore;
            }
            return true;
        }

        ByteSet Bytes(const CharRules& rules) const {
            ByteSet set{};
            for (int b = 0; b < 256; ++b) {
                const char c = static_cast<char>(b);
                bool hit = std::find(chars.begin(), chars.end(), rules.Translate(c)) != chars.end() ||
                           rules.IsClass(c, classes);
                for (const auto& [first, last] : ranges) hit = hit || rules.InRange(first, last, c);
                for (const CharRules::Class& k : negatedClasses) hit = hit || !rules.IsClass(c, k);
                if (hit != negated) AddByte(set, static_cast<unsigned char>(b));
            }
            return set;
        }
    };

    // After '[' or "[^": the terms up to ']' as libstdc++ reads them, with its
    // memory of the last single character for ranges.
    bool BracketBody(Bracket& bracket) {
        enum class Last { kNone, kChar, kClass } last = Last::kNone;
        char lastChar = 0;
        auto pushChar = [&](char c) {
            if (last == Last::kChar) bracket.chars.push_back(rules.Translate(lastChar));
            last = Last::kChar;
            lastChar = c;
        };
        auto pushClass = [&] {
            if (last == Last::kChar) bracket.chars.push_back(rules.Translate(lastChar));
            last = Last::kClass;
        };
        char c;
        if (TakeChar(c)) {
            pushChar(c);
        } else if (Take(Tok::BracketDash)) {
            pushChar('-');
        }
        for (;;) {
            if (Take(Tok::BracketEnd)) break;
            if (Take(Tok::ClassName)) {
                pushClass();
                if (!bracket.AddClass(rules, value, false)) return false;
            } else if (TakeChar(c)) {
                pushChar(c);
            } else if (Take(Tok::BracketDash)) {
                if (Take(Tok::BracketEnd)) {
                    pushChar('-');
                    break;
                }
                if (last == Last::kClass) return false;
                if (last == Last::kChar) {
                    char to;
                    if (TakeChar(to)) {
                    } else if (Take(Tok::BracketDash)) {
                        to = '-';
                    } else {
                        return false;
                    }
                    if (lastChar > to) return false;
                    bracket.ranges.emplace_back(lastChar, to);
                    last = Last::kNone;
                } else {
                    pushChar('-');
                }
            } else if (Take(Tok::QuotedClass)) {
                pushClass();
                if (!bracket.AddClass(rules, value, rules.IsUpper(value[0]))) return false;
            } else {
                return false;  // collating elements, equivalence classes, or no valid term
            }
        }
        if (last == Last::kChar) bracket.chars.push_back(rules.Translate(lastChar));
        return true;
    }

    Scanner scan;
    const CharRules& rules;
    std::vector<Node>& nodes;
    std::vector<ByteSet>& sets;
    std::string value;  // of the token last taken
};

// Lays the tree out backwards: each piece is emitted knowing where it continues.
class Emitter {
public:
    Emitter(const std::vector<Node>& nodes, std::vector<Inst>& program) : nodes(nodes), program(program) {}

    uint32_t Emit(uint32_t id, uint32_t out) {
        const Node& n = nodes[id];
        switch (n.kind) {
            case Node::kEmpty:
                return out;
            case Node::kSet:
                return Push({kByte, 0, out, n.set});
            case Node::kAssert:
                return Push({kAssert, n.assertion, out, 0});
            case Node::kConcat:
                for (size_t i = n.children.size(); i-- > 0;) out = Emit(n.children[i], out);
                return out;
            case Node::kAlt: {
                uint32_t entry = Emit(n.children.back(), out);
                for (size_t i = n.children.size() - 1; i-- > 0;) {
                    const uint32_t branch = Emit(n.children[i], out);
                    entry = Push({kSplit, 0, branch, entry});
                }
                return entry;
            }
            default: {
                uint32_t cur = out;
                if (n.max == kUnbounded) {
                    // x* loops through a split; x+ is entered at x, so one copy serves both.
                    const uint32_t loop = Push({kSplit, 0, 0, out});
                    const uint32_t body = Emit(n.children[0], loop);
                    program[loop].next = body;
                    cur = n.min > 0 ? body : loop;
                } else {
                    // (x(x(x)?)?)? : every optional copy may leave straight to `out`.
                    for (uint32_t k = n.min; k < n.max; ++k) cur = Push({kSplit, 0, Emit(n.children[0], cur), out});
                }
                const uint32_t copies = n.max == kUnbounded && n.min > 0 ? n.min - 1 : n.min;
                for (uint32_t k = 0; k < copies; ++k) cur = Emit(n.children[0], cur);
                return cur;
            }
        }
    }

private:
    uint32_t Push(Inst inst) {
        program.push_back(inst);
        return static_cast<uint32_t>(program.size() - 1);
    }

    const std::vector<Node>& nodes;
    std::vector<Inst>& program;
};

}  // namespace

bool CompileRegex(std::string_view pattern, bool icase, RegexProgram& out) {
    out = RegexProgram();
    try {
        const CharRules rules(icase);
        std::vector<Node> nodes;
        Parser parser(pattern, rules, nodes, out.sets);
        const uint32_t root = parser.Parse();
        if (root == kNoNode) {
            out = RegexProgram();
            return false;
        }
        out.insts.reserve(static_cast<size_t>(nodes[root].size) + 1);
        out.insts.push_back({kMatch, 0, 0, 0});
        out.start = Emitter(nodes, out.insts).Emit(root, 0);
        const CharRules plain(false);
        const std::optional<CharRules::Class> word = plain.LookupClass("w");
        for (int b = 0; b < 256; ++b)
            if (plain.IsClass(static_cast<char>(b), *word)) AddByte(out.wordBytes, static_cast<unsigned char>(b));
        return true;
    } catch (const std::bad_alloc&) {
        out = RegexProgram();
        throw;
    } catch (const std::exception&) {  // length_error
        out = RegexProgram();
        return false;
    }
}

}  // namespace ov
