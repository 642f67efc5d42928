// The harness from the command line, for scripts such as make run:
//   ov_gui wait CLASS MS   waits until a visible window of class CLASS exists
//   ov_gui exit CLASS MS   sends that window the program's exit message and
//                          waits until it is gone
// Exit code 0 on success, 1 on a time-out, 2 on bad arguments.
#include <cwchar>
#include <cwctype>

#include "tests/app/harness/gui_harness.h"

int wmain(int argc, wchar_t** argv) {
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
        PostMessageW(window, WM_APP + 70, 0, 0);
        return ov::gui::WaitUntil([&] { return FindWindowW(className, nullptr) == nullptr; }, timeoutMs) ? 0 : 1;
    }
    return 2;
}
