// Saves that fail for reasons of the file system, on small file systems mounted
// for the test (root only; skipped otherwise).
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "engine/index_file.h"
#include "tests/engine/fake_drives.h"
#include "tests/support/volume_index.h"

namespace ov {
namespace {

// A tmpfs of `size` mounted on a fresh folder, unmounted at the end.
class TinyMount {
public:
    explicit TinyMount(const char* size) : dir("index-file-mount") {
        const std::string options = std::string("size=") + size;
        if (mount("tmpfs", dir.path.c_str(), "tmpfs", 0, options.c_str()) == 0) {
            mounted = true;
        } else {
            error = std::strerror(errno);
        }
    }
    ~TinyMount() {
        if (mounted) umount2(dir.path.c_str(), MNT_DETACH);
    }
    bool ReadOnly() { return mount("tmpfs", dir.path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

    testing::TempDir dir;
    bool mounted = false;
    std::string error;
};

bool Save(Index& index, const WString& path, std::string& reason) {
    std::mutex saveMutex;
    return SaveDb(index, path, saveMutex, {}, reason);
}

// The index saved first fits; the second, larger one does not, or cannot be
// put in place. Each time the old file must stay byte for byte, with no
// temporary file left behind.
void ExpectSecondSaveFails(const testing::TempDir& dir, const std::function<bool(const WString&)>& breakIt) {
    const WString path = testing::FileIn(dir.path, "Orvane.db");
    testing::VolumeIndex small, large;
    testing::FillVolumeIndex(small, 1, 2, 50, 0);
    testing::FillVolumeIndex(large, 2, 2, 20000, 0);
    std::string reason;
    ASSERT_TRUE(Save(small.index, path, reason)) << reason;
    const std::string before = testing::ReadWholeFile(path);
    ASSERT_FALSE(before.empty());
    if (!breakIt(path)) GTEST_SKIP() << "could not set up the failure: " << std::strerror(errno);
    EXPECT_FALSE(Save(large.index, path, reason));
    EXPECT_FALSE(reason.empty());
    ::testing::Test::RecordProperty("reason", reason);
    EXPECT_EQ(before, testing::ReadWholeFile(path));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "Orvane.db.tmp"));
}

TEST(IndexFilePosix, NoSpaceKeepsTheOldFile) {
    TinyMount disk("256k");
    if (!disk.mounted) GTEST_SKIP() << "mounting a small tmpfs failed (" << disk.error << "); needs root";
    ExpectSecondSaveFails(disk.dir, [](const WString&) { return true; });
}

TEST(IndexFilePosix, ReadOnlyFolderKeepsTheOldFile) {
    TinyMount disk("4m");
    if (!disk.mounted) GTEST_SKIP() << "mounting a small tmpfs failed (" << disk.error << "); needs root";
    ExpectSecondSaveFails(disk.dir, [&](const WString&) { return disk.ReadOnly(); });
}

// The nearest thing to a file another program holds open without delete
// sharing: an immutable file cannot be replaced.
TEST(IndexFilePosix, LockedTargetKeepsTheOldFile) {
    testing::TempDir dir("index-file");
    int fd = -1;
    ExpectSecondSaveFails(dir, [&](const WString& path) {
        fd = open(std::filesystem::path(path).c_str(), O_RDONLY);
        int flags = 0;
        if (fd < 0 || ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return false;
        flags |= FS_IMMUTABLE_FL;
        return ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    });
    if (fd >= 0) {
        int flags = 0;
        if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        close(fd);
    }
}

}  // namespace
}  // namespace ov
