// The Index Status window, added and excluded folders, the self-test and the
// diagnostic report, seen from outside. F: is a fixture drive filled once for
// the suite; N: is a network drive, which is not indexed unless added.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/diagnostics.h"
#include "app/shell_start.h"
#include "index/text.h"
#include "tests/app/harness/dialog_answerer.h"
#include "tests/app/harness/in_process_app.h"
#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

constexpr int kFolders = 5;
constexpr int kFilesPerFolder = 40;
constexpr int kNetworkFiles = 20;
constexpr UINT kCmdIndexStatus = 119;
constexpr UINT kCmdExcludedFolders = 124;

void MakeFile(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << ToUtf8(path);
    CloseHandle(h);
}

std::string Narrow(const std::wstring& text) {
    return ToUtf8(text);
}

struct FoundWindow {
    DWORD process;
    const wchar_t* title;
    HWND window;
};

// A visible dialog of the process whose title is title that takes input, the
// topmost first: of boxes opened one inside another, the innermost.
HWND ProcessDialog(DWORD process, const wchar_t* title) {
    FoundWindow found = {process, title, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* f = reinterpret_cast<FoundWindow*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (owner == f->process && wcscmp(name, L"#32770") == 0 && IsWindowVisible(window) &&
                IsWindowEnabled(window) && WindowText(window) == f->title) {
                f->window = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.window;
}

// Every static text of a window, joined.
std::wstring StaticTexts(HWND window) {
    std::wstring texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM data) -> BOOL {
            wchar_t name[32] = {};
            GetClassNameW(child, name, 32);
            if (_wcsicmp(name, L"Static") == 0) *reinterpret_cast<std::wstring*>(data) += WindowText(child) + L"|";
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

std::wstring ReadRegistryText(const wchar_t* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadRegistryValue(kSettingsKey, name, type, data) || type != REG_SZ) return L"<none>";
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data())).c_str();
}

class IndexStatus : public OrvaneTest {
protected:
    static void SetUpTestSuite() {
        for (int f = 0; f < kFolders; ++f) {
            const std::wstring folder = L"F:\\qzst_" + std::to_wstring(f) + L"\\";
            CreateDirectoryW(folder.c_str(), nullptr);
            for (int i = 0; i < kFilesPerFolder; ++i) {
                MakeFile(folder + L"qzst_" + std::to_wstring(f) + L"_" + std::to_wstring(i) + L".txt");
            }
        }
        // Names the speed test's queries find, and only here.
        for (int i = 0; i < 7; ++i) MakeFile(L"F:\\qzst_0\\invoice 2025 no" + std::to_wstring(i) + L".pdf");
        for (int i = 0; i < 3; ++i) MakeFile(L"F:\\qzst_1\\honda" + std::to_wstring(i) + L".doc");
        for (int i = 0; i < 2; ++i) MakeFile(L"F:\\qzst_1\\dealer" + std::to_wstring(i) + L".doc");
        for (int i = 0; i < 4; ++i) MakeFile(L"F:\\qzst_2\\img_" + std::to_wstring(100 + i) + L".jpg");
        CreateDirectoryW(L"N:\\qznet_dir", nullptr);
        for (int i = 0; i < kNetworkFiles; ++i) MakeFile(L"N:\\qznet_" + std::to_wstring(i) + L".txt");
    }

    HWND StatusWindow() const { return FindProcessWindow(program.Id(), L"OVStatus"); }

    // Opens the Index Status window (command 119) and returns its list.
    HWND OpenStatusList() {
        PostMessageW(main, WM_COMMAND, kCmdIndexStatus, 0);
        // The window is found while it is being made; its list follows.
        HWND list = nullptr;
        EXPECT_TRUE(WaitUntil(
            [&] {
                HWND window = StatusWindow();
                return window && (list = ChildByClass(window, L"SysListView32")) != nullptr;
            },
            kStartMs));
        return list;
    }

    static int RowOf(HWND list, const std::wstring& first) {
        for (int row = 0; row < ListViewRowCount(list); ++row) {
            if (ListViewCellText(list, row, 0) == first) return row;
        }
        return -1;
    }

