// The install step's parts in this process: the installer wait, the portable
// swap and its failures, and start with Windows with the task tool faked (the
// task tool of this prefix stores no trigger, principal or command).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/harness/gui_harness.h"
#include "update/install_step.h"
#include "update/start_with_windows.h"

namespace {

using ov::gui::Patient;

int gTicks = 0;
bool gGuardFired = false;

LRESULT CALLBACK TickingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        if (wParam == 1) ++gTicks;
        if (wParam == 2) {
            KillTimer(window, 2);
            PostQuitMessage(7);
        }
        if (wParam == 3) {  // a wait that never ends on its own still ends the test
            gGuardFired = true;
            KillTimer(window, 1);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(InstallStep, TheInstallerWaitEndsAtItsLimitWhileTimersFireAndPassesQuitOn) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TickingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OVWaitTest";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"OVWaitTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetTimer(window, 1, 10, nullptr);
    SetTimer(window, 3, Patient(60000), nullptr);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(WaitForInstaller(never, 1500), InstallerWait::TimedOut);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_FALSE(gGuardFired) << "the wait outlived its limit by far (" << took << " ms)";
    EXPECT_GE(took, 1500u);
    EXPECT_GT(gTicks, 5) << "messages did not flow during the wait";
    KillTimer(window, 3);

    // A quit met during the wait ends it and is there again for the outer loop.
    SetTimer(window, 2, 50, nullptr);
    EXPECT_EQ(WaitForInstaller(never, Patient(60000)), InstallerWait::Quit);
    MSG msg = {};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    SetEvent(never);
    EXPECT_EQ(WaitForInstaller(never, Patient(60000)), InstallerWait::Ended);
    KillTimer(window, 1);
    CloseHandle(never);
    DestroyWindow(window);
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    return temp;
}

void WriteText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot write a test file";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    std::string text(4096, '\0');
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
    CloseHandle(file);
    text.resize(read);
    return text;
}

// A verified download as the download leaves it: locked against writes and deletes.
void MakeDownload(DownloadResult& download, const std::wstring& path, const std::string& text) {
    WriteText(path, text);
    download.path = path;
    download.lock = CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(download.lock, INVALID_HANDLE_VALUE);
}

