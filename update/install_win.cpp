// Install-mode detection and the install step. The verified download stays
// locked against writes until it is used: the installer is started while the
// lock is held, and the portable copy's new file is moved through the lock
// itself, so nothing can swap it between its checks and its use.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstddef>
#include <vector>

#include "app/activity_log.h"
#include "app/command_line.h"
#include "app/engine_host.h"
#include "app/search_box.h"
#include "app/shell_start.h"
#include "app/shutdown.h"
#include "app/window_kit.h"
#include "update/install.h"
#include "update/install_step.h"

InstallMode gInstallMode = kPortable;

namespace {

constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane";
constexpr const wchar_t* kPolicyKey = L"Software\\Keltrax\\Orvane\\Policy";

bool gInstalling = false;  // UI thread only
bool gRelaunched = false;  // UI thread only: the new version is started at most once

std::wstring ReadInstallLocation(HKEY root) {
    HKEY key;
    if (RegOpenKeyExW(root, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return L"";
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    DWORD bytes = 2046;
    const LSTATUS status =
        RegQueryValueExW(key, L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return L"";
    buffer[bytes / sizeof(wchar_t)] = 0;
    return buffer;
}

DWORD ReadPolicyDisableUpdates(HKEY root) {
    HKEY key;
    if (RegOpenKeyExW(root, kPolicyKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return 0;
    DWORD value = 0, type = 0, bytes = sizeof value;
    const LSTATUS status =
        RegQueryValueExW(key, L"DisableUpdates", nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && bytes == sizeof value ? value : 0;
}

void UpdateBox(const std::wstring& text, UINT icon) {
    MessageBoxW(gMain, text.c_str(), L"Orvane update", MB_OK | icon);
}

std::wstring OwnPath() {
    wchar_t exe[520] = {};
    GetModuleFileNameW(nullptr, exe, 520);
    return exe;
}

// Saves, starts exe as the new version with this search, and closes this copy.
// False when the start failed (the window is destroyed either way).
bool RelaunchAndClose(const std::wstring& exe) {
    if (gRelaunched) return true;
    gRelaunched = true;
    const std::wstring parameters = UpdatedRelaunchParameters(kVersionText, GetSearchText());
    SaveBeforeExit();
    Log(L"update: starting %ls %ls", exe.c_str(), parameters.c_str());
    const bool ok = StartBeforeExit(L"open", exe, parameters, nullptr, SW_SHOWNORMAL);
    if (!ok) UpdateBox(L"Orvane was updated. Please start it again.", MB_ICONINFORMATION);
    DestroyWindow(gMain);
    return ok;
}

// The new file's bytes, read through the lock, written to a new file at exe:
// the move for a download on another volume.
bool CopyThroughLock(HANDLE lock, const std::wstring& exe) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(lock, start, nullptr, FILE_BEGIN)) return false;
    HANDLE out = CreateFileW(exe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    std::vector<BYTE> block(65536);
    bool ok = true;
    for (;;) {
        DWORD read = 0, written = 0;
        if (!ReadFile(lock, block.data(), static_cast<DWORD>(block.size()), &read, nullptr)) {
            ok = false;
            break;
        }
        if (read == 0) break;
        if (!WriteFile(out, block.data(), read, &written, nullptr) || written != read) {
            ok = false;
            break;
        }
    }
    ok = FlushFileBuffers(out) && ok;
    CloseHandle(out);
    if (!ok) DeleteFileW(exe.c_str());
    return ok;
}

// Moves the locked download to exe through its own handle.
bool PutInPlace(DownloadResult& download, const std::wstring& exe) {
    if (download.lock == INVALID_HANDLE_VALUE) return false;
    const size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + (exe.size() + 1) * sizeof(wchar_t);
    std::vector<BYTE> buffer(bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(exe.size() * sizeof(wchar_t));
    memcpy(rename->FileName, exe.c_str(), (exe.size() + 1) * sizeof(wchar_t));
    if (SetFileInformationByHandle(download.lock, FileRenameInfo, rename, static_cast<DWORD>(bytes))) {
        CloseHandle(download.lock);
        download.lock = INVALID_HANDLE_VALUE;
        return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_NOT_SAME_DEVICE) {
        Log(L"update: couldn't move the new version to %ls (error %lu)", exe.c_str(), error);
        return false;
    }
    if (!CopyThroughLock(download.lock, exe)) {
        Log(L"update: couldn't copy the new version to %ls (error %lu)", exe.c_str(), GetLastError());
        return false;
    }
    DropDownload(download);
    return true;
}

void RunInstaller(DownloadResult& download) {
    const std::wstring arguments = std::wstring(L"/S /UPDATE ") +
                                   (gInstallMode == kInstalledForEveryone ? L"/ALLUSERS" : L"/CURRENTUSER") + L" /D=" +
                                   GetExeDir();
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    run.hwnd = gMain;
    run.lpVerb = gInstallMode == kInstalledForEveryone && !EngineElevated() ? L"runas" : L"open";
    run.lpFile = download.path.c_str();
    run.lpParameters = arguments.c_str();
    run.nShow = SW_SHOWNORMAL;
    Log(L"update: running installer %ls %ls", download.path.c_str(), arguments.c_str());
    const BOOL started = ShellExecuteExW(&run);
    const DWORD error = started ? ERROR_SUCCESS : GetLastError();
    // The installer has its own file open now; the lock has done its work.
    CloseHandle(download.lock);
    download.lock = INVALID_HANDLE_VALUE;
    if (!started || !run.hProcess) {
        DeleteFileW(download.path.c_str());
        UpdateBox(error == ERROR_CANCELLED
                      ? L"Orvane is installed for everyone on this PC, so updating it needs an administrator's "
                        L"permission, and that wasn't given. Nothing was changed."
                      : L"The update downloaded fine, but its installer couldn't be started. Nothing was changed. "
                        L"Please try again.",
                  MB_ICONWARNING);
        return;
    }
    HWND main = gMain;
    SetStatusText(L"Installing the update\u2026");
    EnableWindow(main, FALSE);
    gInstalling = true;
    const InstallerWait waited = WaitForInstaller(run.hProcess, InstallerWaitLimitMs());
    gInstalling = false;
    DWORD code = 1;
    if (!GetExitCodeProcess(run.hProcess, &code)) code = 1;
    CloseHandle(run.hProcess);
    // An exit asked for during the wait (the installer closing this copy, Exit
    // from the tray) has destroyed the window: the program is ending.
    const bool ending = waited == InstallerWait::Quit || !IsWindow(main) || main != gMain;
    if (!ending) {
        EnableWindow(main, TRUE);
        SetStatusText(L"");  // a failure's box follows; the install is over either way
    }
    DeleteFileW(download.path.c_str());
    Log(L"update: installer finished with code %lu", code);
    if (ending) return;
    if (code == 0) {
        RelaunchAndClose(OwnPath());
        return;
    }
    UpdateBox(
        FormatString(L"The installer couldn't finish the update (code %lu). Orvane was not changed.\n\nPlease try "
                     L"again, or download Orvane-Setup.exe from the download page (Help tab).",
                     code),
        MB_ICONWARNING);
}

}  // namespace

bool DetectInstallMode() {
    gInstallMode =
        DecideInstallMode(GetExeDir(), ReadInstallLocation(HKEY_LOCAL_MACHINE), ReadInstallLocation(HKEY_CURRENT_USER));
    if (gInstallMode == kPortable) return false;
    return ReadPolicyDisableUpdates(gInstallMode == kInstalledForEveryone ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER) !=
           0;
}

bool InstallStepRunning() {
    return gInstalling;
}

InstallerWait WaitForInstaller(HANDLE process, DWORD limitMs) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return InstallerWait::TimedOut;
        const DWORD result =
            MsgWaitForMultipleObjects(1, &process, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) return InstallerWait::Ended;
        if (result == WAIT_TIMEOUT) return InstallerWait::TimedOut;
        if (result != WAIT_OBJECT_0 + 1) return InstallerWait::Failed;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return InstallerWait::Quit;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

bool DeleteOldProgramFile(const std::wstring& exe) {
    const std::wstring old = exe + L".old";
    // A program file that was read-only leaves a read-only old copy, which
    // neither a delete nor the next swap's move could replace.
    const DWORD attributes = GetFileAttributesW(old.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(old.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(old.c_str()) != FALSE;
}

std::wstring ReplaceProgramFile(const std::wstring& exe, DownloadResult& download,
                                BOOL(WINAPI* putBack)(LPCWSTR, LPCWSTR, DWORD)) {
    const std::wstring old = exe + L".old";
    DeleteOldProgramFile(exe);
    if (!MoveFileExW(exe.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        Log(L"update: couldn't move %ls aside (error %lu)", exe.c_str(), GetLastError());
        DropDownload(download);
        return FormatString(
            L"Orvane can't replace itself in this folder:\n%ls\n\nMove Orvane.exe to a folder you can "
            L"write to (such as C:\\Tools or your Desktop), run it from there and click Update now "
            L"again - or download the new version from the download page (Help tab).",
            exe.c_str());
    }
    if (PutInPlace(download, exe)) return L"";
    DropDownload(download);
    if (!putBack(old.c_str(), exe.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        // No program file is left at exe: the user must know where the old one is.
        Log(L"update: couldn't move %ls back to %ls (error %lu)", old.c_str(), exe.c_str(), GetLastError());
        return FormatString(
            L"The new version downloaded fine, but couldn't be put in place, and the old version "
            L"couldn't be put back either. It is kept as:\n%ls\n\nRename it to %ls to use it again.",
            old.c_str(), exe.substr(exe.find_last_of(L'\\') + 1).c_str());
    }
    return L"The new version downloaded fine, but couldn't be put in place. Nothing was changed. Please try again.";
}

void RunInstallStep(DownloadResult& download) {
    if (gInstalling || gRelaunched) {
        DropDownload(download);
        return;
    }
    if (gInstallMode != kPortable) {
        RunInstaller(download);
        return;
    }
    const std::wstring exe = OwnPath();
    const std::wstring problem = ReplaceProgramFile(exe, download);
    if (!problem.empty()) {
        UpdateBox(problem, MB_ICONWARNING);
        return;
    }
    RelaunchAndClose(exe);
}
