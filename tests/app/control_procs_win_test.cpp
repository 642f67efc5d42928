// The search box's and the results list's own window procedures, in this
// process with the real main window: the box's tooltip sees the mouse only
// through the box's procedure, and the header's right click reaches the
// list's procedure and opens the column menu once.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include "app/icon_loader.h"
#include "app/main_window.h"
#include "app/results_list.h"
#include "app/window_kit.h"
#include "tests/app/harness/gui_harness.h"
#include "tests/app/harness/in_process_app.h"

namespace {

class ControlProcs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ov::gui::SetUpAppInProcess();
        ASSERT_NE(CreateMainWindow(SW_SHOWNORMAL), nullptr);
        SetForegroundWindow(gMain);
    }
    static void TearDownTestSuite() { StopIconLoader(); }
};

TEST_F(ControlProcs, TheMouseOverTheSearchBoxShowsItsTooltip) {
    RECT box;
    GetWindowRect(gSearchBox, &box);
    POINT point = {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
    SetCursorPos(point.x, point.y);
    ScreenToClient(gSearchBox, &point);
    // Once: each move over the same tool starts the tooltip's wait again.
    SendMessageW(gSearchBox, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y));
    const bool shown = ov::gui::WaitUntil([] { return IsWindowVisible(gTooltip) != FALSE; }, ov::gui::Patient(5000));
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    const bool current = SendMessageW(gTooltip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
    EXPECT_TRUE(shown);
    EXPECT_TRUE(current);
    EXPECT_EQ(tool.uId, reinterpret_cast<UINT_PTR>(gSearchBox));
}

int gMenusOpened = 0;
WNDPROC gMainProc = nullptr;

LRESULT CALLBACK CountMenus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITMENUPOPUP) ++gMenusOpened;
    if (message == WM_ENTERIDLE && wParam == MSGF_MENU) EndMenu();  // the menu is up and waiting: close it
    return CallWindowProcW(gMainProc, window, message, wParam, lParam);
}

TEST_F(ControlProcs, TheHeadersRightClickOpensTheColumnMenuOnce) {
    HWND header = ListView_GetHeader(gResultsList);
    RECT first;
    ASSERT_TRUE(Header_GetItemRect(header, 0, &first));
    gMainProc = PutWindowProc(gMain, CountMenus);
    const LPARAM at = MAKELPARAM((first.left + first.right) / 2, (first.top + first.bottom) / 2);
    SendMessageW(header, WM_RBUTTONDOWN, MK_RBUTTON, at);
    SendMessageW(header, WM_RBUTTONUP, 0, at);
    ov::gui::WaitUntil([] { return false; }, 200);  // room for a second menu to open
    PutWindowProc(gMain, gMainProc);
    EXPECT_EQ(gMenusOpened, 1);
}

}  // namespace
