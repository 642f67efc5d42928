// The journal's decisions on hand-made drives: what the controls answer, how
// reads are paced, and which fetched records count. Whole volumes are checked
// against full reads in journal_image_posix_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <shared_mutex>

#include "engine/engine.h"
#include "engine/journal_follow.h"
#include "engine/wide_text.h"
#include "tests/engine/fake_drives.h"
#include "tests/support/index_reference.h"
#include "tests/support/journal_drive.h"
#include "tests/support/ntfs_builder.h"

namespace ov {
namespace {

using testing::AppendUsnRecord;
using testing::JournalAnswer;
using testing::RecordBuilder;

constexpr uint64_t kJournalId = 0x1D2E3F;

std::vector<uint8_t> File(uint32_t parent, const std::u16string& name, uint32_t size = 10) {
    return RecordBuilder().StandardInfo(1, 2, 0x20).FileName(parent, name).ResidentData(size).Finish();
}
std::u16string Numbered(const char* prefix, uint32_t number) {
    const std::string name = std::string(prefix).append(std::to_string(number));
    return std::u16string(name.begin(), name.end());
}
std::vector<uint8_t> Folder(uint32_t parent, const std::u16string& name) {
    return RecordBuilder(1024, 3).StandardInfo(1, 2, 0x10).FileName(parent, name).Finish();
}

// A file-table volume holding only its root, fed by a scripted drive.
class Journal : public ::testing::Test {
protected:
    void SetUp() override {
        index.volumes = {&volume};
        volume.kind = VolumeKind::FileTable;
        volume.rootEntry = testing::AddNamed(index, kNoEntry, "X:", testing::kRoot);
        volume.recordMap.assign(64, kNoEntry);
        volume.recordMap[5] = volume.rootEntry;
        volume.recordCount = 64;
        volume.journalId = kJournalId;
        volume.nextUsn = 100;
        drive.journal = {kJournalId, 16, 4096};
        drive.Put(5, Folder(5, u"."));
    }

    // One read naming the records (version 2), then a stop at the next wait.
    JournalEnd Follow(const std::vector<uint32_t>& records, uint64_t next) {
        return FollowNamed(std::vector<uint64_t>(records.begin(), records.end()), next);
    }
    // The same with file references: the record number and, from bit 48, the
    // sequence number of the file the journal record is about.
    JournalEnd FollowNamed(const std::vector<uint64_t>& references, uint64_t next) {
        std::vector<uint8_t> answer = JournalAnswer(next);
        for (uint64_t r : references) AppendUsnRecord(answer, 2, r);
        drive.reads.push_back({answer, 0});
        return FollowScripted();
    }
    JournalEnd FollowScripted() {
        drive.fetches.clear();
        const JournalCalls calls{drive.Control(), drive.Raw(), [this](uint32_t ms) {
                                     waits.push_back(ms);
                                     return !drive.reads.empty();
                                 }};
        return FollowJournal(index, volume, calls, [&](const std::vector<UsnChange>& changes, uint64_t next) {
            return ApplyJournalBatch(index, volume, changes, next, calls.control, raw, batch);
        });
    }

    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (uint32_t i = 0; i < index.entries.size(); ++i)
            if (!IsDeleted(index.entries[i])) paths.push_back(index.Path(i, false));
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    Index index;
    Volume volume;
    testing::JournalDrive drive;
    RawVolume raw{nullptr};
    JournalBatch batch;
    std::vector<uint32_t> waits;
};

TEST(JournalRead, RecordsOfVersionTwoAndThreeWithinTheAnswer) {
    std::vector<uint8_t> answer = JournalAnswer(777);
    for (const auto& [version, reference] : {std::pair{2, 40}, {3, 41}, {4, 42}, {2, 44}, {2, 45}, {3, 43}}) {
        const size_t at = answer.size();
        AppendUsnRecord(answer, static_cast<uint16_t>(version), reference, 6);
        if (reference == 44) answer[at + 4] = 3;  // 72 bytes: a version 3 record shorter than its fixed part
    }
    answer.resize(answer.size() - 4);  // the last no longer fits
    uint64_t next = 0;
    std::vector<UsnChange> changes;
    ASSERT_TRUE(ParseJournalRead(answer.data(), static_cast<uint32_t>(answer.size()), next, changes));
    EXPECT_EQ(next, 777u);
    std::vector<uint64_t> references;
    for (const UsnChange& change : changes) references.push_back(change.fileReference);
    EXPECT_EQ(references, (std::vector<uint64_t>{40, 41, 45}));
    EXPECT_FALSE(ParseJournalRead(answer.data(), 7, next, changes));
}

TEST_F(Journal, FollowsOnlyItsOwnJournalFromWhereItStands) {
    struct Case {
        uint64_t volumeId, nextUsn, driveId;
        uint32_t queryError;
        bool followable;
    } cases[] = {{kJournalId, 100, kJournalId, 0, true},
                 {kJournalId, 16, kJournalId, 0, true},
                 {kJournalId, 4096, kJournalId, 0, true},
                 {kJournalId, 15, kJournalId, 0, false},
                 {kJournalId, 4097, kJournalId, 0, false},
                 {kJournalId, 100, kJournalId + 1, 0, false},
                 {0, 100, 0, 0, false},
                 {kJournalId, 100, kJournalId, 1179, false}};
    for (const Case& c : cases) {
        volume.journalId = c.volumeId;
        volume.nextUsn = c.nextUsn;
        drive.journal.journalId = c.driveId;
        drive.queryError = c.queryError;
        EXPECT_EQ(JournalFollowable(drive.Control(), volume), c.followable) << c.volumeId << " " << c.nextUsn;
    }
}

TEST_F(Journal, ReadErrorsEndFollowingAsTheyShould) {
    struct Case {
        uint32_t error;
        JournalEnd end;
    } cases[] = {{1181, JournalEnd::ReadAgain}, {1178, JournalEnd::ReadAgain}, {1179, JournalEnd::ReadAgain},
                 {87, JournalEnd::ReadAgain},   {5, JournalEnd::RetryLater},   {1117, JournalEnd::RetryLater}};
    for (const Case& c : cases) {
        drive.reads = {{JournalAnswer(150), 0}, {{}, c.error}};
        EXPECT_EQ(FollowScripted(), c.end) << c.error;
        EXPECT_EQ(volume.nextUsn, 150u);
        volume.nextUsn = 100;
    }
}

TEST_F(Journal, WaitsWhenQuietAndDrainsABurst) {
    drive.Put(30, File(5, u"busy.txt"));
    std::vector<uint8_t> burst = JournalAnswer(9000);
    while (burst.size() < kJournalReadBytes / 2) AppendUsnRecord(burst, 3, 30);
    drive.reads = {{JournalAnswer(100), 0}, {JournalAnswer(120), 0}, {burst, 0}, {JournalAnswer(9000), 0}};
    EXPECT_EQ(FollowScripted(), JournalEnd::Stopped);
    // The burst is read again at once, without a wait before it.
    EXPECT_EQ(drive.readFrom, (std::vector<uint64_t>{100, 100, 120, 9000}));
    EXPECT_EQ(waits, (std::vector<uint32_t>(3, kJournalPollMs)));
    EXPECT_EQ(volume.nextUsn, 9000u);
    EXPECT_EQ(drive.fetches.size(), 1u);
    EXPECT_EQ(drive.fetches[30], 1);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"X:\\", "X:\\busy.txt"}));
}