    static std::string Rows(HWND list) {
        std::string seen;
        for (int row = 0; row < ListViewRowCount(list); ++row) {
            for (int column = 0; column < 8; ++column) seen += Narrow(ListViewCellText(list, row, column)) + " | ";
            seen += "\n";
        }
        return seen;
    }

    // Waits for the message box that a command posted to window (none: 0)
    // brings up, checks its text and closes it.
    void ExpectBox(HWND window, UINT command, const std::wstring& text) {
        if (command) PostMessageW(window, WM_COMMAND, command, 0);
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (box = ProcessDialog(program.Id(), L"Orvane")) != nullptr; }, kStartMs))
            << "no box for command " << command;
        std::wstring seen;
        EXPECT_TRUE(WaitUntil([&] { return (seen = StaticTexts(box)).find(text) != std::wstring::npos; }, kStartMs))
            << Narrow(seen);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, kStartMs));
    }

    // Answers the folder picker that window's command brought up with path.
    void PickFolder(HWND window, UINT command, const wchar_t* path,
                    const wchar_t* title = L"Choose a folder or network share to add to the index") {
        PostMessageW(window, WM_COMMAND, command, 0);
        HWND picker = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (picker = ProcessDialog(program.Id(), title)) != nullptr; }, kStartMs));
        HWND name = ChildById(picker, 1152);
        ASSERT_NE(name, nullptr);
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
        PostMessageW(picker, WM_COMMAND, IDOK, 0);
        // A typed folder may first be opened, which empties the name: OK again
        // picks the folder shown.
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(picker) || WindowText(name).empty(); }, kStartMs));
        if (IsWindow(picker)) PostMessageW(picker, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(picker); }, kStartMs));
    }

    // Searches for search and waits for expected rows; the rows last seen.
    int ResultCount(const wchar_t* search, int expected) {
        SetWindowTextW(SearchBox(), search);
        int rows = -1;
        WaitUntil([&] { return (rows = ListViewRowCount(ChildById(main, 482))) == expected; }, kStartMs);
        return rows;
    }
};

