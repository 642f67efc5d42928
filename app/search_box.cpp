// The search box and the filter list: every keystroke, switch, filter or sort
// change becomes a request to the search worker (ApplyResults in the results
// list takes its answer).
#include "app/search_box.h"

#include <commctrl.h>

#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/results_list.h"
#include "app/settings.h"
#include "index/query.h"
#include "index/text.h"

namespace {

WNDPROC gEditProc = nullptr;  // the edit control's own

HWND MakeChild(DWORD exStyle, const wchar_t* className, DWORD style, int id, HFONT font) {
    HWND window = CreateWindowExW(exStyle, className, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 10, 10,
                                  gMain, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return window;
}

}  // namespace

void CreateSearchBox() {
    gSearchBox = MakeChild(WS_EX_CLIENTEDGE, L"EDIT", ES_AUTOHSCROLL, kIdSearchBox, gFontSearch);
    SendMessageW(gSearchBox, EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(
                     L"Search files and folders…   (try  *.pdf   invoice 2025   ext:jpg dm:today   size:>1gb)"));
    SendMessageW(gSearchBox, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(Dip(6), Dip(6)));
    gEditProc = PutWindowProc(gSearchBox, SearchBoxProc);
    AddControlTooltip(gSearchBox,
                      L"Type part of a name. Several words must all occur, in any order.\n"
                      L"jpg|png  either word     !temp  leave out names with temp\n"
                      L"*.pdf   ext:pdf;docx  by extension     \"a phrase\"  exactly as typed\n"
                      L"C:\\Projects\\  everything under that path\n"
                      L"size:>1gb   dm:today   dm:last7days   folder:   file:\n"
                      L"Down or Page Down jumps into the results, Enter opens the selected (or first) result, "
                      L"Ctrl+Enter opens its folder, Esc clears the box. Help > Search Tricks lists everything.",
                      true);
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

void OnFilterListChanged() {
    const LRESULT row = SendMessageW(gFilterList, CB_GETCURSEL, 0, 0);
    if (row < 0) return;
    StoreSetting(&AppSettings::filter, static_cast<uint32_t>(row));
    RequestSearch(false);
}

std::wstring GetSearchText() {
    if (!gSearchBox) return {};
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(gSearchBox)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(gSearchBox, text.data(), static_cast<int>(text.size()))));
    return text;
}

void RequestSearch(bool keepSelection) {
    ov::SearchOptions options;
    options.matchCase = gSettings.matchCase != 0;
    options.wholeWord = gSettings.wholeWord != 0;
    options.matchPath = gSettings.matchPath != 0;
    options.regex = gSettings.regex != 0;
    options.filter = static_cast<int>(gSettings.filter);
    options.sort = static_cast<int>(gSettings.sort);
    options.descending = gSettings.sortDescending != 0;
    const std::wstring text = GetSearchText();
    SubmitSearch(ov::ToUtf8(text), options, keepSelection, static_cast<int>(gSettings.searchThreads));
}

void SetSort(int key, int direction) {
    if (key < 0) return;
    bool descending = direction == 1;
    if (direction == -1) {
        const auto sortKey = static_cast<ov::SortKey>(key);
        descending = static_cast<uint32_t>(key) == gSettings.sort
                         ? gSettings.sortDescending == 0
                         : sortKey == ov::SortKey::Size || sortKey == ov::SortKey::DateModified ||
                               sortKey == ov::SortKey::DateCreated;
    }
    StoreSetting(&AppSettings::sort, static_cast<uint32_t>(key));
    StoreSetting(&AppSettings::sortDescending, descending ? 1 : 0);
    UpdateSortArrows();
    RefreshRibbon();
    RequestSearch(false);
}

void RunPresetSearch(const wchar_t* text, ov::SortKey key, int direction) {
    if (gSearchBox) SetWindowTextW(gSearchBox, text);
    if (gFilterList) SendMessageW(gFilterList, CB_SETCURSEL, 0, 0);
    StoreSetting(&AppSettings::filter, 0);
    SetSort(static_cast<int>(key), direction);
    if (!gSearchBox) return;
    SetFocus(gSearchBox);
    const int length = GetWindowTextLengthW(gSearchBox);
    SendMessageW(gSearchBox, EM_SETSEL, length, length);
}

namespace {

bool HasResults() {
    return !gShown.ids.empty() && gResultsList;
}

void SelectAndFocusRow(int row) {
    const UINT state = LVIS_SELECTED | LVIS_FOCUSED;
    ListView_SetItemState(gResultsList, row, state, state);
}

// Enter opens the selected results, or the first one when none is selected.
void OnEnter(bool ctrl) {
    if (HasResults() && ListView_GetSelectedCount(gResultsList) == 0) SelectAndFocusRow(0);
    RunCommand(ctrl ? kCmdOpenFolder : kCmdOpen);
}

// Esc empties the box (which searches again); in an empty box it hides the
// window to the tray, when the program lives there.
void OnEscape() {
    if (GetWindowTextLengthW(gSearchBox) > 0) {
        SetWindowTextW(gSearchBox, L"");
    } else if (gSettings.keepInTray) {
        ShowWindow(gMain, SW_HIDE);
    }
}

void EnterList() {
    SetFocus(gResultsList);
    if (ListView_GetNextItem(gResultsList, -1, LVNI_FOCUSED) < 0) {
        SelectAndFocusRow(0);
        ListView_EnsureVisible(gResultsList, 0, FALSE);
    }
}

}  // namespace

LRESULT CALLBACK SearchBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RelayToTooltip(window, message, wParam, lParam);
    if (message == WM_KEYDOWN) {
        const bool ctrl = CtrlShortcutHeld();
        switch (wParam) {
            case VK_RETURN:
                OnEnter(ctrl);
                return 0;
            case VK_ESCAPE:
                OnEscape();
                return 0;
            case VK_DOWN:
            case VK_NEXT:
                if (!HasResults()) break;
                EnterList();
                return 0;
            case 'A':
                if (!ctrl) break;
                SendMessageW(window, EM_SETSEL, 0, -1);
                return 0;
            default:
                break;
        }
    } else if (message == WM_CHAR && (wParam == 1 || wParam == VK_RETURN || wParam == VK_ESCAPE)) {
        return 0;  // the edit control would beep
    }
    return CallWindowProcW(gEditProc, window, message, wParam, lParam);
}
