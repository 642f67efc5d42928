// The journal's decisions on hand-made drives: what the controls answer, how
// reads are paced, and which fetched records count. Whole volumes are checked
// against full reads in journal_image_posix_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <shared_mutex>

#include "engine/journal_follow.h"
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
        std::vector<uint8_t> answer = JournalAnswer(next);
        for (uint32_t r : records) AppendUsnRecord(answer, 2, r);
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
    AppendUsnRecord(answer, 2, 40);
    AppendUsnRecord(answer, 3, 41);
    AppendUsnRecord(answer, 4, 42);  // range records: skipped
    AppendUsnRecord(answer, 3, 43);
    answer.resize(answer.size() - 4);  // the last record no longer fits
    std::vector<uint8_t> shortV3 = JournalAnswer(777);
    AppendUsnRecord(shortV3, 2, 44, 6);
    shortV3[12] = 3;  // a version 3 record of 72 bytes, shorter than its fixed part
    AppendUsnRecord(shortV3, 2, 45);
    std::vector<uint8_t> tooShort = JournalAnswer(777);
    AppendUsnRecord(tooShort, 2, 46);
    tooShort[8] = 56;  // below the smallest record: the rest is not read
    AppendUsnRecord(tooShort, 2, 47);
    struct Case {
        std::vector<uint8_t> bytes;
        bool read;
        std::vector<uint64_t> references;
    } cases[] = {{answer, true, {40, 41}},
                 {shortV3, true, {45}},
                 {tooShort, true, {}},
                 {JournalAnswer(777), true, {}},
                 {std::vector<uint8_t>(7, 1), false, {}}};
    for (const Case& c : cases) {
        uint64_t next = 0;
        std::vector<UsnChange> changes;
        EXPECT_EQ(ParseJournalRead(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), next, changes), c.read);
        std::vector<uint64_t> references;
        for (const UsnChange& change : changes) references.push_back(change.fileReference);
        EXPECT_EQ(references, c.references);
        EXPECT_EQ(next, c.read ? 777u : 0u);
    }
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
    // Compaction pays once the deleted entries are many and a quarter of all.
    struct Deleted {
        uint64_t deleted, entries;
        bool compact;
    } thresholds[] = {{50000, 100000, false}, {50001, 200004, false}, {50001, 200003, true}};
    for (const Deleted& t : thresholds) {
        Index big;
        big.deletedCount = t.deleted;
        big.entries.resize(t.entries);
        EXPECT_EQ(JournalShouldCompact(big), t.compact) << t.deleted << " of " << t.entries;
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

    // An answer short of its record's length, a record no longer in use (the
    // drive answers a lower one) and NTFS metadata named by the journal.
    drive.cutAnswer[34] = 8;
    drive.Put(36, RecordBuilder(1024, 0).Finish());
    ASSERT_EQ(Follow({34, 36, 3, 30}, 300), JournalEnd::Stopped);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"X:\\", "X:\\Long file name.txt"}));
    EXPECT_FALSE(drive.fetches.count(3));
    EXPECT_EQ(drive.fetches[31], 1);
}

}  // namespace
}  // namespace ov
