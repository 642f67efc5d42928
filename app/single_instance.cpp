#include "app/single_instance.h"

#include <windows.h>

#include <shellapi.h>

#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/window_kit.h"

namespace {

constexpr const wchar_t* kMainClass = L"OrvaneMain";

}  // namespace

void WaitForTakeover() {
    for (int i = 0; i < 150 && FindWindowW(kMainClass, nullptr); ++i) Sleep(100);
}

bool HandOffToRunningCopy(const CommandLine& line) {
    HWND running = FindWindowW(kMainClass, nullptr);
    if (!running) return false;
    const std::wstring text = HandOffText(line);
    COPYDATASTRUCT data = {};
    data.dwData = kHandOffTag;
    data.cbData = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(text.data());
    // Only a process allowed before it handles the message may take the foreground.
    AllowSetForegroundWindow(ASFW_ANY);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 3000, &result);
    return true;
}

void CreateInstanceMutex() {
    static HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Keltrax.Orvane.Instance");
    (void)mutex;
}

bool StartElevated(const std::wstring& parameters, HWND owner, int show) {
    const std::wstring exe = GetExePath();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.lpVerb = L"runas";
    info.lpFile = exe.c_str();
    info.lpParameters = parameters.c_str();
    info.hwnd = owner;
    info.nShow = show;
    return ShellExecuteExW(&info) != FALSE;
}

bool RelaunchElevated(const CommandLine& line, int show) {
    return !ProcessRunsElevated() && StartElevated(ElevatedRelaunchParameters(line), nullptr, show);
}
