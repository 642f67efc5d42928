// The main window's commands: ribbon buttons, accelerators, menus, the tray
// menu and the info bars all end here.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "app/commands.h"

#include "app/activity_log.h"
#include "app/diagnostics.h"
#include "app/engine_host.h"
#include "app/export.h"
#include "app/help_texts.h"
#include "app/index_status.h"
#include "app/info_bars.h"
#include "app/main_events.h"
#include "app/res/resource.h"
#include "app/result_actions.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/shell_start.h"
#include "app/shutdown.h"
#include "app/tray.h"
#include "app/window_kit.h"
#include "update/start_with_windows.h"
#include "update/update_check.h"
#include "update/update_download.h"

namespace {

// Commands 101-104: a search switch on or off.
void ToggleSearchSwitch(int id) {
    const SettingRule* rule = SettingRuleOfCommand(id);
    StoreSetting(rule->field, gSettings.*rule->field ? 0 : 1);
    RefreshRibbon();
    RequestSearch(false);
}

void ClearSearch() {
    if (!gSearchBox) return;
    SetWindowTextW(gSearchBox, L"");
    SetFocus(gSearchBox);
}

void AskRebuild() {
    if (MessageBoxW(gMain,
                    L"Rebuild the whole index from scratch?\n\nThis is normally never needed - Orvane keeps up with "
                    L"every change by itself. Searching keeps working while it rebuilds.",
                    L"Orvane", MB_ICONQUESTION | MB_YESNO) == IDYES) {
        RebuildIndex();
    }
}

void SaveIndexCommand() {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const bool saved = SaveIndexNow();
    SetCursor(previous);
    SetStatusText(saved ? L"Index saved" : L"Couldn't save the index");
}

void ShowReleaseNotes() {
    wchar_t first[200];
    FormatBuf(first, 200, L"Orvane release notes — you have version %ls\n\n", kVersionText);
    ShowTextWindow(L"Orvane Release Notes", first, kReleaseNotesText);
}

// The browser starts as the signed-in user, also from an elevated copy.
void OpenWebPage(const wchar_t* url) {
    ShellStart page;
    page.verb = L"open";
    page.file = url;
    StartOrTell(page, url);
}

void ShowAbout() {
    const std::wstring text = FormatString(
        L"Orvane %ls\n\nFinds any file or folder on this PC by its name while you type.\n\nOrvane keeps "
        L"one index of every file and folder on your drives and added folders, keeps it up to date as "
        L"files change, and searches it on all processor threads at every keystroke.\n\nUpdates: %ls\n"
        L"Download page: %ls",
        kVersionText,
        gSettings.autoUpdate ? L"checks automatically every 6 hours" : L"automatic checks are off (Settings tab)",
        kDownloadPageUrl);
    MessageBoxW(gMain, text.c_str(), L"About Orvane", MB_ICONINFORMATION | MB_OK);
}

void SelectAllResults() {
    if (!gResultsList || GetFocus() != gResultsList) return;
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(gResultsList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
}

void HideAdminBar() {
    StoreSetting(&AppSettings::adminBarHidden, 1);
    if (gAdminBar) ShowWindow(gAdminBar, SW_HIDE);
    LayoutMainWindow();
}

void ExitProgram() {
    SaveBeforeExit();
    DestroyWindow(gMain);
}

void InvalidateResults() {
    if (gResultsList) InvalidateRect(gResultsList, nullptr, FALSE);
}

// What a Settings-tab change does beyond being stored.
void ApplySettingChange(int id, uint32_t value) {
    switch (id) {
        case kSetRunAsAdmin:
            ApplyStartWithWindows();
            if (value && !EngineElevated()) {
                SetStatusText(
                    L"Orvane will ask for administrator rights next time it starts (or click Index > Run as Admin "
                    L"now)");
            }
            break;
        case kSetStartWithWindows:
            ApplyStartWithWindows();
            break;
        case kSetHotkey:
            RegisterGlobalHotkey();
            break;
        case kSetHideHidden:
        case kSetHideSystem:
            SetIndexHideFlags();
            RequestSearch(true);
            break;
        case kSetIncludeRemovable:
            ApplyIncludeRemovable();
            break;
        case kSetThreads:
            RequestSearch(true);
            break;
        case kSetHighlight:
        case kSetSizeFormat:
            InvalidateResults();
            break;
        case kSetAutoUpdate:
            if (value) ScheduleUpdateCheck(3000);
            break;
        default:
            break;
    }
}

}  // namespace

void OnSettingsCommand(int id, int code, HWND control) {
    if (id == kSetExcludedFolders) {
        OnCommand(kCmdExcludedFolders);
        return;
    }
    uint32_t value = 0;
    if (StoreSettingFromControl(id, code, control, value)) ApplySettingChange(id, value);
}

void OnCommand(int id) {
    switch (id) {
        case kCmdMatchCase:
        case kCmdWholeWord:
        case kCmdMatchPath:
        case kCmdRegex:
            ToggleSearchSwitch(id);
            break;
        case kCmdOpen:
            OpenSelected();
            break;
        case kCmdOpenFolder:
            OpenContainingFolder();
            break;
        case kCmdCopyPath:
            CopySelectedPaths(false);
            break;
        case kCmdProperties:
            ShowProperties();
            break;
        case kCmdExport:
            ExportResults();
            break;
        case kCmdClearSearch:
            ClearSearch();
            break;
        case kCmdSameNames:
            RunPresetSearch(L"dupe: ", ov::SortKey::Name, 0);
            break;
        case kCmdSameSize:
            RunPresetSearch(L"sizedupe: ", ov::SortKey::Size, 1);
            break;
        case kCmdLargestFiles:
            RunPresetSearch(L"file: ", ov::SortKey::Size, 1);
            break;
        case kCmdLargestFolders:
            RunPresetSearch(L"folder: ", ov::SortKey::Size, 1);
            break;
        case kCmdRecentChanges:
            RunPresetSearch(L"dm:last24hours ", ov::SortKey::DateModified, 1);
            break;
        case kCmdEmptyFolders:
            RunPresetSearch(L"empty: ", ov::SortKey::Path, 0);
            break;
        case kCmdSpeedTest:
            RunSpeedTest();
            break;
        case kCmdMostOpened:
            SetSort(static_cast<int>(ov::SortKey::RunCount), 0);
            break;
        case kCmdIndexStatus:
            ShowIndexStatus();
            break;
        case kCmdRescanAll:
            AskRebuild();
            break;
        case kCmdAddFolder:
            AddIndexedFolder(gMain);
            break;
        case kCmdSaveIndex:
            SaveIndexCommand();
            break;
        case kCmdRunAsAdmin:
        case kCmdRestartAsAdmin:
            RestartAsAdmin();
            break;
        case kCmdExcludedFolders:
            DialogBoxParamW(gInstance, MAKEINTRESOURCEW(IDD_EXCLUDED_FOLDERS), gMain, ExcludedFoldersDlgProc, 0);
            break;
        case kCmdHowToUse:
            ShowTextWindow(L"How to use Orvane", L"", kUserGuideText);
            break;
        case kCmdSearchTricks:
            ShowTextWindow(L"Orvane search tricks", L"", kSearchTricksText);
            break;
        case kCmdUserGuide:
            OpenWebPage(kUserGuideUrl);
            break;
        case kCmdReleaseNotes:
            ShowReleaseNotes();
            break;
        case kCmdCheckUpdates:
            StartUpdateCheck(true);
            break;
        case kCmdDownloadPage:
            OpenWebPage(kDownloadPageUrl);
            break;
        case kCmdDiagnosticReport:
            SaveDiagnosticReport();
            break;
        case kCmdAbout:
            ShowAbout();
            break;
        case kCmdFocusSearch:
        case kCmdShowWindow:
            BringToFront();
            break;
        case kCmdCopyFiles:
            CopySelectedFiles();
            break;
        case kCmdCopyNames:
            CopySelectedPaths(true);
            break;
        case kCmdDelete:
            DeleteSelected();
            break;
        case kCmdSelectAll:
            SelectAllResults();
            break;
        case kCmdExit:
            ExitProgram();
            break;
        case kCmdSearchAgain:
            RequestSearch(true);
            break;
        case kCmdUpdateNow:
            StartUpdateDownload();
            break;
        case kCmdUpdateNotes:
            ShowUpdateNotes();
            break;
        case kCmdUpdateLater:
            OnUpdateLater();
            break;
        case kCmdHideAdminBar:
            HideAdminBar();
            break;
        default:
            break;
    }
}
