// Built so far: the request, the sort, ready-made searches and the status bar.
// Still to come: the search box's keys and restoring the selection on refreshes.
#include "app/search_box.h"

#include <commctrl.h>

#include "app/activity_log.h"
#include "app/engine_host.h"
#include "app/main_window.h"
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

LRESULT CALLBACK SearchBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR data) {
    return DefSubclassProc(window, message, wParam, lParam);
}

void ApplyResults(std::unique_ptr<ov::SearchResult> result) {
    if (!result || result->sequence < gShown.sequence) return;
    gShown.sequence = result->sequence;
    gShown.ids.swap(result->ids);
    gShown.epoch = result->epoch;
    gShown.changes = result->changes;
    gShown.ms = result->ms;
    gShown.threads = result->threads;
    gShown.error = result->error;
    gShown.words = result->words;
    gShown.wideWords.clear();
    for (const std::string& word : gShown.words) gShown.wideWords.push_back(ov::ToWide(word));
    if (gResultsList) {
        SendMessageW(gResultsList, LVM_SETITEMCOUNT, gShown.ids.size(), result->keepSelection ? LVSICF_NOSCROLL : 0);
        InvalidateRect(gResultsList, nullptr, TRUE);
    }
    UpdateStatusBar();
}

void UpdateStatusBar() {
    uint64_t entries = 0;
    if (!gStatusBar || !ReadLiveEntryCount(entries)) return;
    auto setPart = [](int part, const std::wstring& text) {
        SendMessageW(gStatusBar, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(text.c_str()));
    };
    setPart(0, L"  " + FormatThousands(entries) + L" files and folders");
    std::wstring results =
        L"  " + FormatThousands(gShown.ids.size()) + (gShown.ids.size() == 1 ? L" result" : L" results");
    const UINT selected = gResultsList ? ListView_GetSelectedCount(gResultsList) : 0;
    if (selected > 0) results += L"  •  " + FormatThousands(selected) + L" selected";
    setPart(1, results);
    setPart(2, !gShown.error.empty() ? L"  " + ov::ToWide(gShown.error)
                                     : FormatString(L"  %.1f ms  •  %d thread%ls", gShown.ms, gShown.threads,
                                                    gShown.threads == 1 ? L"" : L"s"));
}
