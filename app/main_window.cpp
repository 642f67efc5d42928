// The main window procedure only routes: each message's work is a named
// function here or in the file of the part of the program that owns it.
#include "app/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "app/command_ids.h"
#include "app/commands.h"
#include "app/icon_loader.h"
#include "app/info_bars.h"
#include "app/main_events.h"
#include "app/result_actions.h"
#include "app/results_list.h"
#include "app/ribbon.h"
#include "app/row_icon_cache.h"
#include "app/row_painting.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/tray.h"
#include "update/update_check.h"
#include "update/update_download.h"

namespace {

void CreateTooltipWindow() {
    gTooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0,
                               0, 0, gMain, nullptr, gInstance, nullptr);
    SendMessageW(gTooltip, TTM_SETMAXTIPWIDTH, 0, Dip(460));
    SendMessageW(gTooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 32000);
}

LRESULT OnCreate(HWND window) {
    gMain = window;
    CreateTooltipWindow();
    CreateRibbon();
    CreateInfoBars();
    gStatusBar = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | SBARS_TOOLTIPS,
                                 0, 0, 0, 0, gMain, nullptr, gInstance, nullptr);
    SendMessageW(gStatusBar, WM_SETFONT, reinterpret_cast<WPARAM>(gFontUi), FALSE);
    CreateSearchBox();
    CreateFilterList();
    gResultsListHandler = HandleResultsListMessage;
    CreateResultsList();
    AddTrayIcon();
    RegisterGlobalHotkey();
    SetTimer(gMain, kTimerUpdateCheck, 5000, nullptr);
    SetTimer(gMain, kTimerOldFile, 3000, nullptr);
    SetTimer(gMain, kTimerSave, 1800000, nullptr);
    ScheduleUpdateCheck(8000);
    return 0;
}

void OnDestroy() {
    EndDriveNotifications();
    RemoveTrayIcon();
    UnregisterHotKey(gMain, 1);
    PostQuitMessage(0);
}

void OnClose() {
    if (gSettings.keepInTray && gArgs.selfTestPath.empty()) {
        ShowWindow(gMain, SW_HIDE);
        ShowTrayBalloonOnce();
        return;
    }
    OnExitMessage();
}

