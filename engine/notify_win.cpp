#include <shlobj.h>
#include <windows.h>

#include "engine/notify.h"

namespace ov {

void PostNotify(WindowHandle window, uint32_t message) {
    PostMessageW(static_cast<HWND>(window), message, 0, 0);
}

bool ProcessIsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                          elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

WString SavedIndexPath() {
    PWSTR base = nullptr;
    WString path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &base))) {
        WString folder = WString(base) + L"\\Keltrax";
        CreateDirectoryW(folder.c_str(), nullptr);
        folder += L"\\Orvane";
        CreateDirectoryW(folder.c_str(), nullptr);
        path = folder + L"\\Orvane.db";
    }
    CoTaskMemFree(base);
    return path;
}

}  // namespace ov
