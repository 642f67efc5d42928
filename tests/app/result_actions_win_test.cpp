// What the user does with found rows, in this process: the real main window
// over an engine holding real files of a temporary folder, rows handed to
// ApplyResults as the search worker would. Dialogs, menus and the Save dialog
// are answered from a second thread, as a user would answer them.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "app/activity_log.h"
#include "app/engine_host.h"
#include "app/export.h"
#include "app/icon_loader.h"
#include "app/main_window.h"
#include "app/result_actions.h"
#include "app/results_list.h"
#include "app/window_kit.h"
#include "engine/engine.h"
#include "index/entry.h"
#include "tests/app/harness/dialog_answerer.h"
#include "tests/app/harness/gui_harness.h"
#include "tests/app/harness/in_process_app.h"
#include "tests/support/index_reference.h"

namespace {

using ov::gui::Answerer;
using ov::gui::OwnWindows;
using ov::gui::Patient;
using ov::gui::SaveAs;
using ov::gui::Seen;
using ov::gui::WaitUntil;

std::wstring gFolder;            // the temporary folder, ending in a backslash
std::vector<uint32_t> gFiles;    // a.txt, b.txt, c.orvrec, d.txt (on disk)
std::vector<uint32_t> gMade;     // 60 entries not on disk
uint32_t gOther = ov::kNoEntry;  // sub\e.txt, another folder
uint32_t gFolderEntry = ov::kNoEntry;
constexpr uint64_t kModified = 133000000000000000;  // every file's; created is 0

void WriteFileText(const std::wstring& path, const std::string& text) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A child of this test holds the clipboard for OV_TEST_HOLD_CLIPBOARD_MS, as
// clipboard history and clipboard managers do after each change.
constexpr const wchar_t* kClipboardHeldEvent = L"ov-test-clipboard-held";
const bool kHoldClipboardAndExit = [] {
    const char* hold = std::getenv("OV_TEST_HOLD_CLIPBOARD_MS");
    if (!hold) return false;
    if (!OpenClipboard(nullptr)) ExitProcess(2);
    if (HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, kClipboardHeldEvent)) SetEvent(held);
    Sleep(static_cast<DWORD>(std::atoi(hold)));
    CloseClipboard();
    ExitProcess(0);
}();

// Starts that child and returns once it holds the clipboard; its process, or null.
HANDLE HoldClipboardInAChild(const wchar_t* ms) {
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, kClipboardHeldEvent);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\"";
    SetEnvironmentVariableW(L"OV_TEST_HOLD_CLIPBOARD_MS", ms);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const bool started =
        CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableW(L"OV_TEST_HOLD_CLIPBOARD_MS", nullptr);
    if (started) CloseHandle(child.hThread);
    const bool holding = started && WaitForSingleObject(held, Patient(30000)) == WAIT_OBJECT_0;
    CloseHandle(held);
    if (!holding && started) CloseHandle(child.hProcess);
    return holding ? child.hProcess : nullptr;
}

uint32_t OpenCount(uint32_t id) {
    return ReadResultRow(id, gShown.epoch).openCount;
}

class ResultActions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ov::gui::SetUpAppInProcess();
        OleInitialize(nullptr);  // as start-up does
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        gFolder = std::wstring(temp) + L"orv_actions\\";
        CreateDirectoryW(gFolder.c_str(), nullptr);
        CreateDirectoryW((gFolder + L"sub").c_str(), nullptr);
        std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
        using ov::testing::AddNamed;
        const uint32_t parent = gFolderEntry = ov::gui::AddFolderChain(gFolder);
        for (const char* name : {"a.txt", "b.txt", "c.orvrec", "d.txt"}) {
            gFiles.push_back(AddNamed(*gEngine, parent, name, 0x20, 5, kModified));
        }
        for (int i = 0; i < 60; ++i) gMade.push_back(AddNamed(*gEngine, parent, "made" + std::to_string(i), 0));
        const uint32_t sub = AddNamed(*gEngine, parent, "sub", ov::EntryFlags::Directory);
        gOther = AddNamed(*gEngine, sub, "e.txt", 0);
        hold.unlock();
        ASSERT_NE(CreateMainWindow(SW_SHOWNORMAL), nullptr);
    }
    static void TearDownTestSuite() { StopIconLoader(); }

    void SetUp() override {
        for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.orvrec", L"d.txt", L"sub\\e.txt"}) {
            WriteFileText(gFolder + name, "hello");
        }
    }

    // Shows ids as a search result and selects the rows selected.
    static void Show(const std::vector<uint32_t>& ids, const std::vector<int>& selected, uint64_t epochsBack = 0) {
        auto result = std::make_unique<ov::SearchResult>();
        result->ids = ids;
        result->sequence = gShown.sequence + 1;
        result->epoch = gEngine->epoch - epochsBack;
        ApplyResults(std::move(result));
        ListView_SetItemState(gResultsList, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        for (int row : selected) ListView_SetItemState(gResultsList, row, LVIS_SELECTED, LVIS_SELECTED);
    }

    static std::wstring Path(const wchar_t* name) { return gFolder + name; }
    static std::wstring Status() { return ov::gui::StatusBarText(gStatusBar, 3); }
};

