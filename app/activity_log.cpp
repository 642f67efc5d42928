#include "app/activity_log.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>
#include <deque>

namespace {

SRWLOCK gLogLock = SRWLOCK_INIT;
std::deque<std::wstring> gLogLines;  // guarded by gLogLock

// ISO vswprintf (MinGW's own): a longer text is cut and terminated.
void FormatInto(wchar_t* buffer, size_t size, const wchar_t* format, va_list args) {
    if (size == 0) return;
    std::vswprintf(buffer, size, format, args);
    buffer[size - 1] = L'\0';
}

}  // namespace

void Log(const wchar_t* format, ...) {
    wchar_t text[900] = {};
    va_list args;
    va_start(args, format);
    FormatInto(text, 900, format, args);
    va_end(args);
    wchar_t line[960] = {};
    FormatBuf(line, 960, L"%9lu  %ls", GetTickCount(), text);
    AcquireSRWLockExclusive(&gLogLock);
    try {
        gLogLines.emplace_back(line);
        if (gLogLines.size() > kActivityLogLines) gLogLines.pop_front();
    } catch (const std::bad_alloc&) {
        // A line that does not fit in memory is dropped.
    }
    ReleaseSRWLockExclusive(&gLogLock);
}

std::vector<std::wstring> ActivityLogLines() {
    AcquireSRWLockShared(&gLogLock);
    std::vector<std::wstring> lines(gLogLines.begin(), gLogLines.end());
    ReleaseSRWLockShared(&gLogLock);
    return lines;
}

void FormatBuf(wchar_t* buffer, size_t size, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatInto(buffer, size, format, args);
    va_end(args);
}

std::wstring FormatString(const wchar_t* format, ...) {
    wchar_t buffer[2048] = {};
    va_list args;
    va_start(args, format);
    FormatInto(buffer, 2048, format, args);
    va_end(args);
    return buffer;
}

std::wstring FormatFileTime(uint64_t fileTime) {
    if (fileTime == 0) return {};
    const FILETIME utc = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    // With the rules in force at that date, as dm: converts: FileTimeToLocalFileTime
    // would apply today's offset, an hour off for the other half of the year.
    SYSTEMTIME utcParts;
    SYSTEMTIME parts;
    if (!FileTimeToSystemTime(&utc, &utcParts) || !SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &parts)) {
        return {};
    }
    wchar_t date[64] = {};
    wchar_t time[64] = {};
    if (!GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &parts, nullptr, date, 64, nullptr)) date[0] = 0;
    if (!GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &parts, nullptr, time, 64)) time[0] = 0;
    return std::wstring(date) + L" " + time;
}
