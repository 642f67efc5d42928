// The user's settings: values under HKCU\Software\Keltrax\Orvane, read once at
// start-up with their defaults and clamps, and written back value by value as
// soon as the user changes one. One table row per stored number holds its
// name, default, clamp and the command that changes it; every change goes
// through StoreSetting, so gSettings is written in this file only. UI thread
// only; the values other threads need travel as the index's atomic flags and
// inside each search request.
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

// Read by everyone, written only here.
extern AppSettings gSettings;

struct SettingRule {
    const wchar_t* name;
    uint32_t AppSettings::*field;
    uint32_t defaultValue;
    uint32_t max;  // 1: a switch (see ClampSetting)
    int command;   // the control or command that changes it (commands.h); 0 none
};

// The rule of a stored number, by its field or by its command; null for none.
const SettingRule* SettingRuleOf(uint32_t AppSettings::*field);
const SettingRule* SettingRuleOfCommand(int command);
// Sets the value, clamped by its rule, and writes it to the registry.
void StoreSetting(uint32_t AppSettings::*field, uint32_t value);
// Only for a run: never written back (the installer switched updates off).
void SetSettingForThisRun(uint32_t AppSettings::*field, uint32_t value);
// Settings-tab control command (ids 400-412 but kSetExcludedFolders): stores
// what control now says. False, storing nothing, for an unknown id or a
// notification that is not the control's change.
bool StoreSettingFromControl(int id, int code, HWND control, uint32_t& value);

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

// "IndexedFolders" or "ExcludedFolders": replaces the list and stores it
// (JoinLines). A failed write is ignored: the list still changes.
void StoreIndexedFolders(std::vector<std::wstring> folders);
void StoreExcludedFolders(std::vector<std::wstring> folders);

// Every value of gSettings from the registry, in the table's order.
void ReadSettings();
