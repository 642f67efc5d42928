#include "app/settings.h"

#include <commctrl.h>

#include "app/commands.h"
#include "app/engine_host.h"
#include "app/folder_lists.h"
#include "app/main_window.h"
#include "app/results_list.h"
#include "app/ribbon.h"
#include "app/search_box.h"
#include "app/setting_rules.h"
#include "app/startup.h"
#include "app/tray.h"
#include "update/start_with_windows.h"
#include "update/update_check.h"

AppSettings gSettings;

namespace {

struct DwordRule {
    const wchar_t* name;
    uint32_t AppSettings::*field;
    uint32_t defaultValue;
    uint32_t max;  // 1: a switch
};

// Read in this order at start-up.
constexpr DwordRule kDwordRules[] = {
    {L"RunAsAdmin", &AppSettings::runAsAdmin, 1, 1},
    {L"StartWithWindows", &AppSettings::startWithWindows, 0, 1},
    {L"KeepInTray", &AppSettings::keepInTray, 1, 1},
    {L"Hotkey", &AppSettings::hotkey, 1, 5},
    {L"HideHidden", &AppSettings::hideHidden, 0, 1},
    {L"HideSystem", &AppSettings::hideSystem, 0, 1},
    {L"Highlight", &AppSettings::highlight, 1, 1},
    {L"Stripes", &AppSettings::stripes, 0, 1},
    {L"IncludeRemovable", &AppSettings::includeRemovable, 0, 1},
    {L"SearchThreads", &AppSettings::searchThreads, 0, 256},
    {L"AutoUpdate", &AppSettings::autoUpdate, 1, 1},
    {L"SizeFormat", &AppSettings::sizeFormat, 0, 2},
    {L"MatchCase", &AppSettings::matchCase, 0, 1},
    {L"WholeWord", &AppSettings::wholeWord, 0, 1},
    {L"MatchPath", &AppSettings::matchPath, 0, 1},
    {L"Regex", &AppSettings::regex, 0, 1},
    {L"Filter", &AppSettings::filter, 0, 8},
    {L"Sort", &AppSettings::sort, 0, 7},
    {L"SortDescending", &AppSettings::sortDescending, 0, 1},
    {L"AdminBarHidden", &AppSettings::adminBarHidden, 0, 1},
};

const DwordRule* RuleOf(int id) {
    const wchar_t* name = nullptr;
    switch (id) {
        case kSetRunAsAdmin:
            name = L"RunAsAdmin";
            break;
        case kSetStartWithWindows:
            name = L"StartWithWindows";
            break;
        case kSetKeepInTray:
            name = L"KeepInTray";
            break;
        case kSetHotkey:
            name = L"Hotkey";
            break;
        case kSetHideHidden:
            name = L"HideHidden";
            break;
        case kSetHideSystem:
            name = L"HideSystem";
            break;
        case kSetHighlight:
            name = L"Highlight";
            break;
        case kSetIncludeRemovable:
            name = L"IncludeRemovable";
            break;
        case kSetThreads:
            name = L"SearchThreads";
            break;
        case kSetAutoUpdate:
            name = L"AutoUpdate";
            break;
        case kSetSizeFormat:
            name = L"SizeFormat";
            break;
        default:
            return nullptr;
    }
    for (const DwordRule& rule : kDwordRules) {
        if (wcscmp(rule.name, name) == 0) return &rule;
    }
    return nullptr;
}

bool IsCheckBox(int id) {
    return id != kSetHotkey && id != kSetThreads && id != kSetSizeFormat && id != kSetExcludedFolders;
}

// What a control now says, as the stored value.
uint32_t ControlValue(int id, HWND control) {
    if (IsCheckBox(id)) return SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    const int row = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    if (id == kSetThreads) return ThreadsOfRow(row);
    const DwordRule* rule = RuleOf(id);
    return row < 0 ? 0 : ClampSetting(static_cast<uint32_t>(row), rule->max);
}

void InvalidateResults() {
    if (gResultsList) InvalidateRect(gResultsList, nullptr, FALSE);
}

// What a change does beyond being stored.
void ApplySettingChange(int id, uint32_t value) {
    switch (id) {
        case kSetRunAsAdmin:
            ApplyStartWithWindows();
            if (value && !EngineElevated()) {
                SetStatusText(
                    L"Orvane will ask for administrator rights next time it starts (or click Index > Run as Admin "
                    L"now)");
            }
            break;
        case kSetStartWithWindows:
            ApplyStartWithWindows();
            break;
        case kSetHotkey:
            RegisterGlobalHotkey();
            break;
        case kSetHideHidden:
        case kSetHideSystem:
            SetIndexHideFlags();
            RequestSearch(true);
            break;
        case kSetIncludeRemovable:
            ApplyIncludeRemovable();
            break;
        case kSetThreads:
            RequestSearch(true);
            break;
        case kSetHighlight:
        case kSetSizeFormat:
            InvalidateResults();
            break;
        case kSetAutoUpdate:
            if (value) gUpdateDueTick = GetTickCount64() + 3000;
            break;
        default:
            break;
    }
}

}  // namespace

