// The two roads out of the program. UI thread only.
#pragma once

// Everything that must happen before the main window is destroyed to end the
// program: columns and placement stored, the index saved, workers stopped.
void SaveBeforeExit();
// Relaunches the program elevated with the current search and closes this copy.
void RestartAsAdmin();
