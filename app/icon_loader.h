// The icon of each row of the results list, from the shell's small system image
// list, and the loader thread that asks the shell for icons that differ per file
// (programs, shortcuts, icon files...) and for the roots (drives, added folders
// and shares, which may be offline), so that painting never waits for a slow
// disk or network. Everything else is answered on the UI thread without
// touching a disk: one icon per extension (asked by a made-up name) and one
// shared folder icon.
//
// Locks: the icon lock is a leaf. It guards the per-path map, the pending set,
// the queue and the quit flag; no shell call is made while it is held.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace ov {
struct ResultRow;
}

// At most this many paths wait for the loader; more are asked again when painted.
constexpr size_t kIconQueueLimit = 2000;

// Set by the loader before it posts WM_APP_ICONS_READY; cleared by the window.
extern std::atomic<bool> gIconsPosted;

// Starts the loader, which posts WM_APP_ICONS_READY to window when icons arrived.
void StartIconLoader(HWND window);
// Tear-down: the loader leaves what is still queued and is joined, waiting at
// most kIconLoaderStopLimitMs: one stuck in the shell (an offline share) is
// left behind to end with the process, as it writes nothing. The ready-made
// row icons are freed.
void StopIconLoader();
constexpr DWORD kIconLoaderStopLimitMs = 2000;
// WM_APP_ICONS_READY: repaint the rows without erasing.
void OnIconsReady();

// The image list index to draw for a row, -1 for none. UI thread; a file of an
// own-icon type shows its type's icon until the loader has its own, a root
// the image list's fourth icon (also when the shell gave it none).
int RowIconIndex(const ov::ResultRow& row);

// The shell's answer for path (SHGetFileInfoW with SHGFI_SYSICONINDEX and
// flags): true with index set when it gave one. Tests replace it.
using ShellIconLookup = bool (*)(const std::wstring& path, DWORD attributes, UINT flags, int& index);
void SetShellIconLookupForTesting(ShellIconLookup lookup);
// Whether another thread could take the icon lock at this moment.
bool IconLockFreeForTesting();
size_t QueuedIconPathsForTesting();
