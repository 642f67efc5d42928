#include "engine/engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <shared_mutex>

#include "engine/wide_text.h"
#include "tests/engine/fake_drives.h"
#include "tests/support/index_reference.h"
#include "tests/support/journal_drive.h"
#include "tests/support/ntfs_builder.h"

namespace ov {
namespace {

using testing::FakeDrive;
using testing::FakeDrives;
using testing::TempDir;
using testing::W;
using testing::WaitIdle;

void Touch(const std::filesystem::path& p, size_t bytes = 1) {
    std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
}

// Live entries of the volume in the slot, as slot-relative paths.
std::vector<std::string> Paths(Engine& engine, int slot) {
    std::shared_lock<SharedMutex> guard(engine.lock);
    std::vector<std::string> paths;
    for (uint32_t i = 0; i < engine.entries.size(); ++i) {
        const Entry& e = engine.entries[i];
        if (IsDeleted(e) || SlotOf(e.flags) != slot || e.parent == kNoEntry) continue;
        std::string path(engine.NameOf(i));
        for (uint32_t p = e.parent; engine.entries[p].parent != kNoEntry; p = engine.entries[p].parent)
            path = std::string(engine.NameOf(p)) + "/" + path;
        paths.push_back(path);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The volume per slot, with its root ("" for an empty slot).
std::vector<std::string> Slots(Engine& engine) {
    std::shared_lock<SharedMutex> guard(engine.lock);
    std::vector<std::string> roots;
    for (size_t s = 0; s < engine.volumes.size(); ++s) {
        Volume* v = engine.VolumeAt(static_cast<int>(s));
        roots.push_back(v ? ToUtf8(v->root) : "");
    }
    return roots;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { engine.elevated = false; }  // as with /forcescan: every drive is walked

    FakeDrive Over(const std::string& name, uint32_t serial, DriveType type = DriveType::Fixed) {
        const auto folder = temp.path / name;
        std::filesystem::create_directories(folder);
        Touch(folder / (name + ".txt"));
        FakeDrive d;
        d.target = W(folder);
        d.serial = serial;
        d.type = type;
        return d;
    }
    void Refresh() {
        engine.RefreshVolumes();
        ASSERT_TRUE(WaitIdle(engine));
    }

    TempDir temp{"engine"};
    FakeDrives drives;
    Engine engine{drives};
};

// Drives that vanish, come back, change disks or are removable, in one story;
// every step leaves the slot table and the entries in line with the drives.
TEST_F(EngineTest, RefreshFollowsTheDrives) {
    drives.Set('C', Over("c", 1));
    drives.Set('D', Over("d", 2));
    drives.Set('E', Over("e", 3, DriveType::Removable));
    drives.Set('F', Over("f", 4));
    drives.Set('R', Over("r", 5, DriveType::Remote));
    Refresh();
    const std::string c = "C:\\", d = "D:\\", e = "E:\\", f = "F:\\";
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{c, d, f}));
    EXPECT_EQ(Paths(engine, 1), (std::vector<std::string>{"d.txt"}));

    engine.SetIncludeRemovable(true);
    Refresh();
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{c, d, f, e}));
    EXPECT_EQ(Paths(engine, 3), (std::vector<std::string>{"e.txt"}));
    engine.SetIncludeRemovable(false);
    Refresh();
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{c, d, f, ""}));
    EXPECT_TRUE(Paths(engine, 3).empty());

    drives.Change('C', [](FakeDrive& x) { x.present = false; });
    Refresh();
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{"", d, f, ""}));
    EXPECT_TRUE(Paths(engine, 0).empty());

    // Another disk under D: the old volume goes, the new one takes the lowest free slot.
    drives.Change('D', [](FakeDrive& x) { x.serial = 22; });
    Refresh();
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{d, "", f, ""}));
    EXPECT_EQ(Paths(engine, 0), (std::vector<std::string>{"d.txt"}));
    EXPECT_TRUE(Paths(engine, 1).empty());

    drives.Change('C', [](FakeDrive& x) { x.present = true; });
    Refresh();
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{d, c, f, ""}));
    EXPECT_EQ(Paths(engine, 1), (std::vector<std::string>{"c.txt"}));
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        EXPECT_EQ(engine.deletedCount, 0u);
        Volume* v = engine.VolumeAt(0);
        EXPECT_EQ(v->kind, VolumeKind::Folders);
        EXPECT_EQ(v->serial, 22u);
        EXPECT_EQ(engine.StatusOf(v).substr(0, 33), Text(L"Indexed 1 files and 0 folders in "));
    }
    // Nothing changed: nothing is stopped or started.
    const Volume* before = nullptr;
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        before = engine.VolumeAt(2);
    }
    Refresh();
    std::shared_lock<SharedMutex> guard(engine.lock);
    EXPECT_EQ(engine.VolumeAt(2), before);
    EXPECT_TRUE(engine.VolumeAt(2)->running);
}

