// The start-with-Windows entry: a Run value, or a scheduled task to start elevated.
#pragma once

// Brings the entry in line with "StartWithWindows" and "RunAsAdmin".
void ApplyStartWithWindows();
