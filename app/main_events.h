// What the main window does on its timers and on the messages of the engine,
// the index-load thread, other processes and Windows. UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>

void OnMainTimer(UINT_PTR id);
void OnIndexChanged();
void OnVolumesChanged();
void OnIndexLoaded();
void OnExitMessage();
// WM_DEVICECHANGE: the events of the indexed drives' devices (registered for
// at every change of the volumes) and arrivals and removals of any drive.
void OnDeviceChange(WPARAM event, LPARAM data);
// WM_DESTROY: the drives' device notifications end.
void EndDriveNotifications();
// Windows is ending the session: the index is saved with a shut-down block
// reason ("Saving the index…") set, so Windows waits for the save or lets the
// user choose, rather than ending the process after a few seconds.
void OnEndSession(bool ending);
// The next automatic update check is due delayMs from now.
void ScheduleUpdateCheck(uint64_t delayMs);

// Test seam: ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy; null
// puts the real ones back.
using BlockReasonCreate = BOOL(WINAPI*)(HWND window, LPCWSTR reason);
using BlockReasonDestroy = BOOL(WINAPI*)(HWND window);
void SetShutdownBlockForTesting(BlockReasonCreate create, BlockReasonDestroy destroy);
