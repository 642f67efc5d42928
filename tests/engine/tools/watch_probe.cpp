// Prints what a recursive folder watch reports for FOLDER: "ready" once the
// first read is issued, then one "action<TAB>relative path" line per change,
// flushed, until SECONDS pass. tests/engine/watch_probe.py makes changes on
// the Linux side and compares them with these lines.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    HANDLE folder = CreateFileW(argv[1], FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return 1;
    const ULONGLONG end = GetTickCount64() + 1000ull * wcstoul(argv[2], nullptr, 10);
    std::vector<DWORD> buffer(65536);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const DWORD filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
    bool ready = false;
    while (GetTickCount64() < end) {
        ResetEvent(overlapped.hEvent);
        if (!ReadDirectoryChangesW(folder, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), TRUE,
                                   filter, nullptr, &overlapped, nullptr))
            return 1;
        if (!ready) printf("ready\n"), fflush(stdout), ready = true;
        DWORD bytes = 0;
        if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(end - GetTickCount64())) != WAIT_OBJECT_0) break;
        if (!GetOverlappedResult(folder, &overlapped, &bytes, FALSE)) return 1;
        if (bytes == 0) printf("overflow\n");
        for (const auto* p = reinterpret_cast<const BYTE*>(buffer.data()); bytes > 0;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(p);
            const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            printf("%lu\t%ls\n", info->Action, name.c_str());
            if (info->NextEntryOffset == 0) break;
            p += info->NextEntryOffset;
        }
        fflush(stdout);
    }
    return 0;
}
