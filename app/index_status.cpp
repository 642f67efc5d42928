// Still to come: the Index Status window, the summary line, adding folders and
// the Excluded folders dialog, which closes at once until it can store a list.
#include "app/index_status.h"

HWND gIndexStatusWindow = nullptr;

void ShowIndexStatus() {}

void FillIndexStatusList() {}

void UpdateIndexSummary() {}

void AddIndexedFolder(HWND owner) {}

LRESULT CALLBACK IndexStatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK ExcludedFoldersDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) EndDialog(dialog, IDCANCEL);
    return FALSE;
}
