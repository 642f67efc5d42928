// Starting programs. A process takes its creator's token, so what the user
// opens from an elevated copy (a document with macros, a script, a download,
// the browser for a help link) would run as administrator. An elevated copy
// therefore hands each start to the desktop shell's own process, through the
// shell window's IShellDispatch2::ShellExecute, and the program runs as the
// signed-in user; only without a desktop shell does it start it itself, and
// the activity log says so. UI thread only.
#pragma once

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

struct ShellStart {
    const wchar_t* verb = nullptr;  // null: the default verb
    std::wstring file;
    std::wstring parameters;
    std::wstring folder;  // the working folder; empty for none
    int show = SW_SHOWNORMAL;
};

enum class StartResult { Started, NoAssociation, Cancelled, Failed };

// Starts start as the signed-in user (see above). Shows nothing: where this
// process starts it, the shell's own error boxes are suppressed so the caller
// says once what went wrong (error: the Windows error code). On the desktop
// shell's route the shell reports its own failures; Started means it took the
// start.
StartResult StartForUser(const ShellStart& start, DWORD* error = nullptr);

// Opens path with its program as the signed-in user. Only a type with no
// program leads to the shell's Open With; any other failure adds "path: reason"
// to failures (a refused prompt adds nothing).
void OpenForUser(const std::wstring& path, std::vector<std::wstring>& failures);
// StartForUser, and one warning box naming name with the reason when it failed.
void StartOrTell(const ShellStart& start, const std::wstring& name);
// One warning box for everything OpenForUser could not open; none for none.
void ShowOpenFailures(const std::vector<std::wstring>& failures);

// From an elevated copy, a shell verb of the results' context menu that starts
// a program (open, edit, print, open with...) is started for each path the way
// OpenForUser does; true when it was. Other verbs (copy, delete, rename,
// properties, a shell extension's own) are left to the menu.
bool StartVerbForUser(IContextMenu* menu, UINT verbOffset, const std::vector<std::wstring>& paths);

// A start that this copy's end follows at once (the elevated restart, the new
// version after an update): the call returns only once the shell has finished
// the start (SEE_MASK_NOASYNC), which it may otherwise finish on a thread of
// this process after the process has gone. No error box of the shell's: the
// caller tells the user. False when it did not start; GetLastError tells why.
bool StartBeforeExit(const wchar_t* verb, const std::wstring& file, const std::wstring& parameters, HWND owner,
                     int show);

// The system's text for a Windows error code, as one line.
std::wstring SystemErrorText(DWORD error);

// Test seams. The desktop shell's route answers S_OK when the shell took the
// start, kNoDesktopShell when there is no shell to take it, or another error;
// the other route is ShellExecuteExW. Null puts the real one back.
constexpr HRESULT kNoDesktopShell = static_cast<HRESULT>(0x80070490);  // ERROR_NOT_FOUND as an HRESULT
using DesktopShellStart = HRESULT (*)(const ShellStart& start);
using ShellExecuteExCall = BOOL(WINAPI*)(SHELLEXECUTEINFOW* info);
void SetDesktopShellForTesting(DesktopShellStart start);
void SetShellExecuteForTesting(ShellExecuteExCall call);
