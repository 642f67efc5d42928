// Install-mode detection: the installer's uninstall entries and policy value.
// The install step itself is still to come.
#include <windows.h>

#include "app/window_kit.h"
#include "update/install.h"

InstallMode gInstallMode = kPortable;

namespace {

constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane";
constexpr const wchar_t* kPolicyKey = L"Software\\Keltrax\\Orvane\\Policy";

std::wstring ReadInstallLocation(HKEY root) {
    HKEY key;
    if (RegOpenKeyExW(root, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return L"";
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    DWORD bytes = 2046;
    const LSTATUS status =
        RegQueryValueExW(key, L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return L"";
    buffer[bytes / sizeof(wchar_t)] = 0;
    return buffer;
}

DWORD ReadPolicyDisableUpdates(HKEY root) {
    HKEY key;
    if (RegOpenKeyExW(root, kPolicyKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return 0;
    DWORD value = 0, type = 0, bytes = sizeof value;
    const LSTATUS status =
        RegQueryValueExW(key, L"DisableUpdates", nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && bytes == sizeof value ? value : 0;
}

}  // namespace

bool DetectInstallMode() {
    gInstallMode =
        DecideInstallMode(GetExeDir(), ReadInstallLocation(HKEY_LOCAL_MACHINE), ReadInstallLocation(HKEY_CURRENT_USER));
    if (gInstallMode == kPortable) return false;
    return ReadPolicyDisableUpdates(gInstallMode == kInstalledForEveryone ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER) !=
           0;
}
