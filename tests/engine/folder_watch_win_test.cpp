// Short 8.3 names as the platform makes them (GetShortPathNameW), resolved by
// the watcher through GetLongPathNameW: no twin entry, and a removal named by
// a short name that no longer resolves still removes the right entry.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "engine/engine.h"
#include "tests/engine/volume_view.h"

namespace ov {
namespace {

namespace fs = std::filesystem;

WString ShortLeaf(const fs::path& p) {
    wchar_t buffer[1024] = {};
    const DWORD n = GetShortPathNameW(p.wstring().c_str(), buffer, 1024);
    if (n == 0 || n >= 1024) return {};
    const std::wstring s(buffer, n);
    return s.substr(s.find_last_of(L'\\') + 1);
}

TEST(FolderWatchWin, ShortNamesOfThePlatformFindTheLongEntries) {
    testing::TempDir temp("short");
    const fs::path dir = temp.path / "Program Files Long Name";
    fs::create_directories(dir);
    std::ofstream(dir / "old file name.txt") << "old";
    std::ofstream(dir / "keep.txt") << "keep";
    const WString shortDir = ShortLeaf(dir), shortOld = ShortLeaf(dir / "old file name.txt");
    if (shortDir.find(L'~') == WString::npos || shortOld.find(L'~') == WString::npos)
        GTEST_SKIP() << "this file system makes no short names";

    testing::Unwatched disk(SystemFileSystem());  // the test hands the engine its changes itself
    Engine engine(disk);
    engine.elevated = false;
    engine.SetAddedFolders({testing::W(temp.path)});
    engine.RefreshVolumes();
    ASSERT_TRUE(testing::WaitIdle(engine));
    Volume* v = nullptr;
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        v = engine.VolumeAt(0);
    }
    auto differences = [&] {
        return testing::Diff(testing::FreshScan(SystemFileSystem(), testing::W(temp.path), testing::Times::All),
                             testing::VolumeView(engine, 0, testing::Times::All));
    };
    std::ofstream(dir / "new file name.txt") << "new";
    std::vector<DirChange> batch{{FileAction::Added, shortDir + L"\\new file name.txt"},
                                 {FileAction::Modified, shortDir}};
    engine.ApplyWatch(v, batch);
    EXPECT_EQ(differences(), "");

    fs::remove(dir / "old file name.txt");
    batch = {{FileAction::Removed, shortDir + L"\\" + shortOld}, {FileAction::Modified, shortDir}};
    engine.ApplyWatch(v, batch);
    EXPECT_EQ(differences(), "");
}

}  // namespace
}  // namespace ov
