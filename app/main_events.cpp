// What the main window does on its timers and on the messages of the engine,
// the index-load thread and other processes.
#include "app/main_events.h"

#include <dbt.h>

#include "app/command_ids.h"
#include "app/diagnostics.h"
#include "app/engine_host.h"
#include "app/index_status.h"
#include "app/results_list.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/shutdown.h"
#include "app/window_kit.h"
#include "update/start_with_windows.h"
#include "update/update_check.h"

namespace {

// When the next automatic update check is due (GetTickCount64).
uint64_t gUpdateDueTick = 0;
int gOldFileTicks = 0;
uint64_t gSelfTestStart = 0;

void OnUpdateCheckTimer() {
    if (gEnding || !gSettings.autoUpdate || GetTickCount64() < gUpdateDueTick) return;
    gUpdateDueTick = GetTickCount64() + 21600000;
    StartUpdateCheck(false);
}

// A self-update leaves the replaced program beside the new one for a while.
void OnOldFileTimer() {
    DeleteFileW((GetExePath() + L".old").c_str());
    if (++gOldFileTicks >= 5) KillTimer(gMain, kTimerOldFile);
}

void OnDevicesTimer() {
    KillTimer(gMain, kTimerDevices);
    RefreshVolumesIfLoaded();
}

void OnRefreshTimer() {
    KillTimer(gMain, kTimerRefresh);
    if (!gEnding) RequestSearch(true);
}

void OnSelfTestTimer() {
    const uint64_t now = GetTickCount64();
    if (gSelfTestStart == 0) gSelfTestStart = now;
    const bool ready = IndexReadyForSelfTest();
    if (!ready && now - gSelfTestStart < 600000) return;
    KillTimer(gMain, kTimerSelfTest);
    FinishSelfTest(ready);
}

}  // namespace

void OnMainTimer(UINT_PTR id) {
    switch (id) {
        case kTimerUpdateCheck:
            OnUpdateCheckTimer();
            break;
        case kTimerOldFile:
            OnOldFileTimer();
            break;
        case kTimerDevices:
            OnDevicesTimer();
            break;
        case kTimerSave:
            if (!gEnding) StartBackgroundSaveIfDue();
            break;
        case kTimerSelfTest:
            OnSelfTestTimer();
            break;
        case kTimerRefresh:
            OnRefreshTimer();
            break;
        default:
            break;
    }
}

// A changed epoch means the shown entry numbers are stale: search at once. Other
// changes come in bursts: search once, 300 ms after the last.
void OnIndexChanged() {
    ClearIndexChangedPosted();
    uint64_t epoch = 0;
    uint64_t changes = 0;
    if (ReadIndexCounters(epoch, changes) && !gEnding) {
        if (epoch != gShown.epoch) {
            if (gResultsList) InvalidateRect(gResultsList, nullptr, FALSE);
            RequestSearch(true);
        } else if (changes != gShown.changes) {
            SetTimer(gMain, kTimerRefresh, 300, nullptr);
        }
    }
    UpdateStatusBar();
}

void OnVolumesChanged() {
    ClearVolumesChangedPosted();
    UpdateIndexSummary();
    const bool wanted = !gSettings.adminBarHidden && AdminBarWanted();
    if (!gAdminBar || InfoBarShown(gAdminBar) == wanted) return;
    ShowWindow(gAdminBar, wanted ? SW_SHOW : SW_HIDE);
    LayoutMainWindow();
}

void OnIndexLoaded() {
    MarkIndexLoaded();
    UpdateIndexSummary();
    if (gSettings.startWithWindows) ApplyStartWithWindows();
    RequestSearch(true);
}

void OnExitMessage() {
    SaveBeforeExit();
    DestroyWindow(gMain);
}

void OnDeviceChange(WPARAM event) {
    if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) SetTimer(gMain, kTimerDevices, 2000, nullptr);
}

// Windows is ending the session: save now. The window stays until Windows ends
// the process, so gEnding keeps the timers from starting engine work again.
void OnEndSession(bool ending) {
    if (ending) SaveBeforeExit();
}

void ScheduleUpdateCheck(uint64_t delayMs) {
    gUpdateDueTick = GetTickCount64() + delayMs;
}