TEST_F(Journal, AStopDuringTheFetchesChangesNothing) {
    drive.Put(30, File(5, u"a.txt"));
    ASSERT_EQ(Follow({30}, 200), JournalEnd::Stopped);
    const uint64_t changes = index.changes;
    const size_t entries = index.entries.size();
    drive.Put(31, File(5, u"b.txt"));
    drive.Put(32, File(5, u"c.txt"));
    drive.Put(30, RecordBuilder(1024, 0).Finish());  // deleted
    drive.onFetch = [this](uint32_t record) {
        if (record == 31) volume.stop = true;
    };
    EXPECT_EQ(Follow({30, 31, 32}, 300), JournalEnd::Stopped);
    EXPECT_EQ(index.changes, changes);
    EXPECT_EQ(index.entries.size(), entries);
    EXPECT_EQ(volume.nextUsn, 200u);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"X:\\", "X:\\a.txt"}));
    EXPECT_FALSE(drive.fetches.count(32));
}

TEST_F(Journal, WhatCannotBeAppliedWholeSendsTheVolumeBack) {
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> records;
    } cases[] = {
        {"a record number far beyond the table", {{0x7FFFFFF0u, File(5, u"far.txt")}}},
        {"two folders each inside the other", {{40, Folder(5, u"A")}, {41, Folder(40, u"B")}}},
        {"a folder inside a record not in use", {{42, Folder(60, u"lost")}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint32_t> numbers;
        for (const auto& [record, bytes] : c.records) {
            drive.Put(record, bytes);
            numbers.push_back(record);
        }
        if (numbers.size() == 2) {
            ASSERT_EQ(Follow(numbers, volume.nextUsn + 10), JournalEnd::Stopped);
            drive.Put(40, Folder(41, u"A"));  // now each names the other as its parent
        }
        const uint64_t before = volume.nextUsn;
        EXPECT_EQ(Follow(numbers, before + 10), JournalEnd::ReadAgain);
        EXPECT_EQ(volume.nextUsn, before);
    }
}

// A burst read in two turns, every record as it is at the end: the first
// turn may meet a folder gone whose child leaves it in the second, or a
// folder moved into one whose own parent is made in the second.
TEST_F(Journal, ABurstInTwoReadsLosesNothing) {
    auto twoReads = [&](const std::vector<uint32_t>& first, const std::vector<uint32_t>& second) {
        std::vector<uint8_t> one = JournalAnswer(volume.nextUsn + 10), two = JournalAnswer(volume.nextUsn + 20);
        for (uint32_t r : first) AppendUsnRecord(one, 2, r);
        for (uint32_t r : second) AppendUsnRecord(two, 3, r);
        drive.reads = {{one, 0}, {two, 0}};
        return FollowScripted();
    };
    drive.Put(40, Folder(5, u"A"));
    drive.Put(41, Folder(40, u"B"));
    drive.Put(42, File(41, u"deep.txt"));
    drive.Put(43, Folder(5, u"E"));
    drive.Put(44, File(43, u"e.txt"));
    drive.Put(45, File(5, u"was a file.txt"));
    ASSERT_EQ(Follow({40, 41, 42, 43, 44, 45}, 200), JournalEnd::Stopped);

    // A\B becomes B and A goes; the read naming A comes before the one naming B.
    drive.Put(41, Folder(5, u"B"));
    drive.Put(40, RecordBuilder(1024, 0).Finish());
    // New folder N1 with a file takes E in, then moves into N2, made later on
    // the record of a file deleted meanwhile.
    drive.Put(50, Folder(45, u"N1"));
    drive.Put(51, File(50, u"f.txt"));
    drive.Put(43, Folder(50, u"E"));
    drive.Put(45, Folder(5, u"N2"));
    EXPECT_EQ(twoReads({40, 50, 51, 43}, {41, 45, 50}), JournalEnd::Stopped);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"X:\\", "X:\\B", "X:\\B\\deep.txt", "X:\\N2", "X:\\N2\\N1",
                                                 "X:\\N2\\N1\\E", "X:\\N2\\N1\\E\\e.txt", "X:\\N2\\N1\\f.txt"}));
    EXPECT_EQ(volume.nextUsn, 220u);
    EXPECT_EQ(volume.files, 3u);
    EXPECT_EQ(volume.folders, 4u);
}

