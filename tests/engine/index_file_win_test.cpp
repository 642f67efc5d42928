// Replacing the saved file where Windows decides: files held open by others,
// and, when the test set-up provides them (tests/engine/test_drives.sh), a
// drive that is full and one that is read-only.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "engine/atomic_file.h"
#include "engine/index_file.h"
#include "index/text.h"
#include "tests/engine/fake_drives.h"
#include "tests/support/volume_index.h"

namespace ov {
namespace {

bool Save(Index& index, const WString& path, std::string& reason) {
    std::mutex saveMutex;
    return SaveDb(index, path, saveMutex, {}, reason);
}

struct Fixture {
    Fixture() {
        testing::FillVolumeIndex(small, 1, 2, 50, 0);
        testing::FillVolumeIndex(large, 2, 2, 20000, 0);
    }
    testing::VolumeIndex small, large;
    std::string reason;
};

bool Exists(const WString& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Another program reading the file without delete sharing: the move fails, the
// old file stays whole and the temporary file goes.
TEST(IndexFileWin, TargetHeldOpenKeepsTheOldFile) {
    testing::TempDir dir("index-file");
    const WString path = testing::FileIn(dir.path, "Orvane.db");
    Fixture f;
    ASSERT_TRUE(Save(f.small.index, path, f.reason)) << f.reason;
    const std::string before = testing::ReadWholeFile(path);
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_FALSE(Save(f.large.index, path, f.reason));
    EXPECT_FALSE(f.reason.empty());
    CloseHandle(holder);
    EXPECT_EQ(before, testing::ReadWholeFile(path));
    EXPECT_FALSE(Exists(testing::FileIn(dir.path, "Orvane.db.tmp")));
}

// The loader shares delete access, so a save (another copy of the program
// taking over) replaces the file while it reads, and it reads the old one whole.
TEST(IndexFileWin, ReaderDoesNotBlockAReplace) {
    testing::TempDir dir("index-file");
    const WString path = testing::FileIn(dir.path, "Orvane.db");
    Fixture f;
    ASSERT_TRUE(Save(f.large.index, path, f.reason)) << f.reason;
    const std::string before = testing::ReadWholeFile(path);
    InputFile reader;
    std::string error;
    ASSERT_EQ(InputFile::Opened::Yes, reader.Open(path, error)) << error;
    const bool saved = Save(f.small.index, path, f.reason);
    std::string old(before.size(), '\0');
    EXPECT_TRUE(reader.Read(old.data(), old.size()));
    EXPECT_EQ(before, old);
    reader.Close();
    if (!saved) {
        EXPECT_EQ(before, testing::ReadWholeFile(path));
        // Wine 8 lacks the rename with POSIX semantics (invalid parameter).
        if (f.reason.find("POSIX semantics (87)") != std::string::npos)
            GTEST_SKIP() << "this system cannot replace a file held open: " << f.reason;
        FAIL() << f.reason;
    }
    std::vector<std::unique_ptr<Volume>> volumes;
    Index loaded;
    EXPECT_TRUE(LoadDb(loaded, path, volumes, error)) << error;
    EXPECT_EQ(f.small.index.entries.size(), loaded.entries.size());
}

// The root of a drive the set-up mapped to a small file system; empty when
// there is none.
WString TestDrive(const char* variable) {
    const char* drive = std::getenv(variable);
    if (!drive || !*drive) return {};
    const WString root = ToWide(drive) + L"\\";
    return GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES ? WString() : root;
}

TEST(IndexFileWin, FullDriveKeepsTheOldFile) {
    const WString drive = TestDrive("OV_TEST_FULL_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "no full drive was set up (test_drives.sh needs root and tmpfs)";
    const WString path = drive + L"Orvane.db";
    Fixture f;
    ASSERT_TRUE(Save(f.small.index, path, f.reason)) << f.reason;
    const std::string before = testing::ReadWholeFile(path);
    EXPECT_FALSE(Save(f.large.index, path, f.reason));
    ::testing::Test::RecordProperty("reason", f.reason);
    EXPECT_EQ(before, testing::ReadWholeFile(path));
    EXPECT_FALSE(Exists(path + L".tmp"));
    DeleteFileW(path.c_str());
}

TEST(IndexFileWin, ReadOnlyDriveKeepsTheOldFile) {
    const WString drive = TestDrive("OV_TEST_READONLY_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "no read-only drive was set up (test_drives.sh needs root and tmpfs)";
    const WString path = drive + L"Orvane.db";  // the set-up leaves an empty saved index there
    const std::string before = testing::ReadWholeFile(path);
    ASSERT_EQ(40u, before.size());
    Fixture f;
    EXPECT_FALSE(Save(f.large.index, path, f.reason));
    ::testing::Test::RecordProperty("reason", f.reason);
    EXPECT_EQ(before, testing::ReadWholeFile(path));
}

}  // namespace
}  // namespace ov
