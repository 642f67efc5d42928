#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <tuple>

#include "index/index.h"
#include "index/text.h"
#include "index/volume_maps.h"
#include "tests/support/index_reference.h"
#include "tests/support/random_index.h"

namespace ov {
namespace {

using testing::AddNamed;
using testing::CheckTotals;
using testing::kDir;
using testing::kRoot;
constexpr SortKey kKeys[] = {SortKey::Name,         SortKey::Path,        SortKey::Size, SortKey::Extension,
                             SortKey::DateModified, SortKey::DateCreated, SortKey::Type, SortKey::RunCount};

// The naive reference: every entry becomes a tuple built from its written name,
// folded here, and its parent chain; tuples compare bytewise like std::string.
using NaiveKey = std::tuple<std::string, uint32_t, std::string, uint64_t, std::string, std::string, uint32_t>;

std::string NaiveFoldedPath(const Index& index, uint32_t folder) {
    std::vector<std::string> parts;
    for (uint32_t cur = folder; cur != kNoEntry; cur = index.entries[cur].parent)
        parts.push_back(FoldCaseUtf8(std::string(index.NameOf(cur))));
    std::string path;
    for (size_t i = parts.size(); i-- > 0;) {
        if (i + 1 != parts.size() && (path.empty() || path.back() != '\\')) path.push_back('\\');
        path += parts[i];
    }
    return path;
}

NaiveKey Naive(const Index& index, SortKey key, uint32_t id) {
    const Entry& e = index.entries[id];
    const std::string name(index.NameOf(id));
    const std::string folded = FoldCaseUtf8(name);
    const uint32_t filesAfter = IsDir(e) ? 0 : 1;
    auto opened = [&]() -> uint64_t {
        auto it = index.openCounts.find(id);
        return it == index.openCounts.end() ? 0 : it->second;
    };
    switch (key) {
        case SortKey::Name:
            return {"", filesAfter, "", 0, folded, name, id};
        case SortKey::Path:
            return {e.parent == kNoEntry ? "" : NaiveFoldedPath(index, e.parent), filesAfter, "", 0, folded, name, id};
        case SortKey::Size:
            return {"", 0, "", e.size, folded, name, id};
        case SortKey::Extension:
        case SortKey::Type: {
            const size_t dot = folded.rfind('.');
            const std::string ext = IsDir(e) || dot == std::string::npos || dot == 0 ? "" : folded.substr(dot + 1);
            return {"", filesAfter, ext, 0, folded, name, id};
        }
        case SortKey::DateModified:
            return {"", 0, "", e.modified, folded, name, id};
        case SortKey::DateCreated:
            return {"", 0, "", e.created, folded, name, id};
        case SortKey::RunCount:
            return {"", 0, "", UINT64_MAX - opened(), folded, name, id};
    }
    return {};
}

std::vector<uint32_t> LiveEntries(const Index& index) {
    std::vector<uint32_t> live;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        if (!IsDeleted(index.entries[i])) live.push_back(i);
    }
    return live;
}

// Empty when orders[key] is the live entries sorted by Less and ranks[key] its inverse.
std::string CheckOrder(const Index& index, SortKey key) {
    const auto k = static_cast<size_t>(key);
    std::vector<uint32_t> expect = LiveEntries(index);
    std::sort(expect.begin(), expect.end(), [&](uint32_t a, uint32_t b) { return index.Less(key, a, b); });
    if (index.orders[k] != expect) return "order of key " + std::to_string(k) + " differs";
    if (!index.OrderCurrent(key)) return "key " + std::to_string(k) + " not current";
    const auto& rank = index.ranks[k];
    if (rank.size() != index.entries.size()) return "rank size of key " + std::to_string(k);
    size_t ranked = 0;
    for (uint32_t id = 0; id < rank.size(); ++id) {
        if (rank[id] == kNoEntry) continue;
        ++ranked;
        if (rank[id] >= expect.size() || expect[rank[id]] != id) return "rank of entry " + std::to_string(id);
    }
    return ranked == expect.size() ? "" : "entries ranked outside the order of key " + std::to_string(k);
}

// Two volumes in slots 0 and 1, one ingested from a piece and one built by Add.
struct TwoVolumes {
    Index index;
    std::unique_ptr<VolumeMaps> c = std::make_unique<VolumeMaps>();
    std::unique_ptr<VolumeMaps> d = std::make_unique<VolumeMaps>();

