#include <windows.h>

#include "engine/drive_probe.h"

namespace ov {
namespace {

DeviceControl ControlOf(HANDLE h) {
    return [h](uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t& returned,
               uint32_t& error) {
        DWORD got = 0;
        const BOOL ok = DeviceIoControl(h, code, const_cast<void*>(in), inSize, out, outSize, &got, nullptr);
        error = ok ? 0 : GetLastError();
        returned = got;
        return ok != FALSE;
    };
}

}  // namespace

JournalPin PinJournal(const WString& driveName) {
    JournalPin pin;
    const std::wstring path = L"\\\\.\\" + driveName;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        pin.openError = GetLastError();
        return pin;
    }
    pin.opened = true;
    PinJournalWith(ControlOf(h), pin);
    CloseHandle(h);
    return pin;
}

bool IncursSeekPenalty(const WString& driveName) {
    const std::wstring path = L"\\\\.\\" + driveName;
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool seeks = SeekPenaltyWith(ControlOf(h));
    CloseHandle(h);
    return seeks;
}

}  // namespace ov
