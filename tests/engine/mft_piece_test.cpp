#include "engine/mft_piece.h"

#include <gtest/gtest.h>

#include <map>

#include "index/text.h"
#include "tests/support/mft_listing.h"

namespace ov {
namespace {

class Table {
public:
    explicit Table(uint32_t records) {
        result.recordCount = records;
        Folder(5, 5, ".", 3);
    }
    Table& Record(uint32_t record, bool directory, uint64_t size = 0, bool sizeKnown = true) {
        FileRec f;
        f.record = record;
        f.directory = directory;
        f.size = size;
        f.sizeKnown = sizeKnown;
        f.attributes = directory ? 0x10 : 0x20;
        f.modified = record * 10;
        f.created = record;
        result.files.push_back(f);
        return *this;
    }
    Table& Name(uint32_t record, uint32_t parent, const std::string& name, uint8_t nameSpace = 1) {
        NameRec row;
        row.record = record;
        row.parent = parent;
        row.nameOffset = static_cast<uint32_t>(result.namePool.size());
        row.foldedOffset = static_cast<uint32_t>(result.foldedPool.size());
        row.nameLength = static_cast<uint16_t>(name.size());
        row.foldedLength = static_cast<uint16_t>(name.size());
        row.nameSpace = nameSpace;
        result.namePool += name;
        result.foldedPool += FoldCaseUtf8(name);
        result.nameRows.push_back(row);
        return *this;
    }
    Table& Folder(uint32_t record, uint32_t parent, const std::string& name, uint8_t nameSpace = 1) {
        return Record(record, true).Name(record, parent, name, nameSpace);
    }
    Table& File(uint32_t record, uint32_t parent, const std::string& name, uint64_t size = 1) {
        return Record(record, false, size).Name(record, parent, name);
    }
    // Paths of the piece ("C:/a/b" D|F size), sorted.
    std::vector<std::string> Paths(Index::Piece& piece) {
        EXPECT_TRUE(FromMftResult(result, ToWide(std::string("C:")), piece));
        std::vector<std::string> paths;
        for (const std::string& line : testing::ListPiece(piece)) {
            const size_t tab = line.find('\t');
            paths.push_back(line.substr(0, tab + 2));
        }
        return paths;
    }
    MftResult result;
};

TEST(MftPiece, NoRootNoPiece) {
    MftResult result;
    result.recordCount = 40;
    Index::Piece piece;
    EXPECT_FALSE(FromMftResult(result, ToWide(std::string("C:")), piece));
}

TEST(MftPiece, HardLinksFoldersAndDosNames) {
    Table t(100);
    t.Folder(30, 5, "docs").Folder(31, 30, "more");
    t.File(40, 30, "one.txt").Name(40, 31, "two.txt").Name(40, 31, "TWO~1.TXT", 2);
    t.Folder(41, 30, "twice").Name(41, 30, "twice again");  // one folder, one place
    t.Folder(42, 30, "moved").Name(42, 31, "elsewhere");
    t.File(43, 5, "SHORT~1", 0).result.nameRows.back().nameSpace = 2;  // only a DOS name: kept
    Index::Piece piece;
    EXPECT_EQ(t.Paths(piece), (std::vector<std::string>{"C:\tD", "C:/SHORT~1\tF", "C:/docs\tD", "C:/docs/more\tD",
                                                        "C:/docs/more/two.txt\tF", "C:/docs/moved\tD",
                                                        "C:/docs/one.txt\tF", "C:/docs/twice\tD"}));
    EXPECT_EQ(piece.hardLinks.size(), 1u);
    EXPECT_EQ(piece.hardLinks[0].first, 40u);
    EXPECT_EQ(piece.files, 3u);
    EXPECT_EQ(piece.folders, 4u);
}

TEST(MftPiece, MetadataOrphansAndLoopsAreLeftOut) {
    Table t(200);
    t.Folder(11, 5, "$Extend").File(25, 11, "$UsnJrnl").File(3, 5, "$Volume").File(23, 5, "reserved");
    t.Folder(50, 51, "loop a").Folder(51, 50, "loop b").File(52, 51, "in loop");
    t.Folder(60, 60, "self").File(61, 60, "below self");
    t.File(70, 5, "plain").File(71, 70, "under a file");
    t.File(72, 150, "parent not in use").File(73, 500, "parent out of range");
    t.Name(74, 5, "no base record");
    t.Folder(80, 5, "kept").File(81, 80, "kept too", 7);
    Index::Piece piece;
    EXPECT_EQ(t.Paths(piece), (std::vector<std::string>{"C:\tD", "C:/kept\tD", "C:/kept/kept too\tF", "C:/plain\tF"}));
}

TEST(MftPiece, SizeFromAnExtensionRecord) {
    Table t(64);
    t.Record(40, false, 0, false).Name(40, 5, "big.bin");
    FileRec ext;
    ext.record = 40;
    ext.size = 123456;
    ext.sizeKnown = true;
    t.result.extensions.push_back(ext);
    Index::Piece piece;
    t.Paths(piece);
    EXPECT_EQ(piece.entries[piece.recordMap[40]].size, 123456u);
}

// A chain deeper than the walk's reach resolves from remembered verdicts when
// its ancestors come first; when the deepest folder comes first and gives up,
// its ancestors within reach of the root must still resolve.
TEST(MftPiece, DeepChainsDoNotPoisonTheirAncestors) {
    for (bool deepestFirst : {true, false}) {
        SCOPED_TRACE(deepestFirst);
        const uint32_t depth = 400;
        Table t(2000);
        const auto record = [&](uint32_t level) { return deepestFirst ? 1000 - level : 100 + level; };
        for (uint32_t level = 1; level <= depth; ++level)
            t.Folder(record(level), level == 1 ? 5 : record(level - 1), std::to_string(level) + "d");
        Index::Piece piece;
        ASSERT_TRUE(FromMftResult(t.result, ToWide(std::string("C:")), piece));
        for (uint32_t level = 1; level <= depth; ++level)
            EXPECT_EQ(piece.recordMap[record(level)] != kNoEntry, !deepestFirst || level < 300) << level;
    }
}

}  // namespace
}  // namespace ov