TEST_F(ResultActions, CopiesPathsNamesAndFiles) {
    Show({gFiles[0], gFiles[1], gFolderEntry}, {0, 1});
    CopySelectedPaths(false);
    EXPECT_EQ(ov::gui::ClipboardText(), Path(L"a.txt") + L"\r\n" + Path(L"b.txt"));
    EXPECT_EQ(Status(), L"  2 paths copied to the clipboard");
    Show({gFiles[0], gFiles[1], gFolderEntry}, {0});
    CopySelectedPaths(true);
    EXPECT_EQ(ov::gui::ClipboardText(), L"a.txt");
    EXPECT_EQ(Status(), L"  Name copied to the clipboard");

    // Ctrl+C in the list copies the items themselves, for a paste that copies.
    Show({gFiles[1], gFolderEntry, gFiles[0]}, {0, 2});
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(gResultsList, WM_KEYDOWN, 'C', 0);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(Status(), L"  2 items copied - paste them in File Explorer (Ctrl+V)");
    ASSERT_TRUE(OpenClipboard(nullptr));
    std::vector<std::wstring> dropped;
    if (HDROP drop = static_cast<HDROP>(GetClipboardData(CF_HDROP))) {
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            wchar_t name[MAX_PATH] = {};
            DragQueryFileW(drop, i, name, MAX_PATH);
            dropped.push_back(name);
        }
    }
    DWORD effect = 0;
    if (HANDLE block = GetClipboardData(RegisterClipboardFormatW(L"Preferred DropEffect"))) {
        if (const auto* value = static_cast<const DWORD*>(GlobalLock(block))) {
            effect = *value;
            GlobalUnlock(block);
        }
    }
    CloseClipboard();
    EXPECT_EQ(dropped, (std::vector<std::wstring>{Path(L"b.txt"), Path(L"a.txt")}));
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));

    // Rows of an older epoch name other entries now: nothing is copied.
    CopyTextToClipboard(L"before");
    Show({gFiles[0], gFiles[1]}, {0, 1}, 1);
    CopySelectedPaths(false);
    EXPECT_EQ(ov::gui::ClipboardText(), L"before");
}

// A clipboard another program holds for a moment is waited for; one it keeps
// is said so, and nothing claims to be copied.
TEST_F(ResultActions, ACopyWaitsForAClipboardHeldForAMomentAndSaysWhenItStaysHeld) {
    Show({gFiles[0], gFiles[1]}, {0});
    CopyTextToClipboard(L"before");
    HANDLE child = HoldClipboardInAChild(L"300");
    ASSERT_TRUE(child) << "the child did not take the clipboard";
    SetStatusText(L"");
    CopySelectedPaths(false);
    EXPECT_EQ(Status(), L"  Path copied to the clipboard");
    WaitForSingleObject(child, Patient(10000));
    CloseHandle(child);
    EXPECT_EQ(ov::gui::ClipboardText(), Path(L"a.txt"));

    CopyTextToClipboard(L"before");
    const std::wstring busy = L"  Couldn't use the clipboard: another program holds it - please try again";
    child = HoldClipboardInAChild(L"5000");
    ASSERT_TRUE(child) << "the child did not take the clipboard";
    for (const auto& copy :
         {std::function<void()>([] { CopySelectedPaths(false); }), std::function<void()>(CopySelectedFiles)}) {
        SetStatusText(L"");
        copy();
        EXPECT_EQ(Status(), busy);
    }
    WaitForSingleObject(child, Patient(10000));
    CloseHandle(child);
    EXPECT_EQ(ov::gui::ClipboardText(), L"before");
}