    explicit TwoVolumes(std::mt19937_64& rng, size_t perVolume) {
        c->kind = VolumeKind::FileTable;
        c->slot = 0;
        d->kind = VolumeKind::Folders;
        d->slot = 1;
        index.volumes = {c.get(), d.get()};
        Index::Piece piece = testing::RandomPiece(rng, "C:", perVolume);
        EXPECT_TRUE(index.Ingest(0, piece));
        d->rootEntry = AddNamed(index, kNoEntry, "D:", kRoot | SlotBits(1));
        testing::AddRandomTree(index, rng, d->rootEntry, 1, perVolume);
    }
};

TEST(SortOrders, LessMatchesNaiveReference) {
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        std::mt19937_64 rng(seed);
        TwoVolumes v(rng, 1500);
        Index& index = v.index;
        for (int i = 0; i < 200; ++i) index.Remove(testing::RandomLiveEntry(index, rng));
        for (int i = 0; i < 100; ++i) index.openCounts[testing::RandomLiveEntry(index, rng)] += 1 + rng() % 3;
        index.BuildAllDirPaths();
        const std::vector<uint32_t> live = LiveEntries(index);
        for (SortKey key : kKeys) {
            std::vector<uint32_t> byLess = live;
            std::sort(byLess.begin(), byLess.end(), [&](uint32_t a, uint32_t b) { return index.Less(key, a, b); });
            std::vector<std::pair<NaiveKey, uint32_t>> naive;
            for (uint32_t id : live) naive.emplace_back(Naive(index, key, id), id);
            std::sort(naive.begin(), naive.end());
            std::vector<uint32_t> byNaive;
            for (const auto& n : naive) byNaive.push_back(n.second);
            EXPECT_EQ(byLess, byNaive) << "seed " << seed << " key " << static_cast<int>(key);
        }
    }
}

TEST(SortOrders, EveryKeyPlacesNamedEntries) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    const uint32_t sub = AddNamed(index, root, "sub", kDir);
    AddNamed(index, sub, "z", 0);
    AddNamed(index, root, "b", kDir);
    for (const char* name :
         {"a.txt", "Report", "report", "x.", "Makefile", "a.c", ".profile", "y", "r3", "r1", "n0", "n1"})
        AddNamed(index, root, name, 0, 5);
    AddNamed(index, root, "big", 0, 6);
    std::map<std::string, uint32_t> at;
    for (uint32_t i = 0; i < index.entries.size(); ++i) at[index.Path(i, false)] = i;
    index.openCounts[at["C:\\r3"]] = 3;
    index.openCounts[at["C:\\r1"]] = 1;

    const struct {
        SortKey key;
        const char* before;
        const char* after;
    } cases[] = {
        {SortKey::Name, "C:\\b", "C:\\a.txt"},        // folders first
        {SortKey::Name, "C:\\Report", "C:\\report"},  // same folded name: 'R' < 'r'
        {SortKey::Extension, "C:\\x.", "C:\\a.c"},    // empty extension first
        {SortKey::Extension, "C:\\Makefile", "C:\\a.c"},
        {SortKey::Extension, "C:\\.profile", "C:\\a.c"},  // a leading dot is no extension
        {SortKey::Extension, "C:\\b", "C:\\.profile"},
        {SortKey::Type, "C:\\x.", "C:\\a.c"},
        {SortKey::Path, "C:\\y", "C:\\sub\\z"},   // the root's path is a prefix of sub's
        {SortKey::Path, "C:\\sub", "C:\\a.txt"},  // same parent: folders first
        {SortKey::Size, "C:\\b", "C:\\a.txt"},    // an empty folder is smallest; no folders-first
        {SortKey::Size, "C:\\y", "C:\\big"},
        {SortKey::RunCount, "C:\\r3", "C:\\r1"},
        {SortKey::RunCount, "C:\\r1", "C:\\n0"},
        {SortKey::RunCount, "C:\\n0", "C:\\n1"},  // never opened: by name
    };
    for (const auto& c : cases) {
        const uint32_t a = at.at(c.before);
        const uint32_t b = at.at(c.after);
        const auto k = static_cast<size_t>(c.key);
        EXPECT_TRUE(index.Less(c.key, a, b)) << k << ": " << c.before << " < " << c.after;
        EXPECT_FALSE(index.Less(c.key, b, a)) << k << ": " << c.before << " < " << c.after;
        index.EnsureSortedBy(c.key);
        EXPECT_LT(index.ranks[k][a], index.ranks[k][b]) << k << ": " << c.before << " < " << c.after;
    }
}

