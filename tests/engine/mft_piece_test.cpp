#include "engine/mft_piece.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "index/text.h"
#include "tests/support/mft_listing.h"

namespace ov {
namespace {

class Table {
public:
    explicit Table(uint32_t records) {
        result.recordCount = records;
        result.parts.resize(1);
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
        Part().files.push_back(f);
        return *this;
    }
    Table& Name(uint32_t record, uint32_t parent, const std::string& name, uint8_t nameSpace = 1) {
        NameRec row;
        row.record = record;
        row.parent = parent;
        row.nameOffset = static_cast<uint32_t>(Part().namePool.size());
        row.foldedOffset = static_cast<uint32_t>(Part().foldedPool.size());
        row.nameLength = static_cast<uint16_t>(name.size());
        row.foldedLength = static_cast<uint16_t>(name.size());
        row.nameSpace = nameSpace;
        Part().namePool += name;
        Part().foldedPool += FoldCaseUtf8(name);
        Part().nameRows.push_back(row);
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
    MftPart& Part() { return result.parts[0]; }
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
    t.File(43, 5, "SHORT~1", 0).Part().nameRows.back().nameSpace = 2;  // only a DOS name: kept
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
    t.Part().extensions.push_back(ext);
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

// The readers' parts hold the table's stretches in any interleaving; the piece
// must come out byte for byte as from one part holding the table in order,
// whether the rows come in record order or names from extension records
// follow later.
TEST(MftPiece, SameWhicheverPartsHoldTheStretches) {
    for (bool lateNames : {false, true}) {
        SCOPED_TRACE(lateNames);
        std::mt19937 rng(11);
        const uint32_t records = 3000;
        Table t(records);
        std::vector<uint32_t> folders{5};
        for (uint32_t r = 24; r < records; ++r) {
            const uint32_t parent = folders[rng() % folders.size()];
            const std::string name = "n\xC3\xA9" + std::to_string(rng() % 100000);
            if (rng() % 4 == 0) {
                t.Folder(r, parent, name);
                folders.push_back(r);
            } else {
                t.File(r, parent, name, rng() % 5000);
                if (rng() % 10 == 0) t.Name(r, folders[rng() % folders.size()], "LINK~" + std::to_string(r), 1);
                if (rng() % 7 == 0) t.Name(r, parent, "DOS~" + std::to_string(r), 2);
            }
            if (lateNames && rng() % 50 == 0) t.Name(rng() % records, 5, "late name");  // as from an extension record
            if (rng() % 40 == 0) {
                FileRec ext;
                ext.record = rng() % records;
                ext.size = rng();
                ext.sizeKnown = true;
                t.Part().extensions.push_back(ext);
            }
        }
        MftResult whole = t.result;
        Index::Piece expected;
        ASSERT_TRUE(FromMftResult(whole, ToWide(std::string("C:")), expected));

        for (uint32_t partCount : {2u, 3u, 8u}) {
            SCOPED_TRACE(partCount);
            const MftPart& all = t.Part();
            MftResult split;
            split.recordCount = records;
            split.parts.resize(partCount);
            const size_t stretches = 37;
            const auto cut = [&](size_t total, size_t s) { return total * s / stretches; };
            for (size_t s = 0; s < stretches; ++s) {
                const auto p = static_cast<uint32_t>(rng() % partCount);
                MftPart& part = split.parts[p];
                MftSpan span;
                span.part = p;
                span.filesBegin = part.files.size();
                part.files.insert(part.files.end(), all.files.begin() + cut(all.files.size(), s),
                                  all.files.begin() + cut(all.files.size(), s + 1));
                span.filesEnd = part.files.size();
                span.extensionsBegin = part.extensions.size();
                part.extensions.insert(part.extensions.end(), all.extensions.begin() + cut(all.extensions.size(), s),
                                       all.extensions.begin() + cut(all.extensions.size(), s + 1));
                span.extensionsEnd = part.extensions.size();
                span.rowsBegin = part.nameRows.size();
                for (size_t i = cut(all.nameRows.size(), s); i < cut(all.nameRows.size(), s + 1); ++i) {
                    NameRec row = all.nameRows[i];
                    row.nameOffset = static_cast<uint32_t>(part.namePool.size());
                    row.foldedOffset = static_cast<uint32_t>(part.foldedPool.size());
                    part.namePool.append(all.namePool, all.nameRows[i].nameOffset, row.nameLength);
                    part.foldedPool.append(all.foldedPool, all.nameRows[i].foldedOffset, row.foldedLength);
                    part.nameRows.push_back(row);
                }
                span.rowsEnd = part.nameRows.size();
                split.order.push_back(span);
            }
            Index::Piece piece;
            ASSERT_TRUE(FromMftResult(split, ToWide(std::string("C:")), piece));
            EXPECT_TRUE(piece.names == expected.names);
            EXPECT_TRUE(piece.folded == expected.folded);
            EXPECT_TRUE(piece.recordMap == expected.recordMap);
            EXPECT_TRUE(piece.hardLinks == expected.hardLinks);
            ASSERT_EQ(piece.entries.size(), expected.entries.size());
            EXPECT_EQ(std::memcmp(piece.entries.data(), expected.entries.data(), sizeof(Entry) * piece.entries.size()),
                      0);
        }
        EXPECT_GT(expected.hardLinks.size(), 50u);
    }
}

}  // namespace
}  // namespace ov
