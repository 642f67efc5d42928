// What the result actions and the export make of rows, checked against
// readers written here: a CSV reader, a CF_HDROP reader and a sink that fails.
#include <gtest/gtest.h>

#include <random>

#include "app/action_rules.h"
#include "app/export_format.h"
#include "index/entry.h"
#include "tests/support/random_index.h"

namespace {

// Reads one line of CSV fields as a spreadsheet would: quoted fields with
// doubled quotes, unquoted ones up to the next comma.
std::vector<std::string> ReadCsvLine(const std::string& line) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        std::string field;
        if (at < line.size() && line[at] == '"') {
            ++at;
            for (;;) {
                if (at >= line.size()) return {};  // unterminated
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += line[at++];
            }
        } else {
            while (at < line.size() && line[at] != ',') field += line[at++];
        }
        fields.push_back(field);
        if (at >= line.size()) return fields;
        if (line[at] != ',') return {};
        ++at;
    }
}

TEST(ResultRules, CsvFieldsReadBackWhateverTheyHold) {
    std::mt19937 random(7);
    const std::string alphabet = "a,\"\" \xC3\xA9;'\t\\";
    for (int round = 0; round < 500; ++round) {
        ExportRow row;
        for (int i = random() % 12; i > 0; --i) row.name += alphabet[random() % alphabet.size()];
        for (int i = random() % 12; i > 0; --i) row.folder += alphabet[random() % alphabet.size()];
        row.size = random();
        row.modifiedText = "5/1/2024 10:00 AM";
        row.flags = round % 2 ? 0x80000000u : 0x20u;
        std::string out;
        AppendExportLine(out, ExportFormat::Csv, row);
        ASSERT_GE(out.size(), 2u);
        ASSERT_EQ(out.substr(out.size() - 2), "\r\n");
        const std::vector<std::string> fields = ReadCsvLine(out.substr(0, out.size() - 2));
        const std::vector<std::string> expected = {row.name,         row.folder, std::to_string(row.size),
                                                   row.modifiedText, "",         round % 2 ? "Folder" : "File"};
        ASSERT_EQ(fields, expected) << out;
    }
    EXPECT_EQ(CsvQuote("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvQuote(""), "\"\"");
}

TEST(ResultRules, ExportFilesByteForByte) {
    ExportRow folder;
    folder.name = "Data";
    folder.folder = "C:\\";
    folder.fullPath = "C:\\Data";
    folder.size = 123456789012;
    folder.modified = 133000000000000000;
    folder.created = 0;
    folder.flags = 0x80000000u | 0x10u;
    folder.modifiedText = "1/1/2022 1:00 PM";
    ExportRow root;
    root.name = "C:";
    root.fullPath = "C:\\";
    root.flags = 0x90000000u | 0x16u;
    std::string csv = ExportPreamble(ExportFormat::Csv), text = ExportPreamble(ExportFormat::Text),
                efu = ExportPreamble(ExportFormat::Efu);
    for (const ExportRow* row : {&folder, &root}) {
        AppendExportLine(csv, ExportFormat::Csv, *row);
        AppendExportLine(text, ExportFormat::Text, *row);
        AppendExportLine(efu, ExportFormat::Efu, *row);
    }
    EXPECT_EQ(csv,
              "\xEF\xBB\xBFName,Folder,Size,Date Modified,Date Created,Type\r\n"
              "\"Data\",\"C:\\\",123456789012,\"1/1/2022 1:00 PM\",\"\",Folder\r\n"
              "\"C:\",\"\",0,\"\",\"\",Folder\r\n");
    EXPECT_EQ(text,
              "\xEF\xBB\xBF"
              "C:\\Data\r\nC:\\\r\n");
    EXPECT_EQ(efu,
              "\xEF\xBB\xBF"
              "Filename,Size,Date Modified,Date Created,Attributes\r\n"
              "\"C:\\Data\",123456789012,133000000000000000,0,16\r\n"
              "\"C:\\\",0,0,0,22\r\n");
}

TEST(ResultRules, ExportRowsAreTheIndexsEntries) {
    ov::testing::Rng rng(11);
    for (int round = 0; round < 4; ++round) {
        ov::Index index;
        ov::testing::FillRandomIndex(index, rng, {});  // several kinds of roots, removals left in
        std::vector<uint32_t> ids(index.entries.size() + 2);
        // Random rows, or rows in entry order, where siblings follow each other.
        for (size_t i = 0; i < ids.size(); ++i) {
            ids[i] = round % 2 ? static_cast<uint32_t>(i) : static_cast<uint32_t>(rng() % (index.entries.size() + 5));
        }
        std::vector<ExportRow> rows;
        size_t at = 0;
        for (size_t first = 0; first < ids.size(); first += 100) {
            const size_t count = std::min<size_t>(100, ids.size() - first);
            const size_t filled = FillExportRows(index, ids.data() + first, count, rows);
            size_t next = 0;
            for (size_t i = first; i < first + count; ++i) {
                const uint32_t id = ids[i];
                if (id >= index.entries.size() || ov::IsDeleted(index.entries[id])) continue;
                ASSERT_LT(next, filled);
                const ExportRow& row = rows[next++];
                const ov::Entry& entry = index.entries[id];
                ASSERT_EQ(row.fullPath, index.Path(id, false)) << id;
                ASSERT_EQ(row.folder, entry.parent == ov::kNoEntry ? "" : index.Path(id, true)) << id;
                ASSERT_EQ(row.name, index.NameOf(id));
                ASSERT_EQ(row.size, entry.size);
                ASSERT_EQ(row.flags, entry.flags);
                ++at;
            }
            ASSERT_EQ(next, filled);
        }
        EXPECT_GT(at, 0u);
    }
}

// A disk that takes limit bytes and then reports itself full.
class FillingSink : public ExportSink {
public:
    explicit FillingSink(size_t limit) : limit(limit) {}
    bool Write(const char* data, size_t size) override {
        ++writes;
        if (written.size() + size > limit) return false;
        written.append(data, size);
        return true;
    }
    size_t limit;
    int writes = 0;
    std::string written;
};

TEST(ResultRules, WriterReportsAFullDiskAndStopsWriting) {
    const std::string line(1000, 'x');
    for (const size_t limit : {size_t{0}, ExportWriter::kFlushBytes, size_t{100} << 20}) {
        FillingSink sink(limit);
        ExportWriter writer(sink);
        std::string expected;
        for (int i = 0; i < 20000; ++i) {  // about 20 MB: two flushes and the rest
            writer.Buffer() += line;
            expected += line;
            ASSERT_LE(writer.Buffer().size(), ExportWriter::kFlushBytes + line.size());
            writer.LineDone();
        }
        const bool ok = writer.Finish();
        if (limit >= expected.size()) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(sink.written, expected);
            EXPECT_EQ(sink.writes, 3);
        } else {
            EXPECT_FALSE(ok) << "limit " << limit;
            EXPECT_EQ(sink.writes, 1) << "nothing is written after a failed write";
        }
    }
}

