#include "tests/app/harness/gui_harness.h"

#include <commctrl.h>

#include <cstring>

namespace ov::gui {

namespace {

constexpr UINT kExitMessage = WM_APP + 70;

struct FindData {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    auto* data = reinterpret_cast<FindData*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    if (owner == data->processId && wcscmp(name, data->className) == 0) {
        data->found = window;
        return FALSE;
    }
    return TRUE;
}

struct ChildSearch {
    int id;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ChildSearch*>(param);
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    const bool match = search->className ? _wcsicmp(name, search->className) == 0 : GetDlgCtrlID(window) == search->id;
    if (!match) return TRUE;
    search->found = window;
    return FALSE;
}

void SendKey(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

HKEY OpenKey(const wchar_t* key, REGSAM access, bool create) {
    HKEY handle = nullptr;
    const LSTATUS status =
        create ? RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, access, nullptr, &handle, nullptr)
               : RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, access, &handle);
    return status == ERROR_SUCCESS ? handle : nullptr;
}

}  // namespace

Program::~Program() {
    Kill();
}

bool Program::Start(const std::wstring& exe, const std::wstring& arguments) {
    Kill();
    std::wstring command = L"\"" + exe + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    id = info.dwProcessId;
    return true;
}

bool Program::Adopt(DWORD processId) {
    Kill();
    process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    id = process ? processId : 0;
    return process != nullptr;
}

HWND Program::WaitForWindow(const wchar_t* className, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindProcessWindow(id, className)) != nullptr; }, timeoutMs);
    return found;
}

bool Program::WaitForExit(DWORD timeoutMs, DWORD* code) const {
    if (!process) return true;
    if (!WaitUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, timeoutMs)) return false;
    if (code) GetExitCodeProcess(process, code);
    return true;
}

bool Program::Exit(HWND window, DWORD timeoutMs) const {
    PostMessageW(window, kExitMessage, 0, 0);
    return WaitForExit(timeoutMs);
}

void Program::Kill() {
    if (!process) return;
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
    process = nullptr;
    id = 0;
}

bool Program::Running() const {
    return process && WaitForSingleObject(process, 0) != WAIT_OBJECT_0;
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\'));
}

std::wstring SavedIndexFile() {
    wchar_t base[MAX_PATH] = {};
    GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    const std::wstring folder = std::wstring(base) + L"\\Keltrax";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\Orvane").c_str(), nullptr);
    return folder + L"\\Orvane\\Orvane.db";
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(20);
    }
}

HWND FindProcessWindow(DWORD processId, const wchar_t* className) {
    FindData data = {processId, className, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&data));
    return data.found;
}

HWND ChildById(HWND parent, int id) {
    ChildSearch search = {id, nullptr, nullptr};
    EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ChildByClass(HWND parent, const wchar_t* className) {
    ChildSearch search = {0, className, nullptr};
    EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    text.resize(copied);
    return text;
}

bool Visible(HWND window) {
    return IsWindowVisible(window) != FALSE;
}

HWND FocusedWindow(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

HWND Foreground() {
    return GetForegroundWindow();
}

RemoteMemory::RemoteMemory(HWND owner, size_t bytes) {
    DWORD processId = 0;
    GetWindowThreadProcessId(owner, &processId);
    process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process) address = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteMemory::~RemoteMemory() {
    if (address) VirtualFreeEx(process, address, 0, MEM_RELEASE);
    if (process) CloseHandle(process);
}

bool RemoteMemory::Write(const void* data, size_t bytes, size_t offset) {
    SIZE_T done = 0;
    return WriteProcessMemory(process, static_cast<BYTE*>(address) + offset, data, bytes, &done) && done == bytes;
}

bool RemoteMemory::Read(void* data, size_t bytes, size_t offset) const {
    SIZE_T done = 0;
    return ReadProcessMemory(process, static_cast<BYTE*>(address) + offset, data, bytes, &done) && done == bytes;
}

std::wstring StatusBarText(HWND statusBar, int part) {
    // SB_GETTEXTW takes no buffer size, and the program may put a new text
    // between the two messages: read until the length holds still around it.
    constexpr size_t kChars = 4096;
    RemoteMemory remote(statusBar, kChars * sizeof(wchar_t));
    if (!remote.Ok()) return {};
    for (int attempt = 0; attempt < 20; ++attempt) {
        const size_t length = LOWORD(SendMessageW(statusBar, SB_GETTEXTLENGTHW, part, 0));
        if (length >= kChars) return {};
        SendMessageW(statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(remote.Address()));
        if (LOWORD(SendMessageW(statusBar, SB_GETTEXTLENGTHW, part, 0)) != length) continue;
        std::wstring text(length + 1, L'\0');
        if (!remote.Read(text.data(), text.size() * sizeof(wchar_t))) return {};
        text.resize(wcsnlen(text.c_str(), length));
        return text;
    }
    return {};
}

std::string StatusBarSeen(HWND statusBar) {
    std::wstring line;
    const int parts = static_cast<int>(SendMessageW(statusBar, SB_GETPARTS, 0, 0));
    for (int part = 0; part < parts; ++part) line += (part ? L" | " : L"") + StatusBarText(statusBar, part);
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(strlen(utf8.c_str()));
    return utf8.empty() ? "(no status bar)" : utf8;
}

int ListViewRowCount(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring ListViewCellText(HWND list, int row, int column) {
    constexpr size_t kChars = 1024;
    RemoteMemory remote(list, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    if (!remote.Ok()) return {};
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.cchTextMax = kChars;
    item.pszText = reinterpret_cast<wchar_t*>(static_cast<BYTE*>(remote.Address()) + sizeof(LVITEMW));
    std::wstring text(kChars, L'\0');
    if (!remote.Write(&item, sizeof item) || !remote.Write(text.data(), text.size() * sizeof(wchar_t), sizeof item)) {
        return {};
    }
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.Address()));
    if (!remote.Read(text.data(), text.size() * sizeof(wchar_t), sizeof(LVITEMW))) return {};
    text.resize(wcsnlen(text.c_str(), kChars));
    return text;
}

std::vector<int> ListViewSelectedRows(HWND list) {
    std::vector<int> rows;
    for (auto row = SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED); row >= 0;
         row = SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED)) {
        rows.push_back(static_cast<int>(row));
    }
    return rows;
}

