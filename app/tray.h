// The notification-area icon with its menu and the system-wide hotkey. UI thread only.
#pragma once

#include <windows.h>

#include <shellapi.h>

struct HotkeyDef {
    const wchar_t* name;
    UINT modifiers;
    UINT key;
};
constexpr int kHotkeyCount = 6;
// Row 0 is "None"; the row number is the "Hotkey" setting.
extern const HotkeyDef kHotkeys[kHotkeyCount];

// Adds the icon (NIM_ADD) with its tip; again after Explorer restarts. When
// the notification area refuses it, timer kTimerTrayIcon tries again.
void AddTrayIcon();
// kTimerTrayIcon: tries once more; the timer ends once the icon is there.
void RetryTrayIcon();
// The icon last given to the tray.
HICON TrayIconForTesting();
// Deletes the icon when it was added; no more tries.
void RemoveTrayIcon();
// (Re)registers hotkey 1 from the "Hotkey" setting and refreshes the tip; a
// combination another program holds is a standing notice in the status line
// (SetStatusNotice) and a line in the log.
void RegisterGlobalHotkey();
// WM_HOTKEY: hides (tray) or minimises the window in front, else brings it to the front.
void OnHotkey(int id);
// WM_APP_TRAY: lParam holds the mouse message.
void OnTrayMessage(LPARAM lParam);
// After WM_CLOSE hid the window: the balloon, the first time in the process.
void ShowTrayBalloonOnce();

// Test seam: Shell_NotifyIconW; null puts it back.
using TrayCall = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);
void SetTrayCallForTesting(TrayCall call);
