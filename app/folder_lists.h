// The stored form of the added and excluded folder lists: every folder followed
// by "\n", and the rules for the paths in them. Portable.
#pragma once

#include <string>
#include <vector>

// CR, LF and CR LF all end a line; trailing blanks (U+0020 only) are cut and
// empty lines dropped.
std::vector<std::wstring> SplitLines(const std::wstring& text);

// Every entry followed by "\n"; the empty list is the empty string.
std::wstring JoinLines(const std::vector<std::wstring>& lines);

// Every LF not already after a CR preceded by one: an edit control shows a
// bare LF as no line break at all.
std::wstring WithCrLf(const std::wstring& text);

// Trailing backslashes cut while the path is longer than three characters, so
// a drive root such as C:\ keeps its one.
std::wstring TrimFolderPath(std::wstring path);

// The same folder: equal without regard to case once trailing backslashes are
// cut on both sides, so an added "N:\" matches its volume's name "N:".
bool SameFolder(const std::wstring& a, const std::wstring& b);
