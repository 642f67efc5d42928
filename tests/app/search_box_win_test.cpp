// Searching while typing, seen from outside: Orvane indexes a fixture drive that
// this test fills, and everything is read across processes from its windows.
// One copy runs for the whole suite (each start costs seconds under Wine); every
// test sets its own search first, and the last one ends the program.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

const std::wstring kDrive = L"F:\\";

// FILETIME of 1 January of a year, UTC.
FILETIME YearStart(int year) {
    SYSTEMTIME time = {};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = 1;
    time.wDay = 1;
    FILETIME out;
    SystemTimeToFileTime(&time, &out);
    return out;
}

bool MakeFile(const std::wstring& path, size_t bytes, int year = 0, const std::string& content = {}) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string data = content.empty() ? std::string(bytes, 'x') : content;
    DWORD written = 0;
    bool ok = data.empty() || WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    if (year) {
        const FILETIME time = YearStart(year);
        ok = ok && SetFileTime(file, nullptr, nullptr, &time);
    }
    CloseHandle(file);
    return ok;
}

bool SetFolderYear(const std::wstring& path, int year) {
    HANDLE folder = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    const FILETIME time = YearStart(year);
    const bool ok = SetFileTime(folder, nullptr, nullptr, &time);
    CloseHandle(folder);
    return ok;
}

// A 16 x 16 icon file whose colour depends on seed, so every file is its own icon.
std::string IconBytes(int seed) {
    std::string data(6 + 16 + 40 + 16 * 16 * 4 + 16 * 4, '\0');
    auto put16 = [&](size_t at, uint16_t v) { memcpy(&data[at], &v, 2); };
    auto put32 = [&](size_t at, uint32_t v) { memcpy(&data[at], &v, 4); };
    put16(2, 1);
    put16(4, 1);
    data[6] = 16;
    data[7] = 16;
    put16(10, 1);
    put16(12, 32);
    put32(14, static_cast<uint32_t>(data.size() - 22));
    put32(18, 22);
    put32(22, 40);
    put32(26, 16);
    put32(30, 32);
    put16(34, 1);
    put16(36, 32);
    for (int i = 0; i < 256; ++i) put32(62 + i * 4, 0xFF000000u | static_cast<uint32_t>(seed * 2654435761u >> 8));
    return data;
}

// The fixture: six hits for "qzfix" with known sizes and dates, 120 rows for
// the refresh, 3,000 icon files.
bool MakeFixture() {
    CreateDirectoryW((kDrive + L"docs").c_str(), nullptr);
    CreateDirectoryW((kDrive + L"qzfix_dir").c_str(), nullptr);
    CreateDirectoryW((kDrive + L"rows").c_str(), nullptr);
    CreateDirectoryW((kDrive + L"icons").c_str(), nullptr);
    bool ok = MakeFile(kDrive + L"qzfix_alpha.txt", 3000, 2020) && MakeFile(kDrive + L"qzfix_beta.txt", 10, 2021) &&
              MakeFile(kDrive + L"qzfix_gamma.txt", 200000, 2019) && MakeFile(kDrive + L"qzfix_delta.txt", 0, 2023) &&
              MakeFile(kDrive + L"docs\\qzfix_epsilon.txt", 50, 2022) &&
              MakeFile(kDrive + L"qzfix_dir\\inner.bin", 7, 2017) && SetFolderYear(kDrive + L"qzfix_dir", 2018);
    for (int i = 0; ok && i < 120; ++i) {
        wchar_t name[64];
        swprintf(name, 64, L"rows\\qzrow_%03d.txt", i);
        ok = MakeFile(kDrive + name, 1);
    }
    for (int i = 0; ok && i < 3000; ++i) {
        wchar_t name[64];
        swprintf(name, 64, L"icons\\qzico_%04d.ico", i);
        ok = MakeFile(kDrive + name, 0, 0, IconBytes(i));
    }
    return ok;
}

