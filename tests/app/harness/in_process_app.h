// The application's start-up in a test's own process, up to the main window:
// fresh settings, fonts, window classes and an engine whose volumes are never
// started. The test fills the index and creates the window itself.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/engine_host.h"
#include "app/settings.h"
#include "app/startup.h"
#include "engine/engine.h"
#include "index/entry.h"
#include "index/text.h"
#include "tests/support/index_reference.h"

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

// Entries for each folder of folder (ending in a backslash) from the drive
// down; the last one's number. The caller holds the index lock exclusively.
inline uint32_t AddFolderChain(const std::wstring& folder) {
    uint32_t parent = ov::kNoEntry;
    size_t start = 0;
    for (size_t slash; (slash = folder.find(L'\\', start)) != std::wstring::npos; start = slash + 1) {
        const std::string name = ov::ToUtf8(folder.substr(start, slash - start));
        const uint32_t flags =
            ov::EntryFlags::Directory | 0x10 | (parent == ov::kNoEntry ? ov::EntryFlags::VolumeRoot : 0);
        parent = ov::testing::AddNamed(*gEngine, parent, name, flags);
    }
    return parent;
}

}  // namespace ov::gui
