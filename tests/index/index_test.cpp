#include "index/index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "index/text.h"
#include "tests/support/failing_alloc.h"
#include "tests/support/index_reference.h"
#include "tests/support/random_index.h"

namespace ov {
namespace {

using testing::AddNamed;
using testing::CheckTotals;
using testing::kDir;
using testing::kRoot;

size_t Notes(const Index& index, SortKey key, uint32_t entry) {
    const auto& p = index.pending[static_cast<size_t>(key)];
    return static_cast<size_t>(std::count(p.begin(), p.end(), entry));
}

void ClearPending(Index& index) {
    for (auto& p : index.pending) p.clear();
}

TEST(Index, AddGrowsEveryAncestorAndNotesTheirSize) {
    Index index;
    uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    uint32_t a = AddNamed(index, root, "a", kDir);
    uint32_t b = AddNamed(index, a, "b", kDir);
    ClearPending(index);
    uint32_t empty = AddNamed(index, b, "empty.txt", 0, 0);
    EXPECT_EQ(Notes(index, SortKey::Size, b), 0u);  // size 0 touches no folder
    EXPECT_EQ(Notes(index, SortKey::Size, empty), 1u);
    uint32_t f = AddNamed(index, b, "f.txt", 0, 10);
    for (uint32_t folder : {b, a, root}) {
        EXPECT_EQ(index.entries[folder].size, 10u);
        EXPECT_EQ(Notes(index, SortKey::Size, folder), 1u);
    }
    for (int k = 0; k < kSortKeys; ++k) EXPECT_EQ(Notes(index, static_cast<SortKey>(k), f), 1u);
    EXPECT_EQ(index.entries[b].childCount, 2u);
    EXPECT_EQ(index.changes, 5u);
    EXPECT_EQ(index.foldedOffsets.size(), index.entries.size());
    EXPECT_EQ(index.extHashes.size(), index.entries.size());
}

TEST(Index, AncestorWalksStopAfter256Folders) {
    Index index;
    std::vector<uint32_t> chain{AddNamed(index, kNoEntry, "C:", kRoot)};
    for (int i = 0; i < 300; ++i) chain.push_back(AddNamed(index, chain.back(), "d" + std::to_string(i), kDir));
    AddNamed(index, chain.back(), "deep.bin", 0, 7);
    // chain has 301 folders; the file reaches only the nearest 256 of them.
    for (size_t i = 0; i < chain.size(); ++i) EXPECT_EQ(index.entries[chain[i]].size, i >= 45 ? 7u : 0u) << i;
    EXPECT_EQ(CheckTotals(index), "");
    // Path keeps the nearest 256 components.
    std::string path = index.Path(static_cast<uint32_t>(index.entries.size() - 1), false);
    EXPECT_EQ(std::count(path.begin(), path.end(), '\\'), 255);
    EXPECT_EQ(path.substr(0, 4), "d45\\");  // the file plus 255 folders
}

TEST(Index, RemoveFlagsTheSubtreeOnceAndTakesItsBytes) {
    Index index;
    uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    uint32_t keep = AddNamed(index, root, "keep.txt", 0, 1);
    uint32_t dir = AddNamed(index, root, "dir", kDir);
    uint32_t sub = AddNamed(index, dir, "sub", kDir);
    uint32_t x = AddNamed(index, sub, "x", 0, 100);
    uint32_t y = AddNamed(index, dir, "y", 0, 20);
    const uint64_t changes = index.changes;
    index.Remove(dir);
    EXPECT_EQ(index.deletedCount, 4u);
    EXPECT_EQ(index.changes, changes + 4);
    for (uint32_t gone : {dir, sub, x, y}) EXPECT_TRUE(IsDeleted(index.entries[gone])) << gone;
    EXPECT_FALSE(IsDeleted(index.entries[keep]));
    EXPECT_EQ(index.entries[root].size, 1u);
    EXPECT_EQ(index.entries[root].childCount, 1u);
    EXPECT_EQ(index.entries[sub].size, 100u);  // descendants keep their own figures
    index.Remove(dir);
    index.Remove(x);
    EXPECT_EQ(index.changes, changes + 4);
    EXPECT_EQ(index.deletedCount, 4u);
    EXPECT_EQ(CheckTotals(index), "");
}

// The remembered walk of ForEachBelow against a plain one per entry: moves
// give folders higher numbers than their children, and a chain of 300 folders
// reaches below the 256 levels that count.
TEST(Index, ForEachBelowEqualsAWalkPerEntry) {
    testing::Rng rng(9);
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    testing::AddRandomTree(index, rng, root, 0, 3000);
    for (int step = 0; step < 1500; ++step) testing::RandomChange(index, rng);
    std::vector<uint32_t> chain{root};
    for (int i = 0; i < 300; ++i) chain.push_back(AddNamed(index, chain.back(), "d" + std::to_string(i), kDir));
    AddNamed(index, chain.back(), "deep.bin", 0, 7);
    std::vector<uint32_t> folders{chain[1], chain[40], chain[45], chain[299]};
    for (int i = 0; i < 20; ++i) folders.push_back(testing::RandomLiveEntry(index, rng, true));
    for (uint32_t folder : folders) {
        std::vector<uint32_t> got, want;
        index.ForEachBelow(folder, [&got](uint32_t j) { got.push_back(j); });
        for (uint32_t j = 0; j < index.entries.size(); ++j) {
            if (j == folder || IsDeleted(index.entries[j])) continue;
            uint32_t cur = index.entries[j].parent;
            for (int depth = 0; depth < Index::kMaxDepth && cur != kNoEntry; ++depth, cur = index.entries[cur].parent) {
                if (cur == folder) {
                    want.push_back(j);
                    break;
                }
            }
        }
        EXPECT_EQ(got, want) << folder;
    }
}

TEST(Index, RenameComparesWrittenNamesAndMovesSizes) {
    Index index;
    uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    uint32_t a = AddNamed(index, root, "a", kDir);
    uint32_t b = AddNamed(index, root, "b", kDir);
    uint32_t f = AddNamed(index, a, "Report.txt", 0, 50);
    uint64_t changes = index.changes;
    EXPECT_TRUE(index.Rename(f, a, "Report.txt", "report.txt"));
    EXPECT_EQ(index.changes, changes);  // nothing changed
    ClearPending(index);
    EXPECT_TRUE(index.Rename(f, a, "report.txt", "report.txt"));  // case alone is a change
    EXPECT_EQ(index.changes, changes + 1);
    for (int k = 0; k < kSortKeys; ++k) EXPECT_EQ(Notes(index, static_cast<SortKey>(k), f), 1u) << k;
    EXPECT_TRUE(index.Rename(f, a, "r.TXT", "r.txt"));
    EXPECT_EQ(index.changedNames, std::vector<uint32_t>{f});
    EXPECT_NE(index.entries[f].flags & EntryFlags::NameChanged, 0u);
    EXPECT_EQ(index.extHashes[f], ExtensionHash("txt", 3));
    EXPECT_EQ(index.NameOf(f), "r.TXT");
    EXPECT_EQ(index.FoldedOf(f), "r.txt");

    index.entries[b].flags |= EntryFlags::Excluded;
    EXPECT_TRUE(index.Rename(f, b, "r.TXT", "r.txt"));
    EXPECT_NE(index.entries[f].flags & EntryFlags::Excluded, 0u);
    EXPECT_EQ(index.entries[a].size, 0u);
    EXPECT_EQ(index.entries[b].size, 50u);
    EXPECT_EQ(index.entries[root].size, 50u);
    EXPECT_TRUE(index.Rename(f, b, "s.txt", "s.txt"));  // in place keeps the bit
    EXPECT_NE(index.entries[f].flags & EntryFlags::Excluded, 0u);
    EXPECT_EQ(CheckTotals(index), "");

    index.pathsValid = true;
    index.excludesDirty = false;
    EXPECT_TRUE(index.Rename(a, b, "a", "a"));
    EXPECT_FALSE(index.pathsValid);
    EXPECT_TRUE(index.excludesDirty);
    EXPECT_TRUE(index.overflow[static_cast<size_t>(SortKey::Path)]);
}

// A rename whose name cannot be stored (a pool that cannot grow) leaves the
// entry its old name, place and totals, and the name appended next is only the
// next entry's.
TEST(Index, RenameThatCannotStoreItsNameChangesNothing) {
    std::unique_ptr<Index> index;
    uint32_t a = 0, b = 0, f = 0;
    std::string name, folded;
    const size_t threw = testing::FailEachAllocation(
        [&] {
            index = std::make_unique<Index>();
            const uint32_t root = AddNamed(*index, kNoEntry, "C:", kRoot);
            a = AddNamed(*index, root, "a", kDir);
            b = AddNamed(*index, root, "b", kDir);
            f = AddNamed(*index, a, "report.txt", 0, 50);
            // Longer than either pool has room for, so each append must grow it.
            name = std::string(std::max(index->names.capacity(), index->folded.capacity()) + 1, 'N') + ".txt";
            folded = FoldCaseUtf8(name);
        },
        [&] { index->Rename(f, b, name, folded); },
        [&](bool failed) {
            Index& x = *index;
            if (!failed) {
                EXPECT_EQ(x.Path(f, false), "C:\\b\\" + name);
                return;
            }
            EXPECT_EQ(x.Path(f, false), "C:\\a\\report.txt");
            EXPECT_EQ(x.FoldedOf(f), "report.txt");
            EXPECT_EQ(x.entries[f].flags & EntryFlags::NameChanged, 0u);
            EXPECT_TRUE(x.changedNames.empty());
            EXPECT_EQ(x.entries[a].size, 50u);
            EXPECT_EQ(x.entries[b].size, 0u);
            AddNamed(x, a, "other.txt", 0);
            EXPECT_EQ(x.Path(f, false), "C:\\a\\report.txt");
            EXPECT_EQ(CheckTotals(x), "");
        });
    EXPECT_GE(threw, 2u);  // the name's append and the folded name's
}

// A deleted entry no longer counts in any folder: moving or renaming it, file or
// folder, leaves every size and child count as it was.
TEST(Index, MovingADeletedEntryChangesNoTotal) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    const uint32_t a = AddNamed(index, root, "a", kDir);
    const uint32_t b = AddNamed(index, root, "b", kDir);
    const uint32_t file = AddNamed(index, a, "f.txt", 0, 50);
    const uint32_t folder = AddNamed(index, a, "sub", kDir);
    AddNamed(index, folder, "inner.txt", 0, 7);
    AddNamed(index, b, "stay.txt", 0, 3);
    index.Remove(file);
    index.Remove(folder);
    auto totals = [&] {
        std::vector<std::pair<uint64_t, uint32_t>> out;
        for (const Entry& e : index.entries) out.emplace_back(e.size, e.childCount);
        return out;
    };
    const auto before = totals();
    for (uint32_t gone : {file, folder}) {
        EXPECT_TRUE(index.Rename(gone, b, "moved", "moved"));
        EXPECT_TRUE(index.Rename(gone, a, "back", "back"));
        EXPECT_TRUE(index.Rename(gone, a, "renamed in place", "renamed in place"));
    }
    EXPECT_EQ(totals(), before);
    EXPECT_EQ(CheckTotals(index), "");
}

TEST(Index, RefusesNamesAndPoolsBeyondTheRecordFormat) {
    Index index;
    uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    std::string longest(Index::kMaxNameBytes, 'n');
    EXPECT_NE(AddNamed(index, root, longest, 0), kNoEntry);
    const size_t count = index.entries.size(), pool = index.names.size();
    const uint64_t changes = index.changes;
    EXPECT_EQ(AddNamed(index, root, longest + "x", 0), kNoEntry);
    EXPECT_FALSE(index.Rename(1, root, longest + "x", longest + "x"));
    EXPECT_EQ(index.entries.size(), count);
    EXPECT_EQ(index.names.size(), pool);
    EXPECT_EQ(index.changes, changes);
    EXPECT_EQ(index.NameOf(1).size(), longest.size());
}

TEST(Index, SetMetaChangesFilesOnlyAndAlwaysCounts) {
    Index index;
    uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    uint32_t dir = AddNamed(index, root, "d", kDir);
    uint32_t f = AddNamed(index, dir, "f", 0, 100, 5, 6);
    uint64_t changes = index.changes;
    index.SetMeta(dir, 999, 1, 2, 0x10);
    EXPECT_EQ(index.entries[dir].size, 100u);
    index.SetMeta(f, 40, 5, 6, 0x21);  // shrink subtracts
    EXPECT_EQ(index.entries[root].size, 40u);
    EXPECT_EQ(index.entries[f].flags & 0xFFFF, 0x21u);
    index.SetMeta(f, 40, 5, 6, 0x21);
    EXPECT_EQ(index.changes, changes + 3);
    index.Remove(f);
    index.SetMeta(f, 1000, 5, 6, 0);  // a deleted file no longer counts
    EXPECT_EQ(index.entries[root].size, 0u);
    EXPECT_EQ(CheckTotals(index), "");
}

TEST(Index, PendingListOverflowsPastItsCap) {
    Index index;
    for (size_t i = 0; i < Index::kPendingCap; ++i) index.NoteKey(SortKey::Name, 1);
    EXPECT_FALSE(index.overflow[0]);
    EXPECT_EQ(index.pending[0].size(), Index::kPendingCap);
    index.NoteKey(SortKey::Name, 1);
    EXPECT_TRUE(index.overflow[0]);
    EXPECT_TRUE(index.pending[0].empty());
    index.NoteKey(SortKey::Name, 2);
    EXPECT_TRUE(index.pending[0].empty());
}

TEST(Index, PathsOfRootsFilesAndSharesJoinOnce) {
    Index index;
    uint32_t c = AddNamed(index, kNoEntry, "C:", kRoot);
    uint32_t x = AddNamed(index, c, "x", 0);
    uint32_t win = AddNamed(index, c, "Windows", kDir);
    uint32_t share = AddNamed(index, kNoEntry, "\\\\srv\\Share\\", kRoot);
    uint32_t doc = AddNamed(index, share, "doc.txt", 0);
    EXPECT_EQ(index.Path(c, false), "C:\\");
    EXPECT_EQ(index.Path(c, true), "");
    EXPECT_EQ(index.Path(x, false), "C:\\x");
    EXPECT_EQ(index.Path(x, true), "C:\\");
    EXPECT_EQ(index.Path(doc, false), "\\\\srv\\Share\\doc.txt");
    EXPECT_EQ(index.PathW(win, false), ToWide("C:\\Windows"));

    index.BuildAllDirPaths();
    auto cached = [&](uint32_t i) { return index.pathBuffer.substr(index.pathOffset[i], index.pathLength[i]); };
    EXPECT_EQ(cached(c), "c:");
    EXPECT_EQ(cached(win), "c:\\windows");
    EXPECT_EQ(cached(share), "\\\\srv\\share\\");
    uint32_t sub = AddNamed(index, share, "Sub", kDir);  // cached as it is added
    EXPECT_EQ(cached(sub), "\\\\srv\\share\\sub");
    EXPECT_EQ(index.pathOffset[x], kNoEntry);
}

TEST(Index, ExtensionHashesTakeTheLastDotOfTheFoldedName) {
    struct Case {
        const char* name;
        uint32_t flags;
        const char* ext;  // null: no hash
    } cases[] = {
        {"archive.tar.GZ", 0, "gz"}, {"a.txt", 0, "txt"},           {"README", 0, nullptr}, {".hidden", 0, nullptr},
        {"name.", 0, nullptr},       {"photos.jpg", kDir, nullptr}, {"x.y.", 0, nullptr},
    };
    Index index;
    uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    for (const auto& c : cases) {
        uint32_t i = AddNamed(index, root, c.name, c.flags);
        uint32_t want = c.ext ? ExtensionHash(c.ext, strlen(c.ext)) : 0;
        EXPECT_EQ(index.extHashes[i], want) << c.name;
    }
    std::vector<uint32_t> incremental = index.extHashes;
    index.ComputeExtHashes();
    EXPECT_EQ(index.extHashes, incremental);
}

// Random edits keep every folder's size and child count equal to a recomputation,
// and the incrementally cached paths equal a rebuild.
TEST(Index, RandomEditsKeepTotalsAndPathsExact) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        testing::Rng rng(seed);
        Index index;
        index.BuildAllDirPaths();  // cache paths as folders arrive
        testing::AddRandomTree(index, rng, AddNamed(index, kNoEntry, "C:", kRoot), 0, 800);
        testing::AddRandomTree(index, rng, AddNamed(index, kNoEntry, "D:", kRoot), 1, 800);
        for (int step = 0; step < 3000; ++step) {
            testing::RandomChange(index, rng);
            if (step % 100 == 0) {
                ASSERT_EQ(CheckTotals(index), "") << "seed " << seed << " step " << step;
            }
        }
        ASSERT_EQ(CheckTotals(index), "") << "seed " << seed;

