// The ribbon of a running Orvane, driven with real mouse input through the
// rectangles its own tooltip window holds, read across processes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <commctrl.h>

#include <string>
#include <vector>

#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

using RibbonClicks = OrvaneTest;

struct Tool {
    RECT rect = {};
    std::wstring text;
};

// The program's tooltip window that holds the ribbon's tool 1 (the shared
// tooltip window knows its controls by window, not by number).
HWND RibbonTooltip(DWORD processId, HWND ribbon) {
    struct Find {
        DWORD processId;
        HWND ribbon;
        HWND found;
    } find = {processId, ribbon, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* f = reinterpret_cast<Find*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (owner != f->processId || lstrcmpiW(name, TOOLTIPS_CLASSW) != 0) return TRUE;
            RemoteMemory remote(window, sizeof(TTTOOLINFOW));
            TTTOOLINFOW tool = {};
            tool.cbSize = sizeof tool;
            tool.hwnd = f->ribbon;
            tool.uId = 1;
            if (remote.Write(&tool, sizeof tool) &&
                SendMessageW(window, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(remote.Address()))) {
                f->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.found;
}

bool ReadTool(HWND tips, HWND ribbon, int id, Tool& out) {
    constexpr int kChars = 1024;
    RemoteMemory remote(tips, sizeof(TTTOOLINFOW) + kChars * sizeof(wchar_t));
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.hwnd = ribbon;
    tool.uId = static_cast<UINT_PTR>(id);
    tool.lpszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote.Address()) + sizeof tool);
    std::vector<wchar_t> text(kChars, L'\0');
    if (!remote.Write(&tool, sizeof tool) || !remote.Write(text.data(), text.size() * 2, sizeof tool)) return false;
    if (!SendMessageW(tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(remote.Address()))) return false;
    SendMessageW(tips, TTM_GETTEXTW, kChars, reinterpret_cast<LPARAM>(remote.Address()));
    if (!remote.Read(&tool, sizeof tool) || !remote.Read(text.data(), text.size() * 2, sizeof tool)) return false;
    out.rect = tool.rect;
    text.back() = L'\0';
    out.text = text.data();
    return true;
}

// A left press at from and its release at to, client points of window.
void Drag(HWND window, POINT from, POINT to) {
    ClientToScreen(window, &from);
    ClientToScreen(window, &to);
    const int width = GetSystemMetrics(SM_CXSCREEN) - 1;
    const int height = GetSystemMetrics(SM_CYSCREEN) - 1;
    INPUT input[4] = {};
    const POINT at[4] = {from, from, to, to};
    const DWORD flags[4] = {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 4; ++i) {
        input[i].type = INPUT_MOUSE;
        input[i].mi.dx = MulDiv(at[i].x, 65535, width);
        input[i].mi.dy = MulDiv(at[i].y, 65535, height);
        input[i].mi.dwFlags = flags[i] | MOUSEEVENTF_ABSOLUTE;
    }
    SendInput(4, input, sizeof input[0]);
}

POINT Centre(const RECT& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

TEST_F(RibbonClicks, ToolRectanglesLeadRealClicks) {
    ASSERT_NE(Start(), nullptr);
    // Real input reaches only what is on the screen: the window may open partly
    // off it, and under load Wine may move it back after a move, so the window
    // is put on the screen again whenever a button's point is not the ribbon's.
    const auto putOnScreen = [&] {
        RECT frame = {};
        GetWindowRect(main, &frame);
        SetWindowPos(main, HWND_TOP, 0, 0, std::min<int>(frame.right - frame.left, GetSystemMetrics(SM_CXSCREEN)),
                     std::min<int>(frame.bottom - frame.top, GetSystemMetrics(SM_CYSCREEN)), SWP_NOACTIVATE);
    };
    putOnScreen();
    HWND ribbon = ChildByClass(main, L"OVRibbon");
    ASSERT_NE(ribbon, nullptr);
    HWND tips = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (tips = RibbonTooltip(program.Id(), ribbon)) != nullptr; }, kStartMs));
    ASSERT_EQ(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0), 16);  // Home: 10 buttons, 5 tabs, the badge
    Tool matchCase;
    Tool badge;
    ASSERT_TRUE(ReadTool(tips, ribbon, 1, matchCase));
    ASSERT_TRUE(ReadTool(tips, ribbon, 16, badge));
    EXPECT_EQ(matchCase.text.rfind(L"Match upper and lower case exactly", 0), 0u);
    EXPECT_EQ(badge.text, L"The version of Orvane you're running. Click for About.");

    // Real input goes where the screen shows it: before each click, wait until
    // the window is in front and the button's point is the ribbon's. The tool is
    // read again after each move, which may resize the ribbon.
    auto clickWhenShown = [&](int id) {
        Tool tool;
        POINT centre = {}, at = {};
        int polls = 0;
        bool read = ReadTool(tips, ribbon, id, tool);
        const bool shown = WaitUntil(
            [&] {
                if (!read) return false;
                centre = at = Centre(tool.rect);
                ClientToScreen(ribbon, &at);
                if (GetForegroundWindow() != main) SetForegroundWindow(main);
                if (GetForegroundWindow() == main && WindowFromPoint(at) == ribbon) return true;
                if (++polls % 50 == 0) {
                    putOnScreen();
                    read = ReadTool(tips, ribbon, id, tool);
                }
                return false;
            },
            kStartMs);
        RECT frame = {};
        GetWindowRect(main, &frame);
        EXPECT_TRUE(shown) << "tool " << id << " at " << at.x << "," << at.y << " on a screen of "
                           << GetSystemMetrics(SM_CXSCREEN) << "x" << GetSystemMetrics(SM_CYSCREEN) << ", window "
                           << frame.left << "," << frame.top << "-" << frame.right << "," << frame.bottom
                           << ", foreground " << GetForegroundWindow() << ", under the point " << WindowFromPoint(at);
        Click(ribbon, centre.x, centre.y);
        return shown;
    };
    auto matchCaseIs = [](DWORD want) {
        return WaitUntil(
            [&] {
                DWORD value = 99;
                return ReadRegistryDword(kSettingsKey, L"MatchCase", value) && value == want;
            },
            Patient(5000));
    };
    ASSERT_TRUE(clickWhenShown(1));
    ASSERT_TRUE(matchCaseIs(1));
    // A press that ends 100 px below its button sends nothing. Input is taken
    // in order: once a click on Whole Words has switched it on, the press was handled.
    ASSERT_TRUE(ReadTool(tips, ribbon, 1, matchCase));
    const POINT from = Centre(matchCase.rect);
    Sleep(GetDoubleClickTime() + 100);
    Drag(ribbon, from, {from.x, from.y + 100});
    clickWhenShown(2);
    EXPECT_TRUE(WaitUntil(
        [] {
            DWORD value = 0;
            return ReadRegistryDword(kSettingsKey, L"WholeWord", value) && value == 1;
        },
        Patient(5000)))
        << "ribbon " << ribbon << ", foreground " << GetForegroundWindow();
    DWORD stored = 99;
    EXPECT_TRUE(ReadRegistryDword(kSettingsKey, L"MatchCase", stored));
    EXPECT_EQ(stored, 1u);

    // The badge opens About.
    clickWhenShown(16);
    HWND about = program.WaitForWindow(L"#32770", Patient(5000));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(WindowText(about), L"About Orvane");
    PostMessageW(about, WM_COMMAND, IDOK, 0);
}

}  // namespace
}  // namespace ov::gui
