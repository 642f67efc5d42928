// The activity log and the formatting helpers the whole application shares.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "app/activity_log.h"

namespace {

TEST(ActivityLog, KeepsTheNewest800LinesInOrderAndCutsLongTexts) {
    for (int i = 0; i < 801; ++i) Log(L"line %d of %ls", i, L"many");
    std::vector<std::wstring> lines = ActivityLogLines();
    ASSERT_EQ(lines.size(), 800u);
    const std::wregex stamped(L"[ 0-9]{9,10}  line ([0-9]+) of many");
    for (size_t i = 0; i < lines.size(); ++i) {
        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, stamped)) << i;
        EXPECT_EQ(std::stoi(match[1].str()), static_cast<int>(i) + 1);
    }

    Log(L"%ls", std::wstring(1000, L'x').c_str());
    lines = ActivityLogLines();
    ASSERT_EQ(lines.size(), 800u);
    const size_t stamp = lines.back().find(L"  x") + 2;
    EXPECT_GE(stamp, 11u);
    EXPECT_EQ(lines.back().substr(stamp), std::wstring(899, L'x'));
}

TEST(ActivityLog, FormatsCutAndConvert) {
    wchar_t buffer[200];
    FormatBuf(buffer, 200, L"%ls-%d", std::wstring(300, L'y').c_str(), 7);
    EXPECT_EQ(std::wstring(buffer), std::wstring(199, L'y'));
    EXPECT_EQ(FormatString(L"%hs and %ls, %llu", "narrow", L"wide", 18446744073709551615ull),
              L"narrow and wide, 18446744073709551615");

    EXPECT_EQ(FormatFileTime(0), L"");
    // Beyond what a FILETIME converts to: empty, not garbage.
    EXPECT_EQ(FormatFileTime(0x8000000000000000ull), L"");
    SYSTEMTIME noon = {};
    noon.wYear = 2024;
    noon.wMonth = 7;
    noon.wDay = 15;
    noon.wHour = 12;
    FILETIME time;
    ASSERT_TRUE(SystemTimeToFileTime(&noon, &time));
    const std::wstring text = FormatFileTime(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
    EXPECT_NE(text.find(L"2024"), std::wstring::npos) << std::string(text.begin(), text.end());
    EXPECT_NE(text.find(L' '), std::wstring::npos);
    EXPECT_EQ(text.find(L":00:"), std::wstring::npos);  // no seconds
}

// New York (TZ, set for this suite): 12:00 UTC is 07:00 in winter and 08:00 in
// summer, whatever the season the test runs in; dm: converts the same way.
TEST(ActivityLog, FileTimesTakeTheOffsetOfTheirOwnSeason) {
    TIME_ZONE_INFORMATION zone = {};
    GetTimeZoneInformation(&zone);
    ASSERT_NE(zone.DaylightBias, 0) << "needs a time zone with daylight saving (TZ=America/New_York)";
    ASSERT_EQ(zone.Bias, 300) << "needs TZ=America/New_York";
    struct Season {
        WORD month;
        WORD localHour;
    } seasons[] = {{1, 7}, {7, 8}};
    for (const Season& season : seasons) {
        SYSTEMTIME utc = {};
        utc.wYear = 2024;
        utc.wMonth = season.month;
        utc.wDay = 15;
        utc.wHour = 12;
        FILETIME time;
        ASSERT_TRUE(SystemTimeToFileTime(&utc, &time));
        SYSTEMTIME local = utc;
        local.wHour = season.localHour;
        wchar_t date[64] = {};
        wchar_t clock[64] = {};
        GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 64, nullptr);
        GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, clock, 64);
        EXPECT_EQ(FormatFileTime(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime),
                  std::wstring(date) + L" " + clock)
            << "month " << season.month;
    }
}

}  // namespace