TEST_F(IndexStatus, RowsFollowTheVolumesAndAnAddedFolderComesAndGoes) {
    DeleteFileW(SavedIndexFile().c_str());
    ASSERT_NE(Start(), nullptr);
    HWND list = OpenStatusList();
    ASSERT_NE(list, nullptr);
    HWND window = StatusWindow();
    // Rescans of whatever row is first while the load thread replaces and
    // refreshes the volumes and their first scans run.
    for (int i = 0; i < 40; ++i) {
        if (ListViewRowCount(list) > 0 && ListViewSetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED)) {
            PostMessageW(window, WM_COMMAND, 201, 0);
        }
        Sleep(25);
    }
    ASSERT_TRUE(WaitUntilUpToDate()) << StatusBarSeen(StatusBar());
    // A refill between the selection and the command leaves no row selected: its
    // box goes. A box handles the rescans still queued, each opening its own
    // box inside it, so every one has been handled once none comes for a while.
    for (HWND box;
         WaitUntil([&] { return (box = ProcessDialog(program.Id(), L"Orvane")) != nullptr; }, Patient(500));) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitUntil([&] { return !IsWindow(box); }, kStartMs);
    }
    ListViewSetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    int drive = -1;
    ASSERT_TRUE(WaitUntil([&] { return (drive = RowOf(list, L"F:\\")) >= 0; }, kStartMs)) << Rows(list);
    // Under Wine the file table cannot be read: the drive is scanned and watched.
    EXPECT_EQ(ListViewCellText(list, drive, 3), L"Folder scan") << Rows(list);
    EXPECT_EQ(ListViewCellText(list, drive, 4), L"Yes (watching)");
    EXPECT_EQ(ListViewCellText(list, drive, 5), std::to_wstring(kFolders * kFilesPerFolder + 7 + 3 + 2 + 4));
    EXPECT_EQ(ListViewCellText(list, drive, 6), std::to_wstring(kFolders));
    EXPECT_EQ(StatusBarText(StatusBar(), 3),
              L"  Up to date — watching " + std::to_wstring(ListViewRowCount(list)) + L" drives for changes");

    ExpectBox(window, 201, L"Click a drive or folder in the list first.");
    ListViewSetItemState(list, drive, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ExpectBox(window, 203, L"Click one of the folders you added first.");

    // Rescan builds the drive's part again; the row comes back the same.
    for (int i = 0; i < 5; ++i) PostMessageW(window, WM_COMMAND, 201, 0);
    ASSERT_TRUE(WaitUntil(
        [&] {
            drive = RowOf(list, L"F:\\");
            return drive >= 0 && ListViewCellText(list, drive, 4) == L"Yes (watching)" &&
                   ListViewCellText(list, drive, 6) == std::to_wstring(kFolders) &&
                   ListViewCellText(list, drive, 7).find(L"Indexed") == 0;
        },
        kStartMs))
        << Rows(list);

    // A folder on a drive that is not indexed: the root of the network drive,
    // which keeps its backslash in the list while its row is named N:.
    PickFolder(window, 202, L"N:\\");
    int added = -1;
    ASSERT_TRUE(WaitUntil(
        [&] {
            added = RowOf(list, L"N:");
            return added >= 0 && ListViewCellText(list, added, 4) == L"Yes (watching)";
        },
        kStartMs))
        << Rows(list);
    EXPECT_EQ(ListViewCellText(list, added, 2), L"(folder)");
    EXPECT_EQ(ListViewCellText(list, added, 5), std::to_wstring(kNetworkFiles));
    EXPECT_EQ(ReadRegistryText(L"IndexedFolders"), L"N:\\\n");
    EXPECT_EQ(ResultCount(L"qznet_", kNetworkFiles + 1), kNetworkFiles + 1);
    PickFolder(window, 202, L"n:\\");
    ExpectBox(window, 0, L"That folder is already indexed.");
    PickFolder(window, 202, L"F:\\qzst_3");
    ExpectBox(window, 0, L"Drive F: is already indexed, so everything in that folder is already searchable.");

    // Kept across a restart.
    ASSERT_TRUE(ExitOrvane());
    ASSERT_NE(Start(), nullptr);
    ASSERT_TRUE(WaitUntilUpToDate()) << StatusBarSeen(StatusBar());
    EXPECT_EQ(ResultCount(L"qznet_", kNetworkFiles + 1), kNetworkFiles + 1);
    list = OpenStatusList();
    ASSERT_NE(list, nullptr);
    window = StatusWindow();
    ASSERT_TRUE(WaitUntil([&] { return (added = RowOf(list, L"N:")) >= 0; }, kStartMs)) << Rows(list);

    // Remove finds the folder it was added as, drops its row, its entries and the stored value.
    ListViewSetItemState(list, added, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    PostMessageW(window, WM_COMMAND, 203, 0);
    EXPECT_TRUE(WaitUntil([&] { return RowOf(list, L"N:") < 0; }, kStartMs)) << Rows(list);
    EXPECT_TRUE(WaitUntil([&] { return ReadRegistryText(L"IndexedFolders").empty(); }, kStartMs))
        << Narrow(ReadRegistryText(L"IndexedFolders"));
    EXPECT_EQ(ResultCount(L"qznet_", 0), 0);
}

// At 150 % (144 dpi, for this start only): margins and buttons in DIP, the
// window (1,500 pixels wide then) inside the work area, the focus in the list
// and Tab round the list and every button.
TEST_F(IndexStatus, At144DpiItIsScaledKeptOnTheScreenAndWorksFromTheKeyboard) {
    const wchar_t* desktop = L"Control Panel\\Desktop";
    DWORD before = 0;
    const bool hadDpi = ReadRegistryDword(desktop, L"LogPixels", before);
    const DWORD dpi = 144;
    ASSERT_TRUE(WriteRegistryValue(desktop, L"LogPixels", REG_DWORD, &dpi, sizeof dpi));
    struct Restore {
        bool had;
        DWORD value;
        ~Restore() {
            if (had) {
                WriteRegistryValue(L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &value, sizeof value);
            } else {
                RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels");
            }
        }
    } restore{hadDpi, before};
    auto dip = [](int value) { return MulDiv(value, 144, 96); };

    ASSERT_NE(Start(), nullptr);
    HWND list = OpenStatusList();
    ASSERT_NE(list, nullptr);
    HWND window = StatusWindow();
    ASSERT_TRUE(WaitUntil([&] { return Visible(window); }, kStartMs));
    ASSERT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), dip(150)) << "the program does not run at 144 dpi";

    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
    RECT frame;
    GetWindowRect(window, &frame);
    const RECT& work = monitor.rcWork;
    EXPECT_TRUE(frame.left >= work.left && frame.top >= work.top && frame.right <= work.right &&
                frame.bottom <= work.bottom)
        << "window " << frame.left << "," << frame.top << "," << frame.right << "," << frame.bottom << " work area "
        << work.left << "," << work.top << "," << work.right << "," << work.bottom;

    RECT client;
    GetClientRect(window, &client);
    const int w = client.right;
    const int h = client.bottom;
    struct Place {
        HWND control;
        RECT wanted;
    } places[] = {{list, {dip(10), dip(10), w - dip(10), h - dip(50)}},
                  {ChildById(window, 201), {dip(10), h - dip(40), dip(150), h - dip(10)}},
                  {ChildById(window, 202), {dip(160), h - dip(40), dip(300), h - dip(10)}},
                  {ChildById(window, 203), {dip(310), h - dip(40), dip(450), h - dip(10)}},
                  {ChildById(window, IDOK), {w - dip(110), h - dip(40), w - dip(10), h - dip(10)}}};
    for (const Place& p : places) {
        RECT placed;
        GetWindowRect(p.control, &placed);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_TRUE(EqualRect(&placed, &p.wanted))
            << Narrow(WindowText(p.control)) << " at " << placed.left << "," << placed.top << "," << placed.right << ","
            << placed.bottom << ", wanted " << p.wanted.left << "," << p.wanted.top << "," << p.wanted.right << ","
            << p.wanted.bottom;
    }

    EXPECT_TRUE(WaitUntil([&] { return FocusedWindow(window) == list; }, Patient(3000)))
        << "focus on " << FocusedWindow(window);
    SetForegroundWindow(window);
    ASSERT_TRUE(WaitUntil([&] { return Foreground() == window; }, Patient(3000)));
    for (const Place& next : {places[1], places[2], places[3], places[4], places[0]}) {
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitUntil([&] { return FocusedWindow(window) == next.control; }, Patient(3000)))
            << "Tab went to " << FocusedWindow(window) << ", not to " << Narrow(WindowText(next.control));
    }
}

