// Every keystroke becomes a request to the search worker; its answer comes back
// as a posted record that ApplyResults swaps into the list. Answers to older
// requests are dropped by their sequence number. A refresh (the same search
// after the index changed) keeps what the user looked at: the selected rows,
// the focused row and the top row are remembered by entry id and found again,
// as long as the entry numbers still mean the same entries (same epoch).
#include "app/results_list.h"

#include <shellapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <map>
#include <vector>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/icon_loader.h"
#include "app/settings.h"
#include "index/text.h"

ShownResults gShown;
std::vector<int> gColumnMap;

namespace {

WNDPROC gListViewProc = nullptr;  // the list control's own

// Set while ApplyResults restores the selection row by row: the list's item
// changes then leave the status bar to ApplyResults.
bool gQuietListChanges = false;

// Column choices (UI thread): shown flags and widths in DIP, by kColumns row.
bool gColumnShown[kColumnCount] = {};
int gColumnWidth[kColumnCount] = {};

// Extension (lower case) -> the shell's type name; only grows.
std::map<std::wstring, std::wstring> gTypeNames;

constexpr int kColumnMenuBase = 1000;

void ReadColumnChoices() {
    const uint32_t mask = RegReadDword(L"Columns", 0);
    for (int i = 0; i < kColumnCount; ++i) {
        gColumnShown[i] = mask != 0 ? (mask >> i & 1) != 0 : kColumns[i].shownByDefault;
        gColumnWidth[i] = kColumns[i].width;
    }
    ReadColumnWidths(RegReadString(L"ColumnWidths"), gColumnWidth);
}

int ColumnCount() {
    return static_cast<int>(gColumnMap.size());
}

// Copies text into a control's buffer of size characters, cut and terminated.
void CopyCut(const std::wstring& text, wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return;
    const size_t length = std::min(text.size(), static_cast<size_t>(size - 1));
    text.copy(buffer, length);
    buffer[length] = L'\0';
}

void OnGetDispInfo(NMLVDISPINFOW* info) {
    if (!(info->item.mask & LVIF_TEXT)) return;
    const ov::ResultRow row = GetResultRow(info->item.iItem);
    const int sub = info->item.iSubItem;
    const std::wstring text =
        row.valid && sub >= 0 && sub < ColumnCount() ? GetCellText(row, gColumnMap[sub]) : std::wstring();
    CopyCut(text, info->item.pszText, info->item.cchTextMax);
}

void OnGetInfoTip(NMLVGETINFOTIPW* tip) {
    const ov::ResultRow row = GetResultRow(tip->iItem);
    if (row.valid) CopyCut(row.fullPath, tip->pszText, tip->cchTextMax);
}

// Drops every row's selected and focused state before the new rows come in.
// Asking the list to change "every row" walks the old rows one by one (seconds
// after ten million), so a new search empties the list instead, which drops
// both states at once; a refresh must not scroll, so it clears the selection
// only when there is one and the focus only on its row.
void ClearListStates(bool keep) {
    if (!keep) {
        SendMessageW(gResultsList, LVM_SETITEMCOUNT, 0, 0);
        return;
    }
    if (ListView_GetSelectedCount(gResultsList) > 0) ListView_SetItemState(gResultsList, -1, 0, LVIS_SELECTED);
    const int focused = ListView_GetNextItem(gResultsList, -1, LVNI_FOCUSED);
    if (focused >= 0) ListView_SetItemState(gResultsList, focused, 0, LVIS_FOCUSED);
}

// What the user looked at before a refresh, by entry id.
struct Remembered {
    std::vector<uint32_t> selected;  // sorted
    uint32_t top = ov::kNoEntry;
    uint32_t focused = ov::kNoEntry;
    bool Empty() const { return selected.empty() && top == ov::kNoEntry && focused == ov::kNoEntry; }
};

constexpr UINT kMaxKeptSelection = 4999;
// The restore walk looks at rows 0 to 5,000,001.
constexpr size_t kRestoreRows = 5000002;

uint32_t IdOfRow(int row) {
    return row >= 0 && static_cast<size_t>(row) < gShown.ids.size() ? gShown.ids[static_cast<size_t>(row)]
                                                                    : ov::kNoEntry;
}

Remembered RememberView() {
    Remembered view;
    if (!gResultsList) return view;
    if (ListView_GetSelectedCount(gResultsList) <= kMaxKeptSelection) {
        view.selected = GetSelectedEntries();
        std::sort(view.selected.begin(), view.selected.end());
    }
    view.top = IdOfRow(ListView_GetTopIndex(gResultsList));
    view.focused = IdOfRow(ListView_GetNextItem(gResultsList, -1, LVNI_FOCUSED));
    return view;
}

// Selects and focuses the remembered entries where they are now and scrolls
// the remembered top entry back to the top.
void RestoreView(const Remembered& view) {
    size_t wanted = view.selected.size() + (view.focused != ov::kNoEntry) + (view.top != ov::kNoEntry);
    int topRow = -1;
    const size_t rows = std::min(gShown.ids.size(), kRestoreRows);
    gQuietListChanges = true;
    for (size_t row = 0; row < rows && wanted > 0; ++row) {
        const uint32_t id = gShown.ids[row];
        const int r = static_cast<int>(row);
        if (std::binary_search(view.selected.begin(), view.selected.end(), id)) {
            ListView_SetItemState(gResultsList, r, LVIS_SELECTED, LVIS_SELECTED);
            --wanted;
        }
        if (id == view.focused) {
            ListView_SetItemState(gResultsList, r, LVIS_FOCUSED, LVIS_FOCUSED);
            --wanted;
        }
        if (id == view.top) {
            topRow = r;
            --wanted;
        }
    }
    gQuietListChanges = false;
    const int currentTop = ListView_GetTopIndex(gResultsList);
    RECT first;
    if (topRow >= 0 && topRow != currentTop && ListView_GetItemRect(gResultsList, 0, &first, LVIR_BOUNDS)) {
        ListView_Scroll(gResultsList, 0, (topRow - currentTop) * (first.bottom - first.top));
    }
}

}  // namespace