TEST(ResultRules, FileNameFollowsTheChosenFormat) {
    const struct {
        const wchar_t* chosen;
        ExportFormat format;
        const wchar_t* written;
    } cases[] = {
        {L"C:\\Users\\me\\Orvane results.csv", ExportFormat::Text, L"C:\\Users\\me\\Orvane results.txt"},
        {L"C:\\list.CSV", ExportFormat::Efu, L"C:\\list.efu"},
        {L"C:\\Report.CSV", ExportFormat::Csv, L"C:\\Report.CSV"},
        {L"C:\\list.efu", ExportFormat::Csv, L"C:\\list.csv"},
        {L"C:\\list.txt", ExportFormat::Text, L"C:\\list.txt"},
        {L"C:\\list", ExportFormat::Text, L"C:\\list.txt"},
        {L"C:\\v1.2\\list", ExportFormat::Efu, L"C:\\v1.2\\list.efu"},
        {L"C:\\list.dat", ExportFormat::Text, L"C:\\list.dat"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExportFileName(c.chosen, c.format), c.written) << c.chosen;
}

// The paths a CF_HDROP block names, read as the shell reads it.
std::vector<std::wstring> ReadDropFiles(const std::vector<uint8_t>& block) {
    auto dword = [&](size_t at) {
        return static_cast<uint32_t>(block[at] | block[at + 1] << 8 | block[at + 2] << 16 | block[at + 3] << 24);
    };
    std::vector<std::wstring> paths;
    if (block.size() < 20 || dword(16) != 1) return paths;
    std::wstring current;
    for (size_t at = dword(0); at + 1 < block.size(); at += 2) {
        const wchar_t unit = static_cast<wchar_t>(block[at] | block[at + 1] << 8);
        if (unit != 0) {
            current += unit;
        } else if (current.empty()) {
            return paths;  // the double zero
        } else {
            paths.push_back(current);
            current.clear();
        }
    }
    return {};  // no double zero: the shell would read past the end
}

TEST(ResultRules, PathsForTheClipboardAndTheShell) {
    const std::vector<std::wstring> paths = {L"D:\\a.txt", L"D:\\b.txt", L"D:\\", L"E:\\x\\\x00e9t\x00e9"};
    EXPECT_EQ(ClipboardPathText({paths[0], paths[1]}, false), L"D:\\a.txt\r\nD:\\b.txt");
    EXPECT_EQ(ClipboardPathText(paths, true), L"a.txt\r\nb.txt\r\nD:\\\r\n\x00e9t\x00e9");
    EXPECT_EQ(ReadDropFiles(DropFilesBlock(paths)), paths);
    EXPECT_EQ(DropFilesBlock(paths).size(), 20 + 2 * (1 + 9 + 9 + 4 + 9));
    EXPECT_EQ(DoubleZeroList({L"a", L"bc"}), std::wstring(L"a\0bc\0\0", 6));
    EXPECT_TRUE(ShareOneFolder({L"C:\\Dir\\a", L"c:\\dIR\\b"}));
    EXPECT_FALSE(ShareOneFolder({L"C:\\Dir\\a", L"C:\\Dir\\sub\\b"}));
    EXPECT_EQ(FolderOfPath(L"C:\\Dir\\a.txt"), L"C:\\Dir\\");
    EXPECT_EQ(CopiedPathsStatus(2, false), L"2 paths copied to the clipboard");
    EXPECT_EQ(CopiedPathsStatus(1, true), L"Name copied to the clipboard");
    EXPECT_EQ(CopiedFilesStatus(3), L"3 items copied - paste them in File Explorer (Ctrl+V)");
}

}  // namespace
