#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "index/index.h"
#include "index/text.h"
#include "index/volume_maps.h"
#include "tests/support/failing_alloc.h"
#include "tests/support/index_reference.h"
#include "tests/support/random_index.h"

namespace ov {
namespace {

// Everything a reader of the index or of a volume's maps can see.
struct Seen {
    std::string entries;  // the table's bytes
    std::string names, folded;
    std::vector<uint64_t> counters;
    std::vector<std::vector<uint32_t>> orders, pending, ranks;
    std::vector<bool> orderValid, overflow;
    std::vector<uint32_t> pathOffset, foldedOffsets, changedNames, extHashes;
    std::vector<uint16_t> pathLength;
    std::string pathBuffer;
    bool pathsValid = false;
    bool excludesDirty = false;
    std::map<uint32_t, uint32_t> openCounts;
    struct Volume {
        std::vector<uint32_t> recordMap;
        std::vector<std::pair<uint32_t, uint32_t>> hardLinks;
        std::vector<uint32_t> nameMap;
        std::vector<uint64_t> fields;
        bool operator==(const Volume&) const = default;
    };
    std::vector<Volume> volumes;
    bool operator==(const Seen&) const = default;
};

Seen See(const Index& index) {
    Seen s;
    s.entries.assign(reinterpret_cast<const char*>(index.entries.data()), index.entries.size() * sizeof(Entry));
    s.names = index.names;
    s.folded = index.folded;
    s.counters = {index.epoch, index.changes, index.deletedCount, index.garbageBytes};
    for (int k = 0; k < kSortKeys; ++k) {
        s.orders.push_back(index.orders[k]);
        s.pending.push_back(index.pending[k]);
        s.ranks.push_back(index.ranks[k]);
        s.orderValid.push_back(index.orderValid[k]);
        s.overflow.push_back(index.overflow[k]);
    }
    s.pathOffset = index.pathOffset;
    s.pathLength = index.pathLength;
    s.pathBuffer = index.pathBuffer;
    s.pathsValid = index.pathsValid;
    s.foldedOffsets = index.foldedOffsets;
    s.changedNames = index.changedNames;
    s.extHashes = index.extHashes;
    s.excludesDirty = index.excludesDirty;
    s.openCounts.insert(index.openCounts.begin(), index.openCounts.end());
    for (const VolumeMaps* v : index.volumes) {
        Seen::Volume seen;
        seen.recordMap = v->recordMap;
        seen.hardLinks.assign(v->hardLinks.begin(), v->hardLinks.end());
        std::sort(seen.hardLinks.begin(), seen.hardLinks.end());
        v->nameMap.ForEach([&](uint32_t e) { seen.nameMap.push_back(e); });
        std::sort(seen.nameMap.begin(), seen.nameMap.end());
        seen.fields = {v->rootEntry, v->recordCount,    v->files,
                       v->folders,   v->nameMap.Size(), static_cast<uint64_t>(v->kind)};
        s.volumes.push_back(std::move(seen));
    }
    return s;
}

// A file-table volume and a folder volume, used and changed since their scans:
// renamed (garbage, names at the pools' end), removed and added entries, open
// counts, every order built and some pending, the path cache complete.
struct TwoVolumes {
    Index index;
    VolumeMaps c, d;
    explicit TwoVolumes(uint64_t seed) {
        testing::Rng rng(seed);
        index.pool.SetThreadsInUse(1);  // the pool's tasks run on this thread, where allocations fail
        c.kind = VolumeKind::FileTable;
        d.kind = VolumeKind::Folders;
        d.slot = 1;
        index.volumes = {&c, &d};
        Index::Piece first = testing::RandomPiece(rng, "C:", 150);
        Index::Piece second = testing::RandomPiece(rng, "D:", 150);
        if (!index.Ingest(0, first) || !index.Ingest(1, second)) std::abort();
        for (int i = 0; i < 20; ++i) {
            const uint32_t e = testing::RandomLiveEntry(index, rng);
            const std::string name = std::string(index.NameOf(e)) + " (a longer name)";
            index.Rename(e, index.entries[e].parent, name, FoldCaseUtf8(name));
        }
        for (int i = 0; i < 15; ++i) index.Remove(testing::RandomLiveEntry(index, rng));
        for (int i = 0; i < 20; ++i) index.openCounts[testing::RandomLiveEntry(index, rng)] += 1 + i;
        index.BuildAllDirPaths();
        for (int k = 0; k < kSortKeys; ++k) index.EnsureSortedBy(static_cast<SortKey>(k));
        for (int i = 0; i < 5; ++i) testing::RandomChange(index, rng);
    }
};

// Out of memory at any allocation of a compaction or a merge leaves the index
// exactly as it was, the piece too, and the next try gives what one without
// the failure gives.
TEST(Rebuild, AFailedAllocationAtAnyStepChangesNothing) {
    const struct {
        const char* what;
        int slot;  // the slot merged into; -1 compacts
    } cases[] = {{"compaction", -1}, {"file-table merge", 0}, {"folder merge", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto piece = [&] {
            testing::Rng rng(99);
            return testing::RandomPiece(rng, c.slot == 1 ? "D:" : "C:", 120);
        };
        auto run = [&](TwoVolumes& v, Index::Piece& p) {
            if (c.slot < 0) {
                v.index.Compact();
            } else if (!v.index.Ingest(c.slot, p)) {
                std::abort();
            }
        };
        Seen want;
        {
            TwoVolumes v(5);
            Index::Piece p = piece();
            run(v, p);
            want = See(v.index);
        }
        std::unique_ptr<TwoVolumes> v;
        Index::Piece p;
        Seen before;
        size_t k = 0;
        const size_t threw = testing::FailEachAllocation(
            [&] {
                v = std::make_unique<TwoVolumes>(5);
                p = piece();
                before = See(v->index);
            },
            [&] { run(*v, p); },
            [&](bool failed) {
                SCOPED_TRACE("allocation " + std::to_string(k++));
                if (::testing::Test::HasFatalFailure()) return;
                if (failed) {
                    ASSERT_TRUE(See(v->index) == before);
                    const Index::Piece untouched = piece();
                    ASSERT_EQ(p.names, untouched.names);
                    ASSERT_EQ(p.entries.size(), untouched.entries.size());
                    ASSERT_EQ(p.recordMap, untouched.recordMap);
                    run(*v, p);
                }
                ASSERT_TRUE(See(v->index) == want);
                ASSERT_EQ(testing::CheckTotals(v->index), "");
                for (int key = 0; key < kSortKeys; ++key) v->index.EnsureSortedBy(static_cast<SortKey>(key));
            });
        EXPECT_GT(threw, 10u) << "fewer allocations than a rebuild makes: the seam did not reach it";
    }
}

}  // namespace
}  // namespace ov