void CreateResultsList() {
    // Clipping its header keeps a repaint of the rows from repainting the header too.
    gResultsList = CreateWindowExW(0, WC_LISTVIEWW, L"",
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN | LVS_REPORT |
                                       LVS_SHOWSELALWAYS | LVS_OWNERDRAWFIXED | LVS_OWNERDATA,
                                   0, 0, 10, 10, gMain, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdResultsList)),
                                   gInstance, nullptr);
    SendMessageW(gResultsList, WM_SETFONT, reinterpret_cast<WPARAM>(gFontList), FALSE);
    ListView_SetExtendedListViewStyle(
        gResultsList, LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT);
    SetWindowTheme(gResultsList, L"Explorer", nullptr);
    ReadSystemImageList();
    // The list measured its rows before the height was known: let it ask again.
    SetWindowPos(gResultsList, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    ReadColumnChoices();
    BuildColumns();
    gListViewProc = PutWindowProc(gResultsList, ResultsListProc);
    StartIconLoader(gMain);
}

ResultsListHandler gResultsListHandler = nullptr;

LRESULT CALLBACK ResultsListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (gResultsListHandler && gResultsListHandler(window, message, wParam, lParam, &result)) return result;
    return CallWindowProcW(gListViewProc, window, message, wParam, lParam);
}

void BuildColumns() {
    if (!gResultsList) return;
    while (ListView_DeleteColumn(gResultsList, 0)) {
    }
    gColumnMap.clear();
    gColumnShown[0] = true;
    for (int i = 0; i < kColumnCount; ++i) {
        if (!gColumnShown[i]) continue;
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = kColumns[i].rightAligned ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = Dip(gColumnWidth[i]);
        column.pszText = const_cast<wchar_t*>(kColumns[i].title);
        if (ListView_InsertColumn(gResultsList, ColumnCount(), &column) >= 0) gColumnMap.push_back(i);
    }
    UpdateSortArrows();
}

void SaveColumns() {
    if (gResultsList && ColumnCount() > 0) {
        for (int i = 0; i < ColumnCount(); ++i) {
            gColumnWidth[gColumnMap[i]] = MulDiv(ListView_GetColumnWidth(gResultsList, i), 96, gDpi);
        }
    }
    RegWriteString(L"ColumnWidths", ColumnWidthsText(gColumnWidth));
    uint32_t mask = 1;
    for (int i = 1; i < kColumnCount; ++i) {
        if (gColumnShown[i]) mask |= 1u << i;
    }
    RegWriteDword(L"Columns", mask);
}

