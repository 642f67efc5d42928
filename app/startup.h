// The process: start-up, the single-instance hand-off, the message loop and the
// tear-down, with the process-wide state they create. All of it belongs to the
// user-interface thread unless a line says otherwise.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "index/search_worker.h"

namespace ov {
class Engine;
}

constexpr const wchar_t* kVersionText = L"1.0.1";

extern HINSTANCE gInstance;
extern CommandLine gArgs;
extern int gDpi;  // LOGPIXELSY of the screen, read once
extern HFONT gFontUi;
extern HFONT gFontEmphasis;
extern HFONT gFontSearch;
extern HFONT gFontList;
extern HFONT gFontListBold;
extern HICON gAppIcon;
extern UINT gTaskbarCreatedMessage;

// The one engine; null until start-up made it and after tear-down.
extern std::unique_ptr<ov::Engine> gEngine;
// The search worker's request block (the worker runs from start-up to SaveBeforeExit).
extern ov::SearchRequest gSearch;
extern std::thread gIndexLoadThread;
extern std::thread gSaveThread;
// WM_APP_INDEX_LOADED arrived: the saved index was loaded and the volumes enumerated.
extern bool gIndexLoaded;
// SaveBeforeExit ran: the engine and the search worker are stopped and nothing
// may start them again (log-off keeps the window until Windows ends the process).
extern bool gEnding;

// A design size at 96 dpi in pixels of this screen.
int Dip(int value);

// The process exit code; the steps of start-up, the loop and the tear-down.
int RunOrvane(HINSTANCE instance, int show);

// The font set and the window classes; start-up calls them once (tests too).
void CreateAppFonts();
void RegisterWindowClasses();
// The main window with its saved placement applied; null when it cannot be made.
HWND CreateMainWindow(int show);

// Everything that must happen before the main window is destroyed to end the
// program: columns and placement stored, the index saved, workers stopped.
void SaveBeforeExit();
// Relaunches the program elevated with the current search and closes this copy.
void RestartAsAdmin();

ATOM RegisterWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background, HICON icon);
std::wstring GetExePath();
// GetExePath up to, not including, its last backslash (all of it without one).
std::wstring GetExeDir();
