// Native stand-in for ReadDirectoryChangesW over inotify. inotify watches one
// folder at a time, so every folder of the tree gets a watch when the first
// read is issued, and folders created or moved in get theirs when their event
// is read (what is made inside one before that is found by the watcher's walk
// of the new folder, as under Wine). Events become the records Windows
// writes: paths relative to the root with '\', a Modified record for the
// folder whose entries changed, and lost changes (an inotify queue overflow, or
// more records than the first read's length holds) as a read of 0 bytes. A
// root that is deleted or moved away fails the read.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/change_watch.h"
#include "engine/file_system.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB |
                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;
constexpr int kStopPollMs = 20;  // only when the stop event has no descriptor

class InotifyWatch final : public ChangeWatch {
public:
    InotifyWatch(int fd, std::string root) : fd(fd), root(std::move(root)), buffer(kBufferBytes) {}
    ~InotifyWatch() override { close(fd); }

    bool Read(uint32_t length) override {
        if (!started) {
            started = true;
            capacity = std::min(length, kBufferBytes);  // fixed by the first read, as on Windows
            if (!WatchTree(std::string()) || rootWd < 0) broken = true;
        }
        if (broken || gone) return false;
        outstanding = true;
        return true;
    }

    Wait WaitFor(StopEvent& stop, uint32_t ms) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (outstanding && (!pending.empty() || lost || gone)) return Wait::Completed;
            int timeout = -1;
            if (ms != StopEvent::kForever) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
                timeout = static_cast<int>(std::max<int64_t>(0, left.count()));
            }
            pollfd fds[2] = {{fd, POLLIN, 0}, {stop.PollFd(), POLLIN, 0}};
            const bool stopFd = fds[1].fd >= 0;
            if (!stopFd && (timeout < 0 || timeout > kStopPollMs)) timeout = kStopPollMs;
            const int n = poll(fds, stopFd ? 2 : 1, timeout);
            if (n < 0 && errno != EINTR) return Wait::Stopped;
            if ((stopFd && fds[1].revents != 0) || (!stopFd && stop.WaitFor(0) == StopEvent::Wait::Signalled))
                return Wait::Stopped;
            if (n > 0 && fds[0].revents != 0) Drain();
            if (n == 0 && ms != StopEvent::kForever && std::chrono::steady_clock::now() >= until) {
                if (outstanding && (!pending.empty() || lost || gone)) return Wait::Completed;
                return Wait::TimedOut;
            }
        }
    }

    bool Finish(uint32_t& bytes, uint32_t& error) override {
        outstanding = false;
        bytes = 0;
        error = 0;
        if (gone) {
            error = WinError::AccessDenied;
            return false;
        }
        if (lost) {
            lost = false;
            pending.clear();
            return true;
        }
        if (pending.empty()) return true;
        const uint32_t zero = 0;
        std::memcpy(pending.data() + lastRecord, &zero, sizeof zero);  // the last record ends the list
        std::memcpy(buffer.data(), pending.data(), pending.size());
        bytes = static_cast<uint32_t>(pending.size());
        pending.clear();
        return true;
    }

    const uint8_t* Data() const override { return buffer.data(); }

    void Cancel() override { outstanding = false; }

