// Every action turns the selected rows into full paths under one shared hold
// of the index lock (ReadEntryPaths) and hands them to the shell only after
// the lock is let go: the shell may show dialogs or wait on the network. The
// only write, the open counts, comes after every shell call.
#include "app/result_actions.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>

#include "app/action_rules.h"
#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/results_list.h"
#include "app/shell_start.h"
#include "app/window_kit.h"

namespace {

// The shell's menu interfaces while the results' context menu is open (UI thread).
IContextMenu2* gShellMenu2 = nullptr;
IContextMenu3* gShellMenu3 = nullptr;

constexpr int kClipboardAttempts = 21;
constexpr DWORD kClipboardRetryMs = 50;
constexpr const wchar_t* kClipboardBusyText =
    L"Couldn't use the clipboard: another program holds it - please try again";

constexpr UINT kFirstShellVerb = 0x2000;
constexpr UINT kLastShellVerb = 0x7FFF;

bool KeyHeld(int key) {
    return GetKeyState(key) < 0;
}

// A moveable global block holding bytes; null when it cannot be had.
HGLOBAL GlobalBlock(const void* bytes, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block) return nullptr;
    void* at = GlobalLock(block);
    if (!at) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(at, bytes, size);
    GlobalUnlock(block);
    return block;
}

HGLOBAL DropFilesGlobal(const std::vector<std::wstring>& paths) {
    const std::vector<uint8_t> bytes = DropFilesBlock(paths);
    return GlobalBlock(bytes.data(), bytes.size());
}

// Absolute item id lists of the paths that parse, in order; free with FreeItemLists.
std::vector<PIDLIST_ABSOLUTE> ParseItems(const std::vector<std::wstring>& paths, bool* all) {
    std::vector<PIDLIST_ABSOLUTE> items;
    if (all) *all = true;
    for (const std::wstring& path : paths) {
        PIDLIST_ABSOLUTE item = nullptr;
        if (SUCCEEDED(SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr)) && item) {
            items.push_back(item);
        } else if (all) {
            *all = false;
        }
    }
    return items;
}

// Clipboard history, remote desktops and clipboard managers hold the
// clipboard for a moment after each change: about a second of tries.
bool OpenClipboardPatiently() {
    for (int attempt = 1;; ++attempt) {
        if (OpenClipboard(gMain)) return true;
        if (attempt == kClipboardAttempts) return false;
        Sleep(kClipboardRetryMs);
    }
}

void FreeItemLists(std::vector<PIDLIST_ABSOLUTE>& items) {
    for (PIDLIST_ABSOLUTE item : items) CoTaskMemFree(item);
    items.clear();
}

// The shell's context menu of items that share one folder; null when there is none.
IContextMenu* ShellMenuOf(const std::vector<PIDLIST_ABSOLUTE>& items) {
    if (items.empty()) return nullptr;
    IShellFolder* folder = nullptr;
    if (FAILED(SHBindToParent(items[0], IID_IShellFolder, reinterpret_cast<void**>(&folder), nullptr)) || !folder)
        return nullptr;
    std::vector<PCUITEMID_CHILD> children;
    for (PIDLIST_ABSOLUTE item : items) children.push_back(ILFindLastID(item));
    IContextMenu* menu = nullptr;
    if (FAILED(folder->GetUIObjectOf(gMain, static_cast<UINT>(children.size()), children.data(), IID_IContextMenu,
                                     nullptr, reinterpret_cast<void**>(&menu)))) {
        menu = nullptr;
    }
    folder->Release();
    return menu;
}

void ReleaseShellMenuInterfaces() {
    if (gShellMenu2) gShellMenu2->Release();
    if (gShellMenu3) gShellMenu3->Release();
    gShellMenu2 = nullptr;
    gShellMenu3 = nullptr;
}

// One COM interface's IUnknown for an object of ours, made with one reference
// and deleted with its last.
template <class Interface, const IID& kIid>
class ComObject : public Interface {
public:
    virtual ~ComObject() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == kIid) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> references{1};
};

