// The process: start-up, the single-instance hand-off, the message loop and the
// tear-down, in their order. The top of the application: nothing includes it
// but tests and tools. UI thread only.
#pragma once

#include <windows.h>

#include "app/engine_host.h"
#include "app/shutdown.h"
#include "app/window_kit.h"

// Written once by start-up.
extern HICON gAppIcon;

// The process exit code; the steps of start-up, the loop and the tear-down.
int RunOrvane(HINSTANCE instance, int show);

// The window classes; start-up calls it once (tests too).
void RegisterWindowClasses();
// The main window with its saved placement applied; null when it cannot be made.
HWND CreateMainWindow(int show);

// ChangeWindowMessageFilterEx, which CreateMainWindow asks to let messages
// through from processes of lower integrity. Wine enforces no integrity
// levels, so a test puts its own recorder here before the window is made.
using MessageFilterCall = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
void SetMessageFilterForTesting(MessageFilterCall call);
