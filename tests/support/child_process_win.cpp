#include <windows.h>

#include <vector>

#include "index/text.h"
#include "tests/support/child_process.h"

namespace ov::testing {

namespace {

// Children die with this process, even when a timeout kills it mid-test:
// a saving child left behind would slow every later test.
HANDLE ChildrenJob() {
    static const HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made) SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return made;
    }();
    return job;
}

}  // namespace

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Start(const std::string& test, const std::string& name, const std::string& value,
                         std::string& error) {
    Kill();
    std::vector<wchar_t> self(32768);
    if (GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())) == 0) {
        error = "cannot find this program";
        return false;
    }
    std::wstring command =
        L"\"" + std::wstring(self.data()) + L"\" --gtest_filter=" + ToWide(test) + L" --gtest_also_run_disabled_tests";
    // The child runs its one test whatever share of the suite this process runs
    // (this process read its share at start).
    SetEnvironmentVariableW(L"GTEST_TOTAL_SHARDS", nullptr);
    SetEnvironmentVariableW(L"GTEST_SHARD_INDEX", nullptr);
    // The child inherits the variable; it is taken back once the child runs.
    const std::wstring variable = ToWide(name);
    SetEnvironmentVariableW(variable.c_str(), ToWide(value).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(self.data(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                        nullptr, &startup, &info);
    const DWORD code = GetLastError();
    SetEnvironmentVariableW(variable.c_str(), nullptr);
    if (!started) {
        error = "CreateProcessW failed (" + std::to_string(code) + ")";
        return false;
    }
    if (ChildrenJob()) AssignProcessToJobObject(ChildrenJob(), info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    handle = reinterpret_cast<intptr_t>(info.hProcess);
    return true;
}

void ChildProcess::Kill() {
    if (handle == -1) return;
    const HANDLE process = reinterpret_cast<HANDLE>(handle);
    TerminateProcess(process, 9);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    handle = -1;
}

}  // namespace ov::testing
