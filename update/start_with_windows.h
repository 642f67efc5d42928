// The start-with-Windows entry: a Run value, or a scheduled task to start elevated.
#pragma once

#include <windows.h>

#include <string>

// Brings the entry in line with "StartWithWindows" and "RunAsAdmin". UI
// thread; may block up to 20 s while the task is deleted or created.
void ApplyStartWithWindows();

// The same for the given settings and elevation, with run starting the task
// tool (RunHidden outside tests, where the tool is real).
void ApplyStartWithWindows(bool startWithWindows, bool runAsAdmin, bool elevated,
                           DWORD (*run)(const std::wstring& commandLine));

// Runs commandLine without a window and returns its exit code: 0xFFFFFFFF when
// it could not start, 259 (STILL_ACTIVE) when it ran past 20 s.
DWORD RunHidden(const std::wstring& commandLine);

// The task tool by its full path in the system folder, quoted, so a copy
// planted beside the program is never what runs elevated.
std::wstring TaskToolCommand();