// The drag's source: drops when the button that started it is let go, cancels on Esc.
class DropSource final : public ComObject<IDropSource, IID_IDropSource> {
public:
    explicit DropSource(DWORD button) : button(button) {}
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override {
        if (escape) return DRAGDROP_S_CANCEL;
        return (keys & button) ? S_OK : DRAGDROP_S_DROP;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    DWORD button;
};

// Carries the files as CF_HDROP where the shell cannot make its own data object.
class FileListData final : public ComObject<IDataObject, IID_IDataObject> {
public:
    explicit FileListData(std::vector<std::wstring> paths) : paths(std::move(paths)) {}
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium) return E_INVALIDARG;
        const HRESULT can = QueryGetData(format);
        if (FAILED(can)) return can;
        HGLOBAL block = DropFilesGlobal(paths);
        if (!block) return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        if (!format) return E_INVALIDARG;
        if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
        if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
        return format->dwAspect == DVASPECT_CONTENT ? S_OK : DV_E_DVASPECT;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return DATA_S_SAMEFORMATETC;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (direction != DATADIR_GET) return E_NOTIMPL;
        FORMATETC hdrop = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return SHCreateStdEnumFmtEtc(1, &hdrop, out);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::vector<std::wstring> paths;
};

// Gives the search box the focus with the caret at its end.
void FocusSearchBoxAtEnd() {
    if (!gSearchBox) return;
    SetFocus(gSearchBox);
    const LRESULT length = GetWindowTextLengthW(gSearchBox);
    SendMessageW(gSearchBox, EM_SETSEL, length, length);
}

bool OnListKeyDown(HWND list, WPARAM key) {
    switch (key) {
        case VK_RETURN:
            if (KeyHeld(VK_MENU)) {
                ShowProperties();
            } else if (CtrlShortcutHeld()) {
                OpenContainingFolder();
            } else {
                OpenSelected();
            }
            return true;
        case 'C':
            if (!CtrlShortcutHeld()) return false;
            if (KeyHeld(VK_SHIFT)) {
                CopySelectedPaths(false);
            } else {
                CopySelectedFiles();
            }
            return true;
        case VK_DELETE:
            DeleteSelected();
            return true;
        case VK_UP:
            if (KeyHeld(VK_SHIFT) || ListView_GetNextItem(list, -1, LVNI_FOCUSED) != 0) return false;
            if (gSearchBox) SetFocus(gSearchBox);
            return true;
        case VK_BACK:
            if (!gSearchBox) return true;
            SetFocus(gSearchBox);
            SendMessageW(gSearchBox, WM_KEYDOWN, VK_END, 0);
            SendMessageW(gSearchBox, WM_CHAR, VK_BACK, 0);
            return true;
        case VK_ESCAPE:
            if (gSearchBox) SetFocus(gSearchBox);
            return true;
        default:
            return false;
    }
}

}  // namespace

std::vector<std::wstring> GetSelectedPaths(size_t max) {
    return ReadEntryPaths(GetSelectedEntries(), gShown.epoch, max);
}

void OpenSelected() {
    const std::vector<uint32_t> ids = GetSelectedEntries();
    const uint64_t epoch = gShown.epoch;
    const std::vector<std::wstring> paths = ReadEntryPaths(ids, epoch, kOpenCap);
    if (paths.empty()) return;
    if (paths.size() > kOpenWithoutAsking) {
        const std::wstring question = FormatString(L"Open %d items?", static_cast<int>(paths.size()));
        if (MessageBoxW(gMain, question.c_str(), L"Orvane", MB_ICONQUESTION | MB_YESNO) != IDYES) return;
    }
    std::vector<std::wstring> failures;
    for (const std::wstring& path : paths) OpenForUser(path, failures);
    ShowOpenFailures(failures);
    // Every selected row counts, also those beyond the ones opened.
    NoteEntriesOpened(ids, epoch);
}

void OpenContainingFolder() {
    const std::vector<std::wstring> paths = GetSelectedPaths(1);
    if (paths.empty()) return;
    PIDLIST_ABSOLUTE item = nullptr;
    bool shown = false;
    if (SUCCEEDED(SHParseDisplayName(paths[0].c_str(), nullptr, &item, 0, nullptr)) && item) {
        shown = SUCCEEDED(SHOpenFolderAndSelectItems(item, 0, nullptr, 0));
        CoTaskMemFree(item);
    }
    if (!shown) {
        ShellStart explorer;
        explorer.verb = L"open";
        explorer.file = L"explorer.exe";
        explorer.parameters = L"/select,\"" + paths[0] + L"\"";
        StartOrTell(explorer, paths[0]);
    }
}