TEST_F(ResultActions, OpeningManyAsksFirstAndCountsOnlyWhenOpened) {
    std::vector<int> rows;
    for (int i = 0; i < 11; ++i) rows.push_back(i);
    Show(gMade, rows);
    {
        Answerer no = Answerer::Pressing(IDNO);
        SendMessageW(gResultsList, WM_KEYDOWN, VK_RETURN, 0);  // Enter opens
        no.Stop();
        ASSERT_EQ(no.Seen().size(), 1u) << Seen(no.Seen());
        EXPECT_NE(no.Seen()[0].find(L"Open 11 items?"), std::wstring::npos) << Seen(no.Seen());
    }
    for (int i = 11; i < 60; ++i) rows.push_back(i);
    Show(gMade, rows);
    {
        Answerer no = Answerer::Pressing(IDNO);
        OpenSelected();
        no.Stop();
        ASSERT_EQ(no.Seen().size(), 1u) << Seen(no.Seen());
        EXPECT_NE(no.Seen()[0].find(L"Open 50 items?"), std::wstring::npos) << Seen(no.Seen());
    }
    for (const uint32_t id : gMade) EXPECT_EQ(OpenCount(id), 0u);

    // One file opens with the program its type is registered to, with exactly its path.
    const std::wstring record = Path(L"opened.txt");
    DeleteFileW(record.c_str());
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, L".orvrec", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"OrvRecFile"), 22);
    RegCloseKey(key);
    const std::wstring command = L"cmd.exe /c echo [%1]>\"" + record + L"\"";
    RegCreateKeyExW(HKEY_CLASSES_ROOT, L"OrvRecFile\\shell\\open\\command", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                    nullptr);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    Show({gFiles[2]}, {0});
    OpenSelected();
    std::string line;
    EXPECT_TRUE(WaitUntil(
        [&] {
            line = ReadFileBytes(record);
            return line.find(']') != std::string::npos;
        },
        Patient(10000)))
        << "the registered program did not run: " << line;
    EXPECT_EQ(line.substr(0, line.find(']') + 1), "[" + ov::ToUtf8(Path(L"c.orvrec")) + "]");
    EXPECT_EQ(OpenCount(gFiles[2]), 1u);
    EXPECT_EQ(ov::gui::ListViewCellText(gResultsList, 0, 0), L"c.orvrec");
}

TEST_F(ResultActions, DeletesOnlyWhenTheUserAgrees) {
    Show({gFiles[3], gFiles[0]}, {0});
    {
        Answerer no = Answerer::Pressing(IDNO);
        DeleteSelected();
        no.Stop();
        EXPECT_FALSE(no.Seen().empty()) << "the shell did not ask";
    }
    EXPECT_TRUE(Exists(Path(L"d.txt")));
    {
        Answerer yes = Answerer::Pressing(IDYES);
        SendMessageW(gResultsList, WM_KEYDOWN, VK_DELETE, 0);
        yes.Stop();
        EXPECT_FALSE(Exists(Path(L"d.txt"))) << Seen(yes.Seen());
    }
    EXPECT_TRUE(Exists(Path(L"a.txt")));
    // With Shift held the file goes for good, after the same question.
    Show({gFiles[3], gFiles[0]}, {1});
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    {
        Answerer yes = Answerer::Pressing(IDYES);
        DeleteSelected();
        yes.Stop();
        EXPECT_FALSE(yes.Seen().empty()) << "the shell did not ask";
    }
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_FALSE(Exists(Path(L"a.txt")));
}

// What a popup menu of this process holds: "id text" per item, the default's id.
struct MenuSeen {
    std::vector<std::wstring> items;
    UINT defaultId = 0;
};

MenuSeen OpenMenuAndRead() {
    MenuSeen seen;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        HWND popup = nullptr;
        WaitUntil(
            [&] {
                const auto found = OwnWindows(L"#32768");
                popup = found.empty() ? nullptr : found[0];
                return popup != nullptr;
            },
            Patient(10000));
        if (HMENU menu = popup ? reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0)) : nullptr) {
            for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                wchar_t text[256] = {};
                GetMenuStringW(menu, i, text, 256, MF_BYPOSITION);
                seen.items.push_back(std::to_wstring(static_cast<int>(GetMenuItemID(menu, i))) + L" " + text);
            }
            seen.defaultId = GetMenuDefaultItem(menu, FALSE, 0);
        }
        while (!done) {
            if (popup) PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
            Sleep(100);
        }
    });
    ShowResultContextMenu({100, 100});
    done = true;
    reader.join();
    return seen;
}