// Typed with a trailing backslash and blank lines; stored as one line, shown
// again line by line, and everything below it hidden, also after a restart.
TEST_F(IndexStatus, ExcludedFoldersHideTheirContentsAndAreKept) {
    ASSERT_NE(Start(), nullptr);
    ASSERT_TRUE(WaitUntilUpToDate()) << StatusBarSeen(StatusBar());
    EXPECT_EQ(ResultCount(L"qzst_1_", kFilesPerFolder), kFilesPerFolder);
    PostMessageW(main, WM_COMMAND, kCmdExcludedFolders, 0);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] { return (dialog = ProcessDialog(program.Id(), L"Orvane - Excluded folders")) != nullptr; }, kStartMs));
    SetWindowTextW(ChildById(dialog, 101), L"F:\\qzst_1\\\r\n\r\n  \nF:\\qzst_4  \r\n");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, kStartMs));
    EXPECT_EQ(ReadRegistryText(L"ExcludedFolders"), L"F:\\qzst_1\nF:\\qzst_4\n");
    EXPECT_EQ(ResultCount(L"qzst_1_", 0), 0);
    // Each count differs from the one shown before it, so none is read early.
    EXPECT_EQ(ResultCount(L"qzst_2_", kFilesPerFolder), kFilesPerFolder);
    EXPECT_EQ(ResultCount(L"qzst_4_", 0), 0);

    ASSERT_TRUE(ExitOrvane());
    ASSERT_NE(Start(), nullptr);
    ASSERT_TRUE(WaitUntilUpToDate()) << StatusBarSeen(StatusBar());
    EXPECT_EQ(ResultCount(L"qzst_1_", 0), 0);
    PostMessageW(main, WM_COMMAND, kCmdExcludedFolders, 0);
    ASSERT_TRUE(WaitUntil(
        [&] { return (dialog = ProcessDialog(program.Id(), L"Orvane - Excluded folders")) != nullptr; }, kStartMs));
    EXPECT_EQ(WindowText(ChildById(dialog, 101)), L"F:\\qzst_1\r\nF:\\qzst_4\r\n");
    // A picked folder joins the text; Cancel stores nothing.
    PickFolder(dialog, 102, L"F:\\qzst_2", L"Choose a folder to leave out of results");
    EXPECT_EQ(WindowText(ChildById(dialog, 101)), L"F:\\qzst_1\r\nF:\\qzst_4\r\nF:\\qzst_2\r\n");
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, kStartMs));
    EXPECT_EQ(ReadRegistryText(L"ExcludedFolders"), L"F:\\qzst_1\nF:\\qzst_4\n");
}

