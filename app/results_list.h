// The results list: a virtual report list that shows ShownResults, with the
// search box and the filter list made beside it. UI thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

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

extern ShownResults gShown;
extern HWND gSearchBox;
extern HWND gFilterList;
extern HWND gResultsList;
// Text height of the list font; 16 until the list measured it.
extern int gListTextHeight;

// The search box, the filter list and the results list, children of the main window.
void CreateSearchControls();
// Stores the column widths and the shown columns.
void SaveColumns();
// WM_NOTIFY from the results list.
LRESULT OnListNotify(const NMHDR* header);
// The header's right-click menu of columns.
void ShowColumnMenu();
// The header's sort arrows from the current sort.
void UpdateSortArrows();
