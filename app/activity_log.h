// The activity log (the last 800 diagnostic lines, any thread) and the text
// formatting helpers the application shares.
//
// Formats follow ISO C, as MinGW's own printf implements it: the C++ library
// turns it on (__USE_MINGW_ANSI_STDIO) and the engine's texts use it too, so
// a line formats alike wherever it is made. Wide text is always "%ls", narrow
// text "%hs"; a bare "%s" or "%S" means different things in MinGW's two stdio
// modes and is never written here. FormatThousands is in result_text.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kActivityLogLines = 800;

// printf-style; appends "%9lu  %ls" (tick count, text cut to 899 characters)
// and drops the oldest line past 800. Any thread; the lock is held only for
// the append.
void Log(const wchar_t* format, ...);
// A copy of the lines, oldest first.
std::vector<std::wstring> ActivityLogLines();

// printf-style into buffer of size characters; the last one is always NUL, so
// a longer text is cut to size - 1 characters.
void FormatBuf(wchar_t* buffer, size_t size, const wchar_t* format, ...);
// The same into 2048 characters, as a string.
std::wstring FormatString(const wchar_t* format, ...);
// A FILETIME (UTC) as the user's short date and time without seconds, in local
// time by the rules in force at that date; empty for 0 and for a time that
// does not convert.
std::wstring FormatFileTime(uint64_t fileTime);