// One line of the speed-test table: the query in 26 columns, then the counts and times.
struct SpeedLine {
    std::string query;
    long long results = -1;
    double one = 0;
    double all = 0;
    double speedUp = 0;
};

std::vector<SpeedLine> SpeedLines(const std::string& text) {
    std::vector<SpeedLine> lines;
    std::istringstream in(text);
    std::string line;
    const std::regex row(R"(^(.{26}) +([0-9,]+) +([0-9]+\.[0-9]{2}) +([0-9]+\.[0-9]{2}) +([0-9]+\.[0-9])x\r$)");
    std::smatch m;
    while (std::getline(in, line)) {
        if (!std::regex_match(line, m, row)) continue;
        SpeedLine s;
        s.query = m[1].str();
        while (!s.query.empty() && s.query.back() == ' ') s.query.pop_back();
        std::string digits = m[2].str();
        digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
        s.results = std::stoll(digits);
        s.one = std::stod(m[3].str());
        s.all = std::stod(m[4].str());
        s.speedUp = std::stod(m[5].str());
        lines.push_back(s);
    }
    return lines;
}

std::string ReadWholeFile(const wchar_t* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST_F(IndexStatus, SelfTestWritesTheSpeedTableAndTheEngineState) {
    const wchar_t* output = L"C:\\st.txt";
    for (const char* loaded : {"dbLoaded=0", "dbLoaded=1"}) {
        DeleteFileW(output);
        if (std::string(loaded) == "dbLoaded=0") DeleteFileW(SavedIndexFile().c_str());
        ASSERT_TRUE(program.Start(OrvanePath(), L"/selftest C:\\st.txt"));
        DWORD code = 1;
        ASSERT_TRUE(program.WaitForExit(Patient(120000), &code));
        EXPECT_EQ(code, 0u);
        const std::string text = ReadWholeFile(output);
        ASSERT_EQ(text.rfind("ORVANE SPEED TEST\r\n\r\n", 0), 0u) << text;
        const std::vector<SpeedLine> lines = SpeedLines(text);
        const std::vector<std::string> queries = {"e",
                                                  "report",
                                                  "invoice 2025",
                                                  "*.dll",
                                                  "ext:jpg;png;heic",
                                                  "size:>100mb",
                                                  "dm:last7days",
                                                  "honda|dealer",
                                                  "windows\\system32",
                                                  "zzzqqqxxx",
                                                  "regex:^img_\\d+\\.jpg$",
                                                  "total"};
        ASSERT_EQ(lines.size(), queries.size() - 1) << text;  // the total has no count
        double total = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].query, queries[i]);
            total += lines[i].all;
            if (lines[i].all >= 0.05) {
                EXPECT_NEAR(lines[i].speedUp, lines[i].one / lines[i].all, 0.2) << lines[i].query;
            }
        }
        EXPECT_GT(total, 0.0) << text;
        EXPECT_EQ(lines[2].results, 7) << text;
        EXPECT_EQ(lines[7].results, 5) << text;
        EXPECT_EQ(lines[9].results, 0) << text;
        EXPECT_EQ(lines[10].results, 4) << text;
        EXPECT_NE(text.find(std::string("\r\nelevated=1 ") + loaded + " loadMs="), std::string::npos) << text;
        EXPECT_NE(text.find(" ready=1\r\n"), std::string::npos) << text;
        const std::string drive =
            "F: method=2 live=1 files=" + std::to_string(kFolders * kFilesPerFolder + 7 + 3 + 2 + 4) +
            " dirs=" + std::to_string(kFolders) + " scanMs=";
        EXPECT_NE(text.find(drive), std::string::npos) << text;
    }

    // Command 117 shows the same table in the text window.
    const std::vector<SpeedLine> written = SpeedLines(ReadWholeFile(output));
    ASSERT_NE(Start(), nullptr);
    ASSERT_TRUE(WaitUntilUpToDate()) << StatusBarSeen(StatusBar());
    PostMessageW(main, WM_COMMAND, 117, 0);
    HWND notes = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (notes = FindProcessWindow(program.Id(), L"OVNotes")) != nullptr; }, kStartMs));
    EXPECT_EQ(WindowText(notes), L"Orvane Speed Test");
    std::wstring shown;
    ASSERT_TRUE(WaitUntil([&] { return !(shown = WindowText(ChildById(notes, 100))).empty(); }, kStartMs));
    const std::vector<SpeedLine> lines = SpeedLines(ToUtf8(shown));
    ASSERT_EQ(lines.size(), written.size()) << ToUtf8(shown);
    // Names on C: may change between runs; the fixture's may not.
    for (size_t i : {size_t{2}, size_t{7}, size_t{9}, size_t{10}}) {
        EXPECT_EQ(lines[i].query, written[i].query);
        EXPECT_EQ(lines[i].results, written[i].results) << lines[i].query;
    }
}