void ShowColumnMenu() {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    for (int i = 1; i < kColumnCount; ++i) {
        AppendMenuW(menu, MF_STRING | (gColumnShown[i] ? MF_CHECKED : 0), kColumnMenuBase + i, kColumns[i].title);
    }
    const int chosen = TrackMenuAtCursor(menu);
    DestroyMenu(menu);
    if (chosen <= kColumnMenuBase || chosen >= kColumnMenuBase + kColumnCount) return;
    SaveColumns();
    gColumnShown[chosen - kColumnMenuBase] = !gColumnShown[chosen - kColumnMenuBase];
    BuildColumns();
    SaveColumns();
    InvalidateRect(gResultsList, nullptr, TRUE);
}

void UpdateSortArrows() {
    if (!gResultsList) return;
    HWND header = ListView_GetHeader(gResultsList);
    for (int i = 0; i < ColumnCount(); ++i) {
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        if (!Header_GetItem(header, i, &item)) continue;
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (kColumns[gColumnMap[i]].sortKey == static_cast<int>(gSettings.sort)) {
            item.fmt |= gSettings.sortDescending ? HDF_SORTDOWN : HDF_SORTUP;
        }
        Header_SetItem(header, i, &item);
    }
}

int SortKeyOfColumn(int sub) {
    return sub >= 0 && sub < ColumnCount() ? kColumns[gColumnMap[sub]].sortKey : -1;
}

ov::ResultRow GetResultRow(int row) {
    if (row < 0 || static_cast<size_t>(row) >= gShown.ids.size()) return {};
    return ReadResultRow(gShown.ids[static_cast<size_t>(row)], gShown.epoch);
}

std::wstring GetCellText(const ov::ResultRow& row, int column) {
    switch (column) {
        case 0:
            return row.name;
        case 1:
            return row.folder;
        case 2:
            return SizeText(row.size, gSettings.sizeFormat);
        case 3:
            return FormatFileTime(row.modified);
        case 4:
            return FormatFileTime(row.created);
        case 5:
            return GetTypeName((row.flags & ov::EntryFlags::Directory) != 0, row.extension);
        case 6:
            return AttributeText(row.flags & ov::EntryFlags::AttributeMask);
        case 7:
            return row.openCount ? FormatString(L"%u", row.openCount) : std::wstring();
        default:
            return {};
    }
}

std::wstring GetTypeName(bool isFolder, const std::wstring& extension) {
    if (isFolder) return L"File folder";
    const auto known = gTypeNames.find(extension);
    if (known != gTypeNames.end()) return known->second;
    SHFILEINFOW info = {};
    const std::wstring madeUp = L"x." + extension;
    std::wstring name;
    if (SHGetFileInfoW(madeUp.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES) &&
        info.szTypeName[0]) {
        name = info.szTypeName;
    } else {
        name = extension.empty() ? L"File" : extension + L" File";
    }
    gTypeNames.emplace(extension, name);
    return name;
}

LRESULT OnListNotify(const NMHDR* header) {
    switch (header->code) {
        case LVN_GETDISPINFOW:
            OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header)));
            return 0;
        case LVN_GETINFOTIPW:
            OnGetInfoTip(reinterpret_cast<NMLVGETINFOTIPW*>(const_cast<NMHDR*>(header)));
            return 0;
        case LVN_ODFINDITEMW:
            return -1;  // typing goes to the search box, not to a search in the list
        default:
            return 0;
    }
}

