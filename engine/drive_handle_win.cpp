#include <windows.h>

#include "engine/drive_handle.h"

namespace ov {

DriveHandle::~DriveHandle() {
    if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool DriveHandle::Open(const WString& driveName, Access access, uint32_t& error) {
    const std::wstring path = L"\\\\.\\" + driveName;
    const DWORD rights = access == Access::Read        ? GENERIC_READ
                         : access == Access::ReadWrite ? GENERIC_READ | GENERIC_WRITE
                                                       : 0;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (access != Access::QueryOnly ? FILE_SHARE_DELETE : 0);
    HANDLE h = CreateFileW(path.c_str(), rights, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    handle = reinterpret_cast<intptr_t>(h);
    return true;
}

DeviceControl DriveHandle::Control() const {
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    return [h](uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t& returned,
               uint32_t& error) {
        DWORD got = 0;
        const BOOL ok = DeviceIoControl(h, code, const_cast<void*>(in), inSize, out, outSize, &got, nullptr);
        error = ok ? 0 : GetLastError();
        returned = got;
        return ok != FALSE;
    };
}

}  // namespace ov