int ListViewFocusedRow(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

bool ListViewSetItemState(HWND list, int row, UINT state, UINT mask) {
    RemoteMemory remote(list, sizeof(LVITEMW));
    LVITEMW item = {};
    item.state = state;
    item.stateMask = mask;
    if (!remote.Ok() || !remote.Write(&item, sizeof item)) return false;
    return SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.Address())) !=
           0;
}

bool HeaderItemRect(HWND header, int item, RECT& rect) {
    RemoteMemory remote(header, sizeof(RECT));
    if (!remote.Ok() || !SendMessageW(header, HDM_GETITEMRECT, item, reinterpret_cast<LPARAM>(remote.Address()))) {
        return false;
    }
    return remote.Read(&rect, sizeof rect);
}

int HeaderItemFormat(HWND header, int item) {
    RemoteMemory remote(header, sizeof(HDITEMW));
    HDITEMW data = {};
    data.mask = HDI_FORMAT;
    if (!remote.Ok() || !remote.Write(&data, sizeof data) ||
        !SendMessageW(header, HDM_GETITEMW, item, reinterpret_cast<LPARAM>(remote.Address())) ||
        !remote.Read(&data, sizeof data)) {
        return -1;
    }
    return data.fmt;
}

void PressKey(WORD key, bool ctrl, bool shift) {
    if (ctrl) SendKey(VK_CONTROL, false);
    if (shift) SendKey(VK_SHIFT, false);
    SendKey(key, false);
    SendKey(key, true);
    if (shift) SendKey(VK_SHIFT, true);
    if (ctrl) SendKey(VK_CONTROL, true);
}

void TypeText(const std::wstring& text) {
    for (wchar_t c : text) {
        INPUT input[2] = {};
        for (int i = 0; i < 2; ++i) {
            input[i].type = INPUT_KEYBOARD;
            input[i].ki.wScan = c;
            input[i].ki.dwFlags = KEYEVENTF_UNICODE | (i == 1 ? KEYEVENTF_KEYUP : 0);
        }
        SendInput(2, input, sizeof input[0]);
    }
}

void Click(HWND window, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(window, &point);
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input[3] = {};
    for (INPUT& one : input) {
        one.type = INPUT_MOUSE;
        one.mi.dx = MulDiv(point.x, 65535, width - 1);
        one.mi.dy = MulDiv(point.y, 65535, height - 1);
    }
    input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInput(3, input, sizeof input[0]);
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

bool ReadRegistryDword(const wchar_t* key, const wchar_t* name, DWORD& value) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadRegistryValue(key, name, type, data) || type != REG_DWORD || data.size() != sizeof value) return false;
    memcpy(&value, data.data(), sizeof value);
    return true;
}

bool ReadRegistryValue(const wchar_t* key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data) {
    HKEY handle = OpenKey(key, KEY_READ, false);
    if (!handle) return false;
    DWORD size = 0;
    bool ok = RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    if (ok) {
        data.resize(size);
        ok = RegQueryValueExW(handle, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
        data.resize(size);
    }
    RegCloseKey(handle);
    return ok;
}

bool WriteRegistryValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY handle = OpenKey(key, KEY_WRITE, true);
    if (!handle) return false;
    const bool ok = RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

void DeleteRegistryKey(const wchar_t* key) {
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    RegDeleteKeyW(HKEY_CURRENT_USER, key);
}

}  // namespace ov::gui
