// The folder watcher with change reads the test writes itself, over real
// folders: records that lie about their lengths, short 8.3 names, changes that
// arrive out of order, reads that are refused, changes lost during a scan, and
// compaction at its thresholds.
#include <gtest/gtest.h>

#include <fstream>

#include "engine/engine.h"
#include "engine/folder_paths.h"
#include "engine/wide_text.h"
#include "tests/engine/fake_drives.h"
#include "tests/engine/scripted_disk.h"
#include "tests/engine/volume_view.h"

namespace ov {
namespace {

namespace fs = std::filesystem;
using testing::Change;
using testing::Records;
using testing::ScriptedDisk;
using testing::TempDir;
using testing::W;

TEST(FolderWatch, ParseChangesTrustsNothingInTheBuffer) {
    std::vector<uint8_t> good = Records({Change(1, L"a.txt"), Change(2, L"dir\\b"), Change(5, L"c")});
    auto parse = [](std::vector<uint8_t> bytes, size_t length) {
        std::vector<DirChange> out;
        ParseChanges(bytes.data(), std::min(length, bytes.size()), out);
        std::string text;
        for (const DirChange& c : out) text += std::to_string(c.action) + ":" + ToUtf8(c.path) + " ";
        return text;
    };
    auto patch = [](std::vector<uint8_t> bytes, size_t at, uint32_t value) {
        std::memcpy(&bytes[at], &value, 4);
        return bytes;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        size_t length;
        std::string want;
    } cases[] = {
        {"three records", good, good.size(), "1:a.txt 2:dir\\b 5:c "},
        {"cut inside the second name", good, 40, "1:a.txt 2:di "},
        {"a name longer than the buffer swallows the rest, NULs and all", patch(good, 8, 0xFFFFFFF0u), good.size(),
         "2:dir\\b 5:c "},
        {"a name running past the bytes returned takes in a NUL", patch(good, 8, 400), 24, ""},
        {"next offset past the end", patch(good, 0, 0x7FFFFFFFu), good.size(), "1:a.txt "},
        {"next offset inside the header", patch(good, 0, 4), good.size(), "1:a.txt "},
        {"an odd name length drops the odd byte", patch(good, 8, 9), good.size(), "1:a.tx 2:dir\\b 5:c "},
        {"a header cut short", good, 11, ""},
        {"paths Windows never reports",
         Records({Change(1, L""), Change(1, L"a\\\\b"), Change(2, L".."), Change(2, L"x\\.\\y"), Change(3, L"\\lead"),
                  Change(3, L"ok")}),
         1000, "3:ok "},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.bytes, c.length), c.want) << c.what;
}

void Write(const fs::path& p, size_t bytes) {
    std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
}

class FolderWatchTest : public ::testing::Test {
protected:
    void Start() {
        engine.elevated = false;
        engine.logSink = [this](const WChar* line) {
            std::lock_guard<std::mutex> guard(logMutex);
            log += ToUtf8(WString(line)) + "\n";
        };
        engine.SetAddedFolders({W(root)});
        engine.RefreshVolumes();
    }
    std::string Differences() {
        return testing::Diff(testing::FreshScan(SystemFileSystem(), W(root), testing::Times::All),
                             testing::VolumeView(engine, 0, testing::Times::All));
    }
    std::string Log() {
        std::lock_guard<std::mutex> guard(logMutex);
        return log;
    }

