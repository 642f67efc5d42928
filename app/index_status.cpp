// Built so far: the status line. Still to come: the Index Status window, adding
// folders and the Excluded folders dialog, which closes at once until it can
// store a list.
#include "app/index_status.h"

#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/engine_host.h"
#include "app/window_kit.h"

HWND gIndexStatusWindow = nullptr;

namespace {

// Busy volumes name their work; else how many are live.
std::wstring SummaryText(const std::vector<VolumeFacts>& volumes) {
    if (volumes.empty()) return L"No drives to index yet";
    std::wstring busy;
    int live = 0;
    for (const VolumeFacts& volume : volumes) {
        if (ov::IsBusyPhase(volume.phase)) busy += (busy.empty() ? L"" : L"   ") + volume.name + L" " + volume.status;
        if (volume.live) ++live;
    }
    const int total = static_cast<int>(volumes.size());
    if (!busy.empty()) {
        const std::wstring problem = ReadSavedIndexProblem();
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
    if (!EngineMade()) return;
    SetStatusText(SummaryText(SnapshotVolumes()));
    FillIndexStatusList();
    RefreshRibbon();
}

void AddIndexedFolder(HWND owner) {}

LRESULT CALLBACK IndexStatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK ExcludedFoldersDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) EndDialog(dialog, IDCANCEL);
    return FALSE;
}
