// The Index Status window, the index summary in the status bar, adding a folder
// to the index and the Excluded folders dialog. UI thread only.
#pragma once

#include <windows.h>

// The open Index Status window, or null.
extern HWND gIndexStatusWindow;

// Command 119: brings the window to the front and refills it, or opens it.
void ShowIndexStatus();
// Refills the open window's list; nothing when it is closed.
void FillIndexStatusList();
// Rebuilds the overall index status line.
void UpdateIndexSummary();
// Asks for a folder and adds it to the indexed folders.
void AddIndexedFolder(HWND owner);
LRESULT CALLBACK IndexStatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Dialog procedure of the Excluded folders dialog (resource 201).
INT_PTR CALLBACK ExcludedFoldersDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
