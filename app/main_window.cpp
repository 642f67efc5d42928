// The main window procedure only routes: each message's work is a named
// function here or in the file of the part of the program that owns it.
#include "app/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "app/commands.h"
#include "app/icon_loader.h"
#include "app/info_bars.h"
#include "app/layout.h"
#include "app/result_actions.h"
#include "app/results_list.h"
#include "app/ribbon.h"
#include "app/row_icon_cache.h"
#include "app/row_painting.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/tray.h"
#include "index/text.h"
#include "update/update_check.h"
#include "update/update_download.h"

HWND gMain = nullptr;
HWND gTooltip = nullptr;
HWND gStatusBar = nullptr;
HWND gUpdateBar = nullptr;
HWND gAdminBar = nullptr;
HBRUSH gInfoBrush = nullptr;
uint64_t gUpdateDueTick = 0;

namespace {

HWND MakeButton(HWND parent, const wchar_t* text, int id, DWORD style, HFONT font, const wchar_t* tooltip) {
    HWND button = CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 10, 10, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    AddControlTooltip(button, tooltip);
    return button;
}

HWND MakeInfoBar(const wchar_t* className, int height) {
    return CreateWindowExW(WS_EX_CONTROLPARENT, className, L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, Dip(100), Dip(height),
                           gMain, nullptr, gInstance, nullptr);
}

void CreateTooltipWindow() {
    gTooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0,
                               0, 0, gMain, nullptr, gInstance, nullptr);
    SendMessageW(gTooltip, TTM_SETMAXTIPWIDTH, 0, Dip(460));
    SendMessageW(gTooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 32000);
}

void CreateUpdateBar() {
    gUpdateBar = MakeInfoBar(L"OVUpdBar", 44);
    MakeButton(gUpdateBar, L"Update now", kCmdUpdateNow, BS_DEFPUSHBUTTON, gFontEmphasis,
               L"Downloads the new version, checks it isn't damaged or tampered with (SHA-256 checksum and version "
               L"check), swaps it in place of this copy and restarts Orvane - usually in a few seconds. Your settings "
               L"and the index are kept, and your search is put back.");
    MakeButton(gUpdateBar, L"What's new", kCmdUpdateNotes, 0, gFontUi,
               L"Shows the full list of what changed in the new version.");
    MakeButton(gUpdateBar, L"Later", kCmdUpdateLater, 0, gFontUi,
               L"Hides this bar for now. Orvane will remind you at the next check (every 6 hours), or use Help > Check "
               L"for Updates any time.");
}

void CreateAdminBar() {
    gAdminBar = MakeInfoBar(L"OVAdminBar", 48);
    MakeButton(gAdminBar, L"Restart as administrator", kCmdRestartAsAdmin, BS_DEFPUSHBUTTON, gFontEmphasis,
               L"Restarts Orvane with administrator rights (Windows asks for permission). Your search is kept. With "
               L"them, Orvane reads each NTFS drive's file table directly - millions of files in seconds - and follows "
               L"the change journal.");
    MakeButton(gAdminBar, L"Hide", kCmdHideAdminBar, 0, gFontUi,
               L"Don't show this bar again. You can still use Index > Run as Admin, and Settings > Run as "
               L"administrator.");
}

LRESULT OnCreate(HWND window) {
    gMain = window;
    CreateTooltipWindow();
    CreateRibbon();
    gInfoBrush = CreateSolidBrush(RGB(255, 243, 205));
    CreateUpdateBar();
    CreateAdminBar();
    gStatusBar = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | SBARS_TOOLTIPS,
                                 0, 0, 0, 0, gMain, nullptr, gInstance, nullptr);
    SendMessageW(gStatusBar, WM_SETFONT, reinterpret_cast<WPARAM>(gFontUi), FALSE);
    CreateSearchControls();
    AddTrayIcon();
    RegisterGlobalHotkey();
    SetTimer(gMain, kTimerUpdateCheck, 5000, nullptr);
    SetTimer(gMain, kTimerOldFile, 3000, nullptr);
    SetTimer(gMain, kTimerSave, 1800000, nullptr);
    gUpdateDueTick = GetTickCount64() + 8000;
    return 0;
}

