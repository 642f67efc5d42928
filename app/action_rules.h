// What the result actions make of the selected paths, as portable rules: the
// caps, the texts put on the clipboard and in the status bar, and the byte
// blocks handed to the clipboard and the shell. result_actions.cpp does the
// calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Paths taken by one action.
constexpr size_t kOpenCap = 50;
constexpr size_t kCopyCap = 100000;  // copy paths, copy files, delete
constexpr size_t kMenuCap = 500;
constexpr size_t kDragCap = 5000;
// More paths than this are opened only after a question.
constexpr size_t kOpenWithoutAsking = 10;

// The text after the last backslash; the whole path when there is none or it
// is the last character (a drive root).
std::wstring NameOfPath(const std::wstring& path);
// The text up to and including the last backslash; empty without one.
std::wstring FolderOfPath(const std::wstring& path);
// The text before the last backslash (the whole path without one).
std::wstring ParentOfPath(const std::wstring& path);
// Every path's parent is the same, ignoring case (none: true).
bool ShareOneFolder(const std::vector<std::wstring>& paths);

// Full paths, or names with namesOnly, joined by CR LF without a final one.
std::wstring ClipboardPathText(const std::vector<std::wstring>& paths, bool namesOnly);
// The status bar after copying count paths or names.
std::wstring CopiedPathsStatus(size_t count, bool namesOnly);
// The status bar after copying count files.
std::wstring CopiedFilesStatus(size_t count);

// A CF_HDROP block: the 20-byte header (file list at 20, no point, wide), each
// path in UTF-16 with its zero, then one more zero.
std::vector<uint8_t> DropFilesBlock(const std::vector<std::wstring>& paths);
// Each path followed by a zero, then one more zero (the shell's file-operation list).
std::wstring DoubleZeroList(const std::vector<std::wstring>& paths);
