#include "app/results_list.h"

#include <shellapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <map>
#include <shared_mutex>

#include "app/activity_log.h"
#include "app/commands.h"
#include "app/icon_loader.h"
#include "app/main_window.h"
#include "app/result_actions.h"
#include "app/ribbon.h"
#include "app/row_painting.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/startup.h"
#include "engine/engine.h"
#include "index/query.h"
#include "index/text.h"

ShownResults gShown;
HWND gSearchBox = nullptr;
HWND gFilterList = nullptr;
HWND gResultsList = nullptr;
HIMAGELIST gSystemImages = nullptr;
int gSmallIconHeight = 16;
std::vector<int> gColumnMap;
bool gQuietListChanges = false;

namespace {

// Column choices (UI thread): shown flags and widths in DIP, by kColumns row.
bool gColumnShown[kColumnCount] = {};
int gColumnWidth[kColumnCount] = {};

// Extension (lower case) -> the shell's type name; only grows.
std::map<std::wstring, std::wstring> gTypeNames;

constexpr int kColumnMenuBase = 1000;

HWND MakeChild(DWORD exStyle, const wchar_t* className, DWORD style, int id, HFONT font) {
    HWND window = CreateWindowExW(exStyle, className, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 10, 10,
                                  gMain, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return window;
}

void CreateSearchBox() {
    gSearchBox = MakeChild(WS_EX_CLIENTEDGE, L"EDIT", ES_AUTOHSCROLL, kIdSearchBox, gFontSearch);
    SendMessageW(gSearchBox, EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(
                     L"Search files and folders…   (try  *.pdf   invoice 2025   ext:jpg dm:today   size:>1gb)"));
    SendMessageW(gSearchBox, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(Dip(6), Dip(6)));
    SetWindowSubclass(gSearchBox, SearchBoxSubclassProc, 1, 0);
    AddControlTooltip(gSearchBox,
                      L"Type part of a name. Several words must all occur, in any order.\n"
                      L"jpg|png  either word     !temp  leave out names with temp\n"
                      L"*.pdf   ext:pdf;docx  by extension     \"a phrase\"  exactly as typed\n"
                      L"C:\\Projects\\  everything under that path\n"
                      L"size:>1gb   dm:today   dm:last7days   folder:   file:\n"
                      L"Down or Page Down jumps into the results, Enter opens the selected (or first) result, "
                      L"Ctrl+Enter opens its folder, Esc clears the box. Help > Search Tricks lists everything.");
}

void CreateFilterList() {
    gFilterList = MakeChild(0, L"COMBOBOX", WS_VSCROLL | CBS_DROPDOWNLIST, kIdFilterList, gFontUi);
    for (const ov::FilterDef& filter : ov::kFilters) {
        SendMessageW(gFilterList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(filter.title));
    }
    SendMessageW(gFilterList, CB_SETCURSEL, gSettings.filter, 0);
    AddControlTooltip(gFilterList,
                      L"Show only one kind of result: files, folders, pictures, video (MOBOTIX .mxg too), audio, "
                      L"documents, archives or programs. Works together with what you type. Takes effect "
                      L"immediately.");
}

void ReadSystemImageList() {
    SHFILEINFOW info = {};
    gSystemImages = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    int width = 0;
    int height = 0;
    if (gSystemImages && ImageList_GetIconSize(gSystemImages, &width, &height) && height > 0) {
        gSmallIconHeight = height;
    }
    // The list measured its rows before the height was known: let it ask again.
    SetWindowPos(gResultsList, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

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

void OnSelectionChanged() {
    if (gQuietListChanges) return;
    if (gRibbon) InvalidateRect(gRibbon, nullptr, FALSE);
    UpdateStatusBar();
}

}  // namespace

void CreateSearchControls() {
    CreateSearchBox();
    CreateFilterList();
    // Clipping its header keeps a repaint of the rows from repainting the header too.
    gResultsList = MakeChild(0, WC_LISTVIEWW,
                             WS_CLIPCHILDREN | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDRAWFIXED | LVS_OWNERDATA,
                             kIdResultsList, gFontList);
    ListView_SetExtendedListViewStyle(
        gResultsList, LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT);
    SetWindowTheme(gResultsList, L"Explorer", nullptr);
    SetWindowSubclass(gResultsList, ResultsListSubclassProc, 1, 0);
    ReadSystemImageList();
    ReadColumnChoices();
    BuildColumns();
    StartIconLoader(gMain);
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

ov::ResultRow GetResultRow(int row) {
    ov::ResultRow out;
    if (row < 0 || !gEngine || static_cast<size_t>(row) >= gShown.ids.size()) return out;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    // Entry numbers move when the index is compacted: ids of another epoch name other entries.
    if (gShown.epoch != gEngine->epoch) return out;
    const uint32_t id = gShown.ids[static_cast<size_t>(row)];
    if (id >= gEngine->entries.size()) return out;
    const ov::Entry& entry = gEngine->entries[id];
    if (ov::IsDeleted(entry)) return out;
    try {
        out.fullPath = gEngine->PathW(id, false);
        if (entry.flags & ov::EntryFlags::VolumeRoot) {
            out.name = out.fullPath;
        } else {
            const std::string_view name = gEngine->NameOf(id);
            out.name = ov::ToWide(name.data(), name.size());
            if (entry.parent != ov::kNoEntry) out.folder = gEngine->PathW(id, true);
        }
        if (!ov::IsDir(entry)) {
            const std::string_view extension = ov::FoldedExtension(gEngine->FoldedOf(id));
            out.extension = ov::ToWide(extension.data(), extension.size());
        }
    } catch (const std::exception&) {
        return ov::ResultRow();
    }
    out.size = entry.size;
    out.modified = entry.modified;
    out.created = entry.created;
    out.flags = entry.flags;
    const auto count = gEngine->openCounts.find(id);
    out.openCount = count == gEngine->openCounts.end() ? 0 : count->second;
    out.valid = true;
    return out;
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
        case LVN_ITEMCHANGED:
        case LVN_ODSTATECHANGED:
            OnSelectionChanged();
            return 0;
        case LVN_COLUMNCLICK: {
            const int sub = reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem;
            if (sub >= 0 && sub < ColumnCount()) SetSort(kColumns[gColumnMap[sub]].sortKey, -1);
            return 0;
        }
        case LVN_ODFINDITEMW:
            return -1;  // typing goes to the search box, not to a search in the list
        case NM_RCLICK:
            if (reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem >= 0) {
                POINT point;
                GetCursorPos(&point);
                ShowResultContextMenu(point);
            }
            return 0;
        case NM_DBLCLK:
            if (reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem >= 0) OpenSelected();
            return 0;
        case NM_SETFOCUS:
        case NM_KILLFOCUS:
            SetResultsListFocused(header->code == NM_SETFOCUS);
            return 0;
        default:
            return 0;
    }
}