// In this process: an engine with no volumes.
TEST(DiagnosticReport, HasItsLinesAndAFailedWriteIsNoSuccess) {
    SetUpAppInProcess();
    const std::wstring report = DiagnosticReportText();
    const std::regex lines(
        "Orvane 1\\.0\\.1 diagnostic report\r\n"
        "Windows [0-9]+\\.[0-9]+ build [0-9]+   CPU threads: [1-9][0-9]*   Administrator: (yes|no)\r\n"
        "Saved index: .+ \\(loaded: no, 0 ms\\)\r\n"
        "Entries: 0 \\(deleted, waiting to be tidied: 0\\)  text: 0\\.0 MB\r\n\r\n"
        "\r\nRecent activity:\r\n(.*\r\n)*");
    EXPECT_TRUE(std::regex_match(ToUtf8(report), lines)) << ToUtf8(report);

    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"qz report.txt";
    ASSERT_EQ(WriteTextFile(path, report, true), TextFileWrite::Written);
    const std::string bytes = ReadWholeFile(path.c_str());
    EXPECT_EQ(bytes, "\xEF\xBB\xBF" + ToUtf8(report));
    DeleteFileW(path.c_str());
    EXPECT_EQ(WriteTextFile(std::wstring(folder) + L"qz no such folder\\report.txt", report, true),
              TextFileWrite::NotCreated);
}

// Writes the first half, then the disk is full.
BOOL WINAPI HalfThenDiskFull(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
    WriteFile(file, data, size / 2, written, nullptr);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

TEST(DiagnosticReport, AWriteThatFailsLeavesNoFileAndSaysWhy) {
    SetUpAppInProcess();
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"qz failed report.txt";
    DeleteFileW(path.c_str());
    SetTextFileWriteForTesting(HalfThenDiskFull);
    SaveAs save(path);
    SaveDiagnosticReport();
    const std::vector<std::wstring> boxes = save.Boxes();
    SetTextFileWriteForTesting(nullptr);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(boxes.size(), 1u) << Seen(boxes);
    EXPECT_EQ(boxes[0].rfind(L"Orvane | ", 0), 0u) << Seen(boxes);
    EXPECT_NE(
        boxes[0].find(L"Couldn't write the diagnostic report, so it wasn't saved. " + SystemErrorText(ERROR_DISK_FULL)),
        std::wstring::npos)
        << Seen(boxes);
}

}  // namespace
}  // namespace ov::gui
