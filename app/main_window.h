// The main window (class "OrvaneMain"): its children, the routing of every
// message, timer and command, its layout and three routines all windows share.
// UI thread only; other threads reach it by posted messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

extern HWND gMain;
extern HWND gTooltip;  // shared by the main window's controls
extern HWND gStatusBar;
extern HWND gUpdateBar;
extern HWND gAdminBar;
extern HBRUSH gInfoBrush;  // background of both info bars
// When the next automatic update check is due (GetTickCount64).
extern uint64_t gUpdateDueTick;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs one command id; ids it does not know do nothing.
void OnCommand(int id);

// Places every child; nothing until the main window and the ribbon exist.
void LayoutMainWindow();
// Two blanks and text in the status bar's last part.
void SetStatusText(const std::wstring& text);
// Sets the status bar's parts for the shown error text; without resized, only
// when that text's width changed. UI thread.
void LayoutStatusParts(bool resized);
// Shows (restores when minimised) the main window in front with the search text selected.
void BringToFront();
// Gives control its tooltip in the shared tooltip window.
void AddControlTooltip(HWND control, const wchar_t* text);
// Shows a popup menu at the cursor, owned by the main window; the chosen command
// id, 0 when dismissed.
int TrackMenuAtCursor(HMENU menu);

// Message handlers of main_events.cpp.
void OnMainTimer(UINT_PTR id);
void OnIndexChanged();
void OnVolumesChanged();
void OnIndexLoaded();
void OnExitMessage();
void OnDeviceChange(WPARAM event);
void OnEndSession(bool ending);
