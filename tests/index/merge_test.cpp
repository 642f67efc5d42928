#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "index/file_record.h"
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

struct PieceRow {
    uint32_t record;
    uint32_t parentRecord;
    const char* name;
    bool dir;
    uint64_t size;
};

// A file-table piece from rows listed parents first; record 5 is the root.
Index::Piece MakePiece(const std::vector<PieceRow>& rows, size_t mapSize) {
    Index::Piece piece;
    piece.recordMap.assign(mapSize, kNoEntry);
    auto append = [&](uint32_t parent, const std::string& name, uint32_t flags, uint64_t size) {
        return piece.Add(parent, name, FoldCaseUtf8(name), flags, size, 0, 0);
    };
    piece.root = piece.recordMap[5] = append(kNoEntry, "C:", kRoot, 0);
    for (const PieceRow& r : rows) {
        const uint32_t e = append(piece.recordMap[r.parentRecord], r.name, r.dir ? kDir : 0, r.size);
        if (piece.recordMap[r.record] == kNoEntry) {
            piece.recordMap[r.record] = e;
            (r.dir ? piece.folders : piece.files) += 1;
        } else {
            piece.hardLinks.emplace_back(r.record, e);
            piece.files += 1;
        }
    }
    return piece;
}

struct Batch {
    std::vector<NameRec> rows;
    std::string names;
    std::string folded;

    void Add(uint32_t record, uint32_t parent, const std::string& name) {
        const std::string f = FoldCaseUtf8(name);
        rows.push_back({record, parent, static_cast<uint32_t>(names.size()), static_cast<uint32_t>(folded.size()),
                        static_cast<uint16_t>(name.size()), static_cast<uint16_t>(f.size()), 1});
        names += name;
        folded += f;
    }
};

struct OneVolume {
    Index index;
    std::unique_ptr<VolumeMaps> volume = std::make_unique<VolumeMaps>();
    OneVolume() {
        volume->kind = VolumeKind::FileTable;
        index.volumes = {volume.get()};
    }
};

// Empty when the volume's counts equal the live entries of its slot (roots aside).
std::string CheckCounts(const Index& index, const VolumeMaps& volume) {
    uint64_t files = 0;
    uint64_t folders = 0;
    for (const Entry& e : index.entries) {
        if (IsDeleted(e) || SlotOf(e.flags) != volume.slot || (e.flags & EntryFlags::VolumeRoot)) continue;
        (IsDir(e) ? folders : files) += 1;
    }
    if (files == volume.files && folders == volume.folders) return "";
    return "counts " + std::to_string(volume.files) + "/" + std::to_string(volume.folders) + ", index holds " +
           std::to_string(files) + "/" + std::to_string(folders);
}

std::vector<uint32_t> EntriesOf(const VolumeMaps& volume, uint32_t record) {
    std::vector<uint32_t> out;
    if (record < volume.recordMap.size() && volume.recordMap[record] != kNoEntry)
        out.push_back(volume.recordMap[record]);
    for (auto [it, end] = volume.hardLinks.equal_range(record); it != end; ++it) out.push_back(it->second);
    return out;
}

const std::vector<PieceRow> kDisk = {
    {30, 5, "dir", true, 0},     {31, 30, "sub", true, 0},      {40, 30, "a.txt", false, 10},
    {41, 5, "b.txt", false, 20}, {41, 30, "b2.txt", false, 20}, {42, 31, "deep.bin", false, 7},
};