// One read in which a folder inside a folder both go and their records
// become files, below a folder moved and renamed meanwhile: the inner folder
// still stands in the outer one when the outer one's record is reached.
TEST_F(Journal, FoldersWhoseRecordsBecomeFilesInOneReadApplyInPlace) {
    drive.Put(43, Folder(5, u"A"));
    drive.Put(40, Folder(43, u"G"));
    drive.Put(41, Folder(40, u"K"));
    drive.Put(42, File(41, u"k.txt"));
    ASSERT_EQ(Follow({43, 40, 41, 42}, 200), JournalEnd::Stopped);

    drive.Put(43, Folder(5, u"A renamed"));
    drive.Put(42, RecordBuilder(1024, 0).Finish());
    drive.Put(41, File(43, u"was K.txt"));
    drive.Put(40, File(43, u"was G.txt"));
    EXPECT_EQ(Follow({40, 43, 42, 41, 40}, 300), JournalEnd::Stopped);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"X:\\", "X:\\A renamed", "X:\\A renamed\\was G.txt",
                                                 "X:\\A renamed\\was K.txt"}));
    EXPECT_EQ(volume.nextUsn, 300u);
    EXPECT_EQ(volume.files, 2u);
    EXPECT_EQ(volume.folders, 1u);
}

TEST_F(Journal, ARecordKeepsTheNamesItsExtensionsHoldAndNoOthers) {
    // Base 30 holds only a DOS name; its Win32 name lies in extension 31, and
    // its list also names 32, which belongs to another file.
    drive.Put(30, RecordBuilder()
                      .StandardInfo(1, 2, 0x20)
                      .FileName(5, u"LONGFI~1.TXT", 2)
                      .AttributeList({{0x30, 30}, {0x80, 32}, {0x30, 31}, {0x30, 32}, {0x80, 31}})
                      .Finish());
    drive.Put(31, RecordBuilder(1024, 1, 30).FileName(5, u"Long file name.txt", 1).ResidentData(345).Finish());
    drive.Put(32, RecordBuilder(1024, 1, 33).FileName(5, u"stranger.txt", 1).ResidentData(77).Finish());
    drive.Put(34, File(5, u"cut short.txt"));
    drive.Put(36, File(5, u"not in use.txt"));
    ASSERT_EQ(Follow({30, 34, 36}, 200), JournalEnd::Stopped);
    EXPECT_EQ(Paths(),
              (std::vector<std::string>{"X:\\", "X:\\Long file name.txt", "X:\\cut short.txt", "X:\\not in use.txt"}));
    EXPECT_EQ(index.entries[volume.recordMap[30]].size, 345u);

    // A record no longer in use (the drive answers a lower one) and NTFS
    // metadata named by the journal.
    drive.Put(36, RecordBuilder(1024, 0).Finish());
    ASSERT_EQ(Follow({34, 36, 3, 30}, 300), JournalEnd::Stopped);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"X:\\", "X:\\Long file name.txt", "X:\\cut short.txt"}));
    EXPECT_FALSE(drive.fetches.count(3));
    EXPECT_EQ(drive.fetches[31], 1);
}

