// The diagnostic report, the speed test and the self-test's output.
#include "app/diagnostics.h"

#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/folder_lists.h"
#include "app/info_bars.h"
#include "app/result_text.h"
#include "app/settings.h"
#include "app/shell_start.h"
#include "app/window_kit.h"
#include "index/text.h"

namespace {

FileWriteCall gWriteFile = WriteFile;

constexpr int kSpeedRuns = 5;
constexpr const char* kSpeedQueries[] = {
    "e",
    "report",
    "invoice 2025",
    "*.dll",
    "ext:jpg;png;heic",
    "size:>100mb",
    "dm:last7days",
    "honda|dealer",
    "windows\\system32",
    "zzzqqqxxx",
    "regex:^img_\\d+\\.jpg$",
};

// Asked of ntdll at run time: the real version, whatever the manifest says.
RTL_OSVERSIONINFOW WindowsVersion() {
    RTL_OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get =
        ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    if (!get || get(&version) != 0) {
        version = {};
        version.dwOSVersionInfoSize = sizeof version;
    }
    return version;
}

const wchar_t* YesNo(bool value) {
    return value ? L"yes" : L"no";
}

// Times the fixed searches with one thread and with all; line ends LF.
std::wstring SpeedTestText() {
    EngineFacts facts;
    ReadEngineFacts(facts);
    const int threads = facts.threads;
    std::wstring text = L"ORVANE SPEED TEST\n\n";
    text += L"Index: " + FormatThousands(facts.liveEntries) +
            FormatString(L" files and folders.  CPU threads available: %d\n", threads);
    if (facts.loaded) text += FormatString(L"Saved index loaded at start-up in %.0f ms.\n", facts.loadMs);
    for (const VolumeFacts& volume : SnapshotVolumes()) {
        if (volume.scanMs <= 0) continue;
        text +=
            FormatString(L"%ls  %ls files+folders indexed in %.2f s (%ls)\n", volume.name.c_str(),
                         FormatThousands(volume.files + volume.folders).c_str(), volume.scanMs / 1000.0,
                         volume.kind == ov::VolumeKind::FileTable ? L"read the NTFS file table" : L"scanned folders");
    }
    text += L"\nEach search below runs 5 times; the best time is shown (milliseconds).\n\n";
    const std::wstring all = FormatString(L"%d threads", threads);
    text +=
        FormatString(L"%-26ls %12ls %12ls %12ls %9ls\n", L"search", L"results", L"1 thread", all.c_str(), L"speed-up");
    const std::wstring rule = std::wstring(75, L'-') + L"\n";
    text += rule;
    double totalOne = 0;
    double totalAll = 0;
    for (const char* query : kSpeedQueries) {
        const TimedSearch one = TimeSearch(query, std::min(threads, 1), kSpeedRuns);
        const TimedSearch many = TimeSearch(query, threads < 1 ? 1 : threads, kSpeedRuns);
        text += FormatString(L"%-26hs %12ls %12.2f %12.2f %8.1fx\n", query, FormatThousands(many.results).c_str(),
                             one.bestMs, many.bestMs, many.bestMs > 0 ? one.bestMs / many.bestMs : 0.0);
        totalOne += one.bestMs;
        totalAll += many.bestMs;
    }
    text += rule;
    text += FormatString(L"%-26ls %12ls %12.2f %12.2f %8.1fx\n", L"total", L"", totalOne, totalAll,
                         totalAll > 0 ? totalOne / totalAll : 0.0);
    const int setting = static_cast<int>(gSettings.searchThreads);
    SetSearchThreadsInUse(setting >= 1 ? std::min(threads, setting) : threads);
    return text;
}

// The speed test as command 117 runs it: shown in the text window. Empty
// without an engine.
std::wstring RunSpeedTestShown() {
    if (!EngineMade()) return {};
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const std::wstring text = SpeedTestText();
    SetCursor(previous);
    ShowTextWindow(L"Orvane Speed Test", L"", text.c_str(), true);
    return text;
}

}  // namespace

