// Built so far: the three controls with their styles, fonts and tooltips.
// Still to come: the columns, cell texts, the icon loader and notifications.
#include "app/results_list.h"

#include <uxtheme.h>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "index/query.h"

ShownResults gShown;
HWND gSearchBox = nullptr;
HWND gFilterList = nullptr;
HWND gResultsList = nullptr;
int gListTextHeight = 16;

namespace {

HWND MakeChild(DWORD exStyle, const wchar_t* className, DWORD style, int id, HFONT font) {
    HWND window = CreateWindowExW(exStyle, className, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 10, 10,
                                  gMain, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return window;
}

}  // namespace

void CreateSearchControls() {
    gSearchBox = MakeChild(WS_EX_CLIENTEDGE, L"EDIT", ES_AUTOHSCROLL, kIdSearchBox, gFontSearch);
    SendMessageW(gSearchBox, EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(
                     L"Search files and folders…   (try  *.pdf   invoice 2025   ext:jpg dm:today   size:>1gb)"));
    SendMessageW(gSearchBox, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(Dip(6), Dip(6)));
    AddControlTooltip(gSearchBox,
                      L"Type part of a name. Several words must all occur, in any order.\n"
                      L"jpg|png  either word     !temp  leave out names with temp\n"
                      L"*.pdf   ext:pdf;docx  by extension     \"a phrase\"  exactly as typed\n"
                      L"C:\\Projects\\  everything under that path\n"
                      L"size:>1gb   dm:today   dm:last7days   folder:   file:\n"
                      L"Down or Page Down jumps into the results, Enter opens the selected (or first) result, "
                      L"Ctrl+Enter opens its folder, Esc clears the box. Help > Search Tricks lists everything.");

    gFilterList = MakeChild(0, L"COMBOBOX", WS_VSCROLL | CBS_DROPDOWNLIST, kIdFilterList, gFontUi);
    for (const ov::FilterDef& filter : ov::kFilters) {
        SendMessageW(gFilterList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(filter.title));
    }
    SendMessageW(gFilterList, CB_SETCURSEL, gSettings.filter, 0);
    AddControlTooltip(gFilterList,
                      L"Show only one kind of result: files, folders, pictures, video (MOBOTIX .mxg too), audio, "
                      L"documents, archives or programs. Works together with what you type. Takes effect "
                      L"immediately.");

    gResultsList = MakeChild(0, WC_LISTVIEWW, LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDRAWFIXED | LVS_OWNERDATA,
                             kIdResultsList, gFontList);
    ListView_SetExtendedListViewStyle(
        gResultsList, LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT);
    SetWindowTheme(gResultsList, L"Explorer", nullptr);
}

void SaveColumns() {}

LRESULT OnListNotify(const NMHDR* header) {
    return 0;
}

void ShowColumnMenu() {}

void UpdateSortArrows() {}