TEST_F(EngineTest, AddedFoldersShareRootsAndFillAtMost256Slots) {
    drives.Set('D', Over("d", 1));
    std::filesystem::create_directories(temp.path / "d" / "data");
    engine.SetAddedFolders({Text(L"D:\\data"), Text(L"D:\\data\\"), Text(L"D:\\Data"), WString()});
    Refresh();
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{"D:\\", "D:\\data\\"}));
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        EXPECT_EQ(engine.VolumeAt(1)->name, Text(L"D:\\data"));
        EXPECT_TRUE(engine.VolumeAt(1)->addedFolder);
    }

    std::vector<WString> folders;
    drives.watchFolders = false;
    for (int i = 0; i < 300; ++i) {
        const auto folder = temp.path / "many" / std::to_string(i);
        std::filesystem::create_directories(folder);
        folders.push_back(W(folder));
    }
    engine.SetAddedFolders(folders);
    Refresh();
    const std::vector<std::string> slots = Slots(engine);
    ASSERT_EQ(slots.size(), 256u);
    EXPECT_EQ(slots[0], "D:\\");
    EXPECT_EQ(slots[255], ToUtf8(folders[254]) + "\\");
    EXPECT_EQ(std::count(slots.begin(), slots.end(), ""), 0);
}

// A walker stuck in a listing (a dead share) must not hold up Stop or the
// removal of its volume; the thread is joined once its call returns.
TEST_F(EngineTest, StopReturnsPromptlyWhileAWalkerHangs) {
    drives.syntheticFolders = 200;
    drives.syntheticFiles = 1000;
    drives.syntheticHang = true;
    drives.Set('G', FakeDrive{});
    engine.RefreshVolumes();
    EXPECT_EQ(engine.busyVolumes.load(), 1);
    while (!drives.Hanging()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    auto t0 = std::chrono::steady_clock::now();
    engine.Stop(false);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    drives.Change('G', [](FakeDrive& x) { x.present = false; });
    t0 = std::chrono::steady_clock::now();
    engine.RefreshVolumes();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{""}));
    EXPECT_EQ(engine.busyVolumes.load(), 1);  // the stuck thread has not ended its first pass

    drives.Release();
    ASSERT_TRUE(WaitIdle(engine));
    EXPECT_EQ(engine.busyVolumes.load(), 0);
    std::shared_lock<SharedMutex> guard(engine.lock);
    EXPECT_TRUE(engine.entries.empty());  // a stopped scan merges nothing
}

