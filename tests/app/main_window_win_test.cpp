// The main window seen from outside: closing, the exit message, the saved
// placement, damaged settings, the Settings-tab commands, Tab and the relaunch
// as administrator.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <vector>

#include "app/command_line.h"
#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

constexpr UINT kExitMessage = WM_APP + 70;

using MainWindow = OrvaneTest;

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The hotkey is another program's (this test's): the program says so where it
// stays in sight, before the index's state.
TEST_F(MainWindow, ATakenHotkeyStaysInSightCloseHidesAndTheExitMessageEnds) {
    ASSERT_TRUE(RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT, 'F'));
    const std::wstring notice =
        L"  The hotkey Ctrl+Alt+F is already used by another program - pick another on the Settings tab   ";
    ASSERT_NE(Start(), nullptr);
    // The index loads, the status bar counts entries and the summary replaces "Loading the index…".
    // The bar is empty until start-up writes it, just after the window shows.
    HWND status = ChildByClass(main, STATUSCLASSNAMEW);
    std::wstring line;
    EXPECT_TRUE(WaitUntil(
        [&] {
            line = StatusBarText(status, 3);
            return line.rfind(notice, 0) == 0 && line.size() > notice.size() &&
                   line.find(L"Loading the index…") == std::wstring::npos;
        },
        kStartMs))
        << StatusBarSeen(status);
    UnregisterHotKey(nullptr, 1);
    const std::wstring entries = StatusBarText(status, 0);
    EXPECT_NE(entries.find(L" files and folders"), std::wstring::npos) << std::string(entries.begin(), entries.end());
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !Visible(main); }, Patient(5000)));
    Sleep(300);
    EXPECT_TRUE(program.Running());
    const std::wstring saved = SavedIndexFile();
    DeleteFileW(saved.c_str());
    PostMessageW(main, kExitMessage, 0, 0);
    DWORD code = 12345;
    ASSERT_TRUE(program.WaitForExit(kExitMs, &code));
    EXPECT_EQ(code, 0u);
    // The exit saved the index.
    WIN32_FILE_ATTRIBUTE_DATA file;
    ASSERT_TRUE(GetFileAttributesExW(saved.c_str(), GetFileExInfoStandard, &file));
    EXPECT_GT(file.nFileSizeLow | file.nFileSizeHigh, 0u);
}

TEST_F(MainWindow, CloseWithoutTrayEnds) {
    const DWORD off = 0;
    ASSERT_TRUE(WriteRegistryValue(kSettingsKey, L"KeepInTray", REG_DWORD, &off, sizeof off));
    ASSERT_NE(Start(), nullptr);
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.WaitForExit(kExitMs));
}

