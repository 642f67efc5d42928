// The ground floor of the application: what every window and feature shares.
// The instance and the command line, the dpi and the fonts, the main window
// and the handles of its standing children, their layout, the status bar's
// text and the shared tooltip and menu helpers. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "app/command_line.h"
#include "ov_version.h"

// The program's own version, from the build.
constexpr const wchar_t* kVersionText = OV_VERSION_WIDE;

// Written once by start-up.
extern HINSTANCE gInstance;
extern CommandLine gArgs;
extern int gDpi;  // LOGPIXELSY of the screen, read once
extern HFONT gFontUi;
extern HFONT gFontEmphasis;
extern HFONT gFontSearch;
extern HFONT gFontList;
extern HFONT gFontListBold;
extern UINT gTaskbarCreatedMessage;

// The main window and its standing children; each written only by the file
// that creates it: gMain and gTooltip main_window.cpp, gRibbon ribbon.cpp,
// gUpdateBar and gAdminBar info_bars.cpp, gSearchBox and gFilterList
// search_box.cpp, gResultsList results_list.cpp, gStatusBar main_window.cpp.
extern HWND gMain;
extern HWND gTooltip;  // shared by the main window's controls
extern HWND gRibbon;
extern HWND gUpdateBar;
extern HWND gAdminBar;
extern HWND gSearchBox;
extern HWND gFilterList;
extern HWND gResultsList;
extern HWND gStatusBar;

// A design size at 96 dpi in pixels of this screen.
int Dip(int value);
// The five fonts at gDpi; start-up calls it once (tests too).
void CreateAppFonts();

// Places every child; nothing until the main window and the ribbon exist.
// An info bar takes its room when it is meant to show (its own WS_VISIBLE),
// also while the main window is hidden.
void LayoutMainWindow();
// An info bar is meant to show: its own style, not IsWindowVisible, which is
// false for every child of a hidden main window.
bool InfoBarShown(HWND bar);
// Sets the status bar's parts, the third as wide as error (the shown search's
// error text, empty when there is none); without resized, only when that
// width changed.
void LayoutStatusParts(bool resized, const std::wstring& error);
// The status bar's last part (two blanks before each text). A message
// replaces what the part shows, a standing notice too.
void SetStatusText(const std::wstring& text);
// A notice the user must not miss (the hotkey is taken): it stays in front of
// the index's state until the next message; empty takes it away.
void SetStatusNotice(const std::wstring& text);
// The index's state, shown behind a standing notice.
void SetStatusState(const std::wstring& text);
// Shows (restores when minimised) the main window in front with the search
// text selected, laid out again when it was hidden.
void BringToFront();
// Ctrl is held for a shortcut: without Alt, since AltGr holds Ctrl and Alt and
// types a character.
bool CtrlShortcutHeld();
// The main window's frame on the screen; its normal one while it is minimised.
RECT MainWindowFrame();
// A window of width x height at (left, top), moved (and shrunk when it must)
// into the work area of the main window's monitor.
RECT InsideWorkArea(int left, int top, int width, int height);
// Gives control its tooltip in the shared tooltip window. With relayed the
// tooltip leaves control's messages alone: control's procedure passes its
// mouse messages on with RelayToTooltip.
void AddControlTooltip(HWND control, const wchar_t* text, bool relayed = false);
// Shows the shared tooltip the mouse messages of a control whose tooltip is relayed.
void RelayToTooltip(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
// Puts proc in front of window's procedure; returns the one it replaced, to
// which proc passes messages on with CallWindowProcW (null on failure).
// Cheaper than SetWindowSubclass under Wine, where every message to a window
// subclassed that way first asks the server for the window's subclass chain.
WNDPROC PutWindowProc(HWND window, WNDPROC proc);
// Shows a popup menu at the cursor, owned by the main window; the chosen command
// id, 0 when dismissed.
int TrackMenuAtCursor(HMENU menu);
// Redraws the ribbon, whose buttons show settings, the sort and the selection.
void RefreshRibbon();
// Runs a command of the main window (commands.h), as a button or menu would.
void RunCommand(int id);

ATOM RegisterWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background, HICON icon);
std::wstring GetExePath();
// GetExePath up to, not including, its last backslash (all of it without one).
std::wstring GetExeDir();