TEST(Merge, ApplyFileReconcilesEachCase) {
    const struct {
        const char* what;
        uint32_t record;
        bool inUse;
        bool directory;
        std::vector<std::pair<uint32_t, std::string>> rows;  // (parent record, name)
        uint32_t goneFirst;                                  // record reported not in use first; 0 = none
        bool applied;
        std::multiset<std::string> paths;  // the record's names afterwards, each once
        bool keepsFirst;                   // the record's first entry survives with its number
        int filesDelta;
        int foldersDelta;
        int changesDelta;  // -1: not checked
        size_t mapSize;
    } cases[] = {
        // clang-format off
        {"unchanged", 40, true, false, {{30, "a.txt"}}, 0, true, {"C:\\dir\\a.txt"}, true, 0, 0, 1, 100},
        {"unchanged links", 41, true, false, {{5, "b.txt"}, {30, "b2.txt"}}, 0, true,
         {"C:\\b.txt", "C:\\dir\\b2.txt"}, true, 0, 0, 2, 100},
        {"rename in place", 40, true, false, {{30, "A.txt"}}, 0, true, {"C:\\dir\\A.txt"}, true, 0, 0, 2, 100},
        {"move", 40, true, false, {{5, "a.txt"}}, 0, true, {"C:\\a.txt"}, true, 0, 0, 2, 100},
        {"new hard link", 40, true, false, {{30, "a.txt"}, {5, "link.txt"}}, 0, true,
         {"C:\\dir\\a.txt", "C:\\link.txt"}, true, 1, 0, -1, 100},
        {"lost hard link", 41, true, false, {{5, "b.txt"}}, 0, true, {"C:\\b.txt"}, true, -1, 0, -1, 100},
        {"not in use", 41, false, false, {{5, "b.txt"}}, 0, true, {}, false, -2, 0, -1, 100},
        {"no usable name left", 40, true, false, {{77, "a.txt"}}, 0, true, {}, false, -1, 0, -1, 100},
        {"folder not in use", 31, false, false, {}, 0, true, {}, false, -1, -1, -1, 100},
        {"folder tree not in use", 30, false, false, {}, 0, true, {}, false, -3, -2, -1, 100},
        {"file became folder", 40, true, true, {{30, "a.txt"}}, 0, true, {"C:\\dir\\a.txt"}, false, -1, 1, -1, 100},
        {"folder became file", 31, true, false, {{30, "sub"}}, 0, true, {"C:\\dir\\sub"}, false, 0, -1, -1, 100},
        {"folder with two names", 50, true, true, {{30, "x"}, {5, "y"}}, 0, true, {"C:\\dir\\x"}, false, 0, 1, -1,
         100},
        {"folder's first row unusable", 50, true, true, {{77, "x"}, {30, "y"}}, 0, true, {"C:\\dir\\y"}, false, 0,
         1, -1, 100},
        {"folder moved below itself", 30, true, true, {{31, "dir"}}, 0, true, {"C:\\dir"}, true, 0, 0, -1, 100},
        {"missing, outside, file and deleted parents", 51, true, false,
         {{77, "m"}, {5000, "o"}, {40, "f"}, {31, "d"}}, 31, true, {}, false, 0, 0, 0, 100},
        {"record 5 in use", 5, true, true, {}, 0, true, {"C:\\"}, true, 0, 0, 1, 100},
        {"record 5 not in use", 5, false, true, {}, 0, true, {"C:\\"}, true, 0, 0, 0, 100},
        {"far record grows the map", 10000, true, false, {{5, "far.txt"}}, 0, true, {"C:\\far.txt"}, false, 1, 0,
         -1, 14096},
        {"bogus record refused", 0xFFFFFFF0u, true, false, {{5, "x"}}, 0, false, {}, false, 0, 0, 0, 100},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OneVolume v;
        Index::Piece piece = MakePiece(kDisk, 100);
        ASSERT_TRUE(v.index.Ingest(0, piece));
        Index& index = v.index;
        VolumeMaps& volume = *v.volume;
        if (c.goneFirst) {
            ASSERT_TRUE(index.ApplyFile(volume, c.goneFirst, false, FileRec{}, {}, "", ""));
        }
        ASSERT_EQ(CheckCounts(index, volume), "");

        const std::vector<uint32_t> before = EntriesOf(volume, c.record);
        const uint64_t files = volume.files;
        const uint64_t folders = volume.folders;
        const uint64_t changes = index.changes;
        Batch batch;
        batch.Add(c.record + 1, 5, "other record");  // rows of other records are not this one's
        for (const auto& [parent, name] : c.rows) batch.Add(c.record, parent, name);
        FileRec info;
        info.record = c.record;
        info.attributes = 0x20;
        info.size = 10;
        info.modified = 777;
        info.created = 555;
        info.directory = c.directory;

        EXPECT_EQ(index.ApplyFile(volume, c.record, c.inUse, info, batch.rows, batch.names, batch.folded), c.applied);
        std::multiset<std::string> paths;
        const std::vector<uint32_t> after = EntriesOf(volume, c.record);
        for (uint32_t e : after) {
            ASSERT_LT(e, index.entries.size());
            EXPECT_FALSE(IsDeleted(index.entries[e]));
            paths.insert(index.Path(e, false));
            if (c.inUse && c.applied) {
                EXPECT_EQ(index.entries[e].modified, 777u);
            }
        }
        EXPECT_EQ(paths, c.paths);
        const bool kept = !before.empty() && std::find(after.begin(), after.end(), before[0]) != after.end();
        EXPECT_EQ(kept, c.keepsFirst);
        EXPECT_EQ(static_cast<int64_t>(volume.files - files), c.filesDelta);
        EXPECT_EQ(static_cast<int64_t>(volume.folders - folders), c.foldersDelta);
        if (c.changesDelta >= 0) {
            EXPECT_EQ(index.changes - changes, static_cast<uint64_t>(c.changesDelta));
        }
        EXPECT_EQ(volume.recordMap.size(), c.mapSize);
        EXPECT_EQ(CheckCounts(index, volume), "");
        EXPECT_EQ(CheckTotals(index), "");
    }
}