TEST_F(ResultActions, ContextMenuHasOurItemsAndTheShellsWhenOneFolder) {
    const std::vector<std::wstring> ours = {L"105 &Open\tEnter", L"106 Open &folder\tCtrl+Enter",
                                            L"107 Copy full &path\tCtrl+Shift+C", L"135 Copy &name", L"0 "};
    Show({gFiles[0], gOther}, {0, 1});
    MenuSeen two = OpenMenuAndRead();
    std::vector<std::wstring> expected = ours;
    expected.push_back(L"108 P&roperties");
    EXPECT_EQ(two.items, expected);
    EXPECT_EQ(two.defaultId, 105u);

    Show({gFiles[0], gFiles[1]}, {0, 1});
    MenuSeen one = OpenMenuAndRead();
    ASSERT_GT(one.items.size(), ours.size());
    EXPECT_EQ(std::vector<std::wstring>(one.items.begin(), one.items.begin() + ours.size()), ours);
    bool shellVerb = false;
    for (size_t i = ours.size(); i < one.items.size(); ++i) {
        const int id = std::stoi(one.items[i]);
        EXPECT_NE(id, 108) << "Properties is the shell's own here";
        shellVerb = shellVerb || (id >= 0x2000 && id <= 0x7FFF);
    }
    EXPECT_TRUE(shellVerb);
}

TEST_F(ResultActions, TypingInTheListGoesToTheSearchBoxAltGrToo) {
    SetWindowTextW(gSearchBox, L"repor");
    Show({gFiles[0], gFiles[1]}, {0});
    ListView_SetItemState(gResultsList, 0, LVIS_FOCUSED, LVIS_FOCUSED);
    SetFocus(gResultsList);
    SendMessageW(gResultsList, WM_CHAR, L't', 0);
    EXPECT_EQ(ov::gui::WindowText(gSearchBox), L"report");
    EXPECT_EQ(GetFocus(), gSearchBox);
    SetFocus(gResultsList);
    SendMessageW(gResultsList, WM_KEYDOWN, VK_BACK, 0);
    EXPECT_EQ(ov::gui::WindowText(gSearchBox), L"repor");
    SetFocus(gResultsList);
    SendMessageW(gResultsList, WM_KEYDOWN, VK_UP, 0);  // on row 0
    EXPECT_EQ(GetFocus(), gSearchBox);

    // AltGr holds Ctrl and Alt and types a character, here the ones of
    // AltGr+C and AltGr+A on a Polish keyboard: typed on, nothing copied, in
    // the list and in the search box.
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = keys[VK_MENU] = keys[VK_RMENU] = 0x80;
    SetKeyboardState(keys);
    CopyTextToClipboard(L"before");
    const std::wstring status = Status();
    struct AltGrKey {
        HWND window;
        WPARAM key;
        wchar_t typed;
    } altGr[] = {{gResultsList, 'C', L'\u0107'}, {gSearchBox, 'A', L'\u0105'}};
    std::wstring expected = ov::gui::WindowText(gSearchBox);
    for (const AltGrKey& k : altGr) {
        SetFocus(k.window);
        SendMessageW(GetFocus(), WM_KEYDOWN, k.key, 0);
        SendMessageW(GetFocus(), WM_CHAR, k.typed, 0);
        expected += k.typed;
        EXPECT_EQ(ov::gui::WindowText(gSearchBox), expected) << static_cast<char>(k.key);
    }
    keys[VK_CONTROL] = keys[VK_LCONTROL] = keys[VK_MENU] = keys[VK_RMENU] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(ov::gui::ClipboardText(), L"before");
    EXPECT_EQ(Status(), status);
}

TEST_F(ResultActions, DragRunsOnAThreadWithoutOleAndCarriesTheFiles) {
    const std::vector<std::wstring> paths = {Path(L"a.txt"), Path(L"sub\\e.txt")};
    IDataObject* data = MakeFileListData(paths);
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    ASSERT_EQ(data->GetData(&format, &medium), S_OK);
    std::vector<std::wstring> dropped;
    HDROP drop = static_cast<HDROP>(medium.hGlobal);
    for (UINT i = 0; i < DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0); ++i) {
        wchar_t name[MAX_PATH] = {};
        DragQueryFileW(drop, i, name, MAX_PATH);
        dropped.push_back(name);
    }
    ReleaseStgMedium(&medium);
    data->Release();
    EXPECT_EQ(dropped, paths);

    IDropSource* source = MakeDropSource(MK_LBUTTON);
    EXPECT_EQ(source->QueryContinueDrag(FALSE, MK_LBUTTON), S_OK);
    EXPECT_EQ(source->QueryContinueDrag(TRUE, MK_LBUTTON), DRAGDROP_S_CANCEL);
    EXPECT_EQ(source->QueryContinueDrag(FALSE, MK_RBUTTON), DRAGDROP_S_DROP);
    source->Release();

    // A thread with COM but not OLE, as the UI thread was: the drag still runs
    // (no button is held, so it ends at once).
    HRESULT dragged = E_FAIL;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        dragged = DragPaths(paths, MK_LBUTTON);
        CoUninitialize();
    }).join();
    EXPECT_TRUE(dragged == DRAGDROP_S_DROP || dragged == DRAGDROP_S_CANCEL) << std::hex << dragged;
}

