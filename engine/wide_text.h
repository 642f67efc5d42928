// printf-style formatting of the engine's texts (status texts, log lines).
// Formats are wchar_t literals; on Windows wchar_t is UTF-16 already, natively
// it is UTF-32 and the result is converted, so one format serves both builds.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "index/platform.h"

namespace ov {

// Formats into at most capacity - 1 characters (longer results are cut).
WString FormatText(size_t capacity, const wchar_t* format, ...);
WString FormatTextV(size_t capacity, const wchar_t* format, va_list args);
// A wide literal as platform text.
WString Text(const wchar_t* text);
// Platform text as a "%ls" argument: FormatText(..., L"%ls", Arg(name).c_str()).
std::wstring Arg(const WString& text);
// Equal as Windows compares paths and names: without regard to case.
bool SameTextIgnoringCase(const WString& a, const WString& b);

}  // namespace ov
