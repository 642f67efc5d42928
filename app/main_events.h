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
void OnEndSession(bool ending);
// The next automatic update check is due delayMs from now.
void ScheduleUpdateCheck(uint64_t delayMs);
