// ReadDirectoryChangesW with overlapped completion on one folder handle. The
// buffer belongs to the read while it is outstanding: Cancel and the
// destructor wait for a cancelled read to finish before the buffer goes.
#include <windows.h>

#include <memory>

#include "engine/change_watch.h"

namespace ov {
namespace {

class WinChangeWatch final : public ChangeWatch {
public:
    WinChangeWatch(HANDLE folder, HANDLE event) : folder(folder), event(event) { overlapped.hEvent = event; }
    ~WinChangeWatch() override {
        Cancel();
        CloseHandle(event);
        CloseHandle(folder);
    }

    bool Read(uint32_t length) override {
        if (outstanding) return true;
        ResetEvent(event);
        overlapped.Internal = 0;
        overlapped.InternalHigh = 0;
        outstanding = ReadDirectoryChangesW(folder, buffer.get(), std::min(length, kBufferBytes), TRUE, kWatchFilter,
                                            nullptr, &overlapped, nullptr) != FALSE;
        return outstanding;
    }

    Wait WaitFor(StopEvent& stop, uint32_t ms) override {
        HANDLE handles[2] = {event, static_cast<HANDLE>(stop.Handle())};
        if (handles[1] == nullptr) return Wait::Stopped;
        switch (WaitForMultipleObjects(2, handles, FALSE, ms == StopEvent::kForever ? INFINITE : ms)) {
            case WAIT_OBJECT_0:
                return Wait::Completed;
            case WAIT_TIMEOUT:
                return Wait::TimedOut;
            default:
                return Wait::Stopped;
        }
    }

    bool Finish(uint32_t& bytes, uint32_t& error) override {
        DWORD n = 0;
        const BOOL ok = GetOverlappedResult(folder, &overlapped, &n, FALSE);
        error = ok ? 0 : GetLastError();
        if (!ok && error == ERROR_IO_INCOMPLETE) return false;  // still outstanding
        outstanding = false;
        bytes = ok ? n : 0;
        return ok != FALSE;
    }

    const uint8_t* Data() const override { return reinterpret_cast<const uint8_t*>(buffer.get()); }

    void Cancel() override {
        if (!outstanding) return;
        CancelIoEx(folder, &overlapped);
        DWORD n = 0;
        GetOverlappedResult(folder, &overlapped, &n, TRUE);
        outstanding = false;
    }

private:
    HANDLE folder;
    HANDLE event;
    OVERLAPPED overlapped{};
    bool outstanding = false;
    // DWORD-aligned, as the records require.
    std::unique_ptr<DWORD[]> buffer = std::make_unique<DWORD[]>(kBufferBytes / sizeof(DWORD));
};

}  // namespace

std::unique_ptr<ChangeWatch> OpenChangeWatch(const WString& folder, uint32_t& error) {
    HANDLE handle =
        CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return nullptr;
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        error = GetLastError();
        CloseHandle(handle);
        return nullptr;
    }
    try {
        return std::make_unique<WinChangeWatch>(handle, event);
    } catch (const std::bad_alloc&) {
        CloseHandle(event);
        CloseHandle(handle);
        error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
}

}  // namespace ov
