#include "app/settings.h"

#include <commctrl.h>

#include "app/command_ids.h"
#include "app/folder_lists.h"
#include "app/setting_rules.h"

AppSettings gSettings;

namespace {

// Read in this order at start-up.
constexpr SettingRule kSettingRules[] = {
    {L"RunAsAdmin", &AppSettings::runAsAdmin, 1, 1, kSetRunAsAdmin},
    {L"StartWithWindows", &AppSettings::startWithWindows, 0, 1, kSetStartWithWindows},
    {L"KeepInTray", &AppSettings::keepInTray, 1, 1, kSetKeepInTray},
    {L"Hotkey", &AppSettings::hotkey, 1, 5, kSetHotkey},
    {L"HideHidden", &AppSettings::hideHidden, 0, 1, kSetHideHidden},
    {L"HideSystem", &AppSettings::hideSystem, 0, 1, kSetHideSystem},
    {L"Highlight", &AppSettings::highlight, 1, 1, kSetHighlight},
    {L"Stripes", &AppSettings::stripes, 0, 1, 0},  // no control
    {L"IncludeRemovable", &AppSettings::includeRemovable, 0, 1, kSetIncludeRemovable},
    {L"SearchThreads", &AppSettings::searchThreads, 0, 256, kSetThreads},
    {L"AutoUpdate", &AppSettings::autoUpdate, 1, 1, kSetAutoUpdate},
    {L"SizeFormat", &AppSettings::sizeFormat, 0, 2, kSetSizeFormat},
    {L"MatchCase", &AppSettings::matchCase, 0, 1, kCmdMatchCase},
    {L"WholeWord", &AppSettings::wholeWord, 0, 1, kCmdWholeWord},
    {L"MatchPath", &AppSettings::matchPath, 0, 1, kCmdMatchPath},
    {L"Regex", &AppSettings::regex, 0, 1, kCmdRegex},
    {L"Filter", &AppSettings::filter, 0, 8, kIdFilterList},
    {L"Sort", &AppSettings::sort, 0, 7, 0},
    {L"SortDescending", &AppSettings::sortDescending, 0, 1, 0},
    {L"AdminBarHidden", &AppSettings::adminBarHidden, 0, 1, kCmdHideAdminBar},
};

bool IsComboSetting(int id) {
    return id == kSetHotkey || id == kSetThreads || id == kSetSizeFormat;
}

// What a control now says, as the stored value.
uint32_t ControlValue(const SettingRule& rule, HWND control) {
    if (!IsComboSetting(rule.command)) return SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    const int row = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    if (rule.command == kSetThreads) return ThreadsOfRow(row);
    return row < 0 ? 0 : ClampSetting(static_cast<uint32_t>(row), rule.max);
}

}  // namespace

const SettingRule* SettingRuleOf(uint32_t AppSettings::*field) {
    for (const SettingRule& rule : kSettingRules) {
        if (rule.field == field) return &rule;
    }
    return nullptr;
}

const SettingRule* SettingRuleOfCommand(int command) {
    if (command == 0) return nullptr;
    for (const SettingRule& rule : kSettingRules) {
        if (rule.command == command) return &rule;
    }
    return nullptr;
}

void StoreSetting(uint32_t AppSettings::*field, uint32_t value) {
    const SettingRule* rule = SettingRuleOf(field);
    if (!rule) return;
    gSettings.*field = ClampSetting(value, rule->max);
    RegWriteDword(rule->name, gSettings.*field);
}

void SetSettingForThisRun(uint32_t AppSettings::*field, uint32_t value) {
    gSettings.*field = value;
}

bool StoreSettingFromControl(int id, int code, HWND control, uint32_t& value) {
    if (id < kSetRunAsAdmin || id > kSetSizeFormat) return false;
    const SettingRule* rule = SettingRuleOfCommand(id);
    if (!rule || !control) return false;
    if (code != (IsComboSetting(id) ? CBN_SELCHANGE : BN_CLICKED)) return false;
    value = ControlValue(*rule, control);
    StoreSetting(rule->field, value);
    return true;
}

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

void StoreIndexedFolders(std::vector<std::wstring> folders) {
    gSettings.indexedFolders = std::move(folders);
    RegWriteString(L"IndexedFolders", JoinLines(gSettings.indexedFolders));
}

void StoreExcludedFolders(std::vector<std::wstring> folders) {
    gSettings.excludedFolders = std::move(folders);
    RegWriteString(L"ExcludedFolders", JoinLines(gSettings.excludedFolders));
}

void ReadSettings() {
    AppSettings settings;
    for (const SettingRule& rule : kSettingRules) {
        settings.*rule.field = ClampSetting(RegReadDword(rule.name, rule.defaultValue), rule.max);
    }
    // A count the Threads list cannot show would make the list and the searches disagree.
    settings.searchThreads = ThreadsOfRow(RowOfThreads(settings.searchThreads));
    settings.excludedFolders = SplitLines(RegReadString(L"ExcludedFolders"));
    settings.indexedFolders = SplitLines(RegReadString(L"IndexedFolders"));
    gSettings = std::move(settings);
}
