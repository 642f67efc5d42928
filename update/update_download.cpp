// Still to come: the download, the bar's painting and the install step. The bar
// stays hidden because no check finds an update yet.
#include "update/update_download.h"

#include <cstdlib>

LRESULT CALLBACK UpdateBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) return SendMessageW(GetParent(window), message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

void StartUpdateDownload() {}

void ShowUpdateNotes() {}

void OnUpdateLater() {}

void OnDownloadProgress(int percent) {}

void OnDownloadDone(LPARAM lParam) {
    free(reinterpret_cast<void*>(lParam));  // the error text belongs to the receiver
}
