// Reading and writing the stored settings, in this test's own registry.
#include "app/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void Put(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes), 0);
    RegCloseKey(key);
}

void PutDword(const wchar_t* name, DWORD value) {
    Put(name, REG_DWORD, &value, sizeof value);
}

void PutText(const wchar_t* name, DWORD type, const std::wstring& text) {
    Put(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }
};

TEST_F(Settings, AnEmptyKeyGivesTheDefaults) {
    ReadSettings();
    const AppSettings defaults;
    const uint32_t AppSettings::*fields[] = {
        &AppSettings::runAsAdmin, &AppSettings::keepInTray,    &AppSettings::hotkey, &AppSettings::highlight,
        &AppSettings::autoUpdate, &AppSettings::searchThreads, &AppSettings::sort};
    for (auto field : fields) EXPECT_EQ(gSettings.*field, defaults.*field);
    EXPECT_EQ(gSettings.runAsAdmin, 1u);
    EXPECT_EQ(gSettings.hotkey, 1u);
    EXPECT_TRUE(gSettings.excludedFolders.empty());
}

TEST_F(Settings, EveryValueIsReadWithItsClamp) {
    struct Case {
        const wchar_t* name;
        uint32_t AppSettings::*field;
        DWORD stored;
        uint32_t read;
    } cases[] = {
        {L"RunAsAdmin", &AppSettings::runAsAdmin, 0, 0},
        {L"StartWithWindows", &AppSettings::startWithWindows, 0xFFFFFFFF, 1},
        {L"KeepInTray", &AppSettings::keepInTray, 0, 0},
        {L"Hotkey", &AppSettings::hotkey, 9, 5},
        {L"HideHidden", &AppSettings::hideHidden, 2, 1},
        {L"HideSystem", &AppSettings::hideSystem, 0xFFFFFFFF, 1},
        {L"Highlight", &AppSettings::highlight, 0, 0},
        {L"Stripes", &AppSettings::stripes, 5, 1},
        {L"IncludeRemovable", &AppSettings::includeRemovable, 1, 1},
        {L"SearchThreads", &AppSettings::searchThreads, 1000, 32},
        {L"SearchThreads", &AppSettings::searchThreads, 3, 4},
        {L"SearchThreads", &AppSettings::searchThreads, 0xFFFFFFFF, 32},
        {L"AutoUpdate", &AppSettings::autoUpdate, 0, 0},
        {L"SizeFormat", &AppSettings::sizeFormat, 0xFFFFFFFF, 2},
        {L"MatchCase", &AppSettings::matchCase, 1, 1},
        {L"WholeWord", &AppSettings::wholeWord, 3, 1},
        {L"MatchPath", &AppSettings::matchPath, 1, 1},
        {L"Regex", &AppSettings::regex, 1, 1},
        {L"Filter", &AppSettings::filter, 9, 8},
        {L"Sort", &AppSettings::sort, 0xFFFFFFFF, 7},
        {L"SortDescending", &AppSettings::sortDescending, 4, 1},
        {L"AdminBarHidden", &AppSettings::adminBarHidden, 1, 1},
    };
    for (const Case& c : cases) {
        PutDword(c.name, c.stored);
        ReadSettings();
        EXPECT_EQ(gSettings.*c.field, c.read) << std::string(c.name, c.name + wcslen(c.name)) << " " << c.stored;
    }
}

TEST_F(Settings, WrongTypesReadAsMissing) {
    PutText(L"Hotkey", REG_SZ, L"3");
    const uint64_t wide = 3;
    Put(L"Sort", REG_QWORD, &wide, sizeof wide);
    Put(L"Filter", REG_BINARY, "\x02\x00\x00\x00", 4);
    PutText(L"ExcludedFolders", REG_EXPAND_SZ, L"C:\\a\n");
    Put(L"IndexedFolders", REG_MULTI_SZ, L"C:\\one\0C:\\two\0", 30);
    ReadSettings();
    EXPECT_EQ(gSettings.hotkey, 1u);
    EXPECT_EQ(gSettings.sort, 0u);
    EXPECT_EQ(gSettings.filter, 0u);
    EXPECT_TRUE(gSettings.excludedFolders.empty());
    EXPECT_EQ(gSettings.indexedFolders, std::vector<std::wstring>{L"C:\\one"});
    // An odd byte count and a missing NUL still give the text stored.
    Put(L"ExcludedFolders", REG_SZ, L"D:\\x\r\nE:\\y", 21);
    ReadSettings();
    EXPECT_EQ(gSettings.excludedFolders, (std::vector<std::wstring>{L"D:\\x", L"E:\\y"}));
}

TEST_F(Settings, WritersReportTheWrite) {
    EXPECT_EQ(RegWriteDword(L"Hotkey", 4), ERROR_SUCCESS);
    EXPECT_EQ(RegReadDword(L"Hotkey", 1), 4u);
    EXPECT_EQ(RegWriteString(L"ColumnWidths", L"300,380,"), ERROR_SUCCESS);
    EXPECT_EQ(RegReadString(L"ColumnWidths"), L"300,380,");
    // The key opens, the value cannot be stored: the failure is reported.
    const std::wstring tooLong(20000, L'n');
    EXPECT_NE(RegWriteDword(tooLong.c_str(), 1), ERROR_SUCCESS);
    EXPECT_NE(RegWriteString(tooLong.c_str(), L"x"), ERROR_SUCCESS);
}

}  // namespace