class SearchBox : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DeleteRegistryKey(kSettingsKey);
        ASSERT_TRUE(MakeFixture());
        // Name, Path, Size, Date Modified and Attributes.
        const DWORD columns = 0x4F;
        WriteRegistryValue(kSettingsKey, L"Columns", REG_DWORD, &columns, sizeof columns);
        program = new Program;
        ASSERT_TRUE(program->Start(OrvanePath(), L""));
        main = program->WaitForWindow(L"OrvaneMain", kStartMs);
        ASSERT_NE(main, nullptr);
        WaitForInputIdle(program->Handle(), kStartMs);
        // The window is found while it is being created: its children may still be to come.
        ASSERT_TRUE(WaitUntil([] { return (list = ChildById(main, 482)) != nullptr; }, kStartMs));
        status = ChildByClass(main, STATUSCLASSNAMEW);
        box = ChildById(main, 480);
        // Indexing has finished once no drive is named busy.
        ASSERT_TRUE(
            WaitUntil([] { return StatusBarText(status, 3).find(L"Up to date") != std::wstring::npos; }, kStartMs))
            << "the status bar reads: " << StatusBarSeen(status);
    }

    static void TearDownTestSuite() {
        if (program->Running()) program->Exit(main, kExitMs);
        delete program;
        program = nullptr;
    }

    // Puts text into the search box and waits until the list shows rows results.
    static bool Search(const std::wstring& text, int rows) {
        SetWindowTextW(box, text.c_str());
        return WaitUntil([&] { return ListViewRowCount(list) == rows && ResultsPart() == Count(rows); },
                         Patient(10000));
    }

    static std::wstring ResultsPart() { return StatusBarText(status, 1); }
    static std::wstring Count(int rows) {
        std::wstring digits = std::to_wstring(rows);
        if (digits.size() > 3) digits.insert(digits.size() - 3, L",");
        return L"  " + digits + (rows == 1 ? L" result" : L" results");
    }

    static std::vector<std::wstring> Column(int column) {
        std::vector<std::wstring> cells;
        for (int row = 0; row < ListViewRowCount(list); ++row) cells.push_back(ListViewCellText(list, row, column));
        return cells;
    }

    static void Front() {
        SetForegroundWindow(main);
        WaitUntil([] { return Foreground() == main; }, 3000);  // not always granted under Wine
    }

    static Program* program;
    static HWND main;
    static HWND list;
    static HWND box;
    static HWND status;
};

Program* SearchBox::program = nullptr;
HWND SearchBox::main = nullptr;
HWND SearchBox::list = nullptr;
HWND SearchBox::box = nullptr;
HWND SearchBox::status = nullptr;

TEST_F(SearchBox, TypingShowsTheFixturesHitsWithCountsAndTiming) {
    Front();
    SetFocus(box);
    SetWindowTextW(box, L"");
    Click(box, 10, 10);
    TypeText(L"qzfix");
    ASSERT_TRUE(WaitUntil([] { return WindowText(box) == L"qzfix"; }, Patient(5000)));
    ASSERT_TRUE(WaitUntil([] { return ResultsPart() == Count(6); }, Patient(10000))) << ListViewRowCount(list);
    EXPECT_EQ(ListViewRowCount(list), 6);
    std::set<std::pair<std::wstring, std::wstring>> shown;
    for (int row = 0; row < 6; ++row) shown.insert({ListViewCellText(list, row, 0), ListViewCellText(list, row, 1)});
    const std::set<std::pair<std::wstring, std::wstring>> expected = {
        {L"qzfix_alpha.txt", L"F:\\"}, {L"qzfix_beta.txt", L"F:\\"},        {L"qzfix_gamma.txt", L"F:\\"},
        {L"qzfix_delta.txt", L"F:\\"}, {L"qzfix_epsilon.txt", L"F:\\docs"}, {L"qzfix_dir", L"F:\\"}};
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(ResultsPart(), Count(6));
    const std::wstring timing = StatusBarText(status, 2);
    EXPECT_TRUE(std::regex_match(timing, std::wregex(L"  [0-9]+\\.[0-9] ms  \u2022  [0-9]+ threads?")))
        << std::string(timing.begin(), timing.end());
    const std::wstring entries = StatusBarText(status, 0);
    EXPECT_TRUE(std::regex_match(entries, std::wregex(L"  [0-9,]+ files and folders")));

    // One hit: the singular; a query that does not parse: its error instead of the timing.
    ASSERT_TRUE(Search(L"qzfix_gamma", 1));
    ASSERT_TRUE(Search(L"qzfix size:>zz", 0));
    EXPECT_EQ(StatusBarText(status, 2),
              L"  Orvane didn't understand that size. Examples: size:>100mb  size:1gb..5gb  size:huge");
    ASSERT_TRUE(Search(L"qzfix", 6));
    EXPECT_EQ(StatusBarText(status, 2).find(L"understand"), std::wstring::npos);
}

