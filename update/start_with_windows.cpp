// Still to come: the Run value and the scheduled task; nothing is registered yet.
#include "update/start_with_windows.h"

void ApplyStartWithWindows() {}