BOOL WINAPI RefusingMove(LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST(InstallStep, TheSwapPutsTheNewFileInPlaceOrLeavesTheOldOneFindable) {
    const std::wstring folder = TempFolder() + L"Tools dir";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring exe = folder + L"\\Orvane.exe", old = exe + L".old";
    const std::wstring downloaded = TempFolder() + L"Orvane-update-9.0.0.exe";

    WriteText(exe, "old program");
    {
        DownloadResult download;
        MakeDownload(download, downloaded, "new program");
        EXPECT_EQ(ReplaceProgramFile(exe, download), L"");
        EXPECT_EQ(download.lock, INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(ReadText(exe), "new program");
    EXPECT_EQ(ReadText(old), "old program");
    EXPECT_EQ(GetFileAttributesW(downloaded.c_str()), INVALID_FILE_ATTRIBUTES);

    // A read-only program file leaves a read-only old copy: the next swap and
    // the clean-up still get rid of it.
    ASSERT_TRUE(SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        DownloadResult download;
        MakeDownload(download, downloaded, "newer program");
        EXPECT_EQ(ReplaceProgramFile(exe, download), L"");
    }
    EXPECT_EQ(ReadText(exe), "newer program");
    EXPECT_EQ(ReadText(old), "new program");
    ASSERT_TRUE(SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(DeleteOldProgramFile(exe));
    EXPECT_EQ(GetFileAttributesW(old.c_str()), INVALID_FILE_ATTRIBUTES);

    // Something that is no file where the old copy goes: nothing changes.
    WriteText(exe, "old program");
    DeleteFileW(old.c_str());
    ASSERT_TRUE(CreateDirectoryW(old.c_str(), nullptr));
    {
        DownloadResult download;
        MakeDownload(download, downloaded, "new program");
        const std::wstring refusal = ReplaceProgramFile(exe, download);
        EXPECT_EQ(refusal.substr(0, refusal.find(L"\n\n")), L"Orvane can't replace itself in this folder:\n" + exe);
    }
    EXPECT_EQ(ReadText(exe), "old program");
    EXPECT_EQ(GetFileAttributesW(downloaded.c_str()), INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryW(old.c_str());

    // The new file cannot be put in place (its lock is gone): the old one comes back ...
    {
        DownloadResult download;
        MakeDownload(download, downloaded, "new program");
        CloseHandle(download.lock);
        download.lock = INVALID_HANDLE_VALUE;
        EXPECT_EQ(ReplaceProgramFile(exe, download),
                  L"The new version downloaded fine, but couldn't be put in place. Nothing was changed. Please try "
                  L"again.");
    }
    EXPECT_EQ(ReadText(exe), "old program");
    EXPECT_EQ(GetFileAttributesW(downloaded.c_str()), INVALID_FILE_ATTRIBUTES);
    // ... and when it cannot come back, the user is told where it is.
    {
        DownloadResult download;
        MakeDownload(download, downloaded, "new program");
        CloseHandle(download.lock);
        download.lock = INVALID_HANDLE_VALUE;
        const std::wstring text = ReplaceProgramFile(exe, download, RefusingMove);
        EXPECT_NE(text.find(L"It is kept as:\n" + old + L"\n\nRename it to Orvane.exe"), std::wstring::npos)
            << std::string(text.begin(), text.end());
    }
    EXPECT_EQ(ReadText(old), "old program");
    EXPECT_EQ(GetFileAttributesW(downloaded.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(exe.c_str());
    DeleteFileW(old.c_str());
    RemoveDirectoryW(folder.c_str());
}

std::vector<std::wstring> gToolCalls;
std::string gTaskDocument;
DWORD gToolCode = 0;

DWORD FakeTaskTool(const std::wstring& command) {
    gToolCalls.push_back(command);
    const size_t xml = command.find(L" /XML \"");
    if (xml != std::wstring::npos) gTaskDocument = ReadText(command.substr(xml + 7, command.size() - xml - 8));
    return gToolCode;
}

std::wstring RunValue() {
    wchar_t value[1024] = {};
    DWORD bytes = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Orvane", RRF_RT_REG_SZ,
                     nullptr, value, &bytes) != ERROR_SUCCESS)
        return L"(none)";
    return value;
}

TEST(StartWithWindows, TheRunValueOrTheTaskAsTheSettingsAndRightsSay) {
    wchar_t exe[520], system[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, 520);
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring runValue = L"\"" + std::wstring(exe) + L"\" /tray";
    const std::wstring tool = L"\"" + std::wstring(system) + L"\\schtasks.exe\"";
    const std::wstring remove = tool + L" /Delete /F /TN \"Keltrax Orvane\"";
    const std::wstring create =
        tool + L" /Create /F /TN \"Keltrax Orvane\" /XML \"" + TempFolder() + L"Orvane-task.xml\"";
    const struct {
        bool on, admin, elevated;
        DWORD toolCode;
        std::wstring runValue;
        std::vector<std::wstring> calls;
    } rows[] = {
        {true, false, true, 0, runValue, {remove}},
        {true, true, false, 0, runValue, {}},
        {true, true, true, 0, L"(none)", {create}},
        {true, true, true, 1, runValue, {create}},  // the task failed: the Run value stands in
        {false, true, true, 0, L"(none)", {remove}},
        {false, false, false, 0, L"(none)", {}},
    };
    for (const auto& row : rows) {
        ApplyStartWithWindows(true, false, false, FakeTaskTool);  // a Run value to start from
        gToolCalls.clear();
        gTaskDocument.clear();
        gToolCode = row.toolCode;
        ApplyStartWithWindows(row.on, row.admin, row.elevated, FakeTaskTool);
        const std::string what = std::to_string(row.on) + std::to_string(row.admin) + std::to_string(row.elevated) +
                                 " tool code " + std::to_string(row.toolCode);
        EXPECT_EQ(RunValue(), row.runValue) << what;
        EXPECT_EQ(gToolCalls, row.calls) << what;
        if (row.calls.size() == 1 && row.calls[0] == create) {
            EXPECT_EQ(gTaskDocument.substr(0, 2), std::string("\xFF\xFE")) << what;
            EXPECT_GT(gTaskDocument.size(), 1000u) << what;
            EXPECT_EQ(GetFileAttributesW((TempFolder() + L"Orvane-task.xml").c_str()), INVALID_FILE_ATTRIBUTES)
                << what << ": the document was left behind";
        }
    }
}

TEST(StartWithWindows, RunHiddenGivesTheExitCode) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(RunHidden(L"\"" + std::wstring(system) + L"\\cmd.exe\" /c exit 3"), 3u);
    EXPECT_EQ(RunHidden(L"\"C:\\no such folder\\none.exe\""), 0xFFFFFFFFu);
}

}  // namespace
