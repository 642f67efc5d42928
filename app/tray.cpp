// The tray icon, its menu and one-time balloon, and the global hotkey: a hidden
// window can always be brought back or the program ended.
#include "app/tray.h"

#include <shellapi.h>

#include <string>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/settings.h"
#include "app/window_kit.h"

const HotkeyDef kHotkeys[kHotkeyCount] = {
    {L"None", 0, 0},
    {L"Ctrl+Alt+F", MOD_CONTROL | MOD_ALT, 'F'},
    {L"Ctrl+Shift+F", MOD_CONTROL | MOD_SHIFT, 'F'},
    {L"Win+Shift+F", MOD_WIN | MOD_SHIFT, 'F'},
    {L"Ctrl+Alt+Space", MOD_CONTROL | MOD_ALT, VK_SPACE},
    {L"Ctrl+`", MOD_CONTROL, VK_OEM_3},
};

namespace {

constexpr int kHotkeyId = 1;

NOTIFYICONDATAW gTrayData = {};  // hWnd set: the icon is wanted
bool gTrayAdded = false;         // the notification area took it
bool gBalloonShown = false;
constexpr UINT kTrayRetryMs = 2000;
TrayCall gNotifyIcon = Shell_NotifyIconW;

// The small application icon, loaded once: the icon is added again after each
// Explorer restart and hotkey change.
HICON SmallAppIcon() {
    static const HICON icon = static_cast<HICON>(LoadImageW(
        gInstance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    return icon;
}

const HotkeyDef& ChosenHotkey() {
    return kHotkeys[gSettings.hotkey < kHotkeyCount ? gSettings.hotkey : 0];
}

void ShowTrayMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, kCmdShowWindow, L"&Search with Orvane");
    AppendMenuW(menu, MF_STRING, kCmdIndexStatus, L"Index &status");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kCmdExit, L"E&xit Orvane");
    SetMenuDefaultItem(menu, kCmdShowWindow, FALSE);
    SetForegroundWindow(gMain);
    const int chosen = TrackMenuAtCursor(menu);
    DestroyMenu(menu);
    if (chosen == kCmdIndexStatus) BringToFront();
    if (chosen != 0) RunCommand(chosen);
}

// At sign-in the notification area may not be up yet, and an elevated window
// may never hear "TaskbarCreated": a refused icon is tried again on a timer
// until it is there. One that is there already counts (NIM_MODIFY takes it).
bool TryAddTrayIcon() {
    gTrayAdded = gNotifyIcon(NIM_ADD, &gTrayData) || gNotifyIcon(NIM_MODIFY, &gTrayData);
    if (gTrayAdded) KillTimer(gMain, kTimerTrayIcon);
    return gTrayAdded;
}

}  // namespace

void AddTrayIcon() {
    if (!gMain) return;
    gTrayData = {};
    gTrayData.cbSize = sizeof gTrayData;
    gTrayData.hWnd = gMain;
    gTrayData.uID = 1;
    gTrayData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    gTrayData.uCallbackMessage = WM_APP_TRAY;
    gTrayData.hIcon = SmallAppIcon();
    const HotkeyDef& hotkey = ChosenHotkey();
    const std::wstring tip = std::wstring(L"Orvane — ") +
                             (hotkey.key ? std::wstring(L"press ") + hotkey.name + L" to search" : L"click to search");
    wcsncpy(gTrayData.szTip, tip.c_str(), 127);
    gTrayData.szTip[127] = L'\0';
    if (!TryAddTrayIcon()) {
        Log(L"tray icon not added; trying again every %u ms", kTrayRetryMs);
        SetTimer(gMain, kTimerTrayIcon, kTrayRetryMs, nullptr);
    }
}

void RetryTrayIcon() {
    if (gTrayData.hWnd && !gTrayAdded) {
        TryAddTrayIcon();
    } else if (gMain) {
        KillTimer(gMain, kTimerTrayIcon);
    }
}

HICON TrayIconForTesting() {
    return gTrayData.hIcon;
}

void RemoveTrayIcon() {
    if (!gTrayData.hWnd) return;
    KillTimer(gMain, kTimerTrayIcon);
    if (gTrayAdded) gNotifyIcon(NIM_DELETE, &gTrayData);
    gTrayData.hWnd = nullptr;
    gTrayAdded = false;
}

void SetTrayCallForTesting(TrayCall call) {
    gNotifyIcon = call ? call : Shell_NotifyIconW;
}

void RegisterGlobalHotkey() {
    if (!gMain) return;
    UnregisterHotKey(gMain, kHotkeyId);
    const HotkeyDef& hotkey = ChosenHotkey();
    if (hotkey.key && !RegisterHotKey(gMain, kHotkeyId, hotkey.modifiers | MOD_NOREPEAT, hotkey.key)) {
        const DWORD error = GetLastError();
        Log(L"hotkey %ls not registered, error %lu", hotkey.name, error);
        // A notice: the index's state, which soon fills the line, comes after it.
        SetStatusNotice(std::wstring(L"The hotkey ") + hotkey.name +
                        L" is already used by another program - pick another on the Settings tab");
    } else {
        SetStatusNotice(L"");
    }
    // The tip names the hotkey.
    if (gTrayData.hWnd) {
        RemoveTrayIcon();
        AddTrayIcon();
    }
}

void OnHotkey(int id) {
    if (id != kHotkeyId || !gMain) return;
    if (GetForegroundWindow() == gMain && IsWindowVisible(gMain)) {
        ShowWindow(gMain, gSettings.keepInTray ? SW_HIDE : SW_MINIMIZE);
    } else {
        BringToFront();
    }
}

void OnTrayMessage(LPARAM lParam) {
    switch (LOWORD(lParam)) {
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
            BringToFront();
            break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
            ShowTrayMenu();
            break;
        default:
            break;
    }
}

void ShowTrayBalloonOnce() {
    if (gBalloonShown) return;
    gBalloonShown = true;
    const HotkeyDef& hotkey = ChosenHotkey();
    const std::wstring text =
        std::wstring(L"It keeps your index live in the tray. ") +
        (hotkey.key ? std::wstring(L"Press ") + hotkey.name + L" to search" : L"Click the icon to search") +
        L", or right-click it > Exit to quit.";
    gTrayData.uFlags = NIF_INFO;
    gTrayData.dwInfoFlags = NIIF_NONE;
    wcsncpy(gTrayData.szInfoTitle, L"Orvane is still running", 63);
    gTrayData.szInfoTitle[63] = L'\0';
    wcsncpy(gTrayData.szInfo, text.c_str(), 255);
    gTrayData.szInfo[255] = L'\0';
    gNotifyIcon(NIM_MODIFY, &gTrayData);
    gTrayData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
}
