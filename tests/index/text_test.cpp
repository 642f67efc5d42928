#include "index/text.h"

#include <gtest/gtest.h>

#include <random>

namespace ov {
namespace {

WString W(std::initializer_list<uint16_t> units) {
    WString s;
    for (auto u : units) s.push_back(static_cast<WChar>(u));
    return s;
}

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

TEST(Text, DecodesMalformedBytesLeniently) {
    struct Case {
        std::string in;
        WString out;
    } cases[] = {
        {B({0x80}), W({0x0000})},        // stray continuation byte
        {B({0xC3, 0x28}), W({0x00E8})},  // second byte's top bits ignored
        {B({0xE2, 0x82}), W({0x0082})},  // truncated at the end
        {B({0xC3}), W({0x0003})},        // lone lead byte
        {B({0xF0, 0x9F, 0x98, 0x80}), W({0xD83D, 0xDE00})},
        {B({0xED, 0xA0, 0x80}), W({0xD800})},  // lone surrogate survives
        {"abc", W({'a', 'b', 'c'})},
        {"", W({})},
    };
    for (const auto& c : cases) EXPECT_EQ(ToWide(c.in), c.out) << "input size " << c.in.size();
}

TEST(Text, EncodesPairsAndLoneSurrogates) {
    EXPECT_EQ(ToUtf8(W({0xD83D, 0xDE00})), B({0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(ToUtf8(W({0xD800})), B({0xED, 0xA0, 0x80}));
    EXPECT_EQ(ToUtf8(W({0xDC00, 0xD800})), B({0xED, 0xB0, 0x80, 0xED, 0xA0, 0x80}));
    EXPECT_EQ(ToUtf8(W({0x7F, 0x80, 0x7FF, 0x800, 0xFFFF})),
              B({0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}));
}

TEST(Text, EveryUtf16SequenceRoundTrips) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> unit(0, 0xFFFF), len(0, 40), pick(0, 3);
    for (int round = 0; round < 20000; ++round) {
        WString s;
        int n = len(rng);
        for (int i = 0; i < n; ++i) {
            int p = pick(rng);  // bias towards surrogates and ASCII, where mistakes hide
            uint16_t u = p == 0   ? static_cast<uint16_t>(0xD800 + unit(rng) % 0x800)
                         : p == 1 ? static_cast<uint16_t>(unit(rng) % 0x80)
                                  : static_cast<uint16_t>(unit(rng));
            s.push_back(static_cast<WChar>(u));
        }
        std::string utf8 = ToUtf8(s);
        ASSERT_EQ(ToWide(utf8), s) << "round " << round;
    }
}

TEST(Text, FoldsAsciiDirectlyAndOthersThroughThePlatform) {
    EXPECT_EQ(FoldCaseUtf8("ABC.TXT"), "abc.txt");
    EXPECT_EQ(FoldCaseUtf8(""), "");
    EXPECT_EQ(FoldCaseUtf8("\xC3\x89t\xC3\xA9.DOC"), "\xC3\xA9t\xC3\xA9.doc");        // Été
    EXPECT_EQ(FoldCaseUtf8("\xD0\x9C\xD0\x98\xD0\xA0"), "\xD0\xBC\xD0\xB8\xD1\x80");  // МИР
    // Folding never changes the number of UTF-16 units, nor touches lone surrogates.
    std::string odd = B({'A', 0xED, 0xA0, 0x80, 0xC3, 0x89});
    EXPECT_EQ(ToWide(FoldCaseUtf8(odd)).size(), ToWide(odd).size());
    EXPECT_EQ(FoldCaseUtf8(odd), B({'a', 0xED, 0xA0, 0x80, 0xC3, 0xA9}));
}

TEST(Text, FnvMatchesKnownValues) {
    EXPECT_EQ(Fnv1a32("abc", 3), 0x1A47E90Bu);
    EXPECT_EQ(Fnv1a32("", 0), 0x811C9DC5u);
    EXPECT_EQ(ExtensionHash("abc", 3), 0x1A47E90Bu);
}

// Random strings over a few bytes, high ones included (they must order as
// unsigned), often sharing a long prefix so the first difference falls inside,
// at the edge of or after an eight-byte word.
TEST(Text, CompareBytesOrdersLikeStdString) {
    std::mt19937 rng(7);
    const char alphabet[] = {'a', 'b', '\0', '\x7F', '\x80', '\xFF'};
    auto sign = [](int c) { return (c > 0) - (c < 0); };
    for (int round = 0; round < 20000; ++round) {
        std::string a(rng() % 40, 'a');
        for (char& c : a) c = alphabet[rng() % sizeof(alphabet)];
        std::string b = a.substr(0, rng() % (a.size() + 1));
        for (size_t k = rng() % 12; k > 0; --k) b.push_back(alphabet[rng() % sizeof(alphabet)]);
        const int got = CompareBytes(a.data(), a.size(), b.data(), b.size());
        ASSERT_EQ(sign(got), sign(a.compare(b))) << "round " << round;
        ASSERT_EQ(sign(CompareBytes(b.data(), b.size(), a.data(), a.size())), -sign(got)) << "round " << round;
        ASSERT_EQ(SameBytes(a, b), a == b) << "round " << round;
    }
}

}  // namespace
}  // namespace ov
