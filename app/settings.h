// The user's settings: values under HKCU\Software\Keltrax\Orvane, read once at
// start-up with their defaults and clamps, and written back value by value as
// soon as the user changes one. UI thread only; the values other threads need
// travel as the index's atomic flags and inside each search request.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr const wchar_t* kSettingsKey = L"Software\\Keltrax\\Orvane";

struct AppSettings {
    uint32_t runAsAdmin = 1;
    uint32_t startWithWindows = 0;
    uint32_t keepInTray = 1;
    uint32_t hotkey = 1;  // row of the hotkey table, 0 = none
    uint32_t hideHidden = 0;
    uint32_t hideSystem = 0;
    uint32_t highlight = 1;
    uint32_t stripes = 0;
    uint32_t includeRemovable = 0;
    uint32_t searchThreads = 0;  // 0 = all; always a value the Threads list shows
    uint32_t autoUpdate = 1;
    uint32_t sizeFormat = 0;  // 0 automatic, 1 always KB, 2 exact bytes
    uint32_t matchCase = 0;
    uint32_t wholeWord = 0;
    uint32_t matchPath = 0;
    uint32_t regex = 0;
    uint32_t filter = 0;  // FilterDef row
    uint32_t sort = 0;    // ov::SortKey
    uint32_t sortDescending = 0;
    uint32_t adminBarHidden = 0;
    std::vector<std::wstring> excludedFolders;
    std::vector<std::wstring> indexedFolders;
};

extern AppSettings gSettings;

// The DWORD value, or fallback when the key or value is missing, the type is not
// REG_DWORD or the data is not 4 bytes.
uint32_t RegReadDword(const wchar_t* name, uint32_t fallback);
// A REG_SZ or REG_MULTI_SZ value under 1 MiB up to its first NUL; empty otherwise.
std::wstring RegReadString(const wchar_t* name);
// Create or open the key and store the value: ERROR_SUCCESS only when the value
// was written (a failed open or a failed write returns its error).
LSTATUS RegWriteDword(const wchar_t* name, uint32_t value);
LSTATUS RegWriteString(const wchar_t* name, const std::wstring& value);
LSTATUS RegWriteBinary(const wchar_t* name, const void* data, DWORD size);
// A REG_BINARY value of exactly size bytes into data; false otherwise.
bool RegReadBinary(const wchar_t* name, void* data, DWORD size);

// Every value of gSettings from the registry, in the table's order.
void ReadSettings();

// WM_COMMAND from a Settings-tab control (ids 400-412): control is the window
// that sent it (lParam). Stores the change and applies it.
void OnSettingsCommand(int id, int code, HWND control);

// A label and a drop-down list in the Settings tab's "Keys, sizes & speed" group.
HWND CreateLabeledCombo(int y, const wchar_t* label, int id, const wchar_t* const* items, int count, int selected,
                        const wchar_t* tooltip);
