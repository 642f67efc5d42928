#include <windows.h>

#include "engine/dev.h"

namespace ov {

WinDev::~WinDev() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

bool WinDev::Read(uint64_t offset, void* buffer, int length) {
    if (length < 0) return false;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ReadFile(handle, buffer, static_cast<DWORD>(length), &got, &at) && got == static_cast<DWORD>(length);
}

DevFactory DriveDevFactory(const WString& driveName) {
    const std::wstring path = L"\\\\.\\" + driveName;
    return [path]() -> std::unique_ptr<Dev> {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        try {
            return std::make_unique<WinDev>(h);
        } catch (const std::bad_alloc&) {
            CloseHandle(h);
            return nullptr;
        }
    };
}

}  // namespace ov