private:
    std::string Full(const std::string& rel) const { return rel.empty() ? root : root + "/" + rel; }

    // Watches rel and every folder below it; links are not followed. False
    // when the watches ran out, so that changes below would go unseen.
    bool WatchTree(const std::string& top) {
        bool complete = true;
        std::vector<std::string> stack{top};
        while (!stack.empty()) {
            const std::string rel = std::move(stack.back());
            stack.pop_back();
            const int wd = inotify_add_watch(fd, Full(rel).c_str(), kMask);
            if (wd < 0) {
                if (errno == ENOSPC || errno == ENOMEM) complete = false;
                continue;  // otherwise gone meanwhile
            }
            if (rel.empty()) rootWd = wd;
            dirs[wd] = rel;
            DIR* d = opendir(Full(rel).c_str());
            if (d == nullptr) continue;
            while (const dirent* e = readdir(d)) {
                const char* name = e->d_name;
                if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
                bool folder = e->d_type == DT_DIR;
                if (e->d_type == DT_UNKNOWN) {
                    struct stat st;
                    folder = fstatat(dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
                }
                if (folder) stack.push_back(rel.empty() ? std::string(name) : rel + "/" + name);
            }
            closedir(d);
        }
        return complete;
    }

    // Drops the watches of rel and everything below it (a folder moved away).
    void Unwatch(const std::string& rel) {
        const std::string below = rel + "/";
        for (auto it = dirs.begin(); it != dirs.end();) {
            if (it->second == rel || it->second.compare(0, below.size(), below) == 0) {
                inotify_rm_watch(fd, it->first);
                it = dirs.erase(it);
            } else {
                ++it;
            }
        }
    }

    void Append(uint32_t action, const std::string& rel) {
        if (lost) return;
        WString path = ToWide(rel);
        std::replace(path.begin(), path.end(), u'/', u'\\');
        const uint32_t nameBytes = static_cast<uint32_t>(path.size() * 2);
        const uint32_t size = (12 + nameBytes + 3) & ~3u;
        if (pending.size() + size > capacity) {
            lost = true;
            pending.clear();
            return;
        }
        lastRecord = pending.size();
        pending.resize(pending.size() + size, 0);
        uint8_t* r = pending.data() + lastRecord;
        std::memcpy(r, &size, 4);
        std::memcpy(r + 4, &action, 4);
        std::memcpy(r + 8, &nameBytes, 4);
        std::memcpy(r + 12, path.data(), nameBytes);
    }

    void Drain() {
        alignas(inotify_event) char events[65536];
        for (;;) {
            const ssize_t n = read(fd, events, sizeof events);
            if (n <= 0) return;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(events + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                Convert(*ev);
            }
        }
    }

    void Convert(const inotify_event& ev) {
        if (ev.mask & IN_Q_OVERFLOW) {
            lost = true;
            pending.clear();
            return;
        }
        const auto it = dirs.find(ev.wd);
        if (it == dirs.end()) return;
        const std::string folder = it->second;
        if (ev.mask & IN_IGNORED) {
            dirs.erase(it);
            if (ev.wd == rootWd) gone = true;
            return;
        }
        const size_t nameLength = ev.len ? strnlen(ev.name, ev.len) : 0;
        if (nameLength == 0) {  // about the watched folder itself
            if (ev.wd == rootWd && (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF))) gone = true;
            return;
        }
        const std::string name(ev.name, nameLength);
        const std::string rel = folder.empty() ? name : folder + "/" + name;
        const bool dir = (ev.mask & IN_ISDIR) != 0;
        const bool named = (ev.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0;
        if (ev.mask & IN_CREATE) Append(FileAction::Added, rel);
        if (ev.mask & IN_DELETE) Append(FileAction::Removed, rel);
        if (ev.mask & IN_MOVED_FROM) Append(FileAction::RenamedOld, rel);
        if (ev.mask & IN_MOVED_TO) Append(FileAction::RenamedNew, rel);
        if (ev.mask & (IN_MODIFY | IN_ATTRIB)) Append(FileAction::Modified, rel);
        if (dir && (ev.mask & IN_MOVED_FROM)) Unwatch(rel);
        if (dir && (ev.mask & (IN_CREATE | IN_MOVED_TO)) && !WatchTree(rel)) {
            lost = true;
            pending.clear();
        }
        // Windows reports the new write time of the folder whose entries changed.
        if (named && !folder.empty()) Append(FileAction::Modified, folder);
    }

    int fd;
    std::string root;
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> pending;  // records not yet handed out
    size_t lastRecord = 0;
    uint32_t capacity = kBufferBytes;
    std::unordered_map<int, std::string> dirs;  // watch -> folder below the root ("" the root)
    int rootWd = -1;
    bool started = false;
    bool outstanding = false;
    bool lost = false;
    bool gone = false;    // the root was deleted or moved away
    bool broken = false;  // the tree could not be watched
};

}  // namespace

std::unique_ptr<ChangeWatch> OpenChangeWatch(const std::string& folder, uint32_t& error) {
    std::string root = folder;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    struct stat st;
    if (stat(root.c_str(), &st) != 0) {
        error = errno == EACCES   ? WinError::AccessDenied
                : errno == ENOENT ? WinError::FileNotFound
                                  : WinError::PathNotFound;
        return nullptr;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = WinError::Directory;
        return nullptr;
    }
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        // EMFILE: the user's inotify instances (128 by default) are all taken.
        error = errno == EMFILE ? WinError::TooManyOpenFiles : WinError::NotEnoughMemory;
        return nullptr;
    }
    try {
        return std::make_unique<InotifyWatch>(fd, std::move(root));
    } catch (const std::bad_alloc&) {
        close(fd);
        error = WinError::NotEnoughMemory;
        return nullptr;
    }
}

}  // namespace ov
