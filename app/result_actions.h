// What can be done with the selected results: open, show in folder, copy,
// delete, properties, the shell's context menu, drag and drop, and the results
// list's keys. UI thread only. Paths are read under the index lock held shared,
// which is let go before any shell call.
#pragma once

#include <windows.h>

#include <ole2.h>

#include <cstdint>
#include <string>
#include <vector>

// Full paths of the selected rows that still name live entries, in row order,
// at most max; none when the rows are of an older index epoch.
std::vector<std::wstring> GetSelectedPaths(size_t max);
void OpenSelected();
void OpenContainingFolder();
void CopySelectedPaths(bool namesOnly);
void CopySelectedFiles();
void DeleteSelected();
void ShowProperties();
// point: screen coordinates.
void ShowResultContextMenu(POINT point);
// Puts text on the clipboard as Unicode text; false when the clipboard could
// not be opened or the text not stored.
bool CopyTextToClipboard(const std::wstring& text);
// While the results' context menu is open, the shell's menu draws and measures
// its own items: true when it took the message (result set).
bool ForwardToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
// LVN_BEGINDRAG / LVN_BEGINRDRAG: drags the selected files (at most 5,000) out.
void DragSelectedResults(bool rightButton);
// The drag itself: the shell's data object of the paths, or where it makes
// none a CF_HDROP one of ours; our drop source, which drops when button
// (MK_LBUTTON or MK_RBUTTON) is let go. DoDragDrop's result; S_FALSE for no paths.
HRESULT DragPaths(const std::vector<std::wstring>& paths, DWORD button);
// The drag's pieces, each with one reference for the caller.
IDropSource* MakeDropSource(DWORD button);
IDataObject* MakeFileListData(const std::vector<std::wstring>& paths);
// The results list's own handling of a message (keys, typing, the header's
// right click, focus); false when the list should handle it as usual. The
// header's right click is answered here, where the header reports it, and only
// here: the column menu shows once.
bool HandleResultsListMessage(HWND list, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
