#include "index/mem_mem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace ov {
namespace {

const char* NaiveFind(const char* h, size_t hl, const char* n, size_t nl) {
    if (nl > hl) return nullptr;
    for (size_t i = 0; i + nl <= hl; ++i) {
        if (std::memcmp(h + i, n, nl) == 0) return h + i;
    }
    return nullptr;
}

// An exact-size heap copy, so a read past the end trips the address sanitizer.
std::unique_ptr<char[]> Exact(const std::string& s) {
    auto p = std::make_unique<char[]>(s.size() + (s.empty() ? 1 : 0));
    std::memcpy(p.get(), s.data(), s.size());
    return p;
}

TEST(MemMem, FindsLeftmostLikeNaiveSearchOnRandomText) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 20000; ++round) {
        const int alphabet = 1 + static_cast<int>(rng() % 4);  // few letters: many near misses
        const size_t hl = rng() % 200;
        const size_t nl = rng() % 41;
        std::string h(hl, 'a');
        std::string n(nl, 'a');
        for (char& c : h) c = static_cast<char>('a' + rng() % alphabet);
        for (char& c : n) c = static_cast<char>('a' + rng() % alphabet);
        if (nl <= hl && hl > 0 && rng() % 2) {
            // Plant the needle, often straddling a 16-byte step or ending the haystack.
            const size_t room = hl - nl;
            size_t at = rng() % (room + 1);
            if (rng() % 3 == 0) at = room;
            h.replace(at, nl, n);
        }
        auto hp = Exact(h);
        auto np = Exact(n);
        const char* want = NaiveFind(hp.get(), hl, np.get(), nl);
        const char* got = MemMem(hp.get(), hl, np.get(), nl);
        ASSERT_EQ(got, want) << "haystack '" << h << "' needle '" << n << "'";
    }
}

TEST(MemMem, EdgeCases) {
    struct Case {
        std::string hay;
        std::string needle;
        long want;  // offset, -1 for none
    } cases[] = {
        {"", "", 0},
        {"abc", "", 0},
        {"", "a", -1},
        {"ab", "abc", -1},
        {"abc", "c", 2},
        {std::string(47, 'x') + "yz", "yz", 47},                         // very end, scalar tail
        {std::string(64, 'x') + "needle", "needle", 64},                 // very end after whole blocks
        {std::string(15, 'x') + "ab" + std::string(40, 'x'), "ab", 15},  // across a 16-byte step
        {"axxxxxxxxxxxxxxxxxxxxxxb" + std::string(20, 'a') + "ab", "ab", 44},
        {std::string(30, 'a') + "b", std::string(30, 'a') + "b", 0},
        {std::string("a\0b\0ab", 6), std::string("\0a", 2), 3},
        {"\xC3\xA9t\xC3\xA9", "\xA9t\xC3", 1},
    };
    for (const auto& c : cases) {
        auto hp = Exact(c.hay);
        const char* got = MemMem(hp.get(), c.hay.size(), c.needle.data(), c.needle.size());
        const long offset = got ? static_cast<long>(got - hp.get()) : -1;
        EXPECT_EQ(offset, c.want) << "haystack of " << c.hay.size() << " bytes, needle '" << c.needle << "'";
    }
}

}  // namespace
}  // namespace ov