TEST(SortOrders, PendingAboveAnEighthForcesFullSort) {
    for (size_t notes : {size_t{100}, size_t{101}}) {
        Index index;
        const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
        for (int i = 1; i < 800; ++i) AddNamed(index, root, std::string("f").append(std::to_string(1000 + i)), 0);
        index.EnsureSortedBy(SortKey::Name);
        // Spoil the order where no note will point, so only a full sort repairs it.
        auto& order = index.orders[0];
        std::swap(order[10], order[11]);
        const uint32_t noted = order[500];
        for (size_t i = 0; i < notes; ++i) index.NoteKey(SortKey::Name, noted);
        index.EnsureSortedBy(SortKey::Name);
        EXPECT_EQ(order.size(), 800u);
        EXPECT_EQ(std::count(order.begin(), order.end(), noted), 1);
        EXPECT_EQ(index.ranks[0][noted], 500u);
        EXPECT_TRUE(index.pending[0].empty());
        EXPECT_EQ(index.Less(SortKey::Name, order[10], order[11]), notes == 101) << notes << " notes";
    }
}

TEST(SortOrders, PathOrderReadsOnlyTheCachedPart) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    const uint32_t dir = AddNamed(index, root, "dir", kDir);
    const uint32_t inRoot = AddNamed(index, root, "a", 0);
    index.BuildAllDirPaths();
    index.Rename(dir, root, "Dir", "dir");                        // a folder rename drops the cache's validity
    const uint32_t fresh = AddNamed(index, root, "fresh", kDir);  // beyond the cache
    const uint32_t below = AddNamed(index, fresh, "b", 0);
    ASSERT_LE(index.pathOffset.size(), fresh);
    // An uncached parent counts as the empty path, which precedes "c:".
    EXPECT_TRUE(index.Less(SortKey::Path, below, inRoot));
    EXPECT_FALSE(index.Less(SortKey::Path, inRoot, below));
    index.EnsureSortedBy(SortKey::Path);
    EXPECT_EQ(CheckOrder(index, SortKey::Path), "");
    EXPECT_LT(index.ranks[1][inRoot], index.ranks[1][below]);  // with the cache rebuilt: "c:" < "c:\fresh"
}

TEST(SortOrders, EmptyIndexHasEmptyOrders) {
    Index index;
    for (SortKey key : kKeys) {
        index.EnsureSortedBy(key);
        EXPECT_TRUE(index.orders[static_cast<size_t>(key)].empty());
        EXPECT_TRUE(index.ranks[static_cast<size_t>(key)].empty());
        EXPECT_TRUE(index.OrderCurrent(key));
    }
}

// Large enough for the parallel sort and the parallel merge searches.
TEST(SortOrders, LargeSortsAndMergesMatchAtEveryThreadCount) {
    for (int threads : {1, 2, 8}) {
        std::mt19937_64 rng(42 + threads);
        Index index;
        index.pool.SetThreadsInUse(threads);
        const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
        testing::AddRandomTree(index, rng, root, 0, 60000);
        for (SortKey key : kKeys) {
            index.EnsureSortedBy(key);
            EXPECT_EQ(CheckOrder(index, key), "") << threads << " threads";
        }
        for (int i = 0; i < 5000; ++i) {
            const uint32_t e = testing::RandomLiveEntry(index, rng);
            switch (i % 4) {
                case 0:
                    index.SetMeta(e, testing::RandomSize(rng), testing::RandomTime(rng), 0, 0);
                    break;
                case 1: {
                    const std::string name = testing::RandomName(rng);
                    index.Rename(e, index.entries[e].parent, name, FoldCaseUtf8(name));
                    break;
                }
                case 2:
                    index.Remove(e);
                    break;
                default:
                    AddNamed(index, root, testing::RandomName(rng), 0, testing::RandomSize(rng));
                    break;
            }
        }
        for (SortKey key : kKeys) {
            const bool merges =
                index.OrderCurrent(key) || (!index.overflow[static_cast<size_t>(key)] &&
                                            index.pending[static_cast<size_t>(key)].size() <= index.entries.size() / 8);
            index.EnsureSortedBy(key);
            EXPECT_EQ(CheckOrder(index, key), "") << threads << " threads, merged " << merges;
        }
    }
}

