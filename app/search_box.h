// From what the user types to what the list shows: the search box, the sort,
// ready-made searches, taking a search result into the list and the status
// bar's result parts. UI thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "index/entry.h"
#include "index/search_worker.h"

// The search box's whole text.
std::wstring GetSearchText();
// Hands the search box's text with the current switches, filter, sort and
// thread setting to the search worker.
void RequestSearch(bool keepSelection);
// key: an ov::SortKey, negative does nothing; direction 0 ascending, 1 descending, -1 toggle.
void SetSort(int key, int direction);
// A ready-made search: text into the box, filter back to "Everything", the sort.
void RunPresetSearch(const wchar_t* text, ov::SortKey key, int direction);
// Enter opens (Ctrl+Enter: the folder), Esc clears then hides, Down and Page
// Down enter the list, Ctrl+A selects the text.
LRESULT CALLBACK SearchBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR data);
// WM_APP_RESULTS: takes the worker's result into the list; a stale one is dropped.
void ApplyResults(std::unique_ptr<ov::SearchResult> result);
// Status-bar parts 0-2: entries, results and selection, search time or the query's error.
void UpdateStatusBar();