void CopySelectedPaths(bool namesOnly) {
    const std::vector<std::wstring> paths = GetSelectedPaths(kCopyCap);
    if (paths.empty()) return;
    SetStatusText(CopyTextToClipboard(ClipboardPathText(paths, namesOnly)) ? CopiedPathsStatus(paths.size(), namesOnly)
                                                                           : kClipboardBusyText);
}

void CopySelectedFiles() {
    const std::vector<std::wstring> paths = GetSelectedPaths(kCopyCap);
    if (paths.empty()) return;
    HGLOBAL files = DropFilesGlobal(paths);
    if (!files) return;
    const DWORD copy = DROPEFFECT_COPY;
    HGLOBAL effect = GlobalBlock(&copy, sizeof copy);
    if (!OpenClipboardPatiently()) {
        GlobalFree(files);
        if (effect) GlobalFree(effect);
        SetStatusText(kClipboardBusyText);
        return;
    }
    EmptyClipboard();
    // The clipboard owns a block only once it took it.
    if (!SetClipboardData(CF_HDROP, files)) GlobalFree(files);
    if (effect && !SetClipboardData(RegisterClipboardFormatW(L"Preferred DropEffect"), effect)) GlobalFree(effect);
    CloseClipboard();
    SetStatusText(CopiedFilesStatus(paths.size()));
}

void DeleteSelected() {
    const std::vector<std::wstring> paths = GetSelectedPaths(kCopyCap);
    if (paths.empty()) return;
    const std::wstring list = DoubleZeroList(paths);
    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = gMain;
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.c_str();
    operation.fFlags = KeyHeld(VK_SHIFT) ? 0 : FOF_ALLOWUNDO | FOF_WANTNUKEWARNING;
    // The index learns of what went through its own change tracking.
    SHFileOperationW(&operation);
}

void ShowProperties() {
    const std::vector<std::wstring> paths = GetSelectedPaths(1);
    if (!paths.empty()) SHObjectProperties(gMain, SHOP_FILEPATH, paths[0].c_str(), nullptr);
}

void ShowResultContextMenu(POINT point) {
    const std::vector<std::wstring> paths = GetSelectedPaths(kMenuCap);
    if (paths.empty()) return;
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    AppendMenuW(menu, MF_STRING, kCmdOpen, L"&Open\tEnter");
    AppendMenuW(menu, MF_STRING, kCmdOpenFolder, L"Open &folder\tCtrl+Enter");
    AppendMenuW(menu, MF_STRING, kCmdCopyPath, L"Copy full &path\tCtrl+Shift+C");
    AppendMenuW(menu, MF_STRING, kCmdCopyNames, L"Copy &name");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    SetMenuDefaultItem(menu, kCmdOpen, FALSE);

    std::vector<PIDLIST_ABSOLUTE> items;
    IContextMenu* shellMenu = nullptr;
    if (ShareOneFolder(paths)) {
        bool all = false;
        items = ParseItems(paths, &all);
        if (all) shellMenu = ShellMenuOf(items);
    }
    if (shellMenu) {
        const UINT flags = CMF_EXPLORE | (KeyHeld(VK_SHIFT) ? CMF_EXTENDEDVERBS : 0);
        if (SUCCEEDED(
                shellMenu->QueryContextMenu(menu, GetMenuItemCount(menu), kFirstShellVerb, kLastShellVerb, flags))) {
            shellMenu->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&gShellMenu2));
            shellMenu->QueryInterface(IID_IContextMenu3, reinterpret_cast<void**>(&gShellMenu3));
        } else {
            shellMenu->Release();
            shellMenu = nullptr;
        }
    }
    if (!shellMenu) AppendMenuW(menu, MF_STRING, kCmdProperties, L"P&roperties");

    const int chosen =
        static_cast<int>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, gMain, nullptr));
    ReleaseShellMenuInterfaces();
    if (chosen >= static_cast<int>(kFirstShellVerb) && chosen <= static_cast<int>(kLastShellVerb) && shellMenu) {
        CMINVOKECOMMANDINFOEX invoke = {};
        invoke.cbSize = sizeof invoke;
        invoke.fMask = CMIC_MASK_UNICODE | CMIC_MASK_PTINVOKE;
        invoke.hwnd = gMain;
        invoke.lpVerb = MAKEINTRESOURCEA(chosen - kFirstShellVerb);
        invoke.lpVerbW = MAKEINTRESOURCEW(chosen - kFirstShellVerb);
        invoke.nShow = SW_SHOWNORMAL;
        invoke.ptInvoke = point;
        if (!StartVerbForUser(shellMenu, chosen - kFirstShellVerb, paths))
            shellMenu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&invoke));
    } else if (chosen > 0) {
        PostMessageW(gMain, WM_COMMAND, chosen, 0);
    }
    if (shellMenu) shellMenu->Release();
    FreeItemLists(items);
    DestroyMenu(menu);
}