// A second copy's hand-off. Anything but a sound text with our tag is ignored.
void OnCopyData(const COPYDATASTRUCT* data) {
    if (!data || data->dwData != kHandOffTag || data->cbData > 0xFFFF) return;
    if (data->cbData > 0 && !data->lpData) return;
    const std::wstring text(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    const std::wstring prefix = L"/search ";
    if (text.compare(0, prefix.size(), prefix) == 0) SetWindowTextW(gSearchBox, text.c_str() + prefix.size());
    if (text != L"/tray") BringToFront();
}

void OnWmCommand(int id, int code, HWND control) {
    if (id == kIdSearchBox) {
        if (code == EN_CHANGE) RequestSearch(false);
    } else if (id == kIdFilterList) {
        if (code == CBN_SELCHANGE) OnFilterListChanged();
    } else if (id >= kSetRunAsAdmin && id <= kSetSizeFormat) {
        OnSettingsCommand(id, code, control);
    } else if (code == 0 || code == 1) {
        OnCommand(id);
    }
}

// The list answers what it shows itself; what the user does with it goes to
// the file that does it. Keys, typing and the header's right click reach the
// list's own procedure (HandleResultsListMessage).
LRESULT OnNotify(const NMHDR* header) {
    if (!gResultsList || header->hwndFrom != gResultsList) return 0;
    switch (header->code) {
        case LVN_ITEMCHANGED:
        case LVN_ODSTATECHANGED:
            if (ListChangesAreQuiet()) return 0;
            RefreshRibbon();
            UpdateStatusBar();
            return 0;
        case LVN_COLUMNCLICK:
            SetSort(SortKeyOfColumn(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem), -1);
            return 0;
        case NM_RCLICK:
            if (reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem >= 0) {
                POINT point;
                GetCursorPos(&point);
                ShowResultContextMenu(point);
            }
            return 0;
        case LVN_BEGINDRAG:
        case LVN_BEGINRDRAG:
            DragSelectedResults(header->code == LVN_BEGINRDRAG);
            return 0;
        case NM_DBLCLK:
            if (reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem >= 0) OpenSelected();
            return 0;
        case NM_SETFOCUS:
        case NM_KILLFOCUS:
            SetResultsListFocused(header->code == NM_SETFOCUS);
            return 0;
        default:
            return OnListNotify(header);
    }
}

// Opened from the keyboard: below the focused row's label, else near the list's corner.
bool OnContextMenu(HWND source, LPARAM lParam) {
    if (source != gResultsList || static_cast<short>(LOWORD(lParam)) != -1) return false;
    POINT point = {Dip(40), Dip(10)};
    const int focused = ListView_GetNextItem(gResultsList, -1, LVNI_FOCUSED);
    RECT label;
    if (focused >= 0 && ListView_GetItemRect(gResultsList, focused, &label, LVIR_LABEL)) {
        point = {label.left + Dip(20), label.bottom};
    }
    ClientToScreen(gResultsList, &point);
    ShowResultContextMenu(point);
    return true;
}

bool OnMeasureItem(MEASUREITEMSTRUCT* item) {
    if (item->CtlType != ODT_LISTVIEW) return false;
    item->itemHeight = std::max(Dip(22), Dip(6) + gSmallIconHeight);
    return true;
}

bool OnDrawItem(const DRAWITEMSTRUCT* item) {
    if (item->CtlType != ODT_LISTVIEW || item->hwndItem != gResultsList) return false;
    DrawResultRow(item);
    return true;
}

}  // namespace

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (gTaskbarCreatedMessage != 0 && message == gTaskbarCreatedMessage) {
        AddTrayIcon();
        return 0;
    }
    LRESULT result = 0;
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_SIZE:
            LayoutMainWindow();
            return 0;
        case WM_SETFOCUS:
            if (gSearchBox) SetFocus(gSearchBox);
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            OnEndSession(wParam != 0);
            return 0;
        case WM_DRAWITEM:
            if (OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) return TRUE;
            if (ForwardToShellMenu(message, wParam, lParam, &result)) return TRUE;
            break;
        case WM_MEASUREITEM:
            if (OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam))) return TRUE;
            if (ForwardToShellMenu(message, wParam, lParam, &result)) return TRUE;
            break;
        case WM_INITMENUPOPUP:
        case WM_MENUCHAR:
            if (ForwardToShellMenu(message, wParam, lParam, &result)) return result;
            break;
        case WM_COPYDATA:
            OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
            return TRUE;
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<const NMHDR*>(lParam));
        case WM_CONTEXTMENU:
            if (OnContextMenu(reinterpret_cast<HWND>(wParam), lParam)) return 0;
            break;
        case WM_COMMAND:
            OnWmCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_TIMER:
            OnMainTimer(wParam);
            return 0;
        case WM_DEVICECHANGE:
            OnDeviceChange(wParam, lParam);
            return TRUE;
        case WM_HOTKEY:
            OnHotkey(static_cast<int>(wParam));
            return 0;
        case WM_APP_UPDATE_RESULT:
            OnUpdateResult(lParam);
            return 0;
        case WM_APP_DOWNLOAD_PROGRESS:
            OnDownloadProgress(static_cast<int>(wParam));
            return 0;
        case WM_APP_DOWNLOAD_DONE:
            OnDownloadDone(lParam);
            return 0;
        case WM_APP_INDEX_CHANGED:
            OnIndexChanged();
            return 0;
        case WM_APP_VOLUMES_CHANGED:
            OnVolumesChanged();
            return 0;
        case ov::WM_APP_RESULTS:
            ApplyResults(std::unique_ptr<ov::SearchResult>(reinterpret_cast<ov::SearchResult*>(lParam)));
            return 0;
        case WM_APP_ICONS_READY:
            OnIconsReady();
            return 0;
        case WM_SYSCOLORCHANGE:  // faded icons blend with a system colour
        case WM_DISPLAYCHANGE:
        case WM_DPICHANGED:
            ResetRowIcons();
            if (gResultsList) InvalidateRect(gResultsList, nullptr, FALSE);
            break;
        case WM_APP_TRAY:
            OnTrayMessage(lParam);
            return 0;
        case WM_APP_INDEX_LOADED:
            OnIndexLoaded();
            return 0;
        case WM_APP_EXIT:
            OnExitMessage();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
