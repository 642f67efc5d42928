// The change journal against full reads of real NTFS volumes: journal0.img is
// read whole, then the records whose bytes differ in each later image (changed
// through ntfs-3g, see make_ntfs_images.py) are fed as journal records, in a
// shuffled order with repeats, in one read or cut into several, and served
// from that image. A journal names a record with the sequence number of each
// file that held it, so a record freed and taken again is named with both.
// The index must then be what a full read of that image gives, entry numbers
// kept where the record still holds the same file, and no batch may ask for a
// full read: every record is as the volume holds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <shared_mutex>

#include "engine/journal_follow.h"
#include "engine/le_bytes.h"
#include "engine/mft_reader.h"
#include "index/text.h"
#include "tests/support/journal_drive.h"
#include "tests/support/mft_listing.h"

namespace ov {
namespace {

constexpr int kStages = 7;
constexpr int kSeeds = 24;
constexpr int kCutSeeds = 40;

struct ReadVolume {
    Index index;
    Volume volume;
};

std::unique_ptr<ReadVolume> FullRead(const std::string& image) {
    auto read = std::make_unique<ReadVolume>();
    MftResult result;
    Index::Piece piece;
    if (!MftReadAll(DriveDevFactory(ToWide(image)), 2, result, nullptr, nullptr) ||
        !FromMftResult(result, ToWide(std::string("X:")), piece)) {
        ADD_FAILURE() << image << ": " << result.error;
        return nullptr;
    }
    read->volume.kind = VolumeKind::FileTable;
    read->volume.journalId = 0x1D2E3F;
    read->volume.nextUsn = 100;
    read->index.volumes = {&read->volume};
    std::unique_lock<SharedMutex> guard(read->index.lock);
    EXPECT_TRUE(read->index.Ingest(0, piece));
    return read;
}

// Every live entry with everything the index keeps of it.
std::vector<std::string> ListIndex(const Index& index) {
    std::vector<std::string> lines;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        const Entry& e = index.entries[i];
        if (IsDeleted(e)) continue;
        lines.push_back(index.Path(i, false) + "\t" + (IsDir(e) ? "D" : "F") + "\t" + std::to_string(e.size) + "\t" +
                        std::to_string(e.childCount) + "\t" + std::to_string(e.modified) + "\t" +
                        std::to_string(e.created) + "\t" + std::to_string(e.flags & EntryFlags::AttributeMask));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

bool InUse(const std::vector<uint8_t>& record) {
    return record.size() >= 0x28 && std::equal(record.begin(), record.begin() + 4, "FILE") &&
           (LeU16(record.data() + 0x16) & 1);
}

// Records whose bytes differ, with the base records of changed extension
// records (a journal names the file, not the record that changed).
std::set<uint32_t> ChangedRecords(testing::JournalDrive& before, testing::JournalDrive& after) {
    std::set<uint32_t> changed;
    for (uint32_t r = 0; r < std::max(before.Records(), after.Records()); ++r) {
        const std::vector<uint8_t> a = before.Record(r), b = after.Record(r);
        if (a == b) continue;
        changed.insert(r);
        for (const auto* bytes : {&a, &b})
            if (InUse(*bytes) && LeU32(bytes->data() + 0x20) != 0) changed.insert(LeU32(bytes->data() + 0x20));
    }
    return changed;
}

uint16_t Sequence(const std::vector<uint8_t>& record) {
    return record.size() >= 0x12 ? LeU16(record.data() + 0x10) : 0;
}

struct Stage {
    std::string image;
    std::set<uint32_t> changed;
    std::set<uint32_t> freed;                             // in use before, not after
    std::set<uint32_t> reused;                            // in use before and after, by another file
    std::map<uint32_t, std::vector<uint16_t>> sequences;  // the journal names the record with each
};

class JournalImage : public ::testing::Test {
protected:
    void SetUp() override {
        std::string skipReason;
        dir = testing::NtfsImageFolder(skipReason);
        if (dir.empty()) GTEST_SKIP() << skipReason;
        std::vector<std::unique_ptr<testing::JournalDrive>> drives;
        for (int i = 0; i <= kStages; ++i) {
            drives.push_back(std::make_unique<testing::JournalDrive>());
            std::string error;
            ASSERT_TRUE(drives.back()->Load(Image(i), error)) << Image(i) << ": " << error;
            expected.push_back(FullRead(Image(i)));
            ASSERT_TRUE(expected.back());
        }
        for (int i = 1; i <= kStages; ++i) {
            stages.push_back(StageBetween(*drives[i - 1], *drives[i], Image(i)));
            ASSERT_GT(stages.back().changed.size(), 5u);
        }
        // The stages that free records and take them again at once.
        for (int i : {5, 7}) ASSERT_GE(stages[i - 1].reused.size(), i == 5 ? 3u : 3u) << Image(i);
        all = StageBetween(*drives[0], *drives[kStages], Image(kStages));
    }

    std::string Image(int i) const { return dir + "/journal" + std::to_string(i) + ".img"; }

    static Stage StageBetween(testing::JournalDrive& before, testing::JournalDrive& after, const std::string& image) {
        Stage stage{image, ChangedRecords(before, after), {}, {}, {}};
        for (uint32_t r : stage.changed) {
            const std::vector<uint8_t> a = before.Record(r), b = after.Record(r);
            if (InUse(a) && !InUse(b)) stage.freed.insert(r);
            if (InUse(a) && InUse(b) && Sequence(a) != Sequence(b)) stage.reused.insert(r);
            std::vector<uint16_t>& named = stage.sequences[r];
            if (InUse(a)) named.push_back(Sequence(a));
            if (InUse(b) && (named.empty() || named[0] != Sequence(b))) named.push_back(Sequence(b));
            if (named.empty()) named.push_back(Sequence(b));
        }
        return stage;
    }

    // Feeds one stage's changes, in an order given by seed, as `reads` journal
    // reads cut at points given by seed. Every record is served as the stage's
    // image holds it, as a program catching up after a burst sees it.
    JournalEnd Feed(ReadVolume& read, const Stage& stage, uint32_t seed, size_t reads, testing::JournalDrive& drive) {
        std::string error;
        EXPECT_TRUE(drive.Load(stage.image, error)) << error;
        drive.fixedUp = seed % 2;
        std::mt19937 rng(seed);
        std::vector<std::pair<uint16_t, uint64_t>> records;
        for (const auto& [r, named] : stage.sequences) {
            for (uint32_t copy = 0, copies = static_cast<uint32_t>(named.size()) + rng() % 3; copy < copies; ++copy) {
                const uint16_t sequence = named[copy < named.size() ? copy : rng() % named.size()];
                records.emplace_back(rng() % 2 ? 2 : 3, r | uint64_t{sequence} << 48);
            }
        }
        std::shuffle(records.begin(), records.end(), rng);
        std::set<size_t> cuts{0, records.size()};
        while (cuts.size() < std::min(reads, records.size()) + 1) cuts.insert(1 + rng() % (records.size() - 1));
        uint64_t next = read.volume.nextUsn;
        for (auto from = cuts.begin(), to = std::next(from); to != cuts.end(); ++from, ++to) {
            next += 64 * (*to - *from);
            std::vector<uint8_t> answer = testing::JournalAnswer(next);
            for (size_t i = *from; i < *to; ++i) testing::AppendUsnRecord(answer, records[i].first, records[i].second);
            drive.reads.push_back({answer, 0});
        }
        drive.journal = {read.volume.journalId, 16, next};

        RawVolume raw(drive.Raw());
        JournalBatch batch;
        const JournalCalls calls{drive.Control(), drive.Raw(), [&](uint32_t ms) {
                                     EXPECT_EQ(ms, kJournalPollMs);
                                     return !drive.reads.empty();
                                 }};
        EXPECT_TRUE(JournalFollowable(calls.control, read.volume));
        const JournalEnd end = FollowJournal(read.index, read.volume, calls, [&](const auto& changes, uint64_t to) {
            return ApplyJournalBatch(read.index, read.volume, changes, to, calls.control, raw, batch);
        });
        if (end == JournalEnd::Stopped) {
            EXPECT_EQ(read.volume.nextUsn, next);
        }
        return end;
    }

    // The index is the full read's, and a record that stayed a file or a
    // folder kept its entry.
    static void ExpectFullRead(const ReadVolume& read, const ReadVolume& full, const std::vector<uint32_t>& mapBefore,
                               const std::vector<Entry>& entriesBefore, const Stage& stage) {
        const std::vector<std::string> got = ListIndex(read.index), want = ListIndex(full.index);
        ASSERT_TRUE(got == want) << testing::FirstDifferences(want, got);
        EXPECT_EQ(read.volume.files, full.volume.files);
        EXPECT_EQ(read.volume.folders, full.volume.folders);
        const auto& map = read.volume.recordMap;
        for (uint32_t r = 0; r < std::min(mapBefore.size(), map.size()); ++r) {
            const uint32_t was = mapBefore[r], is = map[r];
            if (was == kNoEntry || is == kNoEntry || IsDeleted(entriesBefore[was]) || stage.reused.count(r)) continue;
            EXPECT_TRUE(IsDir(entriesBefore[was]) != IsDir(read.index.entries[is]) || was == is) << "record " << r;
        }
        for (uint32_t r : stage.freed) {
            EXPECT_TRUE(r >= map.size() || map[r] == kNoEntry) << "record " << r;
            EXPECT_EQ(read.volume.hardLinks.count(r), 0u) << "record " << r;
        }
    }

    // One read holding the whole stage: each record fetched once.
    void Apply(ReadVolume& read, const Stage& stage, const ReadVolume& full, uint32_t seed) {
        const std::vector<uint32_t> mapBefore = read.volume.recordMap;
        const std::vector<Entry> entriesBefore = read.index.entries;
        testing::JournalDrive drive;
        const JournalEnd end = Feed(read, stage, seed, 1, drive);
        ++runs;
        readAgain += end == JournalEnd::ReadAgain;
        ASSERT_EQ(end, JournalEnd::Stopped);
        ExpectFullRead(read, full, mapBefore, entriesBefore, stage);
        for (const auto& [record, count] : drive.fetches) EXPECT_EQ(count, 1) << "record " << record;
        for (uint32_t r : stage.changed) EXPECT_TRUE((r != 5 && r < 24) || drive.fetches.count(r)) << "record " << r;
    }

    std::string dir;
    int runs = 0, readAgain = 0;
    std::vector<std::unique_ptr<ReadVolume>> expected;  // full reads of journal0 on
    std::vector<Stage> stages;
    Stage all;  // journal0 to the last image at once
};

TEST_F(JournalImage, ChangesApplyAsAFullReadWhateverTheirOrder) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        auto read = FullRead(Image(0));
        ASSERT_TRUE(read);
        for (int i = 0; i < kStages; ++i) {
            SCOPED_TRACE("journal" + std::to_string(i + 1));
            Apply(*read, stages[i], *expected[i + 1], seed);
            if (HasFatalFailure()) break;
        }
        if (HasFatalFailure()) break;
        read = FullRead(Image(0));
        ASSERT_TRUE(read);
        SCOPED_TRACE("all at once");
        Apply(*read, all, *expected[kStages], seed);
        if (HasFatalFailure()) break;
    }
    std::cout << readAgain << " of " << runs << " journals in one read asked for a full read\n";
}

// Cut into several reads, a read may hold a folder that went while what it
// held left in a later read, or a folder whose new parent comes later: each
// read is applied as it comes, with the records as they are at the end.
TEST_F(JournalImage, ChangesCutIntoSeveralReadsApplyAsAFullRead) {
    for (uint32_t seed = 0; seed < kCutSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        auto read = FullRead(Image(0));
        ASSERT_TRUE(read);
        for (int i = 0; i <= kStages; ++i) {
            const bool atOnce = i == kStages;  // journal0 to the last image
            SCOPED_TRACE(atOnce ? "all at once" : "journal" + std::to_string(i + 1));
            if (atOnce) read = FullRead(Image(0));
            ASSERT_TRUE(read);
            const Stage& stage = atOnce ? all : stages[i];
            const std::vector<uint32_t> mapBefore = read->volume.recordMap;
            const std::vector<Entry> entriesBefore = read->index.entries;
            testing::JournalDrive drive;
            const size_t reads = 2 + (seed * 5 + static_cast<uint32_t>(i)) % 24;
            const JournalEnd end = Feed(*read, stage, 1000 + seed * 8 + static_cast<uint32_t>(i), reads, drive);
            ++runs;
            if (end == JournalEnd::ReadAgain) {
                ++readAgain;
                read = FullRead(stage.image);
                continue;
            }
            ASSERT_EQ(end, JournalEnd::Stopped);
            ExpectFullRead(*read, *expected[atOnce ? kStages : i + 1], mapBefore, entriesBefore, stage);
            if (HasFatalFailure()) return;
        }
    }
    std::cout << readAgain << " of " << runs << " cut journals asked for a full read\n";
    // Every record is fetched as it is at the end, so a place can always be found.
    EXPECT_EQ(readAgain, 0) << "of " << runs;
}

}  // namespace
}  // namespace ov