TEST(SortOrders, InterleavedChangesKeepOrdersTotalsAndPaths) {
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        std::mt19937_64 rng(seed);
        TwoVolumes v(rng, 1200);
        Index& index = v.index;
        index.pool.SetThreadsInUse(1 + static_cast<int>(seed % 4));
        auto rootOf = [&](int slot) { return slot == 0 ? v.c->rootEntry : v.d->rootEntry; };
        auto randomFolder = [&] {
            const uint32_t f = testing::RandomLiveEntry(index, rng, true);
            return f == kNoEntry || rng() % 8 == 0 ? rootOf(static_cast<int>(rng() % 2)) : f;
        };
        for (int step = 0; step < 600; ++step) {
            const unsigned op = rng() % 100;
            const uint32_t e = testing::RandomLiveEntry(index, rng);
            if (op < 25) {
                const uint32_t parent = randomFolder();
                const bool dir = rng() % 4 == 0;
                AddNamed(index, parent, testing::RandomName(rng),
                         (index.entries[parent].flags & EntryFlags::SlotMask) | (dir ? kDir : 0),
                         dir ? 0 : testing::RandomSize(rng), testing::RandomTime(rng), testing::RandomTime(rng));
            } else if (op < 35) {
                index.Remove(e);
            } else if (op < 50 && e != kNoEntry) {
                uint32_t parent = index.entries[e].parent;
                const uint32_t other = randomFolder();
                // Moves stay within the volume and never below the entry itself.
                if (rng() % 2 && SlotOf(index.entries[other].flags) == SlotOf(index.entries[e].flags) &&
                    !testing::IsWithin(index, other, e))
                    parent = other;
                const std::string name = rng() % 4 ? testing::RandomName(rng) : std::string(index.NameOf(e));
                index.Rename(e, parent, name, FoldCaseUtf8(name));
            } else if (op < 65 && e != kNoEntry) {
                index.SetMeta(e, testing::RandomSize(rng), testing::RandomTime(rng), testing::RandomTime(rng),
                              static_cast<uint16_t>(rng() % 8));
            } else if (op < 70 && e != kNoEntry) {
                index.openCounts[e] += 1;  // as the result actions count an opening
                index.overflow[static_cast<size_t>(SortKey::RunCount)] = true;
                index.changes += 1;
            } else if (op < 73) {
                std::vector<std::string> before;
                for (uint32_t id : LiveEntries(index)) before.push_back(index.Path(id, false));
                const uint64_t epoch = index.epoch;
                index.Compact();
                EXPECT_EQ(index.epoch, epoch + 1);
                ASSERT_EQ(index.entries.size(), before.size());
                for (uint32_t id = 0; id < before.size(); ++id) ASSERT_EQ(index.Path(id, false), before[id]) << id;
            } else if (op < 75) {
                const int slot = static_cast<int>(rng() % 2);
                Index::Piece piece = testing::RandomPiece(rng, slot == 0 ? "C:" : "D:", 200 + rng() % 1200);
                ASSERT_TRUE(index.Ingest(slot, piece));
                EXPECT_EQ(index.deletedCount, 0u);
            } else {
                const SortKey key = kKeys[rng() % kSortKeys];
                index.EnsureSortedBy(key);
                ASSERT_EQ(CheckOrder(index, key), "") << "seed " << seed << " step " << step;
            }
            if (step % 50 == 0) {
                ASSERT_EQ(CheckTotals(index), "") << "seed " << seed << " step " << step;
            }
        }
        for (SortKey key : kKeys) {
            index.EnsureSortedBy(key);
            EXPECT_EQ(CheckOrder(index, key), "") << "seed " << seed;
        }
        EXPECT_EQ(CheckTotals(index), "") << "seed " << seed;
    }
}

}  // namespace
}  // namespace ov
