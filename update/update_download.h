// The update bar and the download of a new version.
#pragma once

#include <windows.h>

LRESULT CALLBACK UpdateBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Command 490: downloads and verifies the new version.
void StartUpdateDownload();
// Command 491: what is new in the known update.
void ShowUpdateNotes();
// Command 492: hides the bar, or cancels a running download.
void OnUpdateLater();
// WM_APP_DOWNLOAD_PROGRESS.
void OnDownloadProgress(int percent);
// WM_APP_DOWNLOAD_DONE: lParam is a malloc'ed error text, or null on success.
void OnDownloadDone(LPARAM lParam);