    TempDir temp{"scripted"};
    fs::path root = temp.path;
    ScriptedDisk disk;
    std::mutex logMutex;  // before the engine, whose threads log until it is gone
    std::string log;
    Engine engine{disk};
};

// Changes named by short names land on the long-named entries: no twin is
// added, and a removal by a short name that no longer resolves removes what
// is gone from that folder.
TEST_F(FolderWatchTest, ShortNamesFindTheLongEntries) {
    fs::create_directories(root / "Program Files");
    Write(root / "Program Files" / "old.txt", 3);
    Write(root / "Program Files" / "keep.txt", 4);
    disk.shortNames = {{Text(L"PROGRA~1"), Text(L"Program Files")}, {Text(L"OLD~1.TXT"), Text(L"old.txt")}};
    Start();
    ASSERT_TRUE(testing::WaitIdle(engine));
    Write(root / "Program Files" / "new.txt", 5);
    disk.Deliver({Change(1, L"PROGRA~1\\new.txt"), Change(3, L"PROGRA~1")});
    disk.Sync();
    EXPECT_EQ(Differences(), "");
    fs::remove(root / "Program Files" / "old.txt");
    disk.Deliver({Change(2, L"PROGRA~1\\OLD~1.TXT"), Change(3, L"PROGRA~1")});
    disk.Sync();
    EXPECT_EQ(Differences(), "");
}

// A change whose folders the index lacks reads them whole; a new tree is
// added to at most 201 levels below the folder reported.
TEST_F(FolderWatchTest, MissingFoldersAreReadWholeToTheirDepthLimit) {
    Start();
    ASSERT_TRUE(testing::WaitIdle(engine));
    fs::create_directories(root / "later" / "a" / "b");
    Write(root / "later" / "a" / "b" / "f.txt", 6);
    Write(root / "later" / "a" / "g.txt", 7);
    disk.Deliver({Change(3, L"later\\a\\b\\f.txt")});
    disk.Sync();
    EXPECT_EQ(Differences(), "");

    fs::path deep = root / "deep";
    for (int level = 0; level < 203; ++level) deep /= "d";
    fs::create_directories(deep);
    disk.Deliver({Change(1, L"deep")});
    disk.Sync();
    size_t deepest = 0;
    for (const auto& [path, what] : testing::VolumeView(engine, 0, testing::Times::None))
        if (path.rfind("deep", 0) == 0) deepest = std::max<size_t>(deepest, std::count(path.begin(), path.end(), '/'));
    EXPECT_EQ(deepest, 201u);
}

// A walked tree is added in slices; when a compaction renumbered the entries
// between two slices, the items added so far are found again.
TEST_F(FolderWatchTest, TreeSlicesSurviveACompactionBetweenThem) {
    Write(root / "old.txt", 1);
    Start();  // its change reads are the test's, and none come: the test adds the tree itself
    ASSERT_TRUE(testing::WaitIdle(engine));
    for (const char* folder : {"t/a/x", "t/b/y", "t/c"}) {
        fs::create_directories(root / folder);
        for (int i = 0; i < 5; ++i) Write(root / folder / ("f" + std::to_string(i)), i);
    }
    Volume* v = nullptr;
    Index::Piece tree;
    {
        std::shared_lock<SharedMutex> guard(engine.lock);
        v = engine.VolumeAt(0);
    }
    ASSERT_TRUE(ReadTree(disk, *v, Text(L"t"), tree));
    std::vector<uint32_t> entryOf(tree.entries.size(), kNoEntry);
    const size_t half = tree.entries.size() / 2;
    std::unique_lock<SharedMutex> guard(engine.lock);
    AddTree(engine, *v, Text(L"t"), tree, 0, half, entryOf, false);
    engine.RemoveCounted(*v, FindRel(engine, *v, Text(L"old.txt")));
    fs::remove(root / "old.txt");
    engine.Compact();  // every entry after old.txt moves down by one
    AddTree(engine, *v, Text(L"t"), tree, half, tree.entries.size(), entryOf, true);
    guard.unlock();
    EXPECT_EQ(testing::Diff(testing::FreshScan(SystemFileSystem(), W(root), testing::Times::None),
                            testing::VolumeView(engine, 0, testing::Times::None)),
              "");
}

// A watch that cannot be armed or opened waits before it tries again; the
// volume is scanned all the same and a stop ends the wait at once.
TEST_F(FolderWatchTest, UnarmableWatchWaitsInsteadOfSpinning) {
    Write(root / "x.txt", 1);
    const struct {
        bool refuse, failOpen;
        int opens, reads;
    } cases[] = {{true, false, 1, 2}, {false, true, 1, 0}};
    for (const auto& c : cases) {
        ScriptedDisk scripted;
        scripted.refuseReads = c.refuse;
        scripted.failOpen = c.failOpen;
        Engine e(scripted);
        e.elevated = false;
        e.SetAddedFolders({W(root)});
        e.RefreshVolumes();
        ASSERT_TRUE(testing::WaitIdle(e));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(scripted.Count(scripted.opens), c.opens);
        EXPECT_EQ(scripted.Count(scripted.reads), c.reads);
        EXPECT_EQ(testing::Diff(testing::FreshScan(SystemFileSystem(), W(root), testing::Times::All),
                                testing::VolumeView(e, 0, testing::Times::All)),
                  "");
        const double t0 = NowMs();
        e.Stop(false);
        EXPECT_LT(NowMs() - t0, 1000.0);
    }
}

// A watch that ends after it worked, though not stopped (its next read is
// refused, or a wait fails), may have missed changes: the volume is scanned
// again, and what changed meanwhile, reported by no read, appears.
TEST_F(FolderWatchTest, AWatchThatEndsAfterWorkingScansAgain) {
    engine.folderWaitCapMsForTesting = 100;  // the pause before a second rescan within a minute
    Start();
    ASSERT_TRUE(testing::WaitIdle(engine));
    disk.Sync();
    for (const char* how : {"refused", "failed"}) {
        Write(root / (std::string(how) + ".txt"), 3);
        if (how[0] == 'r') {
            disk.Script(disk.refuseNextReads, 2);  // the re-issue at both lengths
            disk.Deliver({Change(3, L"elsewhere.txt")});
        } else {
            disk.Script(disk.failNextWaits, 1);
        }
        std::string differences = Differences();
        for (const double until = NowMs() + 60000; !differences.empty() && NowMs() < until; differences = Differences())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(differences, "") << how << "; log:\n" << Log();
    }
}

// A folder's own record can come after a walk of its parent already found it
// (under Wine, and natively, the watch covers a new folder only once its
// record is read): what changed in it between the walk and the record, which
// no read reports, is there once the record is applied.
TEST_F(FolderWatchTest, AFolderReportedAfterAWalkFoundItIsReadAgain) {
    Start();
    ASSERT_TRUE(testing::WaitIdle(engine));
    disk.Sync();
    const fs::path sub = root / "new" / "sub";
    fs::create_directories(sub / "inner");
    Write(sub / "grows.txt", 0);
    Write(sub / "goes.txt", 1);
    disk.Deliver({Change(1, L"new")});
    disk.Sync();
    ASSERT_EQ(Differences(), "");
    Write(sub / "grows.txt", 41);
    fs::remove(sub / "goes.txt");
    Write(sub / "inner" / "came.txt", 2);
    disk.Deliver({Change(1, L"new\\sub"), Change(3, L"new")});
    disk.Sync();
    EXPECT_EQ(Differences(), "") << Log();
}

// Changes lost during a scan mean one more scan at once; lost again during
// that one, the next scan waits (a minute; the test stops it before).
TEST_F(FolderWatchTest, LostDuringTheScanScansOnceMoreThenWaits) {
    fs::create_directories(root / "gated");
    disk.gate = Text(L"gated\\");
    Start();
    for (int scan = 1; scan <= 2; ++scan) {
        disk.WaitHeld(scan);
        disk.Deliver({});
        disk.Admit(1);
    }
    ASSERT_TRUE(testing::WaitIdle(engine));
    const std::string lost = "changes were lost; scanning again\n";
    for (int i = 0; i < 500 && Log().find("in a minute") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Log(),
              ToUtf8(W(root)) + ": " + lost + ToUtf8(W(root)) + ": changes were lost; scanning again in a minute\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    disk.Admit(1);
    EXPECT_EQ(disk.Count(disk.opens), 2);  // no third scan yet
    const double t0 = NowMs();
    engine.Stop(false);
    EXPECT_LT(NowMs() - t0, 1000.0);
}

// Compaction follows a batch whose removals leave more than 50,000 deleted
// entries that are also more than a quarter of all; exactly at either
// threshold it does not.
TEST(FolderWatchCompaction, AtAndPastItsThresholds) {
    const struct {
        uint32_t removed, kept;
        bool compacts;
    } cases[] = {
        {49999, 0, false},       // 50,000 deleted with their folder
        {50000, 0, true},        // 50,001
        {50000, 150001, false},  // 50,001 of 200,004: exactly a quarter
        {50000, 149998, true},   // 50,001 of 200,001
    };
    for (const auto& c : cases) {
        ScriptedDisk disk;
        Engine engine(disk);
        std::vector<std::unique_ptr<Volume>> slots;
        slots.push_back(std::make_unique<Volume>());
        Volume* v = slots[0].get();
        v->root = Text(L"M:\\");
        v->kind = VolumeKind::Folders;
        Index::Piece piece;
        piece.root = piece.Add(kNoEntry, "M:", "m:", EntryFlags::Directory | EntryFlags::VolumeRoot, 0, 0, 0);
        for (const auto& [folder, files] : {std::pair{"gone", c.removed}, std::pair{"kept", c.kept}}) {
            const uint32_t f = piece.Add(piece.root, folder, folder, EntryFlags::Directory, 0, 0, 0);
            for (uint32_t i = 0; i < files; ++i)
                piece.Add(f, "f" + std::to_string(i), "f" + std::to_string(i), 0, 1, 0, 0);
        }
        piece.folders = 2;
        piece.files = c.removed + c.kept;
        uint64_t epoch = 0;
        {
            std::unique_lock<SharedMutex> guard(engine.lock);
            engine.ReplaceVolumes(std::move(slots));
            ASSERT_TRUE(engine.Ingest(0, piece));
            epoch = engine.epoch;
        }
        std::vector<DirChange> batch{Change(2, L"gone")};
        engine.ApplyWatch(v, batch);
        std::shared_lock<SharedMutex> guard(engine.lock);
        EXPECT_EQ(engine.epoch != epoch, c.compacts) << c.removed << " " << c.kept;
        EXPECT_EQ(engine.deletedCount, c.compacts ? 0u : c.removed + 1u);
        EXPECT_EQ(v->files, c.kept);
        EXPECT_EQ(v->folders, 1u);
        EXPECT_EQ(FindRel(engine, *v, Text(L"kept\\f0")) != kNoEntry, c.kept > 0);
    }
}

}  // namespace
}  // namespace ov
