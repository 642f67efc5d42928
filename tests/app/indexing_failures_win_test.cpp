// Indexing that goes wrong, seen from outside: a saved index that cannot be
// used, and a drive taken away while its folders are scanned for the first time.
// The fixture drive F: is filled once for the suite.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>

#include "index/text.h"
#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

const std::wstring kDrive = L"F:\\";
constexpr int kFolders = 600;
constexpr int kFilesPerFolder = 35;
constexpr int kFiles = kFolders * kFilesPerFolder;

// The folder behind F: as Wine reaches a host path.
std::wstring HostFolder(const wchar_t* suffix = L"") {
    wchar_t path[1024] = {};
    if (!GetEnvironmentVariableW(L"OV_GUI_FIXTURE_FOLDER", path, 1024)) return L"";
    std::wstring out = L"\\\\?\\unix" + std::wstring(path) + suffix;
    for (wchar_t& c : out)
        if (c == L'/') c = L'\\';
    return out;
}

class IndexingFailures : public OrvaneTest {
protected:
    // One chain of nested folders, so the scan lists them one after another and
    // lasts long enough to be seen even on a fast machine. It is built from the
    // bottom up, each level beside the chain and then moved over it: creating
    // deep down is slow under Wine.
    static void SetUpTestSuite() {
        const std::wstring chain = kDrive + L"chain", level = kDrive + L"level";
        for (int f = kFolders - 1; f >= 0; --f) {
            ASSERT_TRUE(CreateDirectoryW(level.c_str(), nullptr)) << GetLastError();
            for (int i = 0; i < kFilesPerFolder; ++i) {
                const std::wstring file =
                    level + L"\\qzlost_" + std::to_wstring(f) + L"_" + std::to_wstring(i) + L".txt";
                HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                ASSERT_NE(h, INVALID_HANDLE_VALUE);
                CloseHandle(h);
            }
            if (f < kFolders - 1) {
                ASSERT_TRUE(MoveFileW(chain.c_str(), (level + L"\\d").c_str())) << GetLastError();
            }
            ASSERT_TRUE(MoveFileW(level.c_str(), chain.c_str())) << GetLastError();
        }
    }

    std::wstring Summary() const { return StatusBarText(ChildByClass(main, STATUSCLASSNAMEW), 3); }
};

TEST_F(IndexingFailures, AnUnusableSavedIndexIsNamedWhileTheDrivesAreRead) {
    const std::wstring file = SavedIndexFile();
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::string junk(4096, 'j');
    DWORD written = 0;
    WriteFile(h, junk.data(), static_cast<DWORD>(junk.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_NE(Start(), nullptr);
    std::wstring seen;
    EXPECT_TRUE(WaitUntil(
        [&] {
            seen = Summary();
            return seen.find(
                       L"The saved index couldn't be used (not a saved index (wrong signature)), so the "
                       L"drives are read again.") != std::wstring::npos;
        },
        kStartMs))
        << "last status '" << ToUtf8(seen) << "'";
    EXPECT_TRUE(WaitUntil([&] { return (seen = Summary()).find(L"Up to date") != std::wstring::npos; }, 4 * kStartMs))
        << ToUtf8(seen);
}

TEST_F(IndexingFailures, ADriveLostDuringItsFirstScanIsNotUpToDateAndIsReadAgainOnceBack) {
    const std::wstring host = HostFolder();
    ASSERT_FALSE(host.empty()) << "OV_GUI_FIXTURE_FOLDER is not set";
    HWND list = nullptr;
    int rows = 0;
    std::wstring seen;
    for (int attempt = 1;; ++attempt) {
        DeleteFileW(SavedIndexFile().c_str());
        ASSERT_NE(Start(), nullptr);
        list = ChildById(main, 482);
        bool scanning = false;
        ASSERT_TRUE(WaitUntil(
            [&] {
                seen = Summary();
                scanning =
                    seen.find(L"F:") != std::wstring::npos && seen.find(L"Scanning folders") != std::wstring::npos;
                return scanning || seen.find(L"Up to date") != std::wstring::npos;
            },
            kStartMs))
            << "last status '" << ToUtf8(seen) << "'";
        if (scanning) {
            // Wine refuses the move while a folder in it is being listed (error 32).
            ASSERT_TRUE(WaitUntil([&] { return MoveFileW(host.c_str(), HostFolder(L".away").c_str()) != 0; }, kStartMs))
                << GetLastError();
            // The scan ends, failed: no drive named busy any more, and not up to date.
            EXPECT_TRUE(WaitUntil([&] { return (seen = Summary()).find(L"Scanning") == std::wstring::npos; }, kStartMs))
                << ToUtf8(seen);
            Sleep(1000);
            seen = Summary();
            if (seen.find(L"Up to date") == std::wstring::npos) break;
        }
        // Up to date is right only when the scan had read the whole drive before
        // it went (or before it was seen), which a loaded machine allows: then
        // every file is listed, and the drive goes again in a new run.
        SetWindowTextW(SearchBox(), L"qzlost_");
        EXPECT_TRUE(WaitUntil([&] { return (rows = ListViewRowCount(list)) == kFiles; }, kStartMs))
            << "up to date after " << rows << " of " << kFiles << " files: " << ToUtf8(seen);
        if (scanning) {
            ASSERT_TRUE(MoveFileW(HostFolder(L".away").c_str(), host.c_str())) << GetLastError();
        }
        if (HasFailure()) return;
        ASSERT_LT(attempt, 3) << "the scan had ended before the drive went, three times";
        ASSERT_TRUE(ExitOrvane());
    }

    ASSERT_TRUE(MoveFileW(HostFolder(L".away").c_str(), host.c_str())) << GetLastError();
    // The retry, 60 s after the failed scan, reads the whole drive.
    SetWindowTextW(SearchBox(), L"qzlost_");
    EXPECT_TRUE(WaitUntil([&] { return (rows = ListViewRowCount(list)) == kFiles; }, 60000 + 3 * kStartMs))
        << rows << " of " << kFiles << " rows; status '" << ToUtf8(Summary()) << "'";
    EXPECT_TRUE(WaitUntil([&] { return (seen = Summary()).find(L"Up to date") != std::wstring::npos; }, kStartMs))
        << ToUtf8(seen);
}

}  // namespace
}  // namespace ov::gui
