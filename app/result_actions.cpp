// Still to come: every action on the selected results. Until the list shows
// rows nothing can be selected, so each action has nothing to act on.
#include "app/result_actions.h"

#include <commctrl.h>

#include "app/results_list.h"

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
