// Every keystroke becomes a request to the search worker; its answer comes back
// as a posted record that ApplyResults swaps into the list. Answers to older
// requests are dropped by their sequence number. A refresh (the same search
// after the index changed) keeps what the user looked at: the selected rows,
// the focused row and the top row are remembered by entry id and found again,
// as long as the entry numbers still mean the same entries (same epoch).
#include "app/search_box.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "app/activity_log.h"
#include "app/engine_host.h"
#include "app/main_window.h"
#include "app/result_actions.h"
#include "app/results_list.h"
#include "app/ribbon.h"
#include "app/settings.h"
#include "app/startup.h"
#include "index/text.h"

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
    ov::RequestSearch(gSearch, ov::ToUtf8(text), options, keepSelection, static_cast<int>(gSettings.searchThreads));
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
    gSettings.sort = static_cast<uint32_t>(key);
    gSettings.sortDescending = descending ? 1 : 0;
    RegWriteDword(L"Sort", gSettings.sort);
    RegWriteDword(L"SortDescending", gSettings.sortDescending);
    UpdateSortArrows();
    if (gRibbon) InvalidateRect(gRibbon, nullptr, FALSE);
    RequestSearch(false);
}

void RunPresetSearch(const wchar_t* text, ov::SortKey key, int direction) {
    if (gSearchBox) SetWindowTextW(gSearchBox, text);
    if (gFilterList) SendMessageW(gFilterList, CB_SETCURSEL, 0, 0);
    gSettings.filter = 0;
    RegWriteDword(L"Filter", 0);
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
    if (ctrl) {
        OpenContainingFolder();
    } else {
        OpenSelected();
    }
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

LRESULT CALLBACK SearchBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR data) {
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    if (message == WM_KEYDOWN) {
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
    return DefSubclassProc(window, message, wParam, lParam);
}

void ApplyResults(std::unique_ptr<ov::SearchResult> result) {
    if (!result || result->sequence < gShown.sequence) return;
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
    result.reset();  // frees the previous ids too
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
    if (gRibbon) InvalidateRect(gRibbon, nullptr, FALSE);
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
    LayoutStatusParts(false);
    if (texts[0] == shown[0] && texts[1] == shown[1] && texts[2] == shown[2]) return;
    // Each text put repaints the bar at once: with redrawing off the parts
    // change unseen and the bar is painted once for all of them. Turning
    // redrawing off drops what was waiting to be painted, so that is put back.
    HRGN pending = CreateRectRgn(0, 0, 0, 0);
    if (pending && GetUpdateRgn(gStatusBar, pending, FALSE) == ERROR) SetRectRgn(pending, 0, 0, 0, 0);
    SendMessageW(gStatusBar, WM_SETREDRAW, FALSE, 0);
    std::vector<int> changed;
    for (int part = 0; part < 3; ++part) {
        if (texts[part] == shown[part]) continue;
        shown[part] = std::move(texts[part]);
        SendMessageW(gStatusBar, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(shown[part].c_str()));
        changed.push_back(part);
    }
    SendMessageW(gStatusBar, WM_SETREDRAW, TRUE, 0);
    if (pending) {
        InvalidateRgn(gStatusBar, pending, FALSE);
        DeleteObject(pending);
    }
    for (int part : changed) {
        RECT bounds;
        if (SendMessageW(gStatusBar, SB_GETRECT, part, reinterpret_cast<LPARAM>(&bounds))) {
            InvalidateRect(gStatusBar, &bounds, FALSE);
        } else {
            InvalidateRect(gStatusBar, nullptr, FALSE);
        }
    }
}
