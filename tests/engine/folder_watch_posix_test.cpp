// The folder watcher on real Linux folders (the inotify stand-in of the change
// reads): after every kind of change the watched index equals a fresh scan of
// the same folder, names, kinds, sizes, folder totals, times and counts. A
// burst that loses changes, stopping, start/stop cycles and a deleted root are
// tried with the real API under Wine (wine_watch_test.py).
#include <gtest/gtest.h>
#include <utime.h>

#include <fstream>
#include <random>

#include "engine/engine.h"
#include "tests/engine/fake_drives.h"
#include "tests/engine/scripted_disk.h"
#include "tests/engine/volume_view.h"

namespace ov {
namespace {

namespace fs = std::filesystem;
using testing::SettlesToFreshScan;
using testing::TempDir;
using testing::W;
using testing::WaitIdle;

void Write(const fs::path& p, size_t bytes, std::ios::openmode mode = std::ios::trunc) {
    std::ofstream(p, std::ios::binary | std::ios::out | mode) << std::string(bytes, 'x');
}

class FolderWatchPosix : public ::testing::Test {
protected:
    void SetUp() override {
        disk.scriptReads = false;
        fs::create_directories(root / "old" / "deep" / "deeper");
        Write(root / "old" / "deep" / "deeper" / "kept.txt", 3);
        Write(root / "a.txt", 10);
        engine.logSink = [this](const WChar* line) {
            std::lock_guard<std::mutex> guard(logMutex);
            log.push_back(ToUtf8(WString(line)));
        };
    }
    void Start() {
        engine.SetAddedFolders({W(root)});
        engine.RefreshVolumes();
        ASSERT_TRUE(WaitIdle(engine));
        WaitLive();
    }
    void WaitLive() {
        for (int i = 0; i < 2000 && !Live(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard<std::mutex> guard(logMutex);
        ASSERT_TRUE(Live()) << (log.empty() ? "" : log.back());
    }
    bool Live() {
        std::shared_lock<SharedMutex> guard(engine.lock);
        Volume* v = engine.VolumeAt(0);
        return v != nullptr && v->live.load();
    }
    std::string Settled() { return SettlesToFreshScan(engine, 0, disk, W(root), testing::Times::All); }
    std::string LogTail() {
        std::lock_guard<std::mutex> guard(logMutex);
        std::string tail = "\nlast log lines:";
        for (size_t i = log.size() > 20 ? log.size() - 20 : 0; i < log.size(); ++i) tail += "\n  " + log[i];
        return tail;
    }
    int LogLines(const std::string& part) {
        std::lock_guard<std::mutex> guard(logMutex);
        return static_cast<int>(std::count_if(log.begin(), log.end(),
                                              [&](const std::string& l) { return l.find(part) != std::string::npos; }));
    }

    TempDir temp{"watch"};
    fs::path root = temp.path / "root";
    testing::ScriptedDisk disk;  // the platform's change reads
    std::mutex logMutex;         // before the engine, whose threads log until it is gone
    std::vector<std::string> log;
    Engine engine{disk};
};

// Every kind of change in turn; after each the index equals a fresh scan.
TEST_F(FolderWatchPosix, EveryChangeEndsEqualToAFreshScan) {
    Start();
    const fs::path outside = temp.path / "outside";
    const struct {
        const char* what;
        std::function<void()> change;
    } steps[] = {
        {"create", [&] { Write(root / "new.bin", 100); }},
        {"append (folder sizes roll up)",
         [&] { Write(root / "old" / "deep" / "deeper" / "kept.txt", 500, std::ios::app); }},
        {"times",
         [&] {
             utimbuf t{1000000000, 1000000000};
             utime((root / "a.txt").c_str(), &t);
         }},
        {"delete", [&] { fs::remove(root / "new.bin"); }},
        {"rename", [&] { fs::rename(root / "a.txt", root / "b.txt"); }},
        {"case-only rename", [&] { fs::rename(root / "b.txt", root / "B.txt"); }},
        {"folder rename", [&] { fs::rename(root / "old" / "deep", root / "old" / "Deep2"); }},
        {"tree moved in",
         [&] {
             fs::create_directories(outside / "x" / "y");
             Write(outside / "x" / "y" / "in.txt", 7);
             Write(outside / "top.txt", 9);
             fs::rename(outside, root / "moved");
         }},
        {"changes deep in folders that were there before",
         [&] {
             Write(root / "old" / "Deep2" / "deeper" / "more.txt", 5);
             fs::create_directories(root / "old" / "Deep2" / "deeper" / "n1" / "n2");
             Write(root / "old" / "Deep2" / "deeper" / "n1" / "n2" / "leaf", 1);
         }},
        {"a file becomes a folder",
         [&] {
             fs::remove(root / "B.txt");
             fs::create_directories(root / "B.txt");
         }},
        {"links are listed, not entered", [&] { fs::create_directory_symlink(root / "old", root / "old-link"); }},
        {"rm -r of 1,000 files",
         [&] {
             fs::create_directories(root / "many");
             for (int i = 0; i < 1000; ++i) Write(root / "many" / ("f" + std::to_string(i)), i % 7);
             ASSERT_EQ(Settled(), "");
             fs::remove_all(root / "many");
         }},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_EQ(Settled(), "") << step.what;
    }
    EXPECT_EQ(LogLines("changes were lost"), 0);
}

// The first read is issued before the scan: what changes while it runs (in
// folders it listed already, in the one it is listing, in ones still to come)
// is applied after the merge.
TEST_F(FolderWatchPosix, ChangesDuringTheFirstScanAreKept) {
    fs::create_directories(root / "zz-gated" / "sub");
    disk.gate = Text(L"zz-gated\\");
    engine.scanWalkersForTesting = 2;
    engine.SetAddedFolders({W(root)});
    engine.RefreshVolumes();
    disk.WaitHeld(1);
    Write(root / "old" / "deep" / "deeper" / "during.txt", 4);
    fs::remove(root / "a.txt");
    Write(root / "zz-gated" / "sub" / "x", 8);
    fs::rename(root / "old" / "deep", root / "old" / "renamed");
    disk.Admit(1 << 20);  // this scan, and every one after it
    ASSERT_TRUE(WaitIdle(engine));
    EXPECT_EQ(Settled(), "");
}

// A folder volume loaded from the saved index is scanned again, so what
// changed while the program was not running comes in, and then watched.
TEST_F(FolderWatchPosix, AVolumeFromTheSavedIndexIsScannedAgainThenWatched) {
    const WString file = W(temp.path / "Orvane.db");
    {
        Engine before(disk);
        before.indexPath = file;
        before.SetAddedFolders({W(root)});
        before.RefreshVolumes();
        ASSERT_TRUE(WaitIdle(before));
        before.Stop(true);
    }
    Write(root / "while-closed.txt", 4);
    fs::remove(root / "a.txt");
    engine.indexPath = file;
    ASSERT_TRUE(engine.LoadDb());
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        ASSERT_NE(engine.VolumeAt(0), nullptr);
        EXPECT_EQ(engine.VolumeAt(0)->kind, VolumeKind::Folders);
        EXPECT_FALSE(engine.VolumeAt(0)->folderScanned);
    }
    Start();
    EXPECT_EQ(Settled(), "");
    Write(root / "after.txt", 3);
    EXPECT_EQ(Settled(), "");
}

// A seeded script of creates, writes, renames, moves and deletes, in rounds.
TEST_F(FolderWatchPosix, RandomChangesEndEqualToAFreshScan) {
    Start();
    const uint64_t seed = 20240611;
    std::mt19937_64 rng(seed);
    auto pick = [&rng](const std::vector<fs::path>& from) { return from[rng() % from.size()]; };
    int made = 0;
    for (int round = 0; round < 6; ++round) {
        for (int op = 0; op < 60; ++op) {
            std::vector<fs::path> folders{root}, files;
            for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
                (it->is_directory() ? folders : files).push_back(it->path());
            const fs::path folder = pick(folders);
            const std::string name = (rng() % 2 ? "N" : "n") + std::to_string(made++);
            std::error_code ignored;
            switch (rng() % 7) {
                case 0:
                case 1:
                    Write(folder / (name + ".dat"), rng() % 5000);
                    break;
                case 2:
                    fs::create_directories(folder / name / "inner");
                    Write(folder / name / "inner" / "i.txt", rng() % 100);
                    break;
                case 3:
                    if (!files.empty()) Write(pick(files), rng() % 300, std::ios::app);
                    break;
                case 4:  // rename or move, files and folders
                    if (folders.size() + files.size() > 1) {
                        const fs::path from = rng() % 2 || files.empty() ? pick(folders) : pick(files);
                        if (from != root) fs::rename(from, folder / name, ignored);  // into itself fails
                    }
                    break;
                case 5:
                    if (!files.empty()) fs::remove(pick(files), ignored);
                    break;
                case 6:
                    if (folders.size() > 1) {
                        const fs::path gone = pick(folders);
                        if (gone != root) fs::remove_all(gone, ignored);
                    }
                    break;
            }
        }
        ASSERT_EQ(Settled(), "") << "round " << round << ", seed " << seed << LogTail();
    }
}

}  // namespace
}  // namespace ov
