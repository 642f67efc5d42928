// How the application starts programs, in this process over the real main
// window: the route a start takes (the desktop shell's or this process's), its
// flags, and what the user is told when it fails. Both routes are seams that
// record what they were asked; a failing start is made for real.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <shared_mutex>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/help_texts.h"
#include "app/icon_loader.h"
#include "app/main_window.h"
#include "app/result_actions.h"
#include "app/results_list.h"
#include "app/shell_start.h"
#include "app/single_instance.h"
#include "app/window_kit.h"
#include "tests/app/harness/dialog_answerer.h"
#include "tests/app/harness/in_process_app.h"

namespace {

using ov::gui::Answerer;
using ov::gui::Seen;

std::wstring gFolder;               // the temporary folder, ending in a backslash
uint32_t gDocument = ov::kNoEntry;  // c.orvrec
uint32_t gText = ov::kNoEntry;      // a.txt
uint32_t gRemoved = ov::kNoEntry;   // b.txt, not on disk
uint32_t gUnknown = ov::kNoEntry;   // f.zzqq, a type no program opens

class ShellStarts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ov::gui::SetUpAppInProcess();
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        gFolder = std::wstring(temp) + L"orv_starts\\";
        CreateDirectoryW(gFolder.c_str(), nullptr);
        for (const wchar_t* name : {L"a.txt", L"c.orvrec", L"f.zzqq"})
            std::ofstream(std::filesystem::path(gFolder + name), std::ios::binary) << "hello";
        DeleteFileW((gFolder + L"b.txt").c_str());
        std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
        using ov::testing::AddNamed;
        const uint32_t folder = ov::gui::AddFolderChain(gFolder);
        gText = AddNamed(*gEngine, folder, "a.txt", 0x20);
        gRemoved = AddNamed(*gEngine, folder, "b.txt", 0x20);
        gDocument = AddNamed(*gEngine, folder, "c.orvrec", 0x20);
        gUnknown = AddNamed(*gEngine, folder, "f.zzqq", 0x20);
        hold.unlock();
        ASSERT_NE(CreateMainWindow(SW_SHOWNORMAL), nullptr);
    }
    static void TearDownTestSuite() { StopIconLoader(); }

    static std::wstring Path(const wchar_t* name) { return gFolder + name; }
};

// Shows the entry as the one result, selected.
void Show(uint32_t id) {
    auto result = std::make_unique<ov::SearchResult>();
    result->ids = {id};
    result->sequence = gShown.sequence + 1;
    result->epoch = gEngine->epoch;
    ApplyResults(std::move(result));
    ListView_SetItemState(gResultsList, 0, LVIS_SELECTED, LVIS_SELECTED);
}

// The starts the desktop shell took (when it is there) and those this process made.
std::vector<std::wstring> gShellStarts;
std::vector<std::wstring> gOwnStarts;
HRESULT gShellAnswer = S_OK;

HRESULT RecordShellStart(const ShellStart& start) {
    if (gShellAnswer == S_OK)
        gShellStarts.push_back(std::wstring(start.verb ? start.verb : L"(default)") + L"|" + start.file + L"|" +
                               start.parameters + L"|" + start.folder);
    return gShellAnswer;
}

// The real call for the files that fail to open; the others are only recorded.
BOOL WINAPI RecordOwnStart(SHELLEXECUTEINFOW* info) {
    std::wstring flags;
    if (info->fMask & SEE_MASK_FLAG_NO_UI) flags += L"no-ui ";
    if (info->fMask & SEE_MASK_NOASYNC) flags += L"no-async ";
    const std::wstring file = info->lpFile;
    gOwnStarts.push_back(flags + (info->lpVerb ? info->lpVerb : L"(default)") + L"|" + file + L"|" +
                         (info->lpParameters ? info->lpParameters : L"") + L"|" +
                         (info->lpDirectory ? info->lpDirectory : L""));
    if (file == L"rundll32.exe" || file == GetExePath() || file.ends_with(L".orvrec")) return TRUE;
    return ShellExecuteExW(info);
}

// The shell's own context menu of path, as the results' menu gets it, and the
// verb named verb of it started as that menu would start it.
bool StartMenuVerb(const std::wstring& path, const wchar_t* verb) {
    PIDLIST_ABSOLUTE item = nullptr;
    IShellFolder* folder = nullptr;
    IContextMenu* menu = nullptr;
    HMENU popup = CreatePopupMenu();
    bool started = false;
    if (SUCCEEDED(SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr)) &&
        SUCCEEDED(SHBindToParent(item, IID_IShellFolder, reinterpret_cast<void**>(&folder), nullptr))) {
        PCUITEMID_CHILD child = ILFindLastID(item);
        if (SUCCEEDED(
                folder->GetUIObjectOf(gMain, 1, &child, IID_IContextMenu, nullptr, reinterpret_cast<void**>(&menu))) &&
            SUCCEEDED(menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL))) {
            for (int i = 0; i < GetMenuItemCount(popup); ++i) {
                const UINT id = GetMenuItemID(popup, i);
                wchar_t name[64] = {};
                if (id != static_cast<UINT>(-1) && id >= 1 &&
                    SUCCEEDED(menu->GetCommandString(id - 1, GCS_VERBW, nullptr, reinterpret_cast<char*>(name), 64)) &&
                    _wcsicmp(name, verb) == 0) {
                    started = StartVerbForUser(menu, id - 1, {path});
                    break;
                }
            }
        }
    }
    if (menu) menu->Release();
    if (folder) folder->Release();
    CoTaskMemFree(item);
    DestroyMenu(popup);
    return started;
}

