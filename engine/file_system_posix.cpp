// Native stand-in: long-path Windows paths map onto Linux paths ("\\?\" dropped,
// '\' read as '/'), so an added folder such as /tmp/tree scans the real tree.
// There are no drive letters and no network paths. Attributes mimic what
// Windows reports: symbolic links are reparse points, folders when they point
// at one, and are never followed by a listing.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "engine/file_system.h"
#include "index/entry.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

uint64_t Ticks(const timespec& t) {
    if (t.tv_sec < 0) return 0;
    return kUnixEpochTicks + static_cast<uint64_t>(t.tv_sec) * 10000000ull + static_cast<uint64_t>(t.tv_nsec) / 100;
}

// False for what has no Linux counterpart (network paths).
bool LinuxPath(const WString& path, std::string& out) {
    static const WString kLong = u"\\\\?\\";
    WString p = path.compare(0, kLong.size(), kLong) == 0 ? path.substr(kLong.size()) : path;
    if (p.compare(0, 4, u"UNC\\") == 0 || p.compare(0, 2, u"\\\\") == 0) return false;
    for (WChar& c : p)
        if (c == u'\\') c = u'/';
    out = ToUtf8(p);
    return true;
}

uint32_t ErrorOf(int e) {
    switch (e) {
        case ENOENT:
            return WinError::FileNotFound;
        case ENOTDIR:
            return WinError::PathNotFound;
        case EACCES:
        case EPERM:
            return WinError::AccessDenied;
        default:
            return static_cast<uint32_t>(e);
    }
}

uint32_t AttributesOf(int dir, const char* name, struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        const bool folder = fstatat(dir, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        return FileAttr::ReparsePoint | (folder ? FileAttr::Directory : FileAttr::Archive);
    }
    return S_ISDIR(st.st_mode) ? FileAttr::Directory : FileAttr::Archive;
}

class PosixFileSystem final : public FileSystem {
public:
    bool ListFolder(const WString& folder, FolderVisitor& visitor) override {
        std::string path;
        if (!LinuxPath(folder, path)) return false;
        DIR* d = opendir(path.c_str());
        if (d == nullptr) return false;
        const int fd = dirfd(d);
        while (const dirent* e = readdir(d)) {
            const char* name = e->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            struct stat st;
            if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
            const WString wide = ToWide(name, std::char_traits<char>::length(name));
            FindData item;
            item.name = wide.data();
            item.nameLength = wide.size();
            item.attributes = AttributesOf(fd, name, st);
            // Windows reports no size for folders and links.
            item.size = (item.attributes & (FileAttr::Directory | FileAttr::ReparsePoint))
                            ? 0
                            : static_cast<uint64_t>(st.st_size);
            item.modified = Ticks(st.st_mtim);
            item.created = Ticks(st.st_ctim);
            if (!visitor.Item(item)) break;
        }
        closedir(d);
        return true;
    }

    bool Attributes(const WString& path, uint32_t& attributes, uint32_t& error) override {
        std::string p;
        if (!LinuxPath(path, p)) {
            error = WinError::BadNetPath;
            return false;
        }
        struct stat st;
        if (stat(p.c_str(), &st) != 0) {
            error = ErrorOf(errno);
            return false;
        }
        attributes = S_ISDIR(st.st_mode) ? FileAttr::Directory : FileAttr::Archive;
        return true;
    }

    bool Stat(const WString& path, FileStat& out, uint32_t& error) override {
        std::string p;
        if (!LinuxPath(path, p)) {
            error = WinError::BadNetPath;
            return false;
        }
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) {
            error = ErrorOf(errno);
            return false;
        }
        out.attributes = AttributesOf(AT_FDCWD, p.c_str(), st);
        out.size =
            (out.attributes & (FileAttr::Directory | FileAttr::ReparsePoint)) ? 0 : static_cast<uint64_t>(st.st_size);
        out.modified = Ticks(st.st_mtim);
        out.created = Ticks(st.st_ctim);
        return true;
    }

    // Linux names have no short forms: a path that exists is its own long name.
    bool LongName(const WString& path, WString& longPath) override {
        std::string p;
        struct stat st;
        if (!LinuxPath(path, p) || lstat(p.c_str(), &st) != 0) return false;
        longPath = path;
        return true;
    }

    std::unique_ptr<ChangeWatch> WatchFolder(const WString& folder, uint32_t& error) override {
        std::string p;
        if (!LinuxPath(folder, p)) {
            error = WinError::BadNetPath;
            return nullptr;
        }
        return OpenChangeWatch(p, error);
    }

    std::vector<WString> DriveRoots() override { return {}; }
    DriveType TypeOf(const WString&) override { return DriveType::NoRootDir; }
    bool VolumeInfo(const WString&, DriveInfo&) override { return false; }
};

}  // namespace

FileSystem& SystemFileSystem() {
    static PosixFileSystem fs;
    return fs;
}

}  // namespace ov
