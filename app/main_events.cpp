// What the main window does on its timers and on the messages of the engine,
// the index-load thread, other processes and Windows, and the device
// notifications of the indexed drives it registers for.
#include "app/main_events.h"

#include <dbt.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/diagnostics.h"
#include "app/engine_host.h"
#include "app/index_status.h"
#include "app/results_list.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/shutdown.h"
#include "app/tray.h"
#include "app/window_kit.h"
#include "update/install_step.h"
#include "update/start_with_windows.h"
#include "update/update_check.h"

namespace {

// When the next automatic update check is due (GetTickCount64).
uint64_t gUpdateDueTick = 0;
int gOldFileTicks = 0;
uint64_t gSelfTestStart = 0;
BlockReasonCreate gBlockCreate = ShutdownBlockReasonCreate;
BlockReasonDestroy gBlockDestroy = ShutdownBlockReasonDestroy;

// Windows asks the owners of handles on a drive before it removes it, but only
// those registered for the drive's own device events: without this, "Safely
// remove" finds the engine's watch and journal handles open and refuses.
struct DriveRegistration {
    std::wstring root;  // the drive's root, as "X:\" is written
    HDEVNOTIFY notify;
};
std::vector<DriveRegistration> gDriveRegistrations;

// The drives that hold an indexed volume (the drive's own or an added folder
// on it) and can be removed or ejected; network and optical drives cannot.
std::vector<std::wstring> IndexedDriveRoots() {
    std::vector<std::wstring> roots;
    for (const VolumeFacts& volume : SnapshotVolumes()) {
        if (volume.root.size() < 3 || volume.root[1] != L':' || volume.root[2] != L'\\') continue;
        std::wstring root = volume.root.substr(0, 3);
        root[0] = static_cast<wchar_t>(towupper(static_cast<wint_t>(root[0])));
        const UINT type = GetDriveTypeW(root.c_str());
        if ((type == DRIVE_FIXED || type == DRIVE_REMOVABLE) &&
            std::find(roots.begin(), roots.end(), root) == roots.end())
            roots.push_back(root);
    }
    return roots;
}

// Registers for the events of the drive's volume device. The handle only names
// the device: the registration outlives it, so nothing stays open.
HDEVNOTIFY RegisterDrive(const std::wstring& root) {
    const std::wstring device = L"\\\\.\\" + root.substr(0, 2);
    HANDLE volume =
        CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return nullptr;
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = volume;
    HDEVNOTIFY notify = RegisterDeviceNotificationW(gMain, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    CloseHandle(volume);
    return notify;
}

// Registrations in line with the indexed drives; one that could not be made
// (the drive not ready) is tried again at the next change of the volumes.
void SyncDriveRegistrations() {
    const std::vector<std::wstring> wanted = IndexedDriveRoots();
    for (auto it = gDriveRegistrations.begin(); it != gDriveRegistrations.end();) {
        if (std::find(wanted.begin(), wanted.end(), it->root) != wanted.end()) {
            ++it;
            continue;
        }
        UnregisterDeviceNotification(it->notify);
        it = gDriveRegistrations.erase(it);
    }
    for (const std::wstring& root : wanted) {
        const bool known = std::any_of(gDriveRegistrations.begin(), gDriveRegistrations.end(),
                                       [&root](const DriveRegistration& r) { return r.root == root; });
        if (known) continue;
        if (HDEVNOTIFY notify = RegisterDrive(root)) gDriveRegistrations.push_back({root, notify});
    }
}

// One event of a registered drive: a removal asked for lets go of the engine's
// handles on it, a cancelled one takes them up again, and a removal that
// happened (announced or not) is the drive going.
void OnDriveEvent(WPARAM event, const DEV_BROADCAST_HANDLE* handle) {
    const auto it = std::find_if(gDriveRegistrations.begin(), gDriveRegistrations.end(),
                                 [handle](const DriveRegistration& r) { return r.notify == handle->dbch_hdevnotify; });
    if (it == gDriveRegistrations.end()) return;
    const std::wstring root = it->root;
    switch (event) {
        case DBT_DEVICEQUERYREMOVE:
            if (!ReleaseIndexedDrive(root))
                Log(L"%ls is still in use by indexing; it may not be removable yet", root.c_str());
            break;
        case DBT_DEVICEQUERYREMOVEFAILED:
            ReclaimIndexedDrive(root);
            break;
        case DBT_DEVICEREMOVEPENDING:
        case DBT_DEVICEREMOVECOMPLETE:
            UnregisterDeviceNotification(it->notify);
            gDriveRegistrations.erase(it);
            DropIndexedDrive(root);
            break;
        default:
            break;
    }
}

void OnUpdateCheckTimer() {
    if (gEnding || !gSettings.autoUpdate || GetTickCount64() < gUpdateDueTick) return;
    gUpdateDueTick = GetTickCount64() + 21600000;
    StartUpdateCheck(false);
}

// A self-update leaves the replaced program beside the new one for a while.
void OnOldFileTimer() {
    DeleteOldProgramFile(GetExePath());
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
        case kTimerTrayIcon:
            RetryTrayIcon();
            break;
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
    SyncDriveRegistrations();
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

void OnDeviceChange(WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header && header->dbch_devicetype == DBT_DEVTYP_HANDLE)
        OnDriveEvent(event, reinterpret_cast<const DEV_BROADCAST_HANDLE*>(data));
    if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) SetTimer(gMain, kTimerDevices, 2000, nullptr);
}

void EndDriveNotifications() {
    for (const DriveRegistration& r : gDriveRegistrations) UnregisterDeviceNotification(r.notify);
    gDriveRegistrations.clear();
}

// Windows is ending the session: save now. The window stays until Windows ends
// the process, so gEnding keeps the timers from starting engine work again.
void OnEndSession(bool ending) {
    if (!ending) return;
    const bool blocked = gBlockCreate(gMain, L"Saving the index\u2026") != FALSE;
    SaveBeforeExit();
    if (blocked) gBlockDestroy(gMain);
}

void SetShutdownBlockForTesting(BlockReasonCreate create, BlockReasonDestroy destroy) {
    gBlockCreate = create ? create : ShutdownBlockReasonCreate;
    gBlockDestroy = destroy ? destroy : ShutdownBlockReasonDestroy;
}

void ScheduleUpdateCheck(uint64_t delayMs) {
    gUpdateDueTick = GetTickCount64() + delayMs;
}
