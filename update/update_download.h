// The update bar and the download of a new version: the file is fetched into
// the temporary folder on a thread of its own, then its size, SHA-256 and
// version resource are checked before anything changes.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "update/install.h"
#include "update/update_check.h"
#include "update/update_manifest.h"

// What a download hands to the main window (WM_APP_DOWNLOAD_DONE).
struct DownloadResult {
    std::wstring error;  // empty when the file passed every check
    std::wstring path;
    // Open while the verified file waits for its use: it shares reads only,
    // so the file checked is the file used. Closed by the receiver.
    HANDLE lock = INVALID_HANDLE_VALUE;
    ~DownloadResult() {
        if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    }
};

// Closes the lock and deletes the file: a download that will not be used.
void DropDownload(DownloadResult& download);

// The download of one known update as the thread runs it, without the posts:
// fetched into tempDir, checked, and on any failure or a cancel (also one set
// during the checks) deleted. progress gets each new percentage. Any thread.
std::unique_ptr<DownloadResult> DownloadAndVerify(const UpdateInfo& info, InstallMode mode, const std::wstring& tempDir,
                                                  HttpCancel& cancel, void (*progress)(int));

// One string of a file's version resource (U.S. English, Unicode); empty when missing.
std::wstring FileVersionString(const std::wstring& path, const wchar_t* key);

// SHA-256 of what handle reads from its start, as 64 lower-case hex digits;
// empty on any failure.
std::wstring Sha256OfFile(HANDLE file);

LRESULT CALLBACK UpdateBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Command 490: downloads and verifies the new version.
void StartUpdateDownload();
// Command 491: what is new in the known update.
void ShowUpdateNotes();
// Command 492: hides the bar, or cancels a running download.
void OnUpdateLater();
// WM_APP_DOWNLOAD_PROGRESS.
void OnDownloadProgress(int percent);
// WM_APP_DOWNLOAD_DONE: lParam is the DownloadResult, owned by the receiver.
// A Cancel handled before this drops even a download that passed its checks.
void OnDownloadDone(LPARAM lParam);
