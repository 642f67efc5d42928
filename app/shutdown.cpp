// The two roads out of the program: SaveBeforeExit, which every exit passes
// through before the main window is destroyed, and the restart as administrator.
#include "app/shutdown.h"

#include <windows.h>

#include "app/command_line.h"
#include "app/engine_host.h"
#include "app/results_list.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "app/window_kit.h"

void SaveBeforeExit() {
    MarkEnding();
    SaveColumns();
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (gMain && GetWindowPlacement(gMain, &placement)) {
        RegWriteBinary(L"WindowPlacement", &placement, sizeof placement);
    }
    SetStatusText(L"Saving the index…");
    // The save blocks this thread: paint the text now or it never shows.
    if (gStatusBar) UpdateWindow(gStatusBar);
    StopEngineForExit();
}

void RestartAsAdmin() {
    const std::wstring parameters = RestartAsAdminParameters(GetSearchText(), gArgs.forceScan);
    SaveBeforeExit();
    if (!StartElevated(parameters, gMain, SW_SHOWNORMAL)) {
        // The engine and the search worker are stopped and cannot start again.
        MessageBoxW(gMain,
                    L"Administrator rights weren't given, so Orvane closes now. Your index was saved. Please start "
                    L"Orvane again.",
                    L"Orvane", MB_ICONINFORMATION | MB_OK);
    }
    DestroyWindow(gMain);
}