// A Rescan whose old thread is stuck past the grace is not dropped: the volume
// says it waits, and the rescan runs as soon as that thread's call returns.
TEST_F(EngineTest, RescanWaitsForAStuckThreadThenRuns) {
    drives.syntheticFolders = 20;
    drives.syntheticFiles = 10;
    drives.syntheticHang = true;
    drives.Set('G', FakeDrive{});
    engine.RefreshVolumes();
    while (!drives.Hanging()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Volume* volume = nullptr;
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        volume = engine.VolumeAt(0);
    }
    ASSERT_NE(volume, nullptr);
    EXPECT_FALSE(engine.RescanVolume(volume));
    EXPECT_EQ(ToUtf8(engine.StatusOf(volume)), ToUtf8(Text(Engine::kRescanWaitingText)));

    drives.Release();
    const size_t whole = 20u * 10u + 20u + 1u;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t seen = 0;
    while ((seen = Paths(engine, 0).size()) != whole && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(seen, whole);
    ASSERT_TRUE(WaitIdle(engine));
    EXPECT_NE(ToUtf8(engine.StatusOf(volume)), ToUtf8(Text(Engine::kRescanWaitingText)));
    engine.Stop(false);
}

// 200,200 synthetic items walk completely; a rebuild counts the volume once more.
TEST_F(EngineTest, SyntheticTreeAndRebuild) {
    drives.syntheticFolders = 200;
    drives.syntheticFiles = 1000;
    drives.Set('G', FakeDrive{});
    Refresh();
    EXPECT_EQ(Paths(engine, 0).size(), 200u * 1000u + 200u);
    engine.Rebuild();
    EXPECT_EQ(engine.busyVolumes.load(), 1);
    ASSERT_TRUE(WaitIdle(engine));
    std::shared_lock<SharedMutex> guard(engine.lock);
    EXPECT_EQ(engine.entries.size(), 200u * 1000u + 201u);
    EXPECT_EQ(engine.entries[0].size, 200u * (999u * 1000u / 2));
}

// A drive pulled out while its folders are walked: the scan fails, merges
// nothing, says so and is not live; once the drive is back the retry ends equal
// to the disk.
TEST_F(EngineTest, DriveLostDuringItsFirstScanIsAFailedScanThenRetried) {
    drives.syntheticFolders = 200;
    drives.syntheticFiles = 100;
    drives.syntheticHang = true;  // listed first by the one walker
    engine.scanWalkersForTesting = 1;
    engine.folderWaitCapMsForTesting = 50;
    drives.Set('G', FakeDrive{});
    engine.RefreshVolumes();
    while (!drives.Hanging()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    drives.Change('G', [](FakeDrive& x) { x.present = false; });
    drives.Release();
    ASSERT_TRUE(WaitIdle(engine));
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        Volume* v = engine.VolumeAt(0);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(ToUtf8(engine.StatusOf(v)), "Can't reach this folder right now (3)");
        EXPECT_FALSE(v->live.load());
    }
    EXPECT_TRUE(Paths(engine, 0).empty());

    drives.Change('G', [](FakeDrive& x) { x.present = true; });
    const size_t whole = 200u * 100u + 200u + 1u;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t seen = 0;
    while ((seen = Paths(engine, 0).size()) != whole && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(seen, whole);
    engine.Stop(false);
}

TEST_F(EngineTest, FailedScansKeepTheIndexAndReportWhy) {
    const auto folder = temp.path / "kept";
    std::filesystem::create_directories(folder / "sub");
    Touch(folder / "sub" / "a.bin", 10);
    const auto empty = temp.path / "empty";
    std::filesystem::create_directories(empty);
    const auto file = temp.path / "file.txt";
    Touch(file);
    engine.SetAddedFolders({W(folder), W(empty), W(file)});
    Refresh();
    EXPECT_EQ(Paths(engine, 0), (std::vector<std::string>{"sub", "sub/a.bin"}));
    EXPECT_TRUE(Paths(engine, 1).empty());
    Volume* kept = nullptr;
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        kept = engine.VolumeAt(0);
        const WString done = engine.StatusOf(engine.VolumeAt(1));
        EXPECT_EQ(done.substr(0, 33), Text(L"Indexed 0 files and 0 folders in "));
        EXPECT_EQ(done.substr(done.size() - 26), Text(L" seconds (scanned folders)"));
        const WString file = engine.StatusOf(engine.VolumeAt(2));  // a file: the code depends on the platform
        EXPECT_EQ(file.substr(0, 35), Text(L"Can't reach this folder right now ("));
        EXPECT_NE(file, Text(L"Can't reach this folder right now (0)"));
        uint32_t roots = 0;
        for (const Entry& e : engine.entries) roots += SlotOf(e.flags) == 1;
        EXPECT_EQ(roots, 1u);  // an empty folder is its root entry alone
    }

    std::filesystem::rename(folder, temp.path / "moved");
    EXPECT_TRUE(engine.RescanVolume(kept));
    ASSERT_TRUE(WaitIdle(engine));
    EXPECT_EQ(Paths(engine, 0), (std::vector<std::string>{"sub", "sub/a.bin"}));
    const WString text = engine.StatusOf(kept);
    EXPECT_TRUE(text == Text(L"Can't reach this folder right now (2)") ||
                text == Text(L"Can't reach this folder right now (3)"))
        << ToUtf8(text);
}

// A saved index that is there but cannot be used is logged and named for the
// status line; a missing one (the first start) is no problem.
TEST_F(EngineTest, UnusableSavedIndexIsLoggedAndNamed) {
    std::vector<WString> lines;
    engine.logSink = [&lines](const WChar* text) { lines.emplace_back(text); };
    const auto path = temp.path / "Orvane.db";
    engine.indexPath = W(path);
    EXPECT_FALSE(engine.LoadDb());
    EXPECT_EQ(engine.SavedIndexProblem(), WString());
    Touch(path, 4096);
    EXPECT_FALSE(engine.LoadDb());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(ToUtf8(lines[1]), "Couldn't load the saved index: not a saved index (wrong signature)");
    EXPECT_EQ(ToUtf8(engine.SavedIndexProblem()),
              "The saved index couldn't be used (not a saved index (wrong signature)), so the drives are read again.");
}

// A drive to be removed lets go of every handle on it: the watch of a folder
// volume and the journal's drive of a file-table volume close, and both stay
// stopped whatever refreshes. A cancelled removal takes them up again (the
// folder volume scans, so what changed meanwhile appears); a completed one
// drops the drive's volume and entries.
TEST_F(EngineTest, ADriveToBeRemovedLetsGoOfItsHandles) {
    engine.elevated = true;  // J follows its journal
    FakeDrive r = Over("r", 1, DriveType::Removable);
    r.fileSystem = Text(L"FAT32");
    drives.Set('R', r);
    drives.Set('J', Over("j", 2));
    engine.SetIncludeRemovable(true);
    testing::JournalDrive journal;
    journal.Put(5, testing::RecordBuilder(1024, 3).StandardInfo(1, 2, 0x10).FileName(5, u".").Finish());
    struct Source final : JournalSource {
        Source(testing::JournalDrive& drive, std::atomic<int>& open) : drive(drive), open(open) { open.fetch_add(1); }
        ~Source() override { open.fetch_sub(1); }
        DeviceControl Control() const override { return drive.Control(); }
        DevFactory Raw() const override { return drive.Raw(); }
        testing::JournalDrive& drive;
        std::atomic<int>& open;
    };
    std::atomic<int> openSources{0};
    engine.openJournalDrive = [&](const WString&, uint32_t&) -> std::unique_ptr<JournalSource> {
        return std::make_unique<Source>(journal, openSources);
    };
    // J as a saved index leaves it: its journal is followed from where it stood.
    Volume* j = nullptr;
    {
        std::vector<std::unique_ptr<Volume>> slots;
        slots.push_back(std::make_unique<Volume>());
        j = slots[0].get();
        j->root = Text(L"J:\\");
        j->name = Text(L"J:");
        j->fileSystem = Text(L"NTFS");
        j->serial = 2;
        j->kind = VolumeKind::FileTable;
        j->journalId = journal.journal.journalId;
        j->nextUsn = 100;
        std::unique_lock<SharedMutex> guard(engine.lock);
        engine.ReplaceVolumes(std::move(slots));
        j->rootEntry = testing::AddNamed(engine, kNoEntry, "J:", testing::kRoot);
        j->recordMap.assign(64, kNoEntry);
        j->recordMap[5] = j->rootEntry;
    }
    Refresh();
    Volume* rv = nullptr;
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        rv = engine.VolumeAt(1);
    }
    ASSERT_TRUE(rv != nullptr && rv->root == Text(L"R:\\"));
    auto untilLive = [&] {
        for (const double until = NowMs() + 60000; NowMs() < until && !(rv->live.load() && j->live.load());)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return rv->live.load() && j->live.load();
    };
    ASSERT_TRUE(untilLive());
    EXPECT_EQ(drives.openWatches.load(), 1);
    EXPECT_EQ(openSources.load(), 1);

    EXPECT_TRUE(engine.ReleaseDrive(Text(L"R:\\")));
    EXPECT_EQ(drives.openWatches.load(), 0);
    EXPECT_FALSE(rv->live.load());
    EXPECT_EQ(openSources.load(), 1);  // another drive's
    EXPECT_TRUE(engine.ReleaseDrive(Text(L"j:\\")));
    EXPECT_EQ(openSources.load(), 0);
    engine.RefreshVolumes();  // a device change meanwhile starts neither
    EXPECT_EQ(drives.openWatches.load(), 0);
    EXPECT_EQ(openSources.load(), 0);

    Touch(temp.path / "r" / "meanwhile.txt");
    engine.ReclaimDrive(Text(L"R:\\"));
    engine.ReclaimDrive(Text(L"J:\\"));
    ASSERT_TRUE(untilLive());
    ASSERT_TRUE(WaitIdle(engine));
    EXPECT_EQ(drives.openWatches.load(), 1);
    EXPECT_EQ(openSources.load(), 1);
    EXPECT_EQ(Paths(engine, 1), (std::vector<std::string>{"meanwhile.txt", "r.txt"}));

    EXPECT_TRUE(engine.ReleaseDrive(Text(L"R:\\")));
    engine.DropDrive(Text(L"R:\\"));
    EXPECT_EQ(Slots(engine), (std::vector<std::string>{"J:\\", ""}));
    EXPECT_TRUE(Paths(engine, 1).empty());
    EXPECT_EQ(drives.openWatches.load(), 0);
    EXPECT_TRUE(j->live.load());
    engine.Stop(false);  // J's thread reads the journal drive, which goes with this test
}

