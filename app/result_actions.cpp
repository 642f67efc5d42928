// Still to come: every action on the selected results. Until the list shows
// rows nothing can be selected, so each action has nothing to act on.
#include "app/result_actions.h"

#include <commctrl.h>

#include <cstring>

#include "app/results_list.h"
#include "app/window_kit.h"

void OpenSelected() {}

void OpenContainingFolder() {}

void CopySelectedPaths(bool namesOnly) {}

void CopySelectedFiles() {}

void DeleteSelected() {}

void ShowProperties() {}

void ShowResultContextMenu(POINT point) {}

bool CopyTextToClipboard(const std::wstring& text) {
    if (!OpenClipboard(gMain)) return false;
    EmptyClipboard();
    bool stored = false;
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* data = GlobalLock(block)) {
            memcpy(data, text.c_str(), bytes);
            GlobalUnlock(block);
            stored = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        }
        if (!stored) GlobalFree(block);  // the clipboard owns it only once set
    }
    CloseClipboard();
    return stored;
}

bool ForwardToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return false;  // no context menu is open
}

LRESULT CALLBACK ResultsListSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data) {
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        // Answered, not passed on: the list would forward it to the main window too.
        if (header->hwndFrom == ListView_GetHeader(window) && header->code == NM_RCLICK) {
            ShowColumnMenu();
            return TRUE;
        }
    }
    return DefSubclassProc(window, message, wParam, lParam);
}
