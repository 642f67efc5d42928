#include "index/name_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace ov {
namespace {

// Each entry number belongs to one key, as an entry's key follows from its
// parent and name; the table may offer entries of another key with the same
// digest, which its users (like this check) tell apart.
struct Reference {
    std::vector<uint64_t> keys;
    std::multiset<std::pair<uint64_t, uint32_t>> pairs;

    uint64_t KeyOf(uint32_t entry) const { return keys[entry % keys.size()]; }
    std::multiset<uint32_t> Under(uint64_t key) const {
        std::multiset<uint32_t> out;
        for (auto it = pairs.lower_bound({key, 0}); it != pairs.end() && it->first == key; ++it) out.insert(it->second);
        return out;
    }
};

std::multiset<uint32_t> Found(const NameMap& map, const Reference& ref, uint64_t key) {
    std::multiset<uint32_t> out;
    EXPECT_EQ(kNoEntry, map.Find(key, [&](uint32_t e) {
        if (ref.KeyOf(e) == key) out.insert(e);
        return false;
    }));
    return out;
}

void ExpectSame(const NameMap& map, const Reference& ref) {
    ASSERT_EQ(ref.pairs.size(), map.Size());
    for (uint64_t key : ref.keys) ASSERT_EQ(ref.Under(key), Found(map, ref, key)) << key;
}

// Random inserts (duplicates included), removals of present and absent pairs and
// lookups against a plain multiset, on tables small enough that probe runs
// collide, wrap around the end and are pulled back by removals, from empty (so
// the table grows) and from a reservation.
TEST(NameMap, MatchesAMultisetUnderRandomChanges) {
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937_64 rng(seed);
        Reference ref;
        // Keys as the volumes make them: a few parents, names that share hashes.
        for (int k = 0; k < 40; ++k) ref.keys.push_back(uint64_t(rng() % 5) << 32 | uint32_t(rng() % 7));
        std::sort(ref.keys.begin(), ref.keys.end());
        ref.keys.erase(std::unique(ref.keys.begin(), ref.keys.end()), ref.keys.end());
        NameMap map;
        if (seed % 2 == 0) map.Reserve(50);
        const uint32_t entries = static_cast<uint32_t>(ref.keys.size()) * 8;
        for (int step = 0; step < 4000; ++step) {
            const auto roll = rng() % 10;
            const uint32_t e = static_cast<uint32_t>(rng() % entries);
            const uint64_t key = ref.KeyOf(e);
            if (roll < 5 || ref.pairs.empty()) {
                map.Insert(key, e);
                ref.pairs.insert({key, e});
            } else if (roll < 9) {
                auto it = ref.pairs.begin();
                std::advance(it, rng() % ref.pairs.size());
                ASSERT_TRUE(map.Erase(it->first, it->second));
                ref.pairs.erase(it);
            } else {
                ASSERT_EQ(ref.pairs.count({key, e}) > 0, map.Erase(key, e));
                if (auto it = ref.pairs.find({key, e}); it != ref.pairs.end()) ref.pairs.erase(it);
            }
            if (step % 97 == 0) ExpectSame(map, ref);
        }
        ExpectSame(map, ref);
        map.Clear();
        EXPECT_TRUE(map.Empty());
        EXPECT_EQ(kNoEntry, map.Find(ref.keys[0], [](uint32_t) { return true; }));
    }
}

// A table sized once takes what it was sized for, filled by several threads at
// once, without growing.
TEST(NameMap, ConcurrentFillKeepsEveryPairWithinItsReservation) {
    Reference ref;
    std::mt19937_64 rng(7);
    for (int k = 0; k < 3000; ++k) ref.keys.push_back(uint64_t(rng() % 100) << 32 | uint32_t(rng() % 200));
    std::sort(ref.keys.begin(), ref.keys.end());
    ref.keys.erase(std::unique(ref.keys.begin(), ref.keys.end()), ref.keys.end());
    constexpr uint32_t kPairs = 40000;
    NameMap map;
    map.Reserve(kPairs);
    const size_t capacity = map.Capacity();
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (uint32_t e = t; e < kPairs; e += 4) map.InsertConcurrently(ref.KeyOf(e), e);
        });
    }
    for (auto& thread : threads) thread.join();
    map.Counted(kPairs);
    for (uint32_t e = 0; e < kPairs; ++e) ref.pairs.insert({ref.KeyOf(e), e});
    ExpectSame(map, ref);
    EXPECT_EQ(capacity, map.Capacity());
    // And the later single inserts of a reserved table, up to its headroom, neither.
    for (uint32_t e = kPairs; e < kPairs + kPairs / 20; ++e) map.Insert(ref.KeyOf(e), e);
    EXPECT_EQ(capacity, map.Capacity());
}

}  // namespace
}  // namespace ov