        // Renamed folders invalidated the cache; an add-only index keeps it exact.
        if (!index.pathsValid) index.BuildAllDirPaths();
        for (uint32_t i = 0; i < index.entries.size(); ++i) {
            const Entry& e = index.entries[i];
            if (IsDeleted(e) || !IsDir(e) || (e.flags & EntryFlags::VolumeRoot)) continue;
            ASSERT_NE(index.pathOffset[i], kNoEntry);
            EXPECT_EQ(index.pathBuffer.substr(index.pathOffset[i], index.pathLength[i]),
                      FoldCaseUtf8(index.Path(i, false)));
        }
    }
}

TEST(Index, IncrementalPathCacheEqualsRebuild) {
    testing::Rng rng(3);
    Index index;
    index.BuildAllDirPaths();
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    std::vector<uint32_t> dirs{root};
    for (uint32_t e : testing::AddRandomTree(index, rng, root, 0, 2000)) {
        if (IsDir(index.entries[e])) dirs.push_back(e);
    }
    std::vector<std::string> incremental;
    for (uint32_t d : dirs) incremental.push_back(index.pathBuffer.substr(index.pathOffset[d], index.pathLength[d]));
    index.pathsValid = false;
    index.BuildAllDirPaths();
    for (size_t k = 0; k < dirs.size(); ++k)
        EXPECT_EQ(index.pathBuffer.substr(index.pathOffset[dirs[k]], index.pathLength[dirs[k]]), incremental[k]);
}

}  // namespace
}  // namespace ov