// A drive that does not answer for a record (dismounted, locked, unplugged)
// or answers with something else says nothing about the file: the batch is
// left for later whole, and the journal is read again from where it stood.
TEST_F(Journal, ARecordThatCannotBeFetchedLeavesTheBatchForLater) {
    for (uint32_t r : {30u, 31u, 32u, 33u})
        drive.Put(r, File(5, std::u16string(u"file ").append(1, static_cast<char16_t>(u'0' + (r - 30)))));
    ASSERT_EQ(Follow({30, 31, 32, 33}, 200), JournalEnd::Stopped);
    const std::vector<std::string> before = Paths();
    drive.Put(30, RecordBuilder(1024, 0).Finish());  // deleted
    drive.Put(31, File(5, u"renamed"));
    struct Case {
        const char* what;
        std::function<void()> fault;
    } cases[] = {
        {"the control refused", [&] { drive.fetchError[32] = 21; }},  // ERROR_NOT_READY
        {"an answer short of its record", [&] { drive.cutAnswer[32] = 8; }},
        {"an extension record refused",
         [&] {
             drive.Put(33, RecordBuilder()
                               .StandardInfo(1, 2, 0x20)
                               .FileName(5, u"file 3")
                               .AttributeList({{0x30, 33}, {0x30, 34}})
                               .Finish());
             drive.Put(34, RecordBuilder(1024, 1, 33).FileName(5, u"file 3 too", 1).Finish());
             drive.fetchError[34] = 1167;  // ERROR_DEVICE_NOT_CONNECTED
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.fault();
        const uint64_t changes = index.changes;
        EXPECT_EQ(Follow({30, 31, 32, 33}, 300), JournalEnd::RetryLater);
        EXPECT_EQ(index.changes, changes);
        EXPECT_EQ(Paths(), before);
        EXPECT_EQ(volume.nextUsn, 200u);
        drive.fetchError.clear();
        drive.cutAnswer.clear();
        drive.reads.clear();
    }
    EXPECT_EQ(Follow({30, 31, 32, 33}, 300), JournalEnd::Stopped);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"X:\\", "X:\\file 2", "X:\\file 3", "X:\\file 3 too", "X:\\renamed"}));
    EXPECT_EQ(volume.nextUsn, 300u);

    // A record that keeps failing on a drive that answers is not retried for
    // ever: the drive is read again, with nothing applied.
    drive.Put(31, File(5, u"renamed again"));
    drive.fetchError[31] = 1392;  // ERROR_FILE_CORRUPT
    const std::vector<std::string> held = Paths();
    std::vector<JournalEnd> ends;
    for (int i = 0; i < 6; ++i) {
        ends.push_back(Follow({31}, 400));
        drive.reads.clear();
    }
    std::vector<JournalEnd> want(5, JournalEnd::RetryLater);
    want.push_back(JournalEnd::ReadAgain);
    EXPECT_EQ(ends, want);
    EXPECT_EQ(Paths(), held);
    EXPECT_EQ(volume.nextUsn, 300u);
}

// A record freed and taken by another file is named by the journal with both
// files' sequence numbers: the new file is a new entry, which keeps nothing of
// the old one, while a rename keeps its entry.
TEST_F(Journal, ARecordTakenByAnotherFileIsANewEntry) {
    const auto named = [](uint32_t record, uint16_t sequence) { return record | uint64_t{sequence} << 48; };
    drive.Put(30, File(5, u"report.txt"));
    drive.SetSequence(30, 4);
    drive.Put(31, Folder(5, u"build"));
    drive.SetSequence(31, 9);
    drive.Put(32, File(31, u"out.o"));
    ASSERT_EQ(FollowNamed({named(30, 4), named(31, 9), 32}, 200), JournalEnd::Stopped);
    const uint32_t report = volume.recordMap[30], build = volume.recordMap[31];

    drive.Put(30, File(5, u"report final.txt"));
    drive.SetSequence(30, 4);
    ASSERT_EQ(FollowNamed({named(30, 4)}, 300), JournalEnd::Stopped);
    EXPECT_EQ(volume.recordMap[30], report);

    // The file goes and its record becomes another file; the folder goes once
    // emptied and its record becomes a folder that takes in what it held.
    drive.Put(30, File(5, u"unrelated.txt"));
    drive.SetSequence(30, 5);
    drive.Put(31, Folder(5, u"other"));
    drive.SetSequence(31, 10);
    drive.Put(32, File(31, u"out.o"));
    ASSERT_EQ(FollowNamed({named(30, 4), named(31, 9), named(30, 5), 32, named(31, 10)}, 400), JournalEnd::Stopped);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"X:\\", "X:\\other", "X:\\other\\out.o", "X:\\unrelated.txt"}));
    EXPECT_NE(volume.recordMap[30], report);
    EXPECT_NE(volume.recordMap[31], build);
    EXPECT_TRUE(IsDeleted(index.entries[report]));
    EXPECT_TRUE(IsDeleted(index.entries[build]));
    EXPECT_EQ(volume.files, 2u);
    EXPECT_EQ(volume.folders, 1u);
}

