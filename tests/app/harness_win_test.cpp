// The harness's own readers, checked on windows this test makes: the same
// calls read another process's controls.
#include "tests/app/harness/gui_harness.h"

#include <gtest/gtest.h>

#include <commctrl.h>

namespace ov::gui {
namespace {

TEST(Harness, ReadsListViewCellsAndStatusPartsThroughRemoteMemory) {
    InitCommonControls();
    HWND top = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    HWND list =
        CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0, 400, 200, top, nullptr, nullptr, nullptr);
    HWND status = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD, 0, 0, 0, 0, top, nullptr, nullptr, nullptr);
    ASSERT_TRUE(list && status);
    for (int column = 0; column < 2; ++column) {
        LVCOLUMNW header = {};
        header.mask = LVCF_WIDTH;
        header.cx = 100;
        ListView_InsertColumn(list, column, &header);
    }
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = 0;
    item.pszText = const_cast<wchar_t*>(L"name.txt");
    ListView_InsertItem(list, &item);
    ListView_SetItemText(list, 0, 1, const_cast<wchar_t*>(L"C:\\folder"));
    int parts[2] = {100, -1};
    SendMessageW(status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    SendMessageW(status, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L"  Loading"));

    EXPECT_EQ(ListViewRowCount(list), 1);
    EXPECT_EQ(ListViewCellText(list, 0, 0), L"name.txt");
    EXPECT_EQ(ListViewCellText(list, 0, 1), L"C:\\folder");
    EXPECT_EQ(StatusBarText(status, 1), L"  Loading");
    EXPECT_EQ(StatusBarText(status, 0), L"");
    DestroyWindow(top);
}

TEST(Harness, ReadsTheClipboard) {
    const std::wstring text = L"C:\\a\r\nC:\\b";
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
    EXPECT_EQ(ClipboardText(), text);
}

}  // namespace
}  // namespace ov::gui
