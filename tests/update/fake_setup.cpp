// Stands in for the installer in the update tests: records how it was started
// (its process id, then one argument a line) in the file OV_FAKE_RECORD names,
// then exits with the code OV_FAKE_EXIT gives, or with "hang" runs on.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t record[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"OV_FAKE_RECORD", record, MAX_PATH)) {
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
        std::wstring text = std::to_wstring(GetCurrentProcessId());
        for (int i = 1; i < count; ++i) text += L"\n" + std::wstring(argv[i]);
        LocalFree(argv);
        // Written whole under another name first, so a reader never sees half of it.
        const std::wstring part = std::wstring(record) + L".part";
        HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
            MoveFileExW(part.c_str(), record, MOVEFILE_REPLACE_EXISTING);
        }
    }
    wchar_t exitCode[16] = {};
    GetEnvironmentVariableW(L"OV_FAKE_EXIT", exitCode, 16);
    if (wcscmp(exitCode, L"hang") == 0) {
        Sleep(600000);  // the test ends it long before
        return 0;
    }
    return _wtoi(exitCode);
}
