#include "engine/file_record_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/support/ntfs_builder.h"

namespace ov {
namespace {

using testing::RecordBuilder;

struct Parsed {
    bool inUse = false;
    FileRec rec;
    uint32_t base = 0;
    std::vector<NameRec> rows;
    std::string names, folded;
    std::vector<uint32_t> extensions;

    std::string Name(size_t i) const { return names.substr(rows[i].nameOffset, rows[i].nameLength); }
};

// Parses a copy placed against the end of a heap block, so a read past the
// record faults under ASan.
Parsed Parse(std::vector<uint8_t> bytes, bool tolerant = false, uint32_t number = 40) {
    auto block = std::make_unique<uint8_t[]>(bytes.size());
    std::memcpy(block.get(), bytes.data(), bytes.size());
    Parsed p;
    p.inUse = ParseFileRecord(block.get(), static_cast<uint32_t>(bytes.size()), number, p.rec, p.base, p.rows, p.names,
                              p.folded, tolerant, &p.extensions);
    return p;
}

TEST(FileRecordParser, UpdateSequenceStrictAndTolerant) {
    const std::vector<uint8_t> good = RecordBuilder(1024).StandardInfo(1, 2, 0x20).FileName(5, u"a").Finish();
    struct Case {
        const char* what;
        size_t at;  // byte to change (0 = none)
        uint8_t value;
        bool strict;
        bool tolerantFixesFirst;
    } cases[] = {
        {"intact", 0, 0, true, true},
        {"first stride torn", 510, 0x55, false, false},
        {"second stride torn", 1022, 0x55, false, false},
        {"one entry short", 6, 2, false, true},  // tolerant: the one stride it names is fixed
        {"one entry too many", 6, 4, false, false},
        {"no entries", 6, 0, false, false},
        {"array past the record", 5, 0xFF, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = good;
        if (c.at) bytes[c.at] = c.value;
        std::vector<uint8_t> strict = bytes, tolerant = bytes;
        EXPECT_EQ(ApplyUpdateSequence(strict.data(), 1024, false), c.strict);
        EXPECT_TRUE(ApplyUpdateSequence(tolerant.data(), 1024, true));
        if (c.strict) {
            EXPECT_EQ(strict[1022], 0);  // the saved bytes are back
        }
        const bool firstFixed = tolerant[510] == 0;
        EXPECT_EQ(firstFixed, c.strict || c.tolerantFixesFirst || c.at == 1022);
        EXPECT_EQ(Parse(bytes, false).inUse, c.strict);
        EXPECT_TRUE(Parse(bytes, true).inUse);
    }
}

// What the mounted images cannot show: a record with only a DOS name keeps
// it, and an extension record's names belong to its base record.
TEST(FileRecordParser, DosOnlyNamesAndExtensionRecords) {
    Parsed dosOnly = Parse(RecordBuilder().FileName(5, u"ДОС~1.TXT", 2).Finish());
    ASSERT_EQ(dosOnly.rows.size(), 1u);
    EXPECT_EQ(dosOnly.Name(0), "ДОС~1.TXT");
    EXPECT_EQ(dosOnly.folded.substr(dosOnly.rows[0].foldedOffset), "дос~1.txt");

    Parsed extension = Parse(RecordBuilder(1024, 1, 99).FileName(5, u"link").ResidentData(3).Finish());
    EXPECT_EQ(extension.base, 99u);
    EXPECT_EQ(extension.rows.at(0).record, 99u);
    EXPECT_TRUE(extension.rec.sizeKnown);

    EXPECT_FALSE(Parse(RecordBuilder(1024, 0).FileName(5, u"x").Finish()).inUse);
}

TEST(FileRecordParser, AttributeListNamesExtensionRecordsOnce) {
    Parsed p = Parse(RecordBuilder()
                         .AttributeList({{0x10, 40}, {0x30, 40}, {0x30, 61}, {0x30, 61}, {0x80, 62}, {0xB0, 63}})
                         .Finish());
    EXPECT_EQ(p.extensions, (std::vector<uint32_t>{61, 62}));
}

// Every attribute cut short, and every bytes-in-use value: nothing is read
// outside the record, and what is read stays inside the attribute.
TEST(FileRecordParser, TruncatedAttributesStayInBounds) {
    const std::vector<uint8_t> good = RecordBuilder(1024)
                                          .StandardInfo(1, 2, 3)
                                          .FileName(5, u"name")
                                          .NonResidentData(0, 5000, {{100, 2}})
                                          .AttributeList({{0x30, 70}})
                                          .Finish();
    for (uint32_t inUse = 0; inUse <= 1024; inUse += 4) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(&bytes[0x18], &inUse, 4);
        Parse(bytes);
    }
    const uint32_t first = good[0x14];
    for (uint32_t length = 0; length < 0x60; ++length) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(&bytes[first + 4], &length, 4);  // $STANDARD_INFORMATION's length
        Parsed p = Parse(bytes);
        if (length < 0x18 + 36) {
            EXPECT_EQ(p.rec.created, 0u) << length;
        }
    }
    for (uint16_t valueOffset : {0xFFFF, 0x3F0, 0x50}) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(&bytes[first + 0x14], &valueOffset, 2);
        EXPECT_EQ(Parse(bytes).rec.created, 0u);
    }
}

}  // namespace
}  // namespace ov