std::vector<std::string> LivePaths(const Index& index) {
    std::vector<std::string> paths;
    for (uint32_t i = 0; i < index.entries.size(); ++i)
        if (!IsDeleted(index.entries[i])) paths.push_back(index.Path(i, false));
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Everything the index and the volume's maps hold, to tell whether a batch
// changed anything.
std::string Snapshot(const Index& index, const Volume& volume) {
    std::string out = std::to_string(index.changes) + " " + std::to_string(index.entries.size()) + " " +
                      std::to_string(index.deletedCount) + " " + std::to_string(volume.files) + " " +
                      std::to_string(volume.folders) + "\n";
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        const Entry& e = index.entries[i];
        out += std::to_string(e.parent) + " " + std::string(index.NameOf(i)) + " " + std::to_string(e.flags) + " " +
               std::to_string(e.size) + " " + std::to_string(e.childCount) + "\n";
    }
    for (uint32_t e : volume.recordMap) out += std::to_string(e) + ",";
    std::vector<std::pair<uint32_t, uint32_t>> links(volume.hardLinks.begin(), volume.hardLinks.end());
    std::sort(links.begin(), links.end());
    for (const auto& [r, e] : links) out.append(" ").append(std::to_string(r)).append(":").append(std::to_string(e));
    return out;
}

