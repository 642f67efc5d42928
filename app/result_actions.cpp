// Still to come: every action on the selected results. Until the list shows
// rows nothing can be selected, so each action has nothing to act on.
#include "app/result_actions.h"

#include <commctrl.h>

void OpenSelected() {}

void OpenContainingFolder() {}

void CopySelectedPaths(bool namesOnly) {}

void CopySelectedFiles() {}

void DeleteSelected() {}

void ShowProperties() {}

void ShowResultContextMenu(POINT point) {}

void CopyTextToClipboard(const std::wstring& text) {}

bool ForwardToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return false;  // no context menu is open
}

LRESULT CALLBACK ResultsListSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data) {
    return DefSubclassProc(window, message, wParam, lParam);
}