void ApplyResults(std::unique_ptr<ov::SearchResult> result) {
    if (!result) return;
    if (result->sequence < gShown.sequence) {
        ov::ReleaseResult(gSearch, std::move(result));
        return;
    }
    gShown.sequence = result->sequence;
    const bool keep = result->keepSelection;
    // The entry numbers shown still mean the same entries only within one epoch.
    Remembered view;
    if (keep && result->epoch == gShown.epoch) view = RememberView();
    gShown.ids.swap(result->ids);
    gShown.epoch = result->epoch;
    gShown.changes = result->changes;
    gShown.ms = result->ms;
    gShown.threads = result->threads;
    gShown.words.swap(result->words);
    gShown.wideWords.clear();
    for (const std::string& word : gShown.words) gShown.wideWords.push_back(ov::ToWide(word));
    gShown.error.swap(result->error);
    // A search that could not be finished comes with no rows; where the timing
    // would be it says why.
    if (result->failed) gShown.error = "The search couldn't be finished: there wasn't enough memory.";
    // Holds the previous ids now: freeing ten million of them here would hold up the painting.
    ov::ReleaseResult(gSearch, std::move(result));
    if (gResultsList) {
        SendMessageW(gResultsList, WM_SETREDRAW, FALSE, 0);
        gQuietListChanges = true;
        ClearListStates(keep);
        gQuietListChanges = false;
        SendMessageW(gResultsList, LVM_SETITEMCOUNT, gShown.ids.size(), keep ? LVSICF_NOSCROLL : 0);
        if (keep) {
            if (!view.Empty()) RestoreView(view);
        } else if (!gShown.ids.empty()) {
            ListView_EnsureVisible(gResultsList, 0, FALSE);
        }
        SendMessageW(gResultsList, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(gResultsList, nullptr, TRUE);
    }
    UpdateStatusBar();
    RefreshRibbon();
}

bool ListChangesAreQuiet() {
    return gQuietListChanges;
}

void UpdateStatusBar() {
    uint64_t entries = 0;
    if (!gStatusBar || !ReadLiveEntryCount(entries)) return;
    static std::wstring shown[3];
    std::wstring texts[3];
    texts[0] = L"  " + FormatThousands(entries) + L" files and folders";
    texts[1] = L"  " + FormatThousands(gShown.ids.size()) + (gShown.ids.size() == 1 ? L" result" : L" results");
    const UINT selected = gResultsList ? ListView_GetSelectedCount(gResultsList) : 0;
    if (selected > 0) texts[1] += L"  •  " + FormatThousands(selected) + L" selected";
    texts[2] = !gShown.error.empty() ? L"  " + ov::ToWide(gShown.error)
                                     : FormatString(L"  %.1f ms  •  %d thread%ls", gShown.ms, gShown.threads,
                                                    gShown.threads == 1 ? L"" : L"s");
    LayoutStatusParts(false, gShown.error.empty() ? std::wstring() : ov::ToWide(gShown.error));
    if (texts[0] == shown[0] && texts[1] == shown[1] && texts[2] == shown[2]) return;
    // Each text put repaints the bar at once: with redrawing off the parts
    // change unseen and the bar is painted once for all of them. Turning
    // redrawing off drops what was waiting to be painted, so that is put back
    // when there was any. The changed parts are invalidated as one rectangle:
    // under Wine each of these calls is a trip to the window server.
    HRGN pending = CreateRectRgn(0, 0, 0, 0);
    const int pendingKind = pending ? GetUpdateRgn(gStatusBar, pending, FALSE) : ERROR;
    SendMessageW(gStatusBar, WM_SETREDRAW, FALSE, 0);
    RECT changed = {};
    bool whole = false;
    for (int part = 0; part < 3; ++part) {
        if (texts[part] == shown[part]) continue;
        shown[part] = std::move(texts[part]);
        SendMessageW(gStatusBar, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(shown[part].c_str()));
        RECT bounds;
        if (SendMessageW(gStatusBar, SB_GETRECT, part, reinterpret_cast<LPARAM>(&bounds))) {
            UnionRect(&changed, &changed, &bounds);
        } else {
            whole = true;
        }
    }
    SendMessageW(gStatusBar, WM_SETREDRAW, TRUE, 0);
    if (pendingKind != ERROR && pendingKind != NULLREGION) InvalidateRgn(gStatusBar, pending, FALSE);
    if (pending) DeleteObject(pending);
    InvalidateRect(gStatusBar, whole ? nullptr : &changed, FALSE);
}

std::vector<uint32_t> GetSelectedEntries() {
    std::vector<uint32_t> ids;
    if (!gResultsList) return ids;
    const size_t selected = ListView_GetSelectedCount(gResultsList);
    // Every row selected (Ctrl+A): asking the list row by row takes seconds
    // for a large list on some systems.
    if (selected > 0 && selected == gShown.ids.size() &&
        static_cast<size_t>(ListView_GetItemCount(gResultsList)) == selected) {
        return gShown.ids;
    }
    size_t seen = 0;
    for (int row = ListView_GetNextItem(gResultsList, -1, LVNI_SELECTED); row >= 0 && seen < selected;
         row = ListView_GetNextItem(gResultsList, row, LVNI_SELECTED), ++seen) {
        if (static_cast<size_t>(row) < gShown.ids.size()) ids.push_back(gShown.ids[static_cast<size_t>(row)]);
    }
    return ids;
}