// A scripted volume of a few dozen records changed at random, at times into
// records that contradict each other (a folder inside itself, a name in a
// folder not in use). Every changed record is named, with the sequence
// number of each file that held it, in one read or several. A batch that
// asks for a full read has changed nothing; a volume whose records agree is
// followed to what they say.
TEST(JournalBatches, ABatchThatAsksForAFullReadChangedNothing) {
    struct Rec {
        bool inUse = false;
        bool folder = false;
        uint32_t parent = 5;
        std::u16string name;
        uint16_t sequence = 1;
        bool operator==(const Rec&) const = default;
    };
    int readAgain = 0, runs = 0, contradicting = 0;
    for (uint32_t seed = 0; seed < 400; ++seed) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        struct Side {
            Index index;
            Volume volume;
            testing::JournalDrive drive;
            RawVolume raw{nullptr};
            JournalBatch batch;
        };
        const auto side = std::make_unique<Side>();
        Index& index = side->index;
        Volume& volume = side->volume;
        testing::JournalDrive& drive = side->drive;
        RawVolume& raw = side->raw;
        JournalBatch& batch = side->batch;
        index.volumes = {&volume};
        volume.kind = VolumeKind::FileTable;
        volume.recordCount = 64;
        volume.journalId = kJournalId;
        volume.rootEntry = testing::AddNamed(index, kNoEntry, "X:", testing::kRoot);
        volume.recordMap.assign(64, kNoEntry);
        volume.recordMap[5] = volume.rootEntry;
        volume.nextUsn = 100;
        drive.journal = {kJournalId, 16, 1 << 30};
        drive.Put(5, Folder(5, u"."));
        std::mt19937 rng(seed);
        std::map<uint32_t, Rec> recs;
        auto put = [&](uint32_t r) {
            const Rec& x = recs[r];
            drive.Put(r, !x.inUse   ? RecordBuilder(1024, 0).Finish()
                         : x.folder ? Folder(x.parent, x.name)
                                    : File(x.parent, x.name));
            drive.SetSequence(r, x.sequence);
        };
        auto folders = [&] {
            std::vector<uint32_t> out{5};
            for (const auto& [r, x] : recs)
                if (x.inUse && x.folder) out.push_back(r);
            return out;
        };
        auto below = [&](uint32_t r, uint32_t folder) {  // r lies in folder, or is it
            for (int depth = 0; depth < 64 && r != 5; ++depth) {
                if (r == folder) return true;
                r = recs[r].parent;
            }
            return r == folder;
        };
        auto expected = [&] {
            std::vector<std::string> paths{"X:\\"};
            for (const auto& [r, x] : recs) {
                if (!x.inUse) continue;
                std::string path = ToUtf8(WString(x.name.begin(), x.name.end()));
                uint32_t p = x.parent;
                int depth = 0;
                for (; p != 5 && depth < 64 && recs.count(p) && recs[p].inUse && recs[p].folder; ++depth) {
                    path = ToUtf8(WString(recs[p].name.begin(), recs[p].name.end())) + "\\" + path;
                    p = recs[p].parent;
                }
                if (p == 5) paths.push_back("X:\\" + path);
            }
            std::sort(paths.begin(), paths.end());
            return paths;
        };
        auto feed = [&](const std::map<uint32_t, Rec>& before, bool* askedAgain) {
            std::vector<uint64_t> references;
            for (const auto& [r, x] : recs) {
                const auto was = before.find(r);
                if (was != before.end() && was->second == x) continue;
                if (was != before.end() && was->second.inUse)
                    references.push_back(r | uint64_t{was->second.sequence} << 48);
                if (x.inUse) references.push_back(r | uint64_t{x.sequence} << 48);
                for (int copy = static_cast<int>(rng() % 2); copy > 0; --copy) references.push_back(references.back());
                put(r);
            }
            std::shuffle(references.begin(), references.end(), rng);
            const size_t reads = 1 + rng() % 3;
            for (size_t k = 0; k < reads; ++k) {
                std::vector<uint8_t> answer = JournalAnswer(volume.nextUsn + 10 * (k + 1));
                for (size_t i = k * references.size() / reads; i < (k + 1) * references.size() / reads; ++i)
                    AppendUsnRecord(answer, 3, references[i]);
                drive.reads.push_back({answer, 0});
            }
            const JournalCalls calls{drive.Control(), drive.Raw(), [&](uint32_t) { return !drive.reads.empty(); }};
            return FollowJournal(index, volume, calls, [&](const std::vector<UsnChange>& changes, uint64_t next) {
                const std::string was = Snapshot(index, volume);
                const BatchEnd end = ApplyJournalBatch(index, volume, changes, next, calls.control, raw, batch);
                if (end == BatchEnd::ReadAgain) {
                    *askedAgain = true;
                    EXPECT_EQ(Snapshot(index, volume), was);
                }
                return end;
            });
        };

        const auto count = static_cast<uint32_t>(8 + rng() % 24);
        for (uint32_t r = 30; r < 30 + count; ++r) {
            const std::vector<uint32_t> f = folders();
            recs[r] = Rec{true, rng() % 5 < 2, f[rng() % f.size()], Numbered("r", r), 1};
        }
        bool askedAgain = false;
        ASSERT_EQ(feed({}, &askedAgain), JournalEnd::Stopped);
        ASSERT_EQ(LivePaths(index), expected());

        const std::map<uint32_t, Rec> before = recs;
        const bool contradict = rng() % 4 == 0;
        uint32_t next = 30 + count;
        for (int op = 0, ops = 1 + static_cast<int>(rng() % 8); op < ops; ++op) {
            auto it = std::next(recs.begin(), static_cast<long>(rng() % recs.size()));
            Rec& x = it->second;
            const std::vector<uint32_t> f = folders();
            const uint32_t to = f[rng() % f.size()];
            const bool empty = std::none_of(recs.begin(), recs.end(), [&](const auto& other) {
                return other.second.inUse && other.second.parent == it->first;
            });
            switch (rng() % 5) {
                case 0:  // renamed
                    x.name += u"x";
                    break;
                case 1:  // moved
                    if (contradict || !x.folder || !below(to, it->first)) x.parent = to;
                    break;
                case 2:  // deleted
                case 3:  // deleted and the record taken by another file or folder
                    if (!x.inUse || !(contradict || !x.folder || empty)) break;
                    x.inUse = false;
                    x.sequence += 1;
                    if (rng() % 5 == 4) break;
                    if (!contradict || !below(to, it->first)) {
                        x = Rec{true, rng() % 2 == 0, to == it->first ? 5 : to, x.name + u"y", x.sequence};
                    }
                    break;
                default: {  // created
                    recs[next] = Rec{true, rng() % 2 == 0, to, Numbered("n", next), 1};
                    ++next;
                }
            }
        }
        askedAgain = false;
        const JournalEnd end = feed(before, &askedAgain);
        ++runs;
        readAgain += askedAgain;
        contradicting += contradict;
        if (askedAgain) {
            EXPECT_TRUE(contradict) << "records that agree asked for a full read";
            continue;
        }
        ASSERT_EQ(end, JournalEnd::Stopped);
        EXPECT_EQ(LivePaths(index), expected());
        EXPECT_EQ(testing::CheckTotals(index), "");
    }
    std::cout << readAgain << " of " << runs << " batches asked for a full read, " << contradicting
              << " volumes had records that may contradict\n";
    EXPECT_GT(readAgain, 0);
}

