// Start with Windows. Normally the user's Run value starts the program in the
// tray; when it should run elevated and is elevated now, a logon task with the
// highest run level does it instead, and the Run value goes. The task is only
// ever touched by an elevated copy.
#include "update/start_with_windows.h"

#define SECURITY_WIN32
#include <security.h>

#include "app/activity_log.h"
#include "app/engine_host.h"
#include "app/settings.h"
#include "update/startup_rules.h"

namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kTaskName = L"\"Keltrax Orvane\"";

std::wstring UserName() {
    wchar_t name[512] = {};
    ULONG chars = 512;
    if (GetUserNameExW(NameSamCompatible, name, &chars)) return name;
    DWORD plain = 512;
    if (GetUserNameW(name, &plain)) return name;
    return L"";
}

std::wstring OwnPath() {
    wchar_t exe[520] = {};
    GetModuleFileNameW(nullptr, exe, 520);
    return exe;
}

void WriteRunValue() {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    const std::wstring value = L"\"" + OwnPath() + L"\" /tray";
    RegSetValueExW(key, L"Orvane", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// True when the task was created.
bool CreateTask(DWORD (*run)(const std::wstring&)) {
    const std::string document = StartupTaskXml(UserName(), OwnPath());
    wchar_t temp[261] = {};
    const DWORD length = GetTempPathW(261, temp);
    if (length == 0 || length > 260) return false;
    const std::wstring path = std::wstring(temp) + L"Orvane-task.xml";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool stored = WriteFile(file, document.data(), static_cast<DWORD>(document.size()), &written, nullptr) &&
                        written == document.size();
    CloseHandle(file);
    if (!stored) {
        DeleteFileW(path.c_str());
        return false;
    }
    const DWORD rc = run(TaskToolCommand() + L" /Create /F /TN " + kTaskName + L" /XML \"" + path + L"\"");
    DeleteFileW(path.c_str());
    Log(L"startup task created: rc=%lu", rc);
    return rc == 0;
}

}  // namespace

std::wstring TaskToolCommand() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return L"\"C:\\Windows\\System32\\schtasks.exe\"";
    return L"\"" + std::wstring(system) + L"\\schtasks.exe\"";
}

DWORD RunHidden(const std::wstring& commandLine) {
    std::wstring buffer = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 20000);
    DWORD code = 1;
    if (!GetExitCodeProcess(process.hProcess, &code)) code = 1;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

void ApplyStartWithWindows(bool startWithWindows, bool runAsAdmin, bool elevated,
                           DWORD (*run)(const std::wstring& commandLine)) {
    const bool taskForm = startWithWindows && runAsAdmin && elevated;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        if (!startWithWindows || taskForm) RegDeleteValueW(key, L"Orvane");
        RegCloseKey(key);
    }
    if (elevated && !taskForm) run(TaskToolCommand() + L" /Delete /F /TN " + kTaskName);
    if (!startWithWindows) return;
    if (taskForm && CreateTask(run)) return;
    WriteRunValue();
}

void ApplyStartWithWindows() {
    ApplyStartWithWindows(gSettings.startWithWindows != 0, gSettings.runAsAdmin != 0, EngineMade() && EngineElevated(),
                          RunHidden);
}