// Random records against a random volume: the counts must always match what
// the index holds, and the folder totals a recomputation.
TEST(Merge, ApplyFileKeepsCountsAndTotalsUnderRandomRecords) {
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        std::mt19937_64 rng(seed);
        OneVolume v;
        Index& index = v.index;
        VolumeMaps& volume = *v.volume;
        Index::Piece piece = testing::RandomPiece(rng, "C:", 800);
        ASSERT_TRUE(index.Ingest(0, piece));
        const auto records = static_cast<uint32_t>(volume.recordMap.size() + 40);
        for (int step = 0; step < 1500; ++step) {
            const uint32_t record =
                step % 97 == 0 ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(rng() % records);
            const std::vector<uint32_t> current = EntriesOf(volume, record);
            FileRec info;
            info.directory = !current.empty() && current[0] < index.entries.size() && IsDir(index.entries[current[0]]);
            if (rng() % 20 == 0) info.directory = !info.directory;
            info.size = testing::RandomSize(rng);
            info.modified = testing::RandomTime(rng);
            Batch batch;
            for (unsigned r = rng() % 4; r > 0; --r)
                batch.Add(record, static_cast<uint32_t>(rng() % records), testing::RandomName(rng));
            index.ApplyFile(volume, record, rng() % 6 != 0, info, batch.rows, batch.names, batch.folded);
            if (step % 300 == 299) index.Compact();
            if (step % 25 == 0) {
                ASSERT_EQ(CheckCounts(index, volume), "") << "seed " << seed << " step " << step;
                ASSERT_EQ(CheckTotals(index), "") << "seed " << seed << " step " << step;
            }
        }
        EXPECT_EQ(CheckCounts(index, volume), "");
        EXPECT_EQ(CheckTotals(index), "");
        EXPECT_LT(volume.recordMap.size(), size_t{1} << 22);  // bogus numbers did not grow the map
    }
}