#ifndef _WIN32
// Every status text each volume showed, in order.
struct StatusWindow final : NotifyTarget {
    void Posted(uint32_t message) override {
        (message == WM_APP_VOLUMES_CHANGED ? engine->volumesChangedPosted : engine->indexChangedPosted).exchange(false);
        std::lock_guard<std::mutex> lock(mutex);
        for (int slot : {0, 1}) {
            const Volume* volume = engine->VolumeAt(slot);
            const std::string text = volume ? ToUtf8(engine->StatusOf(volume)) : std::string();
            if (!text.empty() && (shown[slot].empty() || shown[slot].back() != text)) shown[slot].push_back(text);
        }
    }
    Engine* engine;
    std::mutex mutex;
    std::vector<std::string> shown[2];
};

// The volume thread's answers to Journal's results, through the engine's
// seams: X's journal is another one (read the drive again), Y's first read
// fails (retry after 5 s) and its second delivers a new file.
TEST(EngineJournal, ResetReadsTheDriveAgainAndErrorsRetryAfterFiveSeconds) {
    using Clock = std::chrono::steady_clock;
    testing::TempDir temp{"journal"};
    testing::FakeDrives drives;
    Engine engine{drives};
    engine.elevated = true;
    std::map<char, testing::JournalDrive> journals;
    std::vector<std::unique_ptr<Volume>> slots;
    for (char letter : {'X', 'Y'}) {
        drives.Set(letter, testing::FakeDrive{testing::W(temp.path), DriveType::Fixed, Text(L"NTFS"), {}, 1});
        journals[letter].journal = {letter == 'X' ? kJournalId + 1 : kJournalId, 16, 4096};
        journals[letter].Put(5, Folder(5, u"."));
        slots.push_back(std::make_unique<Volume>());
        Volume& v = *slots.back();
        v.root = WString{WChar(letter), u':', u'\\'};
        v.name = v.root.substr(0, 2);
        v.fileSystem = Text(L"NTFS");
        v.serial = 1;
        v.kind = VolumeKind::FileTable;
        v.journalId = kJournalId;
        v.nextUsn = 100;
    }
    std::vector<uint8_t> answer = JournalAnswer(300);
    AppendUsnRecord(answer, 3, 30);
    journals['Y'].reads = {{{}, 5}, {answer, 0}};
    journals['Y'].Put(30, File(5, u"new.txt"));
    Volume* x = slots[0].get();
    Volume* y = slots[1].get();
    {
        std::unique_lock<SharedMutex> guard(engine.lock);
        engine.ReplaceVolumes(std::move(slots));
        for (Volume* v : {x, y}) {
            v->rootEntry = testing::AddNamed(engine, kNoEntry, ToUtf8(v->name), testing::kRoot | SlotBits(v->slot));
            v->recordMap.assign(64, kNoEntry);
            v->recordMap[5] = v->rootEntry;
        }
    }
    struct Source final : JournalSource {
        explicit Source(testing::JournalDrive& drive) : drive(drive) {}
        DeviceControl Control() const override { return drive.Control(); }
        DevFactory Raw() const override { return drive.Raw(); }
        testing::JournalDrive& drive;
    };
    StatusWindow window;
    window.engine = &engine;
    std::map<char, std::vector<Clock::time_point>> opens;  // under window.mutex
    engine.openJournalDrive = [&](const WString& name, uint32_t&) -> std::unique_ptr<JournalSource> {
        std::lock_guard<std::mutex> lock(window.mutex);
        opens[static_cast<char>(name[0])].push_back(Clock::now());
        return std::make_unique<Source>(journals[static_cast<char>(name[0])]);
    };
    engine.notifyWindow = &window;
    engine.RefreshVolumes();

    auto applied = [&] {
        std::shared_lock<SharedMutex> guard(engine.lock);
        return y->nextUsn == 300;
    };
    for (const auto until = Clock::now() + std::chrono::seconds(30); Clock::now() < until && !applied();)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        ASSERT_EQ(y->nextUsn, 300u);
        EXPECT_EQ(engine.Path(y->recordMap.at(30), false), "Y:\\new.txt");
    }
    EXPECT_TRUE(y->live.load());
    const auto stopping = Clock::now();
    engine.Stop(false);  // Y waits 250 ms between reads: the stop ends the wait at once
    EXPECT_LT(Clock::now() - stopping, std::chrono::milliseconds(Engine::kStopGraceMs));
    EXPECT_FALSE(y->running);
    EXPECT_FALSE(y->live.load());
    engine.notifyWindow = nullptr;

    std::lock_guard<std::mutex> lock(window.mutex);
    ASSERT_EQ(opens['Y'].size(), 2u);
    EXPECT_GE(opens['Y'][1] - opens['Y'][0], std::chrono::milliseconds(4900));
    EXPECT_EQ(opens['X'].size(), 2u);  // its journal, then the read of the drive that follows
    const auto reset = std::find(window.shown[0].begin(), window.shown[0].end(),
                                 "The change journal was reset - reading the drive again");
    ASSERT_TRUE(reset != window.shown[0].end() && reset + 1 != window.shown[0].end());
    EXPECT_EQ(*(reset + 1), "Reading the file table\u2026");  // the drive is read again
    EXPECT_EQ(window.shown[1],
              std::vector<std::string>{"Up to date \u2014 watching for changes (NTFS change journal)"});
}

