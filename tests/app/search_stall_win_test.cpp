// Hostile regular expressions against a large saved index, seen from outside:
// whatever a pattern costs, a newer search and the exit must not wait for it.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "bench/corpus_volumes.h"
#include "engine/index_file.h"
#include "index/text.h"
#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

constexpr size_t kPaths = 1000000;
const std::wstring kBase = L"C:\\stallgone";

// A saved index of kPaths files and folders in one added folder that does not
// exist: its scan fails at start and the loaded entries stay. plainHits gets
// the number of names holding "qzplain".
bool WriteSavedIndex(const std::wstring& file, int& plainHits, std::string& error) {
    std::vector<std::string> owned;
    owned.reserve(kPaths);
    plainHits = 0;
    for (size_t i = 0; owned.size() < kPaths; ++i) {
        const std::string folder = "/stall/folder" + std::to_string(i / 1000);
        if (i % 1000 == 0) {
            owned.push_back(folder);
            if (owned.size() == kPaths) break;
        }
        const bool plain = i % 1000 == 7;
        plainHits += plain;
        owned.push_back(folder + (plain ? "/qzplain " : "/report ") + std::to_string(i) + " final draft.txt");
    }
    std::vector<std::string_view> paths(owned.begin(), owned.end());
    Index index;
    std::vector<std::unique_ptr<Volume>> volumes;
    if (!bench::FillIndex(index, paths, 7, error)) return false;
    if (!bench::AddCorpusFolderVolumes(index, paths, ToUtf8(kBase), volumes, error)) return false;
    std::mutex saveMutex;
    return SaveDb(index, file, saveMutex, {}, error);
}

FILETIME LastWrite(const std::wstring& file) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

class SearchStall : public OrvaneTest {};

TEST_F(SearchStall, CostlyPatternsNeitherHoldUpTheNextSearchNorTheExit) {
    const std::wstring file = SavedIndexFile();
    std::string error;
    int plainHits = 0;
    ASSERT_TRUE(WriteSavedIndex(file, plainHits, error)) << error;
    const std::wstring folders = kBase + L"\\stall";
    WriteRegistryValue(kSettingsKey, L"IndexedFolders", REG_SZ, folders.c_str(),
                       static_cast<DWORD>((folders.size() + 1) * sizeof(wchar_t)));
    ASSERT_NE(Start(), nullptr);
    HWND list = ChildById(main, 482);
    HWND status = ChildByClass(main, STATUSCLASSNAMEW);
    // Loaded: every entry is listed for the empty search.
    ASSERT_TRUE(WaitUntil([&] { return ListViewRowCount(list) >= static_cast<int>(kPaths); }, 4 * kStartMs))
        << "rows " << ListViewRowCount(list) << ", status '" << ToUtf8(StatusBarText(status, 3)) << "'";
    const FILETIME loaded = LastWrite(file);

    const std::wstring deep = L"regex:" + std::wstring(300, L'(') + L"r" + std::wstring(300, L')') + L"t";
    const std::wstring lookahead = L"regex:(?=.*a)(?=.*e)(?=.*r).*x";
    // How long the plain search takes to show after text, in ms.
    const auto plainAfter = [&](const std::wstring& text) -> ULONGLONG {
        SetWindowTextW(SearchBox(), text.c_str());
        Sleep(300);
        const ULONGLONG typed = GetTickCount64();
        SetWindowTextW(SearchBox(), L"qzplain");
        const bool answered = WaitUntil([&] { return ListViewRowCount(list) == plainHits; }, Patient(20000));
        const ULONGLONG took = GetTickCount64() - typed;
        EXPECT_TRUE(answered) << "rows " << ListViewRowCount(list) << " after " << took << " ms";
        return took;
    };
    for (const std::wstring& costly : {deep, lookahead}) {
        // The same steps after a search that costs nothing special, at the same
        // load: a busy machine slows both alike, a stall only the costly one.
        const ULONGLONG plain = plainAfter(L"report");
        const ULONGLONG took = plainAfter(costly);
        EXPECT_LT(took, 2000 + 3 * plain)
            << ToUtf8(costly.substr(0, 40)) << ": after a plain search " << plain << " ms";
        if (HasFailure()) return;
    }

    // The exit saves at once, with a costly search running.
    SetWindowTextW(SearchBox(), deep.c_str());
    Sleep(300);
    SetWindowTextW(SearchBox(), lookahead.c_str());
    Sleep(300);
    const ULONGLONG asked = GetTickCount64();
    PostMessageW(main, WM_APP + 70, 0, 0);
    std::wstring last;
    const bool ended = WaitUntil(
        [&] {
            if (IsWindow(main)) last = StatusBarText(status, 3);
            return !program.Running();
        },
        kExitMs);
    const ULONGLONG took = GetTickCount64() - asked;
    ASSERT_TRUE(ended) << "still running after " << took << " ms; status '" << ToUtf8(last) << "'";
    main = nullptr;
    const FILETIME saved = LastWrite(file);
    EXPECT_NE(CompareFileTime(&saved, &loaded), 0) << "the index was not saved again";
    EXPECT_LT(took, 20000u);
    std::printf("exit with a costly search running: %llu ms\n", static_cast<unsigned long long>(took));
}

}  // namespace
}  // namespace ov::gui