TEST(Merge, IngestReplacesTheSlotAndRecomputesEveryFolder) {
    std::mt19937_64 rng(7);
    Index index;
    VolumeMaps c;
    VolumeMaps d;
    c.kind = VolumeKind::FileTable;
    d.kind = VolumeKind::Folders;
    d.slot = 1;
    index.volumes = {&c, &d};
    Index::Piece first = testing::RandomPiece(rng, "C:", 500);
    ASSERT_TRUE(index.Ingest(0, first));
    d.rootEntry = AddNamed(index, kNoEntry, "D:", kRoot | SlotBits(1));
    testing::AddRandomTree(index, rng, d.rootEntry, 1, 500);
    index.entries[d.rootEntry].size += 1;  // drift that a whole recount repairs
    std::vector<std::string> otherPaths;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        if (SlotOf(index.entries[i].flags) == 1) otherPaths.push_back(index.Path(i, false));
    }

    Index::Piece second = testing::RandomPiece(rng, "C:", 700);
    const size_t pieceEntries = second.entries.size();
    const uint64_t files = second.files;
    std::vector<std::string> recordNames(second.recordMap.size());
    for (size_t r = 0; r < second.recordMap.size(); ++r) {
        if (second.recordMap[r] == kNoEntry) continue;
        const Entry& e = second.entries[second.recordMap[r]];
        recordNames[r] = second.names.substr(e.nameOffset, e.nameLength);
    }
    const uint64_t epoch = index.epoch;
    ASSERT_TRUE(index.Ingest(0, second));
    EXPECT_TRUE(second.entries.empty());
    EXPECT_TRUE(second.names.empty());
    EXPECT_EQ(index.epoch, epoch + 1);
    EXPECT_EQ(index.deletedCount, 0u);
    EXPECT_TRUE(index.excludesDirty);
    EXPECT_EQ(c.files, files);
    EXPECT_EQ(CheckCounts(index, c), "");
    EXPECT_EQ(CheckTotals(index), "");
    size_t slot0 = 0;
    std::vector<std::string> nowOther;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        EXPECT_FALSE(IsDeleted(index.entries[i]));
        if (SlotOf(index.entries[i].flags) == 0)
            ++slot0;
        else
            nowOther.push_back(index.Path(i, false));
    }
    EXPECT_EQ(slot0, pieceEntries);
    EXPECT_EQ(nowOther, otherPaths);
    EXPECT_EQ(index.Path(c.rootEntry, false), "C:\\");
    for (size_t r = 0; r < recordNames.size(); ++r) {
        if (!recordNames[r].empty()) {
            EXPECT_EQ(index.NameOf(c.recordMap[r]), recordNames[r]) << r;
        }
    }
    for (const auto& [record, e] : c.hardLinks) EXPECT_EQ(SlotOf(index.entries[e].flags), 0) << record;

    // A folder volume's name map covers every entry below its root, by (parent, folded name).
    Index::Piece folders = testing::RandomPiece(rng, "D:", 300);
    ASSERT_TRUE(index.Ingest(1, folders));
    size_t mapped = 0;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        const Entry& e = index.entries[i];
        if (SlotOf(e.flags) != 1 || e.parent == kNoEntry) continue;
        ++mapped;
        const uint64_t key = (uint64_t{e.parent} << 32) | Fnv1a32(index.folded.data() + e.foldedOffset, e.foldedLength);
        EXPECT_EQ(i, d.nameMap.Find(key, [i](uint32_t e) { return e == i; })) << i;
    }
    EXPECT_EQ(d.nameMap.Size(), mapped);
    EXPECT_TRUE(c.nameMap.Empty());
}