void OnDestroy() {
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

void OnFilterListChanged() {
    const LRESULT row = SendMessageW(gFilterList, CB_GETCURSEL, 0, 0);
    if (row < 0) return;
    gSettings.filter = static_cast<uint32_t>(row);
    RegWriteDword(L"Filter", gSettings.filter);
    RequestSearch(false);
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

// The header's right click is the list's subclass's (ResultsListSubclassProc).
LRESULT OnNotify(const NMHDR* header) {
    if (gResultsList && header->hwndFrom == gResultsList) return OnListNotify(header);
    return 0;
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
            OnDeviceChange(wParam);
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

void LayoutMainWindow() {
    if (!gMain || !gRibbon) return;
    RECT client;
    GetClientRect(gMain, &client);
    int statusHeight = 0;
    if (gStatusBar) {
        SendMessageW(gStatusBar, WM_SIZE, 0, 0);
        RECT status;
        GetWindowRect(gStatusBar, &status);
        statusHeight = status.bottom - status.top;
    }
    const bool updateShown = gUpdateBar && IsWindowVisible(gUpdateBar);
    const bool adminShown = gAdminBar && IsWindowVisible(gAdminBar);
    const MainLayout layout =
        ComputeMainLayout(client.right, client.bottom, statusHeight, gDpi, updateShown, adminShown);
    LayoutStatusParts(true);
    auto place = [](HWND window, const LayoutRect& r) {
        if (window) MoveWindow(window, r.x, r.y, r.width, r.height, TRUE);
    };
    place(gRibbon, layout.ribbon);
    if (updateShown) place(gUpdateBar, layout.updateBar);
    if (adminShown) place(gAdminBar, layout.adminBar);
    place(gSearchBox, layout.searchBox);
    place(gFilterList, layout.filterList);
    place(gResultsList, layout.resultsList);
}

void LayoutStatusParts(bool resized) {
    if (!gStatusBar) return;
    // The error part is as wide as its text: the texts carry examples the user needs whole.
    static int laidOutError = -1;
    int errorWidth = 0;
    if (!gShown.error.empty()) {
        const std::wstring text = L"  " + ov::ToWide(gShown.error);
        HDC dc = GetDC(gStatusBar);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(gStatusBar, WM_GETFONT, 0, 0)));
        SIZE extent = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        SelectObject(dc, old);
        ReleaseDC(gStatusBar, dc);
        int borders[3] = {};
        SendMessageW(gStatusBar, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
        errorWidth = extent.cx + 2 * borders[0] + borders[2] + Dip(12);
    }
    if (!resized && errorWidth == laidOutError) return;
    laidOutError = errorWidth;
    RECT bar;
    GetClientRect(gStatusBar, &bar);
    int edges[4];
    StatusPartEdges(gDpi, bar.right, errorWidth, edges);
    SendMessageW(gStatusBar, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
}

void SetStatusText(const std::wstring& text) {
    if (!gStatusBar) return;
    const std::wstring shown = L"  " + text;
    SendMessageW(gStatusBar, SB_SETTEXTW, 3, reinterpret_cast<LPARAM>(shown.c_str()));
}

void BringToFront() {
    if (!gMain) return;
    ShowWindow(gMain, IsIconic(gMain) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(gMain);
    if (!gSearchBox) return;
    SetFocus(gSearchBox);
    SendMessageW(gSearchBox, EM_SETSEL, 0, -1);
}

void AddControlTooltip(HWND control, const wchar_t* text) {
    if (!gTooltip || !control) return;
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(gTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

int TrackMenuAtCursor(HMENU menu) {
    POINT point;
    GetCursorPos(&point);
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, gMain, nullptr);
    // Without a message after it, a menu shown from the tray may not close on a click outside it.
    PostMessageW(gMain, WM_NULL, 0, 0);
    return chosen;
}
