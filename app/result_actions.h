// What can be done with the selected results: open, show in folder, copy,
// delete, properties, the shell's context menu, drag and drop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

void OpenSelected();
void OpenContainingFolder();
void CopySelectedPaths(bool namesOnly);
void CopySelectedFiles();
void DeleteSelected();
void ShowProperties();
// point: screen coordinates.
void ShowResultContextMenu(POINT point);
// Puts text on the clipboard as Unicode text.
void CopyTextToClipboard(const std::wstring& text);
// While the results' context menu is open, the shell's menu draws and measures
// its own items: true when it took the message (result set).
bool ForwardToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