bool CopyTextToClipboard(const std::wstring& text) {
    if (!OpenClipboardPatiently()) return false;
    EmptyClipboard();
    HGLOBAL block = GlobalBlock(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    const bool stored = block && SetClipboardData(CF_UNICODETEXT, block);
    if (block && !stored) GlobalFree(block);  // the clipboard owns it only once set
    CloseClipboard();
    return stored;
}

bool ForwardToShellMenu(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    LRESULT answer = 0;
    bool taken = false;
    if (gShellMenu3) {
        taken = SUCCEEDED(gShellMenu3->HandleMenuMsg2(message, wParam, lParam, &answer));
    } else if (gShellMenu2) {
        taken = SUCCEEDED(gShellMenu2->HandleMenuMsg(message, wParam, lParam));
    }
    if (taken && result) *result = answer;
    return taken;
}

IDropSource* MakeDropSource(DWORD button) {
    return new DropSource(button);
}

IDataObject* MakeFileListData(const std::vector<std::wstring>& paths) {
    return new FileListData(paths);
}

HRESULT DragPaths(const std::vector<std::wstring>& paths, DWORD button) {
    if (paths.empty()) return S_FALSE;
    // A drag needs OLE on this thread; start-up sets it up, and the count is
    // only raised here for a caller that did not.
    const HRESULT ole = OleInitialize(nullptr);
    std::vector<PIDLIST_ABSOLUTE> items = ParseItems(paths, nullptr);
    IDataObject* data = nullptr;
    if (!items.empty()) {
        std::vector<PCIDLIST_ABSOLUTE> lists(items.begin(), items.end());
        if (FAILED(SHCreateDataObject(nullptr, static_cast<UINT>(lists.size()), lists.data(), nullptr, IID_IDataObject,
                                      reinterpret_cast<void**>(&data)))) {
            data = nullptr;
        }
    }
    // Where the shell makes none (or no path parsed), the files still go as CF_HDROP.
    if (!data) data = MakeFileListData(paths);
    IDropSource* source = MakeDropSource(button);
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT dragged = DoDragDrop(data, source, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK, &effect);
    source->Release();
    data->Release();
    FreeItemLists(items);
    if (SUCCEEDED(ole)) OleUninitialize();
    return dragged;
}

void DragSelectedResults(bool rightButton) {
    DragPaths(GetSelectedPaths(kDragCap), rightButton ? MK_RBUTTON : MK_LBUTTON);
}

bool HandleResultsListMessage(HWND list, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
        case WM_KEYDOWN:
            if (!OnListKeyDown(list, wParam)) return false;
            *result = 0;
            return true;
        case WM_SYSKEYDOWN:
            if (wParam != VK_RETURN) return false;
            ShowProperties();
            *result = 0;
            return true;
        case WM_CHAR:
            // AltGr's characters come with Ctrl held, and Alt.
            if (wParam < 32 || CtrlShortcutHeld() || !gSearchBox) return false;
            FocusSearchBoxAtEnd();
            SendMessageW(gSearchBox, WM_CHAR, wParam, lParam);
            *result = 0;
            return true;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            // Answered, not passed on: the list would forward it to the main window too.
            if (header->hwndFrom != ListView_GetHeader(list) || header->code != NM_RCLICK) return false;
            ShowColumnMenu();
            *result = TRUE;
            return true;
        }
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            // Selected rows are painted in other colours while the list has the focus.
            InvalidateRect(list, nullptr, FALSE);
            return false;
        default:
            return false;
    }
}
