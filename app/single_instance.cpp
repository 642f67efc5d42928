#include "app/single_instance.h"

#include <windows.h>

#include <shellapi.h>

#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/shell_start.h"
#include "app/window_kit.h"

namespace {

constexpr const wchar_t* kMainClass = L"OrvaneMain";
constexpr const wchar_t* kMutexName = L"Keltrax.Orvane.Instance";
// How long a start waits for the copy that holds the mutex to show its window.
constexpr ULONGLONG kWaitForRunningMs = 30000;
ULONGLONG gWaitForRunningMs = kWaitForRunningMs;

}  // namespace

void WaitForTakeover() {
    for (int i = 0; i < 150 && FindWindowW(kMainClass, nullptr); ++i) Sleep(100);
}

namespace {

// Sends line to the running copy's window; false when there is none or the
// message did not get through (the copy is still starting, hung or ending).
bool SendHandOff(const std::wstring& text) {
    HWND running = FindWindowW(kMainClass, nullptr);
    if (!running) return false;
    COPYDATASTRUCT data = {};
    data.dwData = kHandOffTag;
    data.cbData = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(text.data());
    // Only a process allowed before it handles the message may take the foreground.
    AllowSetForegroundWindow(ASFW_ANY);
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 3000,
                               &result) != 0;
}

// The running copy never took the request: the user's start must not vanish.
void TellHandOffLost(const CommandLine& line) {
    std::wstring message =
        L"Another copy of Orvane is running but didn't answer within 30 seconds (it may be waiting for "
        L"administrator rights, or still closing), so this start couldn't be passed on to it. Please try again "
        L"once its window shows.";
    if (!line.search.empty()) message += L"\n\nYour search wasn't passed on: " + line.search;
    MessageBoxW(nullptr, message.c_str(), L"Orvane", MB_ICONWARNING | MB_SETFOREGROUND);
}

}  // namespace

HandOff HandOffToRunningCopy(const CommandLine& line) {
    // The copy that owns the mutex runs; ownership ends with its process, so a
    // copy that ended or was killed frees it for the next. A window alone cannot
    // decide: copies started together all look before any window exists.
    static HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    const std::wstring text = HandOffText(line);
    const ULONGLONG deadline = GetTickCount64() + gWaitForRunningMs;
    for (;;) {
        if (mutex) {
            const DWORD got = WaitForSingleObject(mutex, 100);
            if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) return HandOff::ThisIsTheCopy;
        } else {
            // Made at another integrity level and closed to us: only its window tells.
            if (!FindWindowW(kMainClass, nullptr)) return HandOff::ThisIsTheCopy;
            Sleep(100);
        }
        if (SendHandOff(text)) return HandOff::Delivered;
        if (GetTickCount64() >= deadline) {
            TellHandOffLost(line);
            return HandOff::Lost;
        }
    }
}

void SetHandOffWaitForTesting(unsigned ms) {
    gWaitForRunningMs = ms ? ms : kWaitForRunningMs;
}

bool StartElevated(const std::wstring& parameters, HWND owner, int show) {
    return StartBeforeExit(L"runas", GetExePath(), parameters, owner, show);
}

bool RelaunchElevated(const CommandLine& line, int show) {
    return !ProcessRunsElevated() && StartElevated(ElevatedRelaunchParameters(line), nullptr, show);
}
