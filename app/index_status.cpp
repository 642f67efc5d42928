// Built so far: the status line. Still to come: the Index Status window, adding
// folders and the Excluded folders dialog, which closes at once until it can
// store a list.
#include "app/index_status.h"

#include <shared_mutex>
#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/main_window.h"
#include "app/ribbon.h"
#include "app/startup.h"
#include "engine/engine.h"

HWND gIndexStatusWindow = nullptr;

namespace {

bool IsBusyStatus(const std::wstring& status) {
    for (const wchar_t* prefix : {L"Reading", L"Scanning", L"Loaded", L"Lots"}) {
        if (status.compare(0, wcslen(prefix), prefix) == 0) return true;
    }
    return false;
}

std::wstring SummaryText() {
    std::vector<ov::Volume*> volumes;
    {
        std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
        for (int slot = 0; slot < static_cast<int>(gEngine->volumes.size()); ++slot) {
            if (ov::Volume* volume = gEngine->VolumeAt(slot)) volumes.push_back(volume);
        }
    }
    if (volumes.empty()) return L"No drives to index yet";
    std::wstring busy;
    int live = 0;
    for (ov::Volume* volume : volumes) {
        const std::wstring status = gEngine->StatusOf(volume);
        if (IsBusyStatus(status)) busy += (busy.empty() ? L"" : L"   ") + volume->name + L" " + status;
        if (volume->live.load()) ++live;
    }
    const int total = static_cast<int>(volumes.size());
    if (!busy.empty()) {
        const std::wstring problem = gEngine->SavedIndexProblem();
        return problem.empty() ? busy : problem + L"   " + busy;
    }
    if (live == total)
        return FormatString(L"Up to date — watching %d drive%ls for changes", live, live == 1 ? L"" : L"s");
    return FormatString(L"%d of %d drives live (see Index > Index Status)", live, total);
}

}  // namespace

void ShowIndexStatus() {}

void FillIndexStatusList() {}

void UpdateIndexSummary() {
    if (!gEngine) return;
    SetStatusText(SummaryText());
    FillIndexStatusList();
    if (gRibbon) InvalidateRect(gRibbon, nullptr, FALSE);
}

void AddIndexedFolder(HWND owner) {}

LRESULT CALLBACK IndexStatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK ExcludedFoldersDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) EndDialog(dialog, IDCANCEL);
    return FALSE;
}
