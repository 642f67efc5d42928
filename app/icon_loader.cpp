#include "app/icon_loader.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <condition_variable>
#include <deque>
#include <map>
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

// Shared with the loader, guarded by gIconLock.
std::mutex gIconLock;
std::condition_variable gIconWake;
std::map<std::wstring, int> gIconByPath;  // full path -> index; -1: the shell gave none
std::set<std::wstring> gIconPending;      // ever queued, so a path in flight is not queued twice
std::deque<std::wstring> gIconQueue;
bool gIconQuit = false;

std::thread gIconThread;

// UI thread only.
std::map<std::wstring, int> gIconByExtension;
int gFolderIcon = -1;

constexpr const wchar_t* kOwnIconExtensions[] = {L"exe", L"lnk", L"ico", L"url", L"cur",
                                                 L"ani", L"msc", L"cpl", L"scr", L"appref-ms"};

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

// Drive roots and indexed folders are few: asked here, on the UI thread, but
// never under the icon lock, so a slow network root does not hold up the loader.
int RootIcon(const std::wstring& path) {
    {
        std::lock_guard<std::mutex> hold(gIconLock);
        const auto known = gIconByPath.find(path);
        if (known != gIconByPath.end()) return known->second;
    }
    int index = 3;
    if (!gLookup.load()(path, 0, SHGFI_SMALLICON, index)) index = 3;
    std::lock_guard<std::mutex> hold(gIconLock);
    gIconByPath[path] = index;
    return index;
}

// The file's own icon when the loader has it; otherwise it is queued (room
// permitting) and the caller draws the type's icon for now.
bool OwnIcon(const std::wstring& path, int& index) {
    bool queued = false;
    {
        std::lock_guard<std::mutex> hold(gIconLock);
        const auto known = gIconByPath.find(path);
        if (known != gIconByPath.end()) {
            index = known->second;
            return index >= 0;
        }
        if (gIconQueue.size() < kIconQueueLimit && gIconPending.insert(path).second) {
            gIconQueue.push_back(path);
            queued = true;
        }
    }
    if (queued) gIconWake.notify_one();
    return false;
}

void IconLoaderThread(HWND window) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (;;) {
        std::wstring path;
        {
            std::unique_lock<std::mutex> hold(gIconLock);
            gIconWake.wait(hold, [] { return gIconQuit || !gIconQueue.empty(); });
            if (gIconQuit) break;
            path = std::move(gIconQueue.front());
            gIconQueue.pop_front();
        }
        int index = -1;
        if (!gLookup.load()(path, 0, SHGFI_SMALLICON, index)) index = -1;
        try {
            std::lock_guard<std::mutex> hold(gIconLock);
            gIconByPath[path] = index;
        } catch (const std::bad_alloc&) {
            continue;  // the row keeps its type's icon
        }
        // One message waits at most, however many icons arrive.
        if (!gIconsPosted.exchange(true)) PostMessageW(window, WM_APP_ICONS_READY, 0, 0);
    }
    if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace

void StartIconLoader(HWND window) {
    if (gIconThread.joinable()) return;
    gIconThread = std::thread(IconLoaderThread, window);
}

void StopIconLoader() {
    {
        std::lock_guard<std::mutex> hold(gIconLock);
        gIconQuit = true;
    }
    gIconWake.notify_all();
    if (gIconThread.joinable()) gIconThread.join();
    ResetRowIcons();
}

void OnIconsReady() {
    gIconsPosted.exchange(false);
    if (gResultsList) InvalidateRect(gResultsList, nullptr, FALSE);
}

int RowIconIndex(const ov::ResultRow& row) {
    const bool folder = (row.flags & ov::EntryFlags::Directory) != 0;
    if ((row.flags & ov::EntryFlags::VolumeRoot) || (folder && row.fullPath.size() <= 3)) {
        return RootIcon(row.fullPath);
    }
    if (folder) return FolderIcon();
    int index = -1;
    if (HasOwnIcon(row.extension) && OwnIcon(row.fullPath, index)) return index;
    return ExtensionIcon(row.extension);
}

void SetShellIconLookupForTesting(ShellIconLookup lookup) {
    gLookup.store(lookup ? lookup : AskShell);
}

bool IconLockFreeForTesting() {
    bool free = false;
    std::thread([&] {
        std::unique_lock<std::mutex> hold(gIconLock, std::try_to_lock);
        free = hold.owns_lock();
    }).join();
    return free;
}

size_t QueuedIconPathsForTesting() {
    std::lock_guard<std::mutex> hold(gIconLock);
    return gIconQueue.size();
}