// Clicks on the column headers sort: a new size or date key starts descending,
// a second click flips, Attributes does not sort.
TEST_F(SearchBox, ColumnClicksSortByTheirRules) {
    ASSERT_TRUE(Search(L"qzfix", 6));
    Front();
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    auto click = [&](int column) {
        RECT item;
        ASSERT_TRUE(HeaderItemRect(header, column, item));
        Sleep(GetDoubleClickTime() + 100);  // two quick clicks would be a double click
        Click(header, (item.left + item.right) / 2, (item.top + item.bottom) / 2);
    };
    auto sortIs = [](DWORD key, DWORD descending) {
        DWORD k = 99, d = 99;
        ReadRegistryDword(kSettingsKey, L"Sort", k);
        ReadRegistryDword(kSettingsKey, L"SortDescending", d);
        return k == key && d == descending;
    };
    auto namesAre = [](const std::vector<std::wstring>& names) {
        return WaitUntil([&] { return Column(0) == names; }, Patient(5000));
    };
    const std::vector<std::wstring> byName = {L"qzfix_dir",       L"qzfix_alpha.txt",   L"qzfix_beta.txt",
                                              L"qzfix_delta.txt", L"qzfix_epsilon.txt", L"qzfix_gamma.txt"};
    const std::vector<std::wstring> bySizeDown = {L"qzfix_gamma.txt", L"qzfix_alpha.txt", L"qzfix_epsilon.txt",
                                                  L"qzfix_beta.txt",  L"qzfix_dir",       L"qzfix_delta.txt"};
    std::vector<std::wstring> bySizeUp(bySizeDown.rbegin(), bySizeDown.rend());
    const std::vector<std::wstring> byDateDown = {L"qzfix_delta.txt", L"qzfix_epsilon.txt", L"qzfix_beta.txt",
                                                  L"qzfix_alpha.txt", L"qzfix_gamma.txt",   L"qzfix_dir"};
    EXPECT_TRUE(namesAre(byName));

    click(2);  // Size
    EXPECT_TRUE(namesAre(bySizeDown));
    EXPECT_TRUE(sortIs(2, 1));
    EXPECT_TRUE(HeaderItemFormat(header, 2) & HDF_SORTDOWN);
    EXPECT_FALSE(HeaderItemFormat(header, 0) & (HDF_SORTUP | HDF_SORTDOWN));
    EXPECT_EQ(ListViewCellText(list, 0, 2), L"195.3 KB");

    click(2);
    EXPECT_TRUE(namesAre(bySizeUp));
    EXPECT_TRUE(sortIs(2, 0));
    EXPECT_TRUE(HeaderItemFormat(header, 2) & HDF_SORTUP);

    click(4);  // Attributes: nothing changes
    Sleep(500);
    EXPECT_TRUE(sortIs(2, 0));
    EXPECT_EQ(Column(0), bySizeUp);
    EXPECT_TRUE(HeaderItemFormat(header, 2) & HDF_SORTUP);

    click(3);  // Date Modified: newest first
    EXPECT_TRUE(namesAre(byDateDown));
    EXPECT_TRUE(sortIs(4, 1));

    click(0);
    EXPECT_TRUE(namesAre(byName));
    EXPECT_TRUE(sortIs(0, 0));
}

// A file appears on disk above the rows the user looks at: after the refresh
// the same entries are selected and focused, and the same entry is at the top.
TEST_F(SearchBox, ARefreshKeepsTheSelectionAndTheTopRow) {
    ASSERT_TRUE(Search(L"qzrow", 120));
    SendMessageW(list, LVM_ENSUREVISIBLE, 0, FALSE);
    ASSERT_TRUE(WaitUntil([&] { return ListViewCellText(list, 0, 0) == L"qzrow_000.txt"; }, Patient(3000)));
    const int height = [&] {
        RemoteMemory remote(list, sizeof(RECT));
        RECT r = {LVIR_BOUNDS, 0, 0, 0};
        remote.Write(&r, sizeof r);
        SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(remote.Address()));
        remote.Read(&r, sizeof r);
        return static_cast<int>(r.bottom - r.top);
    }();
    ASSERT_GT(height, 0);
    SendMessageW(list, LVM_SCROLL, 0, 40 * height);
    ASSERT_EQ(SendMessageW(list, LVM_GETTOPINDEX, 0, 0), 40);
    ASSERT_TRUE(ListViewSetItemState(list, 45, LVIS_SELECTED, LVIS_SELECTED));
    ASSERT_TRUE(ListViewSetItemState(list, 47, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED));

    ASSERT_TRUE(MakeFile(kDrive + L"rows\\qzrow_000a.txt", 1));
    ASSERT_TRUE(WaitUntil([] { return ListViewRowCount(list) == 121; }, Patient(15000)));
    EXPECT_EQ(ListViewCellText(list, 1, 0), L"qzrow_000a.txt");
    EXPECT_EQ(ListViewSelectedRows(list), (std::vector<int>{46, 48}));
    EXPECT_EQ(ListViewFocusedRow(list), 48);
    EXPECT_EQ(ListViewCellText(list, 48, 0), L"qzrow_047.txt");
    const auto top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    EXPECT_EQ(ListViewCellText(list, top, 0), L"qzrow_040.txt");
    EXPECT_EQ(ResultsPart(), L"  121 results  \u2022  2 selected");

    // Typing a new search clears the selection and goes back to the top.
    ASSERT_TRUE(Search(L"qzrow_0", 101));
    EXPECT_TRUE(ListViewSelectedRows(list).empty());
    EXPECT_EQ(ListViewFocusedRow(list), -1);
    EXPECT_EQ(SendMessageW(list, LVM_GETTOPINDEX, 0, 0), 0);
}

