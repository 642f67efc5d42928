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
void OnDeviceChange(WPARAM event);
void OnEndSession(bool ending);
// The next automatic update check is due delayMs from now.
void ScheduleUpdateCheck(uint64_t delayMs);
