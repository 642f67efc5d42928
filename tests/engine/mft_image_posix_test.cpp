// Real NTFS volumes made by mkntfs and filled through ntfs-3g (see
// make_ntfs_images.py) read end to end and compared with the read-only mount's
// listing, through a device that refuses what unbuffered Windows reads refuse.
#include <gtest/gtest.h>

#include "engine/mft_layout.h"
#include "engine/mft_reader.h"
#include "index/text.h"
#include "tests/support/mft_listing.h"

namespace ov {
namespace {

class AlignedDev : public Dev {
public:
    AlignedDev(std::unique_ptr<Dev> inner, uint32_t sector) : inner(std::move(inner)), sector(sector) {}
    bool Read(uint64_t offset, void* buffer, int length) override {
        if (offset % sector || length % sector || reinterpret_cast<uintptr_t>(buffer) % sector) {
            ADD_FAILURE() << "unaligned read at " << offset << " of " << length;
            return false;
        }
        return inner->Read(offset, buffer, length);
    }

private:
    std::unique_ptr<Dev> inner;
    uint32_t sector;
};

TEST(MftImage, EqualsTheMountWithEveryReaderCount) {
    std::string skipReason;
    const std::string dir = testing::NtfsImageFolder(skipReason);
    if (dir.empty()) GTEST_SKIP() << skipReason;
    for (const char* name : {"mixed", "fragmented", "records4k"}) {
        SCOPED_TRACE(name);
        const std::string image = dir + "/" + name + ".img";
        const std::vector<std::string> oracle = testing::ReadLines(dir + "/" + name + ".oracle");
        ASSERT_GT(oracle.size(), 900u) << "oracle missing";

        const DevFactory plain = DriveDevFactory(ToWide(image));
        MftRuns layout;
        uint32_t records = 0;
        ASSERT_TRUE(ReadMftLayout(*plain(), layout, records)) << layout.message;
        const uint32_t sector = layout.sectorSize;
        if (std::string(name) == "fragmented") {
            EXPECT_GT(layout.runs.size(), 200u);  // extents in extension records
        }
        if (std::string(name) == "records4k") {
            EXPECT_EQ(layout.recordSize, 4096u);
        }

        const DevFactory aligned = [&]() -> std::unique_ptr<Dev> {
            auto dev = plain();
            return dev ? std::make_unique<AlignedDev>(std::move(dev), sector) : nullptr;
        };
        std::string firstNames;
        for (int readers : {1, 2, 8}) {
            SCOPED_TRACE(readers);
            MftResult result;
            std::atomic<int> progress{0};
            ASSERT_TRUE(MftReadAll(aligned, readers, result, &progress, nullptr)) << result.error;
            EXPECT_EQ(progress.load(), 1000);
            EXPECT_EQ(result.failedChunks, 0u);
            Index::Piece piece;
            ASSERT_TRUE(FromMftResult(result, ToWide(std::string("X:")), piece));
            const std::vector<std::string> listed = testing::ListPiece(piece);
            EXPECT_TRUE(listed == oracle) << testing::FirstDifferences(oracle, listed);
            EXPECT_EQ(piece.files + piece.folders, piece.entries.size() - 1);
            // The same piece, names in the same order, whatever the reader count.
            if (firstNames.empty()) firstNames = piece.names;
            EXPECT_TRUE(piece.names == firstNames);
            if (std::string(name) != "fragmented") {
                EXPECT_GE(piece.hardLinks.size(), 45u);
            }
        }
    }
}

}  // namespace
}  // namespace ov