// Past 256 levels a file no longer counts in its farthest folders, and a loop
// of folders must not hang the recount.
TEST(Merge, IngestCarriesRunCountsByRecordOrByFoldedPath) {
    auto countOf = [](const Index& index, uint32_t entry) {
        const auto it = index.openCounts.find(entry);
        return it == index.openCounts.end() ? 0u : it->second;
    };
    {
        // File table: the record keeps its count through a rename and a move;
        // both names of a hard-linked record add up on its first name.
        OneVolume v;
        ASSERT_TRUE(v.index.Ingest(0, *std::make_unique<Index::Piece>(MakePiece(kDisk, 64))));
        v.index.openCounts[EntriesOf(*v.volume, 40)[0]] = 3;
        v.index.openCounts[EntriesOf(*v.volume, 41)[0]] = 1;
        v.index.openCounts[EntriesOf(*v.volume, 41)[1]] = 2;
        std::vector<PieceRow> moved = kDisk;
        moved[2] = {40, 31, "renamed.txt", false, 10};
        Index::Piece piece = MakePiece(moved, 64);
        ASSERT_TRUE(v.index.Ingest(0, piece));
        EXPECT_EQ(v.index.Path(EntriesOf(*v.volume, 40)[0], false), "C:\\dir\\sub\\renamed.txt");
        EXPECT_EQ(countOf(v.index, EntriesOf(*v.volume, 40)[0]), 3u);
        EXPECT_EQ(countOf(v.index, EntriesOf(*v.volume, 41)[0]), 3u);
        EXPECT_EQ(v.index.openCounts.size(), 2u);
    }
    {
        // Folders: matched by folded path, whatever the order and case of the new scan.
        OneVolume v;
        v.volume->kind = VolumeKind::Folders;
        auto scan = [](const std::vector<std::pair<std::string, const char*>>& rows) {
            Index::Piece piece;
            std::map<std::string, uint32_t> at{{"", piece.Add(kNoEntry, "C:", "c:", kRoot, 0, 0, 0)}};
            for (const auto& [parent, name] : rows) {
                at[parent + "\\" + name] = piece.Add(at.at(parent), name, FoldCaseUtf8(name), kDir, 0, 0, 0);
                piece.folders += 1;
            }
            piece.root = 0;
            return piece;
        };
        Index::Piece first = scan({{"", "Docs"}, {"\\Docs", "Old"}, {"\\Docs", "Gone"}, {"", "Other"}});
        ASSERT_TRUE(v.index.Ingest(0, first));
        std::map<std::string, uint32_t> before{{"c:\\docs", 4}, {"c:\\docs\\old", 7}, {"c:\\docs\\gone", 9}};
        for (uint32_t i = 0; i < v.index.entries.size(); ++i) {
            const std::string path = FoldCaseUtf8(v.index.Path(i, false));
            if (before.count(path)) v.index.openCounts[i] = before[path];
        }
        Index::Piece second = scan({{"", "Other"}, {"", "DOCS"}, {"\\DOCS", "new"}, {"\\DOCS", "OLD"}});
        ASSERT_TRUE(v.index.Ingest(0, second));
        std::map<std::string, uint32_t> after;
        for (const auto& [entry, count] : v.index.openCounts) after[FoldCaseUtf8(v.index.Path(entry, false))] = count;
        EXPECT_EQ(after, (std::map<std::string, uint32_t>{{"c:\\docs", 4}, {"c:\\docs\\old", 7}}));
    }
}

TEST(Merge, IngestTotalsHoldForDeepChainsAndLoops) {
    for (int depth : {10, 255, 256, 257, 300}) {
        for (bool loop : {false, true}) {
            OneVolume v;
            std::vector<PieceRow> rows;
            for (int i = 0; i < depth; ++i) rows.push_back({30u + i, i == 0 ? 5u : 29u + i, "d", true, 0});
            rows.push_back({30u + depth, 29u + depth, "f", false, 7});
            Index::Piece piece = MakePiece(rows, 400);
            if (loop) piece.entries[2].parent = piece.recordMap[29 + depth];  // d1 hangs below the deepest folder
            ASSERT_TRUE(v.index.Ingest(0, piece));
            EXPECT_EQ(CheckTotals(v.index), "") << depth << (loop ? " with a loop" : "");
        }
    }
}

