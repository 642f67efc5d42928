#include "app/icon_loader.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/row_icon_cache.h"
#include "app/window_kit.h"
#include "index/entry.h"

std::atomic<bool> gIconsPosted{false};

namespace {

bool AskShell(const std::wstring& path, DWORD attributes, UINT flags, int& index) {
    SHFILEINFOW info = {};
    if (!SHGetFileInfoW(path.c_str(), attributes, &info, sizeof info, SHGFI_SYSICONINDEX | flags)) return false;
    index = info.iIcon;
    return true;
}

std::atomic<ShellIconLookup> gLookup{AskShell};

// What the loader shares with the UI thread. The loader holds its own
// reference: one that outlives its bounded join (stuck on an offline share)
// never touches freed state.
struct IconShared {
    std::mutex lock;
    std::map<std::wstring, int> byPath;  // full path -> index; -1: the shell gave none (guarded by lock)
    std::set<std::wstring> pending;      // ever queued, so a path in flight is not queued twice (guarded by lock)
    std::deque<std::wstring> queue;      // guarded by lock
    bool quit = false;                   // guarded by lock
    // Auto-reset: a path was queued or quit was set.
    HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // Manual-reset: the loader has left its loop for good.
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~IconShared() {
        if (wake) CloseHandle(wake);
        if (ended) CloseHandle(ended);
    }
};

std::shared_ptr<IconShared> gIcons = std::make_shared<IconShared>();
std::thread gIconThread;

// UI thread only.
std::map<std::wstring, int> gIconByExtension;
int gFolderIcon = -1;

constexpr const wchar_t* kOwnIconExtensions[] = {L"exe", L"lnk", L"ico", L"url", L"cur",
                                                 L"ani", L"msc", L"cpl", L"scr", L"appref-ms"};
constexpr int kRootIconFallback = 3;  // the image list's fourth icon, until the root's own arrives

bool HasOwnIcon(const std::wstring& extension) {
    for (const wchar_t* own : kOwnIconExtensions) {
        if (extension == own) return true;
    }
    return false;
}

int ExtensionIcon(const std::wstring& extension) {
    const auto known = gIconByExtension.find(extension);
    if (known != gIconByExtension.end()) return known->second;
    int index = 0;  // a failed answer leaves the zeroed record's index
    if (!gLookup.load()(L"x." + extension, FILE_ATTRIBUTE_NORMAL, SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES, index)) {
        index = 0;
    }
    gIconByExtension.emplace(extension, index);
    return index;
}

int FolderIcon() {
    if (gFolderIcon < 0) {
        int index = 0;
        if (!gLookup.load()(L"folder", FILE_ATTRIBUTE_DIRECTORY, SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES, index)) {
            index = 0;
        }
        gFolderIcon = index;
    }
    return gFolderIcon;
}

// The path's own icon when the loader has it; otherwise it is queued (room
// permitting) and the caller draws a stand-in for now. Roots go this way too:
// a drive or an added network share that is offline can keep the shell
// waiting for a long time, and that must never be the UI thread.
bool LoadedIcon(const std::wstring& path, int& index) {
    IconShared& icons = *gIcons;
    bool queued = false;
    {
        std::lock_guard<std::mutex> hold(icons.lock);
        const auto known = icons.byPath.find(path);
        if (known != icons.byPath.end()) {
            index = known->second;
            return index >= 0;
        }
        if (icons.queue.size() < kIconQueueLimit && icons.pending.insert(path).second) {
            icons.queue.push_back(path);
            queued = true;
        }
    }
    if (queued) SetEvent(icons.wake);
    return false;
}

// The loader's apartment is single-threaded, so it dispatches its messages
// while it waits for work. It enters the apartment with its first path: a
// thread waiting for messages counts the process as idle for
// WaitForInputIdle, which must not happen before the window is up.
void IconLoaderThread(std::shared_ptr<IconShared> shared, HWND window) {
    IconShared& icons = *shared;
    bool entered = false;
    HRESULT com = E_FAIL;
    for (;;) {
        std::wstring path;
        {
            std::lock_guard<std::mutex> hold(icons.lock);
            if (icons.quit) break;
            if (!icons.queue.empty()) {
                path = std::move(icons.queue.front());
                icons.queue.pop_front();
            }
        }
        if (path.empty()) {
            if (!entered) {
                WaitForSingleObject(icons.wake, INFINITE);
            } else if (MsgWaitForMultipleObjectsEx(1, &icons.wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
                       WAIT_OBJECT_0 + 1) {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            }
            continue;
        }
        if (!entered) {
            com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            entered = true;
        }
        int index = -1;
        if (!gLookup.load()(path, 0, SHGFI_SMALLICON, index)) index = -1;
        try {
            std::lock_guard<std::mutex> hold(icons.lock);
            icons.byPath[path] = index;
        } catch (const std::bad_alloc&) {
            continue;  // the row keeps its stand-in
        }
        // One message waits at most, however many icons arrive.
        if (!gIconsPosted.exchange(true)) PostMessageW(window, WM_APP_ICONS_READY, 0, 0);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    SetEvent(icons.ended);
}

}  // namespace

void StartIconLoader(HWND window) {
    if (gIconThread.joinable() || !gIcons->wake || !gIcons->ended) return;
    gIconThread = std::thread(IconLoaderThread, gIcons, window);
}

void StopIconLoader() {
    {
        std::lock_guard<std::mutex> hold(gIcons->lock);
        gIcons->quit = true;
    }
    SetEvent(gIcons->wake);
    if (gIconThread.joinable()) {
        // It writes nothing: one stuck in the shell is left to end with the process.
        if (WaitForSingleObject(gIcons->ended, kIconLoaderStopLimitMs) == WAIT_OBJECT_0) {
            gIconThread.join();
        } else {
            gIconThread.detach();
        }
    }
    ResetRowIcons();
}

void OnIconsReady() {
    gIconsPosted.exchange(false);
    if (gResultsList) InvalidateRect(gResultsList, nullptr, FALSE);
}

int RowIconIndex(const ov::ResultRow& row) {
    const bool folder = (row.flags & ov::EntryFlags::Directory) != 0;
    int index = -1;
    if ((row.flags & ov::EntryFlags::VolumeRoot) || (folder && row.fullPath.size() <= 3)) {
        return LoadedIcon(row.fullPath, index) ? index : kRootIconFallback;
    }
    if (folder) return FolderIcon();
    if (HasOwnIcon(row.extension) && LoadedIcon(row.fullPath, index)) return index;
    return ExtensionIcon(row.extension);
}

void SetShellIconLookupForTesting(ShellIconLookup lookup) {
    gLookup.store(lookup ? lookup : AskShell);
}

bool IconLockFreeForTesting() {
    bool free = false;
    std::thread([&] {
        std::unique_lock<std::mutex> hold(gIcons->lock, std::try_to_lock);
        free = hold.owns_lock();
    }).join();
    return free;
}

size_t QueuedIconPathsForTesting() {
    std::lock_guard<std::mutex> hold(gIcons->lock);
    return gIcons->queue.size();
}