TEST_F(MainWindow, PlacementIsSavedAndRestored) {
    ASSERT_NE(Start(), nullptr);
    ASSERT_TRUE(SetWindowPos(main, nullptr, 100, 120, 700, 500, SWP_NOZORDER | SWP_NOACTIVATE));
    ASSERT_TRUE(ExitOrvane());
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadRegistryValue(kSettingsKey, L"WindowPlacement", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(data.size(), sizeof(WINDOWPLACEMENT));
    WINDOWPLACEMENT saved;
    memcpy(&saved, data.data(), sizeof saved);
    const RECT expected = {100, 120, 800, 620};
    EXPECT_TRUE(SameRect(saved.rcNormalPosition, expected));

    ASSERT_NE(Start(), nullptr);
    RECT shown;
    GetWindowRect(main, &shown);
    EXPECT_TRUE(SameRect(shown, expected));
    ASSERT_TRUE(ExitOrvane());

    // Minimised, hidden or off every monitor: the window opens normally and on screen.
    struct Case {
        RECT rect;
        UINT show;
    } cases[] = {{{100, 120, 800, 620}, SW_SHOWMINIMIZED},
                 {{100, 120, 800, 620}, SW_HIDE},
                 {{30000, 30000, 30700, 30500}, SW_SHOWNORMAL}};
    for (const Case& c : cases) {
        WINDOWPLACEMENT placement = saved;
        placement.rcNormalPosition = c.rect;
        placement.showCmd = c.show;
        ASSERT_TRUE(WriteRegistryValue(kSettingsKey, L"WindowPlacement", REG_BINARY, &placement, sizeof placement));
        ASSERT_NE(Start(), nullptr);
        GetWindowRect(main, &shown);
        EXPECT_TRUE(Visible(main)) << c.show;
        EXPECT_FALSE(IsIconic(main)) << c.show;
        EXPECT_LT(shown.left, 2000) << c.show;
        ASSERT_TRUE(ExitOrvane());
    }
}

TEST_F(MainWindow, DamagedSettingsNeverStopTheStart) {
    const wchar_t* dwordNames[] = {L"RunAsAdmin", L"KeepInTray", L"Hotkey", L"SearchThreads", L"Filter", L"Sort"};
    const std::wstring text = L"not a number";
    const BYTE bytes[] = {1, 2, 3};
    std::vector<BYTE> huge(44, 0xFF);
    for (int round = 0; round < 2; ++round) {
        DeleteRegistryKey(kSettingsKey);
        for (const wchar_t* name : dwordNames) {
            if (round == 0) {
                WriteRegistryValue(kSettingsKey, name, REG_SZ, text.c_str(), (text.size() + 1) * 2);
            } else {
                WriteRegistryValue(kSettingsKey, name, REG_BINARY, bytes, sizeof bytes);
            }
        }
        WriteRegistryValue(kSettingsKey, L"WindowPlacement", round == 0 ? REG_BINARY : REG_SZ, huge.data(),
                           static_cast<DWORD>(huge.size()));
        WriteRegistryValue(kSettingsKey, L"ExcludedFolders", REG_BINARY, bytes, sizeof bytes);
        WriteRegistryValue(kSettingsKey, L"IndexedFolders", REG_DWORD, bytes, 3);
        ASSERT_NE(Start(), nullptr) << round;
        EXPECT_TRUE(Visible(main)) << round;
        ASSERT_TRUE(ExitOrvane());
    }
}

// The Settings tab's controls live in the ribbon; the handler reads the control
// that sent the command, so controls of this test stand in for them.
TEST_F(MainWindow, SettingsCommandsStoreTheirValues) {
    ASSERT_NE(Start(L"/tray"), nullptr);
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND check =
        CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | BS_AUTO3STATE, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
    HWND list = CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 10, 100, parent, nullptr,
                                nullptr, nullptr);
    for (int i = 0; i < 7; ++i) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"row"));
    struct Case {
        int id;
        int state;  // check box: BST_*; list: the row (-1 none)
        int code;
        const wchar_t* name;
        DWORD expected;  // 0xDEAD: nothing stored
    } cases[] = {
        {404, BST_CHECKED, BN_CLICKED, L"HideHidden", 1},
        {405, BST_CHECKED, BN_DOUBLECLICKED, L"HideSystem", 0xDEAD},
        {406, BST_UNCHECKED, BN_CLICKED, L"Highlight", 0},
        {402, BST_INDETERMINATE, BN_CLICKED, L"KeepInTray", 0},
        {401, BST_CHECKED, BN_CLICKED, L"StartWithWindows", 1},
        {408, BST_CHECKED, BN_CLICKED, L"IncludeRemovable", 1},
        {411, BST_UNCHECKED, BN_CLICKED, L"AutoUpdate", 0},
        {400, BST_UNCHECKED, BN_CLICKED, L"RunAsAdmin", 0},
        {410, 3, CBN_SELCHANGE, L"SearchThreads", 4},
        {410, 6, CBN_SELCHANGE, L"SearchThreads", 32},
        {410, -1, CBN_SELCHANGE, L"SearchThreads", 0},
        {412, 2, CBN_SELCHANGE, L"SizeFormat", 2},
        {412, 1, CBN_DROPDOWN, L"SizeFormat", 0xDEAD},
        {403, 0, CBN_SELCHANGE, L"Hotkey", 0},
    };
    for (const Case& c : cases) {
        const bool isList = c.id == 403 || c.id == 410 || c.id == 412;
        HWND control = isList ? list : check;
        if (isList) {
            SendMessageW(list, CB_SETCURSEL, c.state, 0);
        } else {
            SendMessageW(check, BM_SETCHECK, c.state, 0);
        }
        SendMessageW(main, WM_COMMAND, MAKEWPARAM(c.id, c.code), reinterpret_cast<LPARAM>(control));
        DWORD stored = 0xDEAD;
        ReadRegistryDword(kSettingsKey, c.name, stored);
        EXPECT_EQ(stored, c.expected) << c.id << " " << c.state;
        DeleteRegistryKey(kSettingsKey);
    }
    // This copy runs elevated (Wine's always are): switching "Run as administrator" on says nothing.
    SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(main, WM_COMMAND, MAKEWPARAM(400, BN_CLICKED), reinterpret_cast<LPARAM>(check));
    const std::wstring status = StatusBarText(ChildByClass(main, STATUSCLASSNAMEW), 3);
    EXPECT_EQ(status.find(L"next time it starts"), std::wstring::npos);
    DestroyWindow(parent);
}

TEST_F(MainWindow, TabMovesBetweenTheControlsAndEnterStays) {
    ASSERT_NE(Start(), nullptr);
    HWND search = SearchBox();
    HWND filter = ChildById(main, 481);
    HWND results = ChildById(main, 482);
    SetForegroundWindow(main);
    ASSERT_TRUE(WaitUntil([&] { return FocusedWindow(main) == search; }, Patient(5000)));
    PressKey(VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return FocusedWindow(main) == filter; }, Patient(3000)));
    PressKey(VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return FocusedWindow(main) == results; }, Patient(3000)));
    PressKey(VK_TAB, false, true);
    EXPECT_TRUE(WaitUntil([&] { return FocusedWindow(main) == filter; }, Patient(3000)));
    Click(search, 5, 5);
    ASSERT_TRUE(WaitUntil([&] { return FocusedWindow(main) == search; }, Patient(3000)));
    TypeText(L"abc");
    PressKey(VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(search) == L"abc"; }, Patient(3000)));
    Sleep(200);
    EXPECT_EQ(FocusedWindow(main), search);
    EXPECT_TRUE(program.Running());
}

TEST_F(MainWindow, RestartAsAdminKeepsTheSearchExactly) {
    ASSERT_NE(Start(), nullptr);
    const std::wstring text = L"say \"hi\" to C:\\Users\\";
    SetWindowTextW(SearchBox(), text.c_str());
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(123, 0), 0);
    ASSERT_TRUE(program.WaitForExit(kExitMs));
    HWND next = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (next = FindWindowW(L"OrvaneMain", nullptr)) != nullptr; }, kStartMs));
    EXPECT_TRUE(WaitUntil([&] { return WindowText(ChildById(next, 480)) == text; }, Patient(5000)));
    PostMessageW(next, kExitMessage, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return FindWindowW(L"OrvaneMain", nullptr) == nullptr; }, kExitMs));
}

}  // namespace
}  // namespace ov::gui
