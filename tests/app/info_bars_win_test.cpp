// The text window and the administrator bar seen from outside: one text window
// at a time, the exact text on the clipboard, Esc, its place beside a minimised
// main window, and "Hide" kept across a restart.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "app/help_texts.h"
#include "app/window_kit.h"
#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

using InfoBars = OrvaneTest;

struct Found {
    DWORD process;
    int count;
};

// Top-level text windows of the process; there must never be two.
int TextWindowCount(DWORD process) {
    Found found = {process, 0};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* found = reinterpret_cast<Found*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            if (owner == found->process && std::wstring(name) == L"OVNotes") ++found->count;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.count;
}

// Opens a text window by its command; the window once it shows, else null.
HWND OpenTextWindow(const Program& program, HWND main, int command, HWND previous = nullptr) {
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    HWND notes = nullptr;
    WaitUntil(
        [&] {
            notes = FindProcessWindow(program.Id(), L"OVNotes");
            return notes && notes != previous && Visible(notes);
        },
        Patient(5000));
    return notes != previous ? notes : nullptr;
}

// One line of an edit control as it shows it (EM_GETLINE, which the system
// carries across processes).
std::wstring EditLine(HWND edit, int line) {
    wchar_t text[512] = {};
    *reinterpret_cast<WORD*>(text) = 511;
    const LRESULT length = SendMessageW(edit, EM_GETLINE, line, reinterpret_cast<LPARAM>(text));
    return std::wstring(text, static_cast<size_t>(length > 0 ? length : 0));
}

void SetClipboard(const std::wstring& text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(block), text.c_str(), bytes);
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
}

TEST_F(InfoBars, OneTextWindowCopiesItsExactTextAndEscCloses) {
    ASSERT_NE(Start(), nullptr);
    HWND guide = OpenTextWindow(program, main, 125);
    ASSERT_NE(guide, nullptr);
    EXPECT_EQ(WindowText(guide), L"How to use Orvane");

    HWND notes = OpenTextWindow(program, main, 128, guide);
    ASSERT_NE(notes, nullptr);
    EXPECT_FALSE(IsWindow(guide));
    EXPECT_EQ(TextWindowCount(program.Id()), 1);
    EXPECT_EQ(WindowText(notes), L"Orvane Release Notes");

    // Every line feed, the heading's too, becomes CR LF: the control breaks the lines there.
    std::wstring expected = std::wstring(L"Orvane release notes — you have version ") + kVersionText + L"\r\n\r\n";
    for (const wchar_t* c = kReleaseNotesText; *c; ++c)
        expected += *c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, *c);
    EXPECT_EQ(WindowText(ChildById(notes, 100)), expected);
    const std::wstring notesStart(kReleaseNotesText, std::wcscspn(kReleaseNotesText, L"\n"));
    const std::vector<std::wstring> firstLines = {
        std::wstring(L"Orvane release notes — you have version ") + kVersionText, L"", notesStart};
    for (size_t line = 0; line < firstLines.size(); ++line) {
        EXPECT_EQ(EditLine(ChildById(notes, 100), static_cast<int>(line)), firstLines[line]) << "line " << line;
    }
    SetClipboard(L"stale");
    HWND copy = ChildById(notes, 101);
    SendMessageW(copy, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == expected; }, Patient(3000)));
    EXPECT_EQ(WindowText(copy), L"Copied \u2714");

    SetForegroundWindow(notes);
    ASSERT_TRUE(WaitUntil([&] { return Foreground() == notes; }, Patient(3000)));
    PressKey(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(notes); }, Patient(3000)));
    EXPECT_EQ(TextWindowCount(program.Id()), 0);
    EXPECT_NE(OpenTextWindow(program, main, 126), nullptr);
}

TEST_F(InfoBars, TextWindowOpensInsideTheWorkAreaWhenMainIsMinimised) {
    ASSERT_NE(Start(), nullptr);
    ShowWindow(main, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(main) != FALSE; }, Patient(3000)));
    HWND notes = OpenTextWindow(program, main, 126);
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(WindowText(notes), L"Orvane search tricks");
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST), &monitor));
    RECT shown, owner;
    GetWindowRect(notes, &shown);
    GetWindowRect(main, &owner);
    const RECT& work = monitor.rcWork;
    EXPECT_TRUE(shown.left >= work.left && shown.top >= work.top && shown.right <= work.right &&
                shown.bottom <= work.bottom)
        << "text window " << shown.left << "," << shown.top << "," << shown.right << "," << shown.bottom
        << " work area " << work.left << "," << work.top << "," << work.right << "," << work.bottom
        << " minimised main " << owner.left << "," << owner.top;
}

TEST_F(InfoBars, AdminBarHideIsKeptAcrossARestart) {
    // Acting as not elevated, with NTFS drives indexed: the bar shows.
    ASSERT_NE(Start(L"/forcescan"), nullptr);
    HWND bar = ChildByClass(main, L"OVAdminBar");
    ASSERT_NE(bar, nullptr);
    RECT barRect, hideRect, restartRect, searchBefore;
    // Shown first, then laid out: under the ribbon, with the search box below it.
    ASSERT_TRUE(WaitUntil(
        [&] {
            RECT ribbon;
            GetWindowRect(ChildByClass(main, L"OVRibbon"), &ribbon);
            GetWindowRect(bar, &barRect);
            GetWindowRect(SearchBox(), &searchBefore);
            return Visible(bar) && barRect.top >= ribbon.bottom && searchBefore.top >= barRect.bottom;
        },
        kStartMs));
    HWND restart = ChildById(bar, 493);
    HWND hide = ChildById(bar, 494);
    GetWindowRect(hide, &hideRect);
    GetWindowRect(restart, &restartRect);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    auto dip = [&](int value) { return MulDiv(value, dpi, 96); };
    // Right-aligned buttons of fixed sizes, centred in the bar's height.
    EXPECT_EQ(barRect.bottom - barRect.top, dip(48));
    EXPECT_EQ(barRect.right - hideRect.right, dip(10));
    EXPECT_EQ(hideRect.right - hideRect.left, dip(80));
    EXPECT_EQ(hideRect.left - restartRect.right, dip(6));
    EXPECT_EQ(restartRect.right - restartRect.left, dip(220));
    EXPECT_EQ(restartRect.top, hideRect.top);
    EXPECT_EQ(hideRect.top - barRect.top, (dip(48) - dip(28)) / 2);

    SendMessageW(hide, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !Visible(bar); }, Patient(3000)));
    DWORD hidden = 0;
    EXPECT_TRUE(ReadRegistryDword(kSettingsKey, L"AdminBarHidden", hidden));
    EXPECT_EQ(hidden, 1u);
    // The search box moves up into the bar's place.
    RECT searchAfter;
    GetWindowRect(SearchBox(), &searchAfter);
    EXPECT_EQ(searchBefore.top - searchAfter.top, dip(48));
    ASSERT_TRUE(ExitOrvane());

    ASSERT_NE(Start(L"/forcescan"), nullptr);
    ASSERT_TRUE(WaitUntilUpToDate());
    EXPECT_FALSE(Visible(ChildByClass(main, L"OVAdminBar")));
}

}  // namespace
}  // namespace ov::gui