// Esc empties the box, then hides the window to the tray; the hotkey brings it
// back and hides it again; a hotkey another program holds is reported.
TEST_F(SearchBox, EscClearsThenHidesAndTheHotkeyToggles) {
    ASSERT_TRUE(Search(L"qzfix", 6));
    Front();
    Click(box, 10, 10);
    ASSERT_TRUE(WaitUntil([] { return FocusedWindow(main) == box; }, Patient(3000)));
    PressKey(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([] { return WindowText(box).empty(); }, Patient(3000)));
    EXPECT_TRUE(Visible(main));
    PressKey(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([] { return !Visible(main); }, Patient(3000)));

    const WORD keyF = 'F';
    auto hotkey = [&] {
        INPUT input[6] = {};
        const WORD keys[3] = {VK_CONTROL, VK_MENU, keyF};
        for (int i = 0; i < 3; ++i) {
            input[i].type = input[5 - i].type = INPUT_KEYBOARD;
            input[i].ki.wVk = input[5 - i].ki.wVk = keys[i];
            input[5 - i].ki.dwFlags = KEYEVENTF_KEYUP;
        }
        SendInput(6, input, sizeof input[0]);
    };
    hotkey();
    EXPECT_TRUE(WaitUntil([] { return Visible(main) && Foreground() == main; }, Patient(5000)));
    EXPECT_TRUE(WaitUntil([] { return FocusedWindow(main) == box; }, Patient(3000)));
    hotkey();
    EXPECT_TRUE(WaitUntil([] { return !Visible(main); }, Patient(5000)));
    hotkey();
    EXPECT_TRUE(WaitUntil([] { return Visible(main); }, Patient(5000)));

    // Ctrl+Shift+F held here; choosing it in the Settings tab reports it.
    HWND mine = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(RegisterHotKey(mine, 7, MOD_CONTROL | MOD_SHIFT | MOD_NOREPEAT, 'F'));
    HWND combo = CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 10, 100, mine, nullptr,
                                 nullptr, nullptr);
    for (int i = 0; i < 6; ++i) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"row"));
    SendMessageW(combo, CB_SETCURSEL, 2, 0);
    SendMessageW(main, WM_COMMAND, MAKEWPARAM(403, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    // Said in front of the index's state, until a hotkey that works takes it away.
    const std::wstring taken =
        L"  The hotkey Ctrl+Shift+F is already used by another program - pick another on the Settings tab   ";
    const std::wstring line = StatusBarText(status, 3);
    EXPECT_EQ(line.rfind(taken, 0), 0u) << StatusBarSeen(status);
    SendMessageW(combo, CB_SETCURSEL, 1, 0);
    SendMessageW(main, WM_COMMAND, MAKEWPARAM(403, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    EXPECT_EQ(StatusBarText(status, 3), L"  " + line.substr(taken.size()));
    UnregisterHotKey(mine, 7);
    DestroyWindow(mine);
}

// 3,000 files with icons of their own scrolled past: the loader queues at most
// 2,000, the window stays responsive and the program still ends within seconds.
TEST_F(SearchBox, ThousandsOfOwnIconsScrollAndTheProgramStillExits) {
    ASSERT_TRUE(Search(L"qzico", 3000)) << ListViewRowCount(list);
    Front();
    const auto pages = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(pages, 0);
    for (int row = 0; row < 3000; row += pages) {
        SendMessageW(list, LVM_ENSUREVISIBLE, std::min(row + pages, 2999), FALSE);
        UpdateWindow(list);
        DWORD_PTR answer = 0;
        ASSERT_TRUE(SendMessageTimeoutW(list, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    }
    EXPECT_EQ(ListViewCellText(list, 2999, 0), L"qzico_2999.ico");
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(program->Exit(main, kExitMs));
    const ULONGLONG exitMs = GetTickCount64() - start;
    EXPECT_LT(exitMs, 10000u);
    RecordProperty("exit_ms", static_cast<int>(exitMs));
}

}  // namespace
}  // namespace ov::gui