TEST_F(ResultActions, ExportsTheShownRowsInTheChosenFormat) {
    Show({}, {});
    {
        Answerer ok = Answerer::Pressing(IDOK);
        ExportResults();
        ok.Stop();
        ASSERT_EQ(ok.Seen().size(), 1u) << Seen(ok.Seen());
        EXPECT_NE(ok.Seen()[0].find(L"There are no results to export."), std::wstring::npos) << Seen(ok.Seen());
    }
    // The preset name with another filter: written in that filter's format, under its extension.
    Show({gFiles[0], gFolderEntry, gFiles[1]}, {});
    const std::string folderPath = ov::ToUtf8(gFolder.substr(0, gFolder.size() - 1));
    const std::string modified = ov::ToUtf8(FormatFileTime(kModified));
    const std::string folderLine = "\"" + ov::ToUtf8(ReadResultRow(gFolderEntry, gShown.epoch).folder) + "\"," +
                                   std::to_string(ReadResultRow(gFolderEntry, gShown.epoch).size);
    const struct {
        int filterRow;
        const wchar_t* written;
        std::string bytes;
    } formats[] = {
        {1, L"Orvane results.txt",
         "\xEF\xBB\xBF" + ov::ToUtf8(Path(L"a.txt")) + "\r\n" + folderPath + "\r\n" + ov::ToUtf8(Path(L"b.txt")) +
             "\r\n"},
        {0, L"Orvane results.csv",
         "\xEF\xBB\xBFName,Folder,Size,Date Modified,Date Created,Type\r\n\"a.txt\",\"" + folderPath + "\",5,\"" +
             modified + "\",\"\",File\r\n\"orv_actions\"," + folderLine + ",\"\",\"\",Folder\r\n\"b.txt\",\"" +
             folderPath + "\",5,\"" + modified + "\",\"\",File\r\n"},
        {2, L"Orvane results.efu",
         "\xEF\xBB\xBF"
         "Filename,Size,Date Modified,Date Created,Attributes\r\n\"" +
             ov::ToUtf8(Path(L"a.txt")) + "\",5," + std::to_string(kModified) + ",0,32\r\n\"" + folderPath + "\"," +
             std::to_string(ReadResultRow(gFolderEntry, gShown.epoch).size) + ",0,0,16\r\n\"" +
             ov::ToUtf8(Path(L"b.txt")) + "\",5," + std::to_string(kModified) + ",0,32\r\n"},
    };
    const std::wstring asked = Path(L"Orvane results.csv");
    for (const auto& format : formats) {
        const std::wstring written = Path(format.written);
        DeleteFileW(asked.c_str());
        DeleteFileW(written.c_str());
        Answerer save([&](HWND dialog) {
            // The dialog fills its controls after it shows.
            Sleep(1000);
            HWND filter = GetDlgItem(dialog, 0x470);
            SendMessageW(filter, CB_SETCURSEL, format.filterRow, 0);
            for (const WORD code : {CBN_SELCHANGE, CBN_SELENDOK}) {
                SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(0x470, code), reinterpret_cast<LPARAM>(filter));
            }
            SetDlgItemTextW(dialog, 0x47C, asked.c_str());
            SetDlgItemTextW(dialog, 0x480, asked.c_str());
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        });
        ExportResults();
        save.Stop();
        EXPECT_EQ(ReadFileBytes(written), format.bytes) << Seen(save.Seen());
        if (written != asked) {
            EXPECT_FALSE(Exists(asked));
        }
        EXPECT_EQ(Status(), L"  Exported 3 results to " + written);
    }
}