std::wstring DiagnosticReportText() {
    EngineFacts facts;
    ReadEngineFacts(facts);
    const RTL_OSVERSIONINFOW version = WindowsVersion();
    std::wstring text = FormatString(L"Orvane %ls diagnostic report\r\n", kVersionText);
    text +=
        FormatString(L"Windows %lu.%lu build %lu   CPU threads: %d   Administrator: %ls\r\n", version.dwMajorVersion,
                     version.dwMinorVersion, version.dwBuildNumber, facts.threads, YesNo(facts.elevated));
    text += FormatString(L"Saved index: %ls (loaded: %ls, %.0f ms)\r\n", facts.indexPath.c_str(), YesNo(facts.loaded),
                         facts.loadMs);
    text += FormatString(L"Entries: %ls (deleted, waiting to be tidied: %ls)  text: %.1f MB\r\n\r\n",
                         FormatThousands(facts.liveEntries).c_str(), FormatThousands(facts.deletedEntries).c_str(),
                         static_cast<double>(facts.nameBytes) / 1048576.0);
    for (const VolumeFacts& volume : SnapshotVolumes()) {
        text += FormatString(
            L"%ls  fs=%ls  method=%d  live=%d  files=%llu  folders=%llu  scan=%.0f ms  journal=%llx  "
            L"next=%llu\r\n",
            volume.name.c_str(), volume.fileSystem.c_str(), static_cast<int>(volume.kind), volume.live ? 1 : 0,
            static_cast<unsigned long long>(volume.files), static_cast<unsigned long long>(volume.folders),
            volume.scanMs, static_cast<unsigned long long>(volume.journalId),
            static_cast<unsigned long long>(volume.nextUsn));
        text += L"   " + volume.status + L"\r\n";
    }
    text += L"\r\nRecent activity:\r\n";
    for (const std::wstring& line : ActivityLogLines()) text += line + L"\r\n";
    return text;
}

TextFileWrite WriteTextFile(const std::wstring& path, const std::wstring& text, bool byteOrderMark, DWORD* error) {
    std::string bytes = byteOrderMark ? "\xEF\xBB\xBF" : "";
    bytes += ov::ToUtf8(text);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return TextFileWrite::NotCreated;
    }
    DWORD written = 0;
    DWORD why = 0;
    if (!gWriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        why = GetLastError();
    } else if (written != bytes.size()) {
        why = ERROR_WRITE_FAULT;
    }
    // A full disk may only show when the file is closed.
    if (!CloseHandle(file) && why == 0) why = GetLastError();
    if (why == 0) return TextFileWrite::Written;
    // Part of a report reads like all of it: nothing stays behind.
    DeleteFileW(path.c_str());
    if (error) *error = why;
    return TextFileWrite::NotWritten;
}

void SetTextFileWriteForTesting(FileWriteCall call) {
    gWriteFile = call ? call : WriteFile;
}

void SaveDiagnosticReport() {
    wchar_t path[520] = L"Orvane diagnostic report.txt";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = gMain;
    dialog.lpstrFilter = L"Text file (*.txt)\0*.txt\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = 520;
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameW(&dialog)) return;
    DWORD error = 0;
    switch (WriteTextFile(path, DiagnosticReportText(), true, &error)) {
        case TextFileWrite::Written:
            SetStatusText(L"Diagnostic report saved");
            break;
        case TextFileWrite::NotCreated:
            SetStatusText(L"Couldn't save the diagnostic report");
            break;
        case TextFileWrite::NotWritten: {
            const std::wstring message = FormatString(L"Couldn't write the diagnostic report, so it wasn't saved. %ls",
                                                      SystemErrorText(error).c_str());
            MessageBoxW(gMain, message.c_str(), L"Orvane", MB_ICONWARNING);
            break;
        }
    }
}

void RunSpeedTest() {
    RunSpeedTestShown();
}

std::wstring SelfTestText(const std::wstring& speedTest, bool ready) {
    EngineFacts facts;
    ReadEngineFacts(facts);
    std::wstring text = WithCrLf(speedTest);
    text += FormatString(L"\r\nelevated=%d dbLoaded=%d loadMs=%.0f ready=%d\r\n", facts.elevated ? 1 : 0,
                         facts.loaded ? 1 : 0, facts.loadMs, ready ? 1 : 0);
    for (const VolumeFacts& volume : SnapshotVolumes()) {
        text += FormatString(L"%ls method=%d live=%d files=%llu dirs=%llu scanMs=%.0f status=%ls\r\n",
                             volume.name.c_str(), static_cast<int>(volume.kind), volume.live ? 1 : 0,
                             static_cast<unsigned long long>(volume.files),
                             static_cast<unsigned long long>(volume.folders), volume.scanMs, volume.status.c_str());
    }
    return text;
}

void FinishSelfTest(bool ready) {
    // The table is kept as built, so the file has it whether or not a text window could show it.
    const std::wstring table = RunSpeedTestShown();
    WriteTextFile(gArgs.selfTestPath, SelfTestText(table, ready), false);
    if (gNotesWindow) DestroyWindow(gNotesWindow);
    RunCommand(kCmdExit);
}