TEST(EngineLog, NeedsASinkAndCutsLongLines) {
    FakeDrives drives;
    Engine engine(drives);
    engine.Log(L"%ls", L"nobody listens");
    std::vector<WString> lines;
    engine.logSink = [&lines](const WChar* text) { lines.emplace_back(text); };
    const std::wstring longText(700, L'x');
    engine.Log(L"%ls: %d", longText.c_str(), 7);
    engine.Log(L"%ls has %llu", Arg(Text(L"C:")).c_str(), 12ull);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], Text(longText.substr(0, 599).c_str()));
    EXPECT_EQ(lines[1], Text(L"C: has 12"));
}

#ifndef _WIN32
struct Window final : NotifyTarget {
    void Posted(uint32_t message) override {
        std::lock_guard<std::mutex> guard(mutex);
        counts[message] += 1;
    }
    int Count(uint32_t message) {
        std::lock_guard<std::mutex> guard(mutex);
        return counts[message];
    }
    std::mutex mutex;
    std::map<uint32_t, int> counts;
};

// At most one message of each kind waits until the window clears its flag.
TEST_F(EngineTest, PostedMessagesCoalesce) {
    Window window;
    engine.notifyWindow = &window;
    drives.Set('C', Over("c", 1));
    drives.Set('D', Over("d", 2));
    Refresh();
    EXPECT_EQ(window.Count(WM_APP_INDEX_CHANGED), 1);
    EXPECT_EQ(window.Count(WM_APP_VOLUMES_CHANGED), 1);
    engine.volumesChangedPosted.exchange(false);
    Refresh();  // nothing changed, yet the volumes are announced
    EXPECT_EQ(window.Count(WM_APP_VOLUMES_CHANGED), 2);
    EXPECT_EQ(window.Count(WM_APP_INDEX_CHANGED), 1);
    engine.notifyWindow = nullptr;
}
#endif

}  // namespace
}  // namespace ov
