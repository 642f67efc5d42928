// The application's start-up in a test's own process, up to the main window:
// fresh settings, fonts, window classes and an engine whose volumes are never
// started. The test fills the index and creates the window itself.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "app/engine_host.h"
#include "app/settings.h"
#include "app/startup.h"

namespace ov::gui {

inline void SetUpAppInProcess() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x40FF};
    InitCommonControlsEx(&controls);
    gInstance = GetModuleHandleW(nullptr);
    ReadSettings();
    CreateAppFonts();
    RegisterWindowClasses();
    SetUpEngine();
}

}  // namespace ov::gui
