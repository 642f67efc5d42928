// Built so far: the icon, its tip and menu, so a hidden window can always be
// brought back or the program ended. Still to come: the hotkey and the balloon.
#include "app/tray.h"

#include <shellapi.h>

#include <string>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"

const HotkeyDef kHotkeys[kHotkeyCount] = {
    {L"None", 0, 0},
    {L"Ctrl+Alt+F", MOD_CONTROL | MOD_ALT, 'F'},
    {L"Ctrl+Shift+F", MOD_CONTROL | MOD_SHIFT, 'F'},
    {L"Win+Shift+F", MOD_WIN | MOD_SHIFT, 'F'},
    {L"Ctrl+Alt+Space", MOD_CONTROL | MOD_ALT, VK_SPACE},
    {L"Ctrl+`", MOD_CONTROL, VK_OEM_3},
};

namespace {

NOTIFYICONDATAW gTrayData = {};  // hWnd set: the icon was added

void ShowTrayMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, kCmdShowWindow, L"&Search with Orvane");
    AppendMenuW(menu, MF_STRING, kCmdIndexStatus, L"Index &status");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kCmdExit, L"E&xit Orvane");
    SetMenuDefaultItem(menu, kCmdShowWindow, FALSE);
    POINT point;
    GetCursorPos(&point);
    SetForegroundWindow(gMain);
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, gMain, nullptr);
    DestroyMenu(menu);
    if (chosen == kCmdIndexStatus) BringToFront();
    if (chosen != 0) OnCommand(chosen);
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
    gTrayData.hIcon = static_cast<HICON>(LoadImageW(gInstance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    const uint32_t row = gSettings.hotkey < kHotkeyCount ? gSettings.hotkey : 0;
    const std::wstring tip =
        std::wstring(L"Orvane — ") +
        (row > 0 ? std::wstring(L"press ") + kHotkeys[row].name + L" to search" : L"click to search");
    wcsncpy(gTrayData.szTip, tip.c_str(), 127);
    gTrayData.szTip[127] = L'\0';
    Shell_NotifyIconW(NIM_ADD, &gTrayData);
}

void RemoveTrayIcon() {
    if (!gTrayData.hWnd) return;
    Shell_NotifyIconW(NIM_DELETE, &gTrayData);
    gTrayData.hWnd = nullptr;
}

void RegisterGlobalHotkey() {}

void OnHotkey(int id) {}

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

void ShowTrayBalloonOnce() {}
