// The results list: a virtual report list that shows ShownResults, with the
// search box and the filter list made beside it. It never holds row data: each
// cell, tip and painted row is fetched from the index when the list asks for
// it. Its columns are chosen by the user (the header's menu) and stored with
// their widths. UI thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/result_text.h"

// The result set the list shows; written only by ApplyResults.
struct ShownResults {
    std::vector<uint32_t> ids;  // row r shows entry ids[r]
    uint64_t sequence = 0;      // of the last applied request
    uint64_t epoch = 0;         // the ids are valid at this index epoch only
    uint64_t changes = 0;
    double ms = 0;
    int threads = 0;
    std::string error;                    // the query's error text, UTF-8
    std::vector<std::string> words;       // highlight words, UTF-8
    std::vector<std::wstring> wideWords;  // the same as UTF-16
};

namespace ov {
// One row's details as the index holds them. A row that is not valid (out of
// range, its entry gone, or its ids from an older epoch) is shown blank.
struct ResultRow {
    std::wstring name;
    std::wstring folder;
    std::wstring fullPath;
    std::wstring extension;  // lower case; empty for folders
    uint64_t size = 0;
    uint64_t modified = 0;
    uint64_t created = 0;
    uint32_t flags = 0;  // ov::EntryFlags
    uint32_t openCount = 0;
    bool valid = false;
};
}  // namespace ov

extern ShownResults gShown;
extern HWND gSearchBox;
extern HWND gFilterList;
extern HWND gResultsList;
// The shell's small system image list (null when the shell gave none) and its
// icon height; 16 until it was read, as the list is measured before that.
extern HIMAGELIST gSystemImages;
extern int gSmallIconHeight;
// List column i shows kColumns[gColumnMap[i]] (table order; dragging columns
// changes only the display order).
extern std::vector<int> gColumnMap;
// Set while ApplyResults restores the selection row by row: the list's item
// changes then leave the status bar to ApplyResults.
extern bool gQuietListChanges;

// The search box, the filter list and the results list, children of the main
// window, with the stored column choices; starts the icon loader.
void CreateSearchControls();
// Removes every list column and inserts the shown ones, then the sort arrows.
void BuildColumns();
// Stores the column widths and the shown columns.
void SaveColumns();
// The header's right-click menu of columns.
void ShowColumnMenu();
// The header's sort arrows from the current sort.
void UpdateSortArrows();

// One row of ShownResults, read under the index lock held shared.
ov::ResultRow GetResultRow(int row);
// The text of column (a kColumns row) for a row.
std::wstring GetCellText(const ov::ResultRow& row, int column);
// "File folder", or the shell's name of the extension's type (cached per extension).
std::wstring GetTypeName(bool isFolder, const std::wstring& extension);
// WM_NOTIFY from the results list; the notification's result.
LRESULT OnListNotify(const NMHDR* header);
