// The harness from the command line, for scripts such as make run:
//   ov_gui wait CLASS MS      waits until a visible window of class CLASS exists
//   ov_gui exit CLASS MS      sends that window the program's exit message and
//                             waits until it is gone
//   ov_gui status CLASS TEXT MS
//                             waits until the status bar of that window shows
//                             TEXT in its last part; prints every part's text
//   ov_gui measure EXE [ARG]  starts Orvane and prints the milliseconds to its
//                             visible window, to the index loaded (the status
//                             line's last part stops saying so), to its first
//                             non-empty result
//                             and to the end of indexing, its memory per
//                             indexed entry then (private bytes and working
//                             set), and the milliseconds from the exit message
//                             to its end, of which its save at exit (the
//                             temporary file of the saved index there to gone)
// Exit code 0 on success, 1 on a time-out, 2 on bad arguments.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/app/harness/gui_harness.h"

namespace {

constexpr UINT kExitMessage = WM_APP + 70;

// "  1,234 results" -> 1234.
uint64_t LeadingNumber(const std::wstring& text) {
    uint64_t value = 0;
    for (wchar_t c : text) {
        if (c >= L'0' && c <= L'9') {
            value = value * 10 + (c - L'0');
        } else if (c != L',' && c != L' ') {
            break;
        }
    }
    return value;
}

// The temporary file the program writes its saved index to.
std::wstring SaveTempPath() {
    wchar_t folder[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::wstring(folder) + L"\\Keltrax\\Orvane\\Orvane.db.tmp";
}

int Measure(const std::wstring& exe, const std::wstring& arguments) {
    using namespace ov::gui;
    Program program;
    const ULONGLONG start = GetTickCount64();
    if (!program.Start(exe, arguments)) return 1;
    HWND main = nullptr;
    if (!WaitUntil([&] { return (main = FindProcessWindow(program.Id(), L"OrvaneMain")) && IsWindowVisible(main); },
                   120000)) {
        return 1;
    }
    const ULONGLONG window = GetTickCount64();
    HWND status = ChildByClass(main, L"msctls_statusbar32");
    // The index is loaded once the last part no longer says it is loading.
    ULONGLONG loaded = 0;
    if (!WaitUntil(
            [&] {
                if (!loaded) {
                    const std::wstring line = StatusBarText(status, 3);
                    if (!line.empty() && line.find(L"Loading") == std::wstring::npos) loaded = GetTickCount64();
                }
                return LeadingNumber(StatusBarText(status, 1)) > 0;
            },
            600000)) {
        return 1;
    }
    const ULONGLONG results = GetTickCount64();
    if (!loaded) loaded = results;
    const uint64_t shown = LeadingNumber(StatusBarText(status, 1));
    // Memory once every drive finished its first pass (the status line stops naming busy drives).
    WaitUntil(
        [&] {
            const std::wstring line = StatusBarText(status, 3);
            return line.find(L"Up to date") != std::wstring::npos || line.find(L" live (see") != std::wstring::npos;
        },
        600000);
    const ULONGLONG indexed = GetTickCount64();
    const uint64_t entries = LeadingNumber(StatusBarText(status, 0));
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(program.Handle(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    // The exit saves: the save lasts while its temporary file is there.
    const std::wstring temp = SaveTempPath();
    ULONGLONG saveStart = 0, saveEnd = 0;
    const ULONGLONG exitStart = GetTickCount64();
    PostMessageW(main, kExitMessage, 0, 0);
    if (!WaitUntil(
            [&] {
                const bool saving = !temp.empty() && GetFileAttributesW(temp.c_str()) != INVALID_FILE_ATTRIBUTES;
                if (saving) {
                    saveEnd = GetTickCount64();
                    if (!saveStart) saveStart = saveEnd;
                }
                return !program.Running();
            },
            600000)) {
        return 1;
    }
    const ULONGLONG end = GetTickCount64();
    if (!saveStart) saveStart = saveEnd = end;
    // Wine reports committed private memory as PagefileUsage (PrivateUsage stays 0).
    const uint64_t privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    const uint64_t workingSet = memory.WorkingSetSize;
    wprintf(
        L"window_ms=%llu loaded_ms=%llu results_ms=%llu results=%llu indexed_ms=%llu entries=%llu private_bytes=%llu "
        L"bytes_per_entry=%.1f working_set=%llu ws_per_entry=%.1f exit_ms=%llu save_ms=%llu\n",
        window - start, loaded - start, results - start, shown, indexed - start, entries,
        static_cast<unsigned long long>(privateBytes), entries ? static_cast<double>(privateBytes) / entries : 0.0,
        static_cast<unsigned long long>(workingSet), entries ? static_cast<double>(workingSet) / entries : 0.0,
        end - exitStart, saveEnd - saveStart);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"measure") return Measure(argv[2], argc >= 4 ? argv[3] : L"");
    if (argc == 5 && std::wstring(argv[1]) == L"status") {
        HWND status = nullptr;
        const bool shown = ov::gui::WaitUntil(
            [&] {
                HWND window = FindWindowW(argv[2], nullptr);
                status = window ? ov::gui::ChildByClass(window, L"msctls_statusbar32") : nullptr;
                return status && ov::gui::StatusBarText(status, 3).find(argv[3]) != std::wstring::npos;
            },
            static_cast<DWORD>(wcstoul(argv[4], nullptr, 10)));
        printf("%s\n", status ? ov::gui::StatusBarSeen(status).c_str() : "(no status bar)");
        return shown ? 0 : 1;
    }
    if (argc != 4) return 2;
    const std::wstring command = argv[1];
    const wchar_t* className = argv[2];
    const DWORD timeoutMs = static_cast<DWORD>(wcstoul(argv[3], nullptr, 10));
    if (command == L"wait") {
        return ov::gui::WaitUntil(
                   [&] {
                       HWND window = FindWindowW(className, nullptr);
                       return window && IsWindowVisible(window);
                   },
                   timeoutMs)
                   ? 0
                   : 1;
    }
    if (command == L"exit") {
        HWND window = FindWindowW(className, nullptr);
        if (!window) return 0;
        PostMessageW(window, kExitMessage, 0, 0);
        return ov::gui::WaitUntil([&] { return FindWindowW(className, nullptr) == nullptr; }, timeoutMs) ? 0 : 1;
    }
    return 2;
}
