// The results list: a virtual report list that shows ShownResults. It never
// holds row data: each cell, tip and painted row is fetched from the index
// when the list asks for it. Its columns are chosen by the user (the header's
// menu) and stored with their widths. A search result is taken into it by
// ApplyResults, which keeps what the user looked at across a refresh; the
// status bar's first three parts describe it. UI thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/engine_host.h"
#include "app/result_text.h"
#include "app/row_icon_cache.h"
#include "app/window_kit.h"
#include "index/search_worker.h"

// The result set the list shows.
struct ShownResults {
    std::vector<uint32_t> ids;  // row r shows entry ids[r]
    uint64_t sequence = 0;      // of the last applied request
    uint64_t epoch = 0;         // the ids are valid at this index epoch only
    uint64_t changes = 0;
    double ms = 0;
    int threads = 0;
    std::string error;                    // the query's error text, or why the search failed; UTF-8
    std::vector<std::string> words;       // highlight words, UTF-8
    std::vector<std::wstring> wideWords;  // the same as UTF-16
};

// Written only by ApplyResults.
extern ShownResults gShown;
// List column i shows kColumns[gColumnMap[i]] (table order; dragging columns
// changes only the display order). Written only here.
extern std::vector<int> gColumnMap;

// The results list, a child of the main window, with the stored column
// choices; starts the icon loader.
void CreateResultsList();
// Removes every list column and inserts the shown ones, then the sort arrows.
void BuildColumns();
// Stores the column widths and the shown columns.
void SaveColumns();
// The header's right-click menu of columns.
void ShowColumnMenu();
// The header's sort arrows from the current sort.
void UpdateSortArrows();
// The ov::SortKey of list column sub (display index), -1 when it does not sort.
int SortKeyOfColumn(int sub);

// WM_APP_RESULTS: takes the worker's result into the list; a stale one is dropped.
void ApplyResults(std::unique_ptr<ov::SearchResult> result);
// The list's item changes are ApplyResults' own (restoring a selection), not the user's.
bool ListChangesAreQuiet();
// Status-bar parts 0-2: entries, results and selection, search time or the query's error.
void UpdateStatusBar();
// The entry ids of the selected rows, in row order.
std::vector<uint32_t> GetSelectedEntries();

// One row of ShownResults, read under the index lock held shared.
ov::ResultRow GetResultRow(int row);
// The text of column (a kColumns row) for a row.
std::wstring GetCellText(const ov::ResultRow& row, int column);
// "File folder", or the shell's name of the extension's type (cached per extension).
std::wstring GetTypeName(bool isFolder, const std::wstring& extension);
// What the results list does beyond the list view itself (keys, typing, the
// header's right click), set by the window that owns the actions before the
// list is made; true when it answered the message (result set).
using ResultsListHandler = bool (*)(HWND list, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
extern ResultsListHandler gResultsListHandler;
// The results list's procedure, in front of the list control's: the handler
// first, then the list control.
LRESULT CALLBACK ResultsListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_NOTIFY from the results list that the list answers itself (cell texts,
// tips, typing); the notification's result.
LRESULT OnListNotify(const NMHDR* header);
