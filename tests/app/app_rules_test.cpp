// The application's portable rules: setting clamps, thread rows, folder lists,
// the main window's layout and the results list's cell texts.
#include <gtest/gtest.h>

#include <random>

#include "app/folder_lists.h"
#include "app/layout.h"
#include "app/result_text.h"
#include "app/setting_rules.h"

namespace {

TEST(AppRules, ClampsAndThreadRows) {
    EXPECT_EQ(ClampSetting(0, 1), 0u);
    EXPECT_EQ(ClampSetting(7, 1), 1u);
    EXPECT_EQ(ClampSetting(0xFFFFFFFFu, 1), 1u);
    EXPECT_EQ(ClampSetting(9, 5), 5u);
    EXPECT_EQ(ClampSetting(0xFFFFFFFFu, 7), 7u);
    EXPECT_EQ(ClampSetting(2, 2), 2u);
    // Every row round-trips; other counts go to the nearest row (the larger on a tie).
    for (int row = 0; row < kThreadRowCount; ++row) EXPECT_EQ(RowOfThreads(ThreadsOfRow(row)), row);
    const struct {
        uint32_t threads;
        uint32_t shown;
    } nearest[] = {{3, 4}, {5, 4}, {6, 8}, {12, 16}, {24, 32}, {256, 32}, {0xFFFFFFFFu, 32}};
    for (const auto& n : nearest) EXPECT_EQ(ThreadsOfRow(RowOfThreads(n.threads)), n.shown) << n.threads;
    EXPECT_EQ(ThreadsOfRow(-5), 0u);
    EXPECT_EQ(ThreadsOfRow(99), 32u);
}

TEST(AppRules, FolderListsRoundTrip) {
    EXPECT_EQ(SplitLines(L"C:\\a  \r\n\r\n D:\\b\rE:\\c\n\t\n"),
              (std::vector<std::wstring>{L"C:\\a", L" D:\\b", L"E:\\c", L"\t"}));
    const std::vector<std::wstring> folders = {L"C:\\Windows\\WinSxS", L"\\\\server\\share"};
    EXPECT_EQ(JoinLines(folders), L"C:\\Windows\\WinSxS\n\\\\server\\share\n");
    EXPECT_EQ(SplitLines(JoinLines(folders)), folders);
    EXPECT_EQ(JoinLines({}), L"");
    // An edit control shows only CR LF as a line break; what it shows reads back the same.
    const std::wstring shown = WithCrLf(JoinLines(folders) + L"\r\nE:\\x\n");
    EXPECT_EQ(shown, L"C:\\Windows\\WinSxS\r\n\\\\server\\share\r\n\r\nE:\\x\r\n");
    EXPECT_EQ(WithCrLf(shown), shown);
    EXPECT_EQ(SplitLines(shown).size(), 3u);
}

// A folder is trimmed as added, and Remove finds it under its volume's name,
// which never ends in a backslash (a root such as N:\ kept one when added).
TEST(AppRules, FolderPathsMatchTheirVolumes) {
    EXPECT_EQ(TrimFolderPath(L"N:\\"), L"N:\\");
    EXPECT_EQ(TrimFolderPath(L"C:\\Windows\\\\"), L"C:\\Windows");
    EXPECT_EQ(TrimFolderPath(L"\\\\server\\share\\"), L"\\\\server\\share");
    for (const std::wstring added : {L"N:\\", L"D:\\Data", L"\\\\server\\share"}) {
        // The volume's name: the folder without its trailing backslash.
        const std::wstring name = added.back() == L'\\' ? added.substr(0, added.size() - 1) : added;
        EXPECT_TRUE(SameFolder(TrimFolderPath(added), name));
        EXPECT_TRUE(SameFolder(name, added + L"\\"));
    }
    EXPECT_TRUE(SameFolder(L"d:\\data", L"D:\\DATA\\"));
    EXPECT_FALSE(SameFolder(L"D:\\Data", L"D:\\Data2"));
    EXPECT_FALSE(SameFolder(L"D:\\Dat", L"D:\\Data"));
}

// Whatever the size, the children stack without overlap, the search box keeps
// 50 pixels and no height goes negative.
TEST(AppRules, LayoutHoldsAtEverySize) {
    for (int dpi : {96, 120, 144, 192}) {
        EXPECT_EQ(ScaleDip(150, dpi), (150 * dpi + 48) / 96);
        for (int width : {0, 10, 200, 1180, 3000}) {
            for (int height : {0, 50, 760}) {
                for (int bars = 0; bars < 4; ++bars) {
                    const MainLayout l = ComputeMainLayout(width, height, 22, dpi, bars & 1, bars & 2);
                    EXPECT_GE(l.searchBox.width, 50);
                    EXPECT_GE(l.resultsList.height, 0);
                    int top = l.ribbon.y + l.ribbon.height;
                    for (const LayoutRect& bar : {l.updateBar, l.adminBar}) {
                        if (bar.height == 0) continue;
                        EXPECT_EQ(bar.y, top);
                        top += bar.height;
                    }
                    EXPECT_GE(l.searchBox.y, top);
                    EXPECT_GE(l.resultsList.y, l.searchBox.y + l.searchBox.height);
                    EXPECT_EQ(l.filterList.x + l.filterList.width, width - ScaleDip(8, dpi));
                    if (height - l.resultsList.y - 22 >= 0) {
                        EXPECT_EQ(l.resultsList.y + l.resultsList.height, height - 22);
                    }
                }
            }
        }
    }
}

// Sizes change unit at each power of 1,024 and never print a 1,024 of the smaller unit.
TEST(AppRules, CellTexts) {
    EXPECT_EQ(FormatThousands(0), L"0");
    EXPECT_EQ(FormatThousands(999), L"999");
    EXPECT_EQ(FormatThousands(1000), L"1,000");
    EXPECT_EQ(FormatThousands(18446744073709551615ull), L"18,446,744,073,709,551,615");
    const uint64_t kTB = uint64_t{1} << 40;
    EXPECT_EQ(SizeText(1023, 0), L"1023 bytes");
    EXPECT_EQ(SizeText(1024, 0), L"1.0 KB");
    EXPECT_EQ(SizeText(5 << 20, 0), L"5.0 MB");
    EXPECT_EQ(SizeText(3ull << 30, 0), L"3.00 GB");
    EXPECT_EQ(SizeText(kTB, 0), L"1.00 TB");
    EXPECT_EQ(SizeText(0, 1), L"0 KB");
    EXPECT_EQ(SizeText(1, 1), L"1 KB");
    EXPECT_EQ(SizeText(1025, 1), L"2 KB");
    EXPECT_EQ(SizeText(UINT64_MAX, 1), L"18,014,398,509,481,984 KB");
    EXPECT_EQ(SizeText(1234567, 2), L"1,234,567");
    EXPECT_EQ(AttributeText(0x1 | 0x2 | 0x20), L"RHA");
    EXPECT_EQ(AttributeText(0xFFFFFFFF), L"RHSACELO");
}

// Only whole pieces (a comma after them) of sensible widths are taken, and
// what is stored reads back the same.
TEST(AppRules, ColumnWidthsParseOnlyWholePieces) {
    const auto read = [](const std::wstring& text) {
        std::vector<int> widths(kColumnCount);
        for (int i = 0; i < kColumnCount; ++i) widths[i] = kColumns[i].width;
        ReadColumnWidths(text, widths.data());
        return widths;
    };
    EXPECT_EQ(read(L"50,60,")[0], 50);
    EXPECT_EQ(read(L"50,60,")[1], 60);
    EXPECT_EQ(read(L"50,60,")[2], kColumns[2].width);
    EXPECT_EQ(read(L"50,60")[1], kColumns[1].width);
    EXPECT_EQ(read(L"19,3000,2999,x,,-5,")[0], kColumns[0].width);
    EXPECT_EQ(read(L"19,3000,2999,x,,-5,")[1], kColumns[1].width);
    EXPECT_EQ(read(L"19,3000,2999,x,,-5,")[2], 2999);
    EXPECT_EQ(read(L"19,3000,2999,x,,-5,")[3], kColumns[3].width);
    EXPECT_EQ(read(L"1,2,3,4,5,6,7,8,99,")[kColumnCount - 1], kColumns[kColumnCount - 1].width);
    const int stored[kColumnCount] = {20, 2999, 77, 140, 141, 130, 76, 80};
    EXPECT_EQ(read(ColumnWidthsText(stored)), std::vector<int>(stored, stored + kColumnCount));
}

// Marks against a brute-force oracle: a unit is marked when some occurrence of
// some word covers it, overlapping occurrences included.
TEST(AppRules, MatchMarksCoverEveryOccurrence) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::wstring text(random() % 12, L'a');
        for (wchar_t& c : text) c = static_cast<wchar_t>(L'a' + random() % 3);
        std::vector<std::wstring> words(random() % 3);
        for (std::wstring& word : words) {
            word.resize(random() % 4);
            for (wchar_t& c : word) c = static_cast<wchar_t>(L'a' + random() % 3);
        }
        std::vector<bool> expected(text.size(), false);
        for (const std::wstring& word : words) {
            for (size_t at = 0; !word.empty() && at + word.size() <= text.size(); ++at) {
                if (text.compare(at, word.size(), word) != 0) continue;
                for (size_t i = at; i < at + word.size(); ++i) expected[i] = true;
            }
        }
        ASSERT_EQ(MatchMarks(text, words), expected) << round;
    }
}

}  // namespace