TEST(Merge, IngestRefusesBadSlotsAndPieces) {
    std::mt19937_64 rng(3);
    const struct {
        const char* what;
        int slot;
        void (*spoil)(Index::Piece&);
    } cases[] = {
        {"negative slot", -1, [](Index::Piece&) {}},
        {"slot past the table", 2, [](Index::Piece&) {}},
        {"slot past the limit", 256, [](Index::Piece&) {}},
        {"empty slot", 1, [](Index::Piece&) {}},
        {"parent outside the piece", 0, [](Index::Piece& p) { p.entries[1].parent = 1u << 30; }},
        {"root outside the piece", 0, [](Index::Piece& p) { p.root = static_cast<uint32_t>(p.entries.size()); }},
        {"name outside the pool", 0, [](Index::Piece& p) { p.entries[2].nameOffset = 1u << 30; }},
        {"record map outside the piece", 0, [](Index::Piece& p) { p.recordMap[7] = 1u << 30; }},
        {"hard link outside the piece", 0, [](Index::Piece& p) { p.hardLinks.emplace_back(9, 1u << 30); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OneVolume v;
        v.index.volumes.push_back(nullptr);
        AddNamed(v.index, kNoEntry, "C:", kRoot);
        Index::Piece piece = testing::RandomPiece(rng, "C:", 50);
        c.spoil(piece);
        const size_t pieceEntries = piece.entries.size();
        EXPECT_FALSE(v.index.Ingest(c.slot, piece));
        EXPECT_EQ(piece.entries.size(), pieceEntries);
        EXPECT_EQ(v.index.entries.size(), 1u);
        EXPECT_EQ(v.index.epoch, 1u);
        EXPECT_EQ(v.index.deletedCount, 0u);
    }
}

TEST(Merge, CompactRenumbersTablesMapsAndCounts) {
    std::mt19937_64 rng(11);
    OneVolume v;
    Index& index = v.index;
    VolumeMaps& volume = *v.volume;
    Index::Piece piece = testing::RandomPiece(rng, "C:", 600);
    ASSERT_TRUE(index.Ingest(0, piece));
    std::vector<std::string> byRecord(volume.recordMap.size());
    for (int i = 0; i < 100; ++i) {
        // Longer names push the names after them up when the pools close their gaps.
        const uint32_t e = testing::RandomLiveEntry(index, rng);
        const std::string name = std::string(index.NameOf(e)) + " (renamed)";
        index.Rename(e, index.entries[e].parent, name, FoldCaseUtf8(name));
    }
    for (int i = 0; i < 40; ++i) index.Remove(testing::RandomLiveEntry(index, rng));
    ASSERT_GT(index.entries.size() - index.deletedCount, 100u);
    for (int i = 0; i < 50; ++i) index.openCounts[static_cast<uint32_t>(rng() % index.entries.size())] += 1;
    for (size_t r = 0; r < byRecord.size(); ++r) {
        const uint32_t e = volume.recordMap[r];
        if (e != kNoEntry && !IsDeleted(index.entries[e])) byRecord[r] = index.Path(e, false);
    }
    std::multiset<std::string> links;
    for (const auto& [record, e] : volume.hardLinks) {
        if (!IsDeleted(index.entries[e])) links.insert(std::to_string(record) + index.Path(e, false));
    }
    std::multiset<std::string> opened;
    for (const auto& [e, count] : index.openCounts) {
        if (!IsDeleted(index.entries[e])) opened.insert(index.Path(e, false) + "=" + std::to_string(count));
    }

    index.Compact();
    for (size_t r = 0; r < byRecord.size(); ++r) {
        const uint32_t e = volume.recordMap[r];
        EXPECT_EQ(e == kNoEntry ? "" : index.Path(e, false), byRecord[r]) << r;
    }
    std::multiset<std::string> linksAfter;
    for (const auto& [record, e] : volume.hardLinks) linksAfter.insert(std::to_string(record) + index.Path(e, false));
    EXPECT_EQ(linksAfter, links);
    std::multiset<std::string> openedAfter;
    for (const auto& [e, count] : index.openCounts)
        openedAfter.insert(index.Path(e, false) + "=" + std::to_string(count));
    EXPECT_EQ(openedAfter, opened);
    EXPECT_EQ(CheckTotals(index), "");
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        EXPECT_EQ(index.foldedOffsets[i], index.entries[i].foldedOffset);
        if (i > 0) {
            EXPECT_GT(index.foldedOffsets[i], index.foldedOffsets[i - 1]);
        }
    }
    EXPECT_TRUE(index.changedNames.empty());
}

TEST(Merge, CompactWithoutDeletionsKeepsNumbersButMarksEveryOrder) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    const uint32_t dir = AddNamed(index, root, "dir", kDir);
    const uint32_t file = AddNamed(index, dir, "f.txt", 0, 5);
    for (int k = 0; k < kSortKeys; ++k) index.EnsureSortedBy(static_cast<SortKey>(k));
    const uint64_t epoch = index.epoch;
    const uint64_t changes = index.changes;
    index.Compact();
    EXPECT_EQ(index.Path(file, false), "C:\\dir\\f.txt");
    EXPECT_EQ(index.entries[dir].size, 5u);
    EXPECT_EQ(index.epoch, epoch + 1);
    EXPECT_EQ(index.changes, changes + 1);
    for (int k = 0; k < kSortKeys; ++k) {
        EXPECT_TRUE(index.overflow[k]);
        EXPECT_TRUE(index.ranks[k].empty());
        EXPECT_FALSE(index.OrderCurrent(static_cast<SortKey>(k)));
    }
    EXPECT_FALSE(index.pathsValid);
}

