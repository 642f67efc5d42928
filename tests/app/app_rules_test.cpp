// The application's portable rules: setting clamps, thread rows, folder lists
// and the main window's layout.
#include <gtest/gtest.h>

#include "app/folder_lists.h"
#include "app/layout.h"
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

}  // namespace
