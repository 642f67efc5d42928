// One copy per desktop: a second start hands its request to the running copy's
// window (class "OrvaneMain") and ends. Also the elevated relaunch at start-up.
#pragma once

#include <windows.h>

#include <string>

#include "app/command_line.h"

// "/takeover": waits up to 15 s for a running copy's window to go.
void WaitForTakeover();
// Hands line to a running copy; false when there is none. Lets the running copy
// take the foreground before the hand-off, so it can come to the front.
bool HandOffToRunningCopy(const CommandLine& line);
// The named mutex, kept for the life of the process.
void CreateInstanceMutex();
// Starts this program with the "runas" verb; false when that failed or the user refused.
bool StartElevated(const std::wstring& parameters, HWND owner, int show);
// Starts this program elevated with line's switches unless the process already
// is; true when the elevated copy was started (this one then ends).
bool RelaunchElevated(const CommandLine& line, int show);
