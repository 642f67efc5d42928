#include "engine/folder_scan.h"

#include <gtest/gtest.h>

#include "engine/wide_text.h"

namespace ov {
namespace {

TEST(FolderScan, LongPathForms) {
    const struct {
        const wchar_t* path;
        const wchar_t* longPath;
    } cases[] = {
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {L"\\\\srv\\share\\", L"\\\\?\\UNC\\srv\\share\\"},
        {L"C:\\x", L"\\\\?\\C:\\x"},
        {L"C:\\", L"\\\\?\\C:\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(LongPath(Text(c.path)), Text(c.longPath)) << ToUtf8(Text(c.path));
}

TEST(FolderScan, WalkersAreTwicePoolThreadsFrom2To16) {
    const int cases[][2] = {{0, 2}, {1, 2}, {4, 8}, {7, 14}, {8, 16}, {64, 16}};
    for (const auto& c : cases) EXPECT_EQ(ScanWalkers(c[0]), c[1]) << c[0];
}

// Names that straddle the buckets' byte chunks come out whole, each once,
// whichever bucket found them.
TEST(FolderScan, PieceFromBucketsKeepsEveryName) {
    std::vector<ScanBucket> buckets(3);
    const uint32_t count = 40000;
    for (uint32_t id = 1; id < count; ++id) {
        const std::string name = "Name-" + std::string(id % 97, 'x') + std::to_string(id);
        ScanRec rec{};
        rec.id = id;
        rec.parentId = id < 10 ? 0 : id / 10;
        rec.flags = id < count / 10 ? EntryFlags::Directory : 0;
        rec.size = id;
        ASSERT_TRUE(buckets[id % 3].Add(rec, name, FoldCaseUtf8(name)));
    }
    Index::Piece piece;
    ASSERT_TRUE(BuildScanPiece(buckets, count, "C:", piece));
    ASSERT_EQ(piece.entries.size(), count);
    EXPECT_EQ(piece.folders, count / 10 - 1);
    EXPECT_EQ(piece.files + piece.folders, count - 1);
    for (uint32_t id = 1; id < count; ++id) {
        const Entry& e = piece.entries[id];
        const std::string name = "Name-" + std::string(id % 97, 'x') + std::to_string(id);
        ASSERT_EQ(piece.names.substr(e.nameOffset, e.nameLength + 1), name + '\0') << id;
        ASSERT_EQ(piece.folded.substr(e.foldedOffset, e.foldedLength), FoldCaseUtf8(name));
        ASSERT_EQ(e.parent, id < 10 ? 0 : id / 10);
    }
    EXPECT_EQ(piece.names.substr(piece.entries[0].nameOffset, 3), std::string("C:\0", 3));
    EXPECT_EQ(piece.entries[0].flags, EntryFlags::Directory | EntryFlags::VolumeRoot);

    // An id that never received its record fails the piece rather than leaving a hole.
    std::vector<ScanBucket> gap(1);
    ScanRec rec{};
    rec.id = 2;
    ASSERT_TRUE(gap[0].Add(rec, "b", "b"));
    EXPECT_FALSE(BuildScanPiece(gap, 3, "C:", piece));
}

}  // namespace
}  // namespace ov
