// Drives a GUI program from another process, as a user and the system would:
// starts it, finds its windows, sends and posts messages, reads texts and
// control states (status-bar parts and list-view cells through memory
// allocated in the program), types and clicks, reads the clipboard and the
// registry, and ends it with its exit message. Windows only; tests run it
// under Wine on a virtual display.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ov::gui {

// A program the harness started. Destroying it kills what is still running.
class Program {
public:
    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();

    // exe with arguments (already quoted as the program should see them).
    bool Start(const std::wstring& exe, const std::wstring& arguments);
    // Takes charge of a process a program under test started (a relaunch).
    bool Adopt(DWORD processId);
    // The first top-level window of class className of this process, or null after timeoutMs.
    HWND WaitForWindow(const wchar_t* className, DWORD timeoutMs) const;
    // True when the process ended within timeoutMs; its exit code in *code.
    bool WaitForExit(DWORD timeoutMs, DWORD* code = nullptr) const;
    // Posts the program's exit message (WM_APP + 70) to window and waits for the end.
    bool Exit(HWND window, DWORD timeoutMs) const;
    void Kill();
    bool Running() const;
    DWORD Id() const { return id; }
    HANDLE Handle() const { return process; }

private:
    HANDLE process = nullptr;
    DWORD id = 0;
};

// The folder of the running test program, which holds the programs under test.
std::wstring ProgramFolder();

// Where the program keeps its saved index in this prefix; the folders are made.
std::wstring SavedIndexFile();

// Polls condition every 20 ms (pumping this thread's messages) until it holds.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
// The limit of a wait for something that should happen: ms as it takes on an
// idle machine, stretched for Wine on a busy one (the suites' limits are
// stretched alike). Only a failing wait pays for it.
constexpr DWORD Patient(DWORD ms) {
    return ms * 6;
}

// Top-level window of class className owned by process id, or null.
HWND FindProcessWindow(DWORD processId, const wchar_t* className);
// Child (at any depth) with control id id, or of class className.
HWND ChildById(HWND parent, int id);
HWND ChildByClass(HWND parent, const wchar_t* className);

// Texts and states readable by marshalled messages.
std::wstring WindowText(HWND window);
bool Visible(HWND window);
// The window that has the keyboard focus in window's thread, or null.
HWND FocusedWindow(HWND window);
// The foreground window of the desktop.
HWND Foreground();

// A block of memory inside another process, for messages whose pointers the
// system does not carry across (common-control messages).
class RemoteMemory {
public:
    RemoteMemory(HWND owner, size_t bytes);
    ~RemoteMemory();
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;
    bool Ok() const { return address != nullptr; }
    void* Address() const { return address; }
    bool Write(const void* data, size_t bytes, size_t offset = 0);
    bool Read(void* data, size_t bytes, size_t offset = 0) const;

private:
    HANDLE process = nullptr;
    void* address = nullptr;
};

// Text of one part of a status bar (SB_GETTEXTW).
std::wstring StatusBarText(HWND statusBar, int part);
// Every part's text, " | " between them, for a failure's message.
std::string StatusBarSeen(HWND statusBar);
// Row count and one cell's text of a list view (LVM_GETITEMTEXTW).
int ListViewRowCount(HWND list);
std::wstring ListViewCellText(HWND list, int row, int column);
// Rows with LVNI_SELECTED, in order; the focused row (-1 for none).
std::vector<int> ListViewSelectedRows(HWND list);
int ListViewFocusedRow(HWND list);
// LVM_SETITEMSTATE of one row (-1: every row).
bool ListViewSetItemState(HWND list, int row, UINT state, UINT mask);
// A header item's rectangle (header client coordinates) and format (HDF_*).
bool HeaderItemRect(HWND header, int item, RECT& rect);
int HeaderItemFormat(HWND header, int item);

// Input as a user gives it, to whatever window has the focus.
void PressKey(WORD key, bool ctrl = false, bool shift = false);
void TypeText(const std::wstring& text);
// A left click at client point (x, y) of window.
void Click(HWND window, int x, int y);

std::wstring ClipboardText();

// Values under HKEY_CURRENT_USER\key.
bool ReadRegistryDword(const wchar_t* key, const wchar_t* name, DWORD& value);
bool ReadRegistryValue(const wchar_t* key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data);
bool WriteRegistryValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes);
void DeleteRegistryKey(const wchar_t* key);

}  // namespace ov::gui
