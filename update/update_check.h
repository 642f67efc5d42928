// The update check: a release manifest fetched shortly after start, every 6
// hours when automatic checks are on, and on request.
#pragma once

#include <windows.h>

// Starts one check on a thread of its own; manual checks report what they found.
void StartUpdateCheck(bool manual);
// WM_APP_UPDATE_RESULT: lParam is the check's result record, owned by the receiver.
void OnUpdateResult(LPARAM lParam);