// From an elevated copy what the user opens (a result, the shell menu's open,
// a help link) starts through the desktop shell, as the signed-in user; only
// without a shell does this process start it, and the log says so. A start
// that fails is said once, and only a type without a program gets Open With.
// The elevated restart waits for its start before this copy ends.
TEST_F(ShellStarts, FromAnElevatedCopyTheyRunAsTheSignedInUserAndAFailureIsSaidOnce) {
    if (!ProcessRunsElevated()) GTEST_SKIP() << "needs an elevated process (under Wine every process is)";
    SetDesktopShellForTesting(RecordShellStart);
    SetShellExecuteForTesting(RecordOwnStart);
    const std::wstring document = Path(L"c.orvrec"), text = Path(L"a.txt"), removed = Path(L"b.txt"),
                       unknown = Path(L"f.zzqq");
    auto open = [](uint32_t id) {
        return [id] {
            Show(id);
            OpenSelected();
        };
    };
    bool verbStarted = false, copyLeft = false;
    const struct {
        const char* what;
        HRESULT shell;
        std::function<void()> act;
        std::vector<std::wstring> shellStarts, ownStarts;
        std::wstring box;  // what the one box says first; empty: no box
    } rows[] = {
        {"open", S_OK, open(gDocument), {L"(default)|" + document + L"||" + gFolder}, {}, L""},
        {"the shell menu's open",
         S_OK,
         [&] {
             verbStarted = StartMenuVerb(text, L"open");
             copyLeft = !StartMenuVerb(text, L"copy");
         },
         {L"open|" + text + L"||" + gFolder},
         {},
         L""},
        {"help link",
         S_OK,
         [] { RunCommand(kCmdUserGuide); },
         {std::wstring(L"open|") + kUserGuideUrl + L"||"},
         {},
         L""},
        {"open without a shell",
         kNoDesktopShell,
         open(gDocument),
         {},
         {L"no-ui (default)|" + document + L"||" + gFolder},
         L""},
        {"a file removed since it was listed",
         kNoDesktopShell,
         open(gRemoved),
         {},
         {L"no-ui (default)|" + removed + L"||" + gFolder},
         L"Orvane couldn't open this item:\n\n" + removed + L": "},
        {"a type no program opens",
         kNoDesktopShell,
         open(gUnknown),
         {},
         {L"no-ui (default)|" + unknown + L"||" + gFolder,
          L"no-ui open|rundll32.exe|shell32.dll,OpenAs_RunDLL " + unknown + L"|"},
         L""},
        {"restart as administrator",
         S_OK,
         [] { StartElevated(L"/takeover", gMain, SW_SHOWNORMAL); },
         {},
         {L"no-ui no-async runas|" + GetExePath() + L"|/takeover|"},
         L""},
    };
    for (const auto& row : rows) {
        gShellAnswer = row.shell;
        gShellStarts.clear();
        gOwnStarts.clear();
        Answerer ok = Answerer::Pressing(IDOK);
        row.act();
        ok.Stop();
        EXPECT_EQ(gShellStarts, row.shellStarts) << row.what;
        EXPECT_EQ(gOwnStarts, row.ownStarts) << row.what;
        const std::vector<std::wstring> boxes = ok.Seen();
        if (row.box.empty()) {
            EXPECT_TRUE(boxes.empty()) << row.what << ": " << Seen(boxes);
        } else {
            ASSERT_EQ(boxes.size(), 1u) << row.what << ": " << Seen(boxes);
            EXPECT_NE(boxes[0].find(row.box), std::wstring::npos) << row.what << ": " << Seen(boxes);
        }
    }
    EXPECT_TRUE(verbStarted);
    EXPECT_TRUE(copyLeft) << "copy is the menu's own, not a program";
    bool logged = false;
    for (const std::wstring& line : ActivityLogLines())
        logged = logged || line.find(L"no desktop shell to start " + document) != std::wstring::npos;
    EXPECT_TRUE(logged);
    SetDesktopShellForTesting(nullptr);
    SetShellExecuteForTesting(nullptr);
}

}  // namespace
