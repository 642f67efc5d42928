// The install step: a verified download put to use, then the new version
// started with the same search while this copy closes. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "update/update_download.h"

// Runs the install step for a download that passed its checks: the installer
// for an installed copy, the self-replacement for a portable one. Either ends
// the program (the main window is destroyed) or leaves it running unchanged
// with the download deleted and one warning shown.
void RunInstallStep(DownloadResult& download);

// True while an installer runs: no second download or install step starts.
bool InstallStepRunning();

// How long the program waits for the installer, from the start of the wait.
// 120 s; the update test program reads OV_TEST_INSTALLER_WAIT_MS instead.
DWORD InstallerWaitLimitMs();

enum class InstallerWait { Ended, TimedOut, Quit, Failed };
// Waits for process while this thread's messages are dispatched. The limit
// counts from the call: messages and timers never move it. A WM_QUIT met on
// the way is posted again for the outer loop, and the wait ends with Quit.
InstallerWait WaitForInstaller(HANDLE process, DWORD limitMs);

// Deletes the old copy a self-replacement left at exe + ".old", read-only or
// not; true when none is left. Something not a file there is left alone.
bool DeleteOldProgramFile(const std::wstring& exe);

// The portable self-replacement: exe goes to exe + ".old" and the verified
// download (moved through its lock, so the file checked is the file used)
// takes its place. Empty on success, else the text to show the user; on a
// failure the download is deleted and the old file is moved back to exe, and
// if that too fails the text names where the old file is. putBack is
// MoveFileExW outside tests.
std::wstring ReplaceProgramFile(const std::wstring& exe, DownloadResult& download,
                                BOOL(WINAPI* putBack)(LPCWSTR, LPCWSTR, DWORD) = MoveFileExW);
