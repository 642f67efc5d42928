// The stored form of the added and excluded folder lists: every folder followed
// by "\n". Portable.
#pragma once

#include <string>
#include <vector>

// CR, LF and CR LF all end a line; trailing blanks (U+0020 only) are cut and
// empty lines dropped.
std::vector<std::wstring> SplitLines(const std::wstring& text);

// Every entry followed by "\n"; the empty list is the empty string.
std::wstring JoinLines(const std::vector<std::wstring>& lines);