// A drive whose journal is being deleted when it is read (1178) is indexed
// without live updates and says so; it asks again on the journal-error
// schedule, and once the deletion has ended (1179) it creates the journal on
// a handle that may write, reads the drive again with the new journal pinned
// and follows it.
TEST(EngineJournal, AJournalBeingDeletedIsMadeAgainAndFollowed) {
    using Clock = std::chrono::steady_clock;
    testing::TempDir temp{"journal"};
    testing::FakeDrives drives;
    drives.Set('X', testing::FakeDrive{testing::W(temp.path), DriveType::Fixed, Text(L"NTFS"), {}, 1});
    testing::MemVolume disk{testing::MemVolume::Shape{}};
    disk.AddRootAndFiles(3);
    testing::JournalDrive journal;
    journal.Put(5, Folder(5, u"."));
    journal.Put(30, File(5, u"new.txt"));
    std::vector<uint8_t> answer = JournalAnswer(5000);
    AppendUsnRecord(answer, 3, 30);
    journal.reads = {{answer, 0}};

    Engine engine{drives};
    engine.elevated = true;
    StatusWindow window;
    window.engine = &engine;
    std::vector<uint32_t> queries;  // the query's answers, 0 for the journal (under window.mutex)
    std::vector<std::string> created;
    bool exists = false;
    const DeviceControl base = journal.Control();
    const DeviceControl control = [&](uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                      uint32_t& returned, uint32_t& error) {
        if (code == kQueryUsnJournal) {
            std::lock_guard<std::mutex> lock(window.mutex);
            const uint32_t answered = exists            ? 0
                                      : queries.empty() ? kErrorJournalDeleteInProgress
                                                        : kErrorJournalNotActive;
            queries.push_back(answered);
            if (answered) {
                error = answered;
                return false;
            }
        }
        return base(code, in, inSize, out, outSize, returned, error);
    };
    engine.openJournalDrive = [&](const WString&, uint32_t&) -> std::unique_ptr<JournalSource> {
        struct Source final : JournalSource {
            Source(const DeviceControl& control, DevFactory raw) : control(control), raw(std::move(raw)) {}
            DeviceControl Control() const override { return control; }
            DevFactory Raw() const override { return raw; }
            DeviceControl control;
            DevFactory raw;
        };
        return std::make_unique<Source>(control, disk.Factory());
    };
    engine.createJournal = [&](const WString& name, uint32_t&) {
        std::lock_guard<std::mutex> lock(window.mutex);
        created.push_back(ToUtf8(name));
        exists = true;
        return true;
    };
    engine.notifyWindow = &window;
    engine.RefreshVolumes();

    Volume* x = nullptr;
    auto followed = [&] {
        std::shared_lock<SharedMutex> guard(engine.lock);
        x = engine.VolumeAt(0);
        return x && x->nextUsn == 5000;
    };
    for (const auto until = Clock::now() + std::chrono::seconds(60); Clock::now() < until && !followed();)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool live = x && x->live.load();
    engine.Stop(false);
    engine.notifyWindow = nullptr;
    ASSERT_TRUE(followed()) << "the journal was never followed";
    EXPECT_TRUE(live);
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        EXPECT_EQ(engine.Path(x->recordMap.at(30), false), "X:\\new.txt");
        EXPECT_EQ(x->files, 4u);
    }
    std::lock_guard<std::mutex> lock(window.mutex);
    EXPECT_EQ(created, std::vector<std::string>{"X:"});
    ASSERT_GE(queries.size(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(queries.begin(), queries.begin() + 3),
              (std::vector<uint32_t>{kErrorJournalDeleteInProgress, kErrorJournalNotActive, 0}));
    std::vector<std::string> done;  // the texts after each read
    for (const std::string& text : window.shown[0])
        if (text.rfind("Indexed ", 0) == 0) done.push_back(text.substr(text.find(')') + 1));
    EXPECT_EQ(done, (std::vector<std::string>{
                        " - changes aren't followed while the drive's change journal is unavailable (1178)", ""}));
}
#endif

}  // namespace
}  // namespace ov