TEST_F(ResultActions, AFullDiskLeavesNoFileAndSaysWhy) {
    const char* drive = std::getenv("OV_TEST_FULL_DRIVE");
    const std::wstring root = drive && *drive ? ov::ToWide(drive) + L"\\" : std::wstring();
    if (root.empty() || !Exists(root)) GTEST_SKIP() << "no full drive was set up (test_drives.sh needs root and tmpfs)";
    // Fill the drive to the last byte.
    const std::wstring filler = root + L"filler.bin";
    HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string block(4096, 'x');
    for (size_t size = block.size(); size > 0;) {
        DWORD written = 0;
        if (!WriteFile(file, block.data(), static_cast<DWORD>(size), &written, nullptr) || written == 0) size /= 2;
    }
    CloseHandle(file);

    Show({gFiles[0], gFolderEntry, gFiles[1]}, {});
    SetStatusText(L"before");
    const std::wstring target = root + L"list.csv";
    SaveAs save(target);
    ExportResults();
    const std::vector<std::wstring> boxes = save.Boxes();
    DeleteFileW(filler.c_str());
    EXPECT_FALSE(Exists(target));
    ASSERT_EQ(boxes.size(), 1u) << Seen(boxes);
    EXPECT_NE(boxes[0].find(L"Couldn't write that file, so nothing was exported."), std::wstring::npos) << Seen(boxes);
    EXPECT_EQ(Status(), L"  before");
}

TEST_F(ResultActions, AnExistingFileWithAnUpperCaseExtensionIsAskedAboutOnce) {
    Show({gFiles[0], gFiles[1]}, {});
    const std::wstring target = Path(L"Report.CSV");
    WriteFileText(target, "old");
    SaveAs save(target, 0);
    ExportResults();
    const std::vector<std::wstring> boxes = save.Boxes();
    EXPECT_EQ(boxes.size(), 1u) << Seen(boxes);
    EXPECT_NE(ReadFileBytes(target), "old");
    EXPECT_EQ(Status(), L"  Exported 2 results to " + target);
    DeleteFileW(target.c_str());
}

// More rows than one batch reads, while the index changes between batches.
TEST_F(ResultActions, AnIndexChangeDuringAnExportWritesEveryRowOrNoFile) {
    std::vector<uint32_t> shown, others;
    std::string expected = "\xEF\xBB\xBF";
    {
        std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
        const uint32_t bulk = ov::testing::AddNamed(*gEngine, gFolderEntry, "bulk", ov::EntryFlags::Directory);
        for (int i = 0; i < 5000; ++i) {
            const std::string name = "row" + std::to_string(i) + ".txt";
            const uint32_t id = ov::testing::AddNamed(*gEngine, bulk, name, 0x20);
            (i % 2 ? others : shown).push_back(id);
            if (i % 2 == 0) expected += ov::ToUtf8(gFolder) + "bulk\\" + name + "\r\n";
        }
    }
    const std::wstring target = Path(L"bulk.txt");
    int batches = 0;
    const struct {
        const char* change;
        bool followed;
        std::function<void()> make;
    } changes[] = {
        // A load replaces every entry: the shown numbers can't be followed.
        {"reload", false, [] { ++gEngine->epoch; }},
        // A compaction after deletions moves every shown row's entry number.
        {"compaction", true,
         [&others] {
             for (const uint32_t id : others) gEngine->Remove(id);
             gEngine->Compact();
         }},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.change);
        Show(shown, {});
        SetStatusText(L"before");
        batches = 0;
        SetExportBatchHookForTesting([&] {
            if (batches++ > 0) return;
            std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
            change.make();
        });
        SaveAs save(target, 1);
        ExportResults();
        SetExportBatchHookForTesting(nullptr);
        const std::vector<std::wstring> boxes = save.Boxes();
        EXPECT_GE(batches, 1);
        if (!change.followed) {
            EXPECT_FALSE(Exists(target));
            ASSERT_EQ(boxes.size(), 1u) << Seen(boxes);
            EXPECT_NE(boxes[0].find(L"The results changed while they were being exported, so nothing was exported."),
                      std::wstring::npos)
                << Seen(boxes);
            EXPECT_EQ(Status(), L"  before");
        } else {
            EXPECT_TRUE(boxes.empty()) << Seen(boxes);
            const std::string bytes = ReadFileBytes(target);
            EXPECT_EQ(bytes.size(), expected.size());
            EXPECT_TRUE(bytes == expected);
            EXPECT_EQ(Status(), L"  Exported 2,500 results to " + target);
        }
        DeleteFileW(target.c_str());
    }
}

}  // namespace
