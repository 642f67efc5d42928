#include "engine/mft_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/ntfs_builder.h"

namespace ov {
namespace {

using testing::MemVolume;
using testing::RecordBuilder;

MemVolume::Shape Shape(uint32_t records) {
    MemVolume::Shape s;
    s.records = records;
    return s;
}

uint64_t MftAt(const MemVolume& v) {
    return v.shape().mftCluster * v.shape().clusterSize;
}

size_t Files(const MftResult& result) {
    size_t files = 0;
    for (const MftPart& part : result.parts) files += part.files.size();
    return files;
}

bool Read(MemVolume& volume, MftResult& result, int readers = 2, const std::atomic<bool>* cancel = nullptr) {
    return MftReadAll(volume.Factory(), readers, result, nullptr, cancel);
}

TEST(MftReader, FailureReasons) {
    const std::atomic<bool> cancelled{true};
    struct Case {
        const char* reason;
        std::function<void(MemVolume&)> spoil;
        const std::atomic<bool>* cancel = nullptr;
    } cases[] = {
        {"couldn't open the drive", [](MemVolume& v) { v.openLimit = 0; }},
        {"couldn't read the boot sector", [](MemVolume& v) { v.failAt.insert(100); }},
        {"not an NTFS drive", [](MemVolume& v) { v.image()[4] = 'X'; }},
        {"unusual NTFS layout", [](MemVolume& v) { v.image()[0x0C] = 0x20; }},  // 8 KiB sectors
        {"couldn't read MFT record 0", [](MemVolume& v) { v.failAt.insert(MftAt(v) + 8); }},
        {"MFT record 0 is damaged", [](MemVolume& v) { v.image()[MftAt(v)] = 'X'; }},
        {"MFT record 0 is damaged", [](MemVolume& v) { v.image()[MftAt(v) + 1022] ^= 1; }},
        {"couldn't find the MFT's extents",
         [](MemVolume& v) {
             v.Put(0, RecordBuilder().NonResidentData(0, 15 * 1024, {{4, 4}}).Finish());  // 15 records
         }},
        {"MFT too large", [](MemVolume& v) { std::fill_n(&v.image()[0x28], 8, 0), v.image()[0x28] = 100; }},
        {"the drive couldn't be read", [](MemVolume& v) { v.failAt.insert(MftAt(v) + 5 * 1024); }},
        {"cancelled", [](MemVolume&) {}, &cancelled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        MemVolume volume(Shape(64));
        volume.AddRootAndFiles(30);
        c.spoil(volume);
        MftResult result;
        EXPECT_FALSE(Read(volume, result, 2, c.cancel));
        EXPECT_EQ(result.error, c.reason);
    }
    MemVolume intact(Shape(64));
    intact.AddRootAndFiles(30);
    MftResult result;
    ASSERT_TRUE(Read(intact, result)) << result.error;
    EXPECT_EQ(Files(result), 32u);  // record 0, root and the files
    EXPECT_EQ(result.recordCount, 64u);
}

// 3000 records make three chunks of 1024.
TEST(MftReader, AnUnreadableChunkIsCountedAndTheRestStays) {
    MemVolume volume(Shape(3000));
    volume.AddRootAndFiles(2900);
    volume.failAt.insert(MftAt(volume) + 1500 * 1024);
    MftResult result;
    ASSERT_TRUE(Read(volume, result, 3)) << result.error;
    EXPECT_EQ(result.failedChunks, 1u);
    EXPECT_EQ(Files(result), 2902u - 1024);  // records 1024-2047 are missing
}

TEST(MftReader, ReadsOnlyChunksWithRecordsInUseWithAtMostOneReaderEach) {
    for (bool shortBitmap : {false, true}) {
        SCOPED_TRACE(shortBitmap);
        MemVolume volume(Shape(5000));
        volume.AddRootAndFiles(10);
        volume.Put(4500, RecordBuilder().FileName(5, u"far").Finish());
        volume.WriteRecordZero();
        if (shortBitmap) {
            volume.bitmap.pop_back();
            volume.Put(
                0, RecordBuilder().NonResidentData(0, 5000 * 1024, {{4, 1250}}).ResidentBitmap(volume.bitmap).Finish());
        }
        MftResult result;
        ASSERT_TRUE(Read(volume, result, 8)) << result.error;
        EXPECT_EQ(Files(result), 13u);
        EXPECT_EQ(result.bytesRead, shortBitmap ? 5000u * 1024 : (1024u + 5000 - 4096) * 1024);
        EXPECT_EQ(volume.opens.load(), shortBitmap ? 5 : 2);
    }
}

// The $MFT's second half described by an extension record: it joins only
// when its first virtual cluster follows the first half's last.
TEST(MftReader, ExtensionSegmentsJoinWithoutGaps) {
    for (uint64_t secondVcn : {256u, 300u}) {
        SCOPED_TRACE(secondVcn);
        MemVolume volume(Shape(3000));
        volume.AddRootAndFiles(2900);
        volume.Put(0, RecordBuilder()
                          .AttributeList({{0x80, 0}, {0x80, 30}})
                          .NonResidentData(0, 3000 * 1024, {{4, 256}})
                          .ResidentBitmap(volume.bitmap)
                          .Finish());
        volume.Put(30, RecordBuilder(1024, 1, 0).NonResidentData(secondVcn, 0, {{4 + 256, 750 - 256}}).Finish());
        MftResult result;
        ASSERT_TRUE(Read(volume, result)) << result.error;
        EXPECT_EQ(result.recordCount, secondVcn == 256 ? 3000u : 1024u);
    }
}

}  // namespace
}  // namespace ov