uint32_t RegReadDword(const wchar_t* name, uint32_t fallback) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return fallback;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return fallback;
    return value;
}

std::wstring RegReadString(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    DWORD type = 0;
    DWORD size = 0;
    std::wstring text;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_MULTI_SZ) && size < 0x100000) {
        // Zero-filled with room for a NUL the stored data may lack.
        std::wstring buffer(size / 2 + 2, L'\0');
        DWORD got = size;
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_MULTI_SZ) && got <= size) {
            text.assign(buffer.c_str());
        }
    }
    RegCloseKey(key);
    return text;
}

namespace {

LSTATUS WriteValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status;
}

}  // namespace

LSTATUS RegWriteDword(const wchar_t* name, uint32_t value) {
    const DWORD data = value;
    return WriteValue(name, REG_DWORD, &data, sizeof data);
}

LSTATUS RegWriteString(const wchar_t* name, const std::wstring& value) {
    return WriteValue(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS RegWriteBinary(const wchar_t* name, const void* data, DWORD size) {
    return WriteValue(name, REG_BINARY, data, size);
}

bool RegReadBinary(const wchar_t* name, void* data, DWORD size) {
    DWORD type = 0;
    DWORD got = size;
    return RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_BINARY, &type, data, &got) == ERROR_SUCCESS &&
           got == size;
}

void ReadSettings() {
    AppSettings settings;
    for (const DwordRule& rule : kDwordRules) {
        settings.*rule.field = ClampSetting(RegReadDword(rule.name, rule.defaultValue), rule.max);
    }
    // A count the Threads list cannot show would make the list and the searches disagree.
    settings.searchThreads = ThreadsOfRow(RowOfThreads(settings.searchThreads));
    settings.excludedFolders = SplitLines(RegReadString(L"ExcludedFolders"));
    settings.indexedFolders = SplitLines(RegReadString(L"IndexedFolders"));
    gSettings = std::move(settings);
}

void OnSettingsCommand(int id, int code, HWND control) {
    if (id == kSetExcludedFolders) {
        OnCommand(kCmdExcludedFolders);
        return;
    }
    const DwordRule* rule = RuleOf(id);
    if (!rule || !control) return;
    if (code != (IsCheckBox(id) ? BN_CLICKED : CBN_SELCHANGE)) return;
    const uint32_t value = ControlValue(id, control);
    gSettings.*rule->field = value;
    RegWriteDword(rule->name, value);
    ApplySettingChange(id, value);
}

HWND CreateLabeledCombo(int y, const wchar_t* label, int id, const wchar_t* const* items, int count, int selected,
                        const wchar_t* tooltip) {
    constexpr int kGroup = 2;  // "Keys, sizes & speed"
    HWND text = CreateRibbonControl(L"STATIC", label, SS_NOTIFY | SS_CENTERIMAGE, kGroup, 8, y, 56, 23, 0);
    HWND list =
        CreateRibbonControl(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kGroup, 64, y, 136, 220, id);
    if (!list) return nullptr;
    for (int i = 0; i < count; ++i) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
    SendMessageW(list, CB_SETCURSEL, selected, 0);
    if (text) AddControlTooltip(text, tooltip);
    AddControlTooltip(list, tooltip);
    return list;
}
