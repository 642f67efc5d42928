// One copy per desktop: a second start hands its request to the running copy's
// window (class "OrvaneMain") and ends. Also the elevated relaunch at start-up.
#pragma once

#include <windows.h>

#include <string>

#include "app/command_line.h"

// "/takeover": waits up to 15 s for a running copy's window to go.
void WaitForTakeover();
// Makes this the one running copy (the named mutex, kept for the life of the
// process) and returns false; or, while another copy holds it, waits up to 30 s
// for that copy's window, hands it line and returns true: this copy then ends.
// Lets the running copy take the foreground, so it can come to the front.
bool HandOffToRunningCopy(const CommandLine& line);
// Starts this program with the "runas" verb; false when that failed or the user refused.
bool StartElevated(const std::wstring& parameters, HWND owner, int show);
// Starts this program elevated with line's switches unless the process already
// is; true when the elevated copy was started (this one then ends).
bool RelaunchElevated(const CommandLine& line, int show);
