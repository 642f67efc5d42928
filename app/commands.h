// The main window's command dispatch: ribbon buttons, accelerators, menus, the
// tray menu, the info bars and the Settings tab all end here. Features below
// the main window never call it: they send WM_COMMAND (RunCommand). UI thread only.
#pragma once

#include <windows.h>

#include "app/command_ids.h"

// Runs one command id; ids it does not know do nothing.
void OnCommand(int id);
// WM_COMMAND from a Settings-tab control (ids 400-412): control is the window
// that sent it (lParam). Stores the change and applies it.
void OnSettingsCommand(int id, int code, HWND control);
