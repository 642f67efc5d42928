// One copy per desktop: a second start hands its request to the running copy's
// window (class "OrvaneMain") and ends. Also the elevated relaunch at start-up.
#pragma once

#include <windows.h>

#include <string>

#include "app/command_line.h"

// "/takeover": waits up to 15 s for a running copy's window to go.
void WaitForTakeover();
enum class HandOff { ThisIsTheCopy, Delivered, Lost };
// The exit code of a start whose request the running copy never took.
constexpr int kHandOffLostExitCode = 2;
// Makes this the one running copy (the named mutex, kept for the life of the
// process): ThisIsTheCopy. Or, while another copy holds it, waits up to 30 s
// for that copy's window and hands it line: Delivered, and this copy ends. When
// no window took it in time, tells the user in a box: Lost. Lets the running
// copy take the foreground, so it can come to the front.
HandOff HandOffToRunningCopy(const CommandLine& line);
// Tests: the 30 s wait for the running copy's window; 0 restores it.
void SetHandOffWaitForTesting(unsigned ms);
// Starts this program with the "runas" verb; false when that failed or the user refused.
bool StartElevated(const std::wstring& parameters, HWND owner, int show);
// Starts this program elevated with line's switches unless the process already
// is; true when the elevated copy was started (this one then ends).
bool RelaunchElevated(const CommandLine& line, int show);