// Every rename adds twice the name's bytes to garbageBytes, but a Kelvin sign
// (three bytes) folds to one: the folded pool can be far smaller than half the
// garbage. The folded form is spelled out, as platforms' fold tables differ.
TEST(Merge, CompactSurvivesFoldedNamesShorterThanNames) {
    Index index;
    const uint32_t root = AddNamed(index, kNoEntry, "C:", kRoot);
    std::vector<uint32_t> files;
    for (int i = 0; i < 20; ++i) files.push_back(AddNamed(index, root, "k", 0));
    const std::string kelvin = "\xE2\x84\xAA";
    for (int round = 0; round < 30; ++round) {
        for (uint32_t f : files) {
            const std::string ks(static_cast<size_t>(round % 7 + 2), 'k');
            index.Rename(f, root, ks + kelvin + kelvin, ks + "kk");
        }
    }
    ASSERT_GT(index.garbageBytes / 2, index.folded.size());
    std::vector<std::string> before;
    for (uint32_t i = 0; i < index.entries.size(); ++i) before.push_back(index.Path(i, false));
    index.Compact();
    for (uint32_t i = 0; i < index.entries.size(); ++i) EXPECT_EQ(index.Path(i, false), before[i]);
    EXPECT_EQ(index.garbageBytes, 0u);
    size_t foldedBytes = 0;
    for (const Entry& e : index.entries) foldedBytes += e.foldedLength + 1u;
    EXPECT_EQ(index.folded.size(), foldedBytes);
}

TEST(Merge, ApplyExclusionsMatchesFoldedPathsExactly) {
    Index index;
    const uint32_t c = AddNamed(index, kNoEntry, "C:", kRoot);
    const uint32_t windows = AddNamed(index, c, "Windows", kDir);
    const uint32_t system32 = AddNamed(index, windows, "System32", kDir);
    AddNamed(index, system32, "k.dll", 0, 3);
    const uint32_t users = AddNamed(index, c, "Users", kDir);
    AddNamed(index, users, "x.txt", 0);
    const uint32_t d = AddNamed(index, kNoEntry, "D:", kRoot | SlotBits(1));
    AddNamed(index, d, "WINDOWS", kDir);

    const struct {
        std::vector<std::string> excluded;
        std::set<std::string> expect;
    } cases[] = {
        {{"c:\\windows"}, {"C:\\Windows", "C:\\Windows\\System32", "C:\\Windows\\System32\\k.dll"}},
        {{"C:\\Windows"}, {}},    // not folded
        {{"c:\\windows\\"}, {}},  // trailing separator
        {{"c:"},
         {"C:\\", "C:\\Windows", "C:\\Windows\\System32", "C:\\Windows\\System32\\k.dll", "C:\\Users",
          "C:\\Users\\x.txt"}},
        {{"c:\\windows\\system32", "d:\\windows"},
         {"C:\\Windows\\System32", "C:\\Windows\\System32\\k.dll", "D:\\WINDOWS"}},
        {{}, {}},
    };
    for (const auto& cs : cases) {
        for (Entry& e : index.entries) e.flags |= EntryFlags::Excluded;  // stale flags must go
        index.excluded = cs.excluded;
        index.excludesDirty = true;
        index.ApplyExclusions();
        std::set<std::string> got;
        for (uint32_t i = 0; i < index.entries.size(); ++i) {
            if (index.entries[i].flags & EntryFlags::Excluded) got.insert(index.Path(i, false));
        }
        EXPECT_EQ(got, cs.expect) << (cs.excluded.empty() ? "(none)" : cs.excluded[0]);
        EXPECT_FALSE(index.excludesDirty);
    }
}

}  // namespace
}  // namespace ov
