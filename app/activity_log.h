// The activity log (the last 800 diagnostic lines, any thread) and the text
// formatting helpers the application shares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kActivityLogLines = 800;

// printf-style; appends "%9lu  %ls" (tick count, text) and drops the oldest line past 800. Any thread.
void Log(const wchar_t* format, ...);
// A copy of the lines, oldest first.
std::vector<std::wstring> ActivityLogLines();

// printf-style into buffer of size characters; the last one is always NUL.
void FormatBuf(wchar_t* buffer, size_t size, const wchar_t* format, ...);
// The same into 2048 characters, as a string.
std::wstring FormatString(const wchar_t* format, ...);
// 12345678 as "12,345,678".
std::wstring FormatThousands(uint64_t value);
