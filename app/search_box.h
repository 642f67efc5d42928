// From what the user types to a request to the search worker: the search box,
// the filter list, the sort and ready-made searches. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "index/entry.h"

// The search box and the filter list, children of the main window, made in
// this order before the results list (their tab order).
void CreateSearchBox();
void CreateFilterList();
// The search box's whole text.
std::wstring GetSearchText();
// Hands the search box's text with the current switches, filter, sort and
// thread setting to the search worker.
void RequestSearch(bool keepSelection);
// key: an ov::SortKey, negative does nothing; direction 0 ascending, 1 descending, -1 toggle.
void SetSort(int key, int direction);
// A ready-made search: text into the box, filter back to "Everything", the sort.
void RunPresetSearch(const wchar_t* text, ov::SortKey key, int direction);
// CBN_SELCHANGE of the filter list: stores the filter and searches.
void OnFilterListChanged();
// The search box's procedure, in front of the edit control's: Enter opens
// (Ctrl+Enter: the folder), Esc clears then hides, Down and Page Down enter
// the list, Ctrl+A selects the text; the mouse goes to its tooltip too.
LRESULT CALLBACK SearchBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
