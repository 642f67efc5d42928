// A file system for the folder watcher's tests: the platform's folders, with
// change reads the test writes itself (or the platform's own), short names it
// defines, and a folder whose listing waits for the test (a scan that is still
// running).
#pragma once

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/change_watch.h"
#include "engine/file_system.h"
#include "engine/wide_text.h"

namespace ov::testing {

// FILE_NOTIFY_INFORMATION records as Windows writes them.
inline std::vector<uint8_t> Records(const std::vector<DirChange>& changes) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < changes.size(); ++i) {
        const uint32_t nameBytes = static_cast<uint32_t>(changes[i].path.size() * 2);
        const uint32_t size = (12 + nameBytes + 3) & ~3u;
        const uint32_t next = i + 1 < changes.size() ? size : 0;
        const size_t at = bytes.size();
        bytes.resize(at + size);
        std::memcpy(&bytes[at], &next, 4);
        std::memcpy(&bytes[at + 4], &changes[i].action, 4);
        std::memcpy(&bytes[at + 8], &nameBytes, 4);
        std::memcpy(&bytes[at + 12], changes[i].path.data(), nameBytes);
    }
    return bytes;
}

inline DirChange Change(uint32_t action, const wchar_t* path) {
    return DirChange{action, Text(path)};
}

class ScriptedDisk final : public FileSystem {
public:
    class Watch final : public ChangeWatch {
    public:
        explicit Watch(ScriptedDisk& disk) : disk(disk) {}
        bool Read(uint32_t) override {
            std::lock_guard<std::mutex> guard(disk.mutex);
            ++disk.reads;
            const bool refused = disk.refuseReads || disk.refuseNextReads > 0;
            if (disk.refuseNextReads > 0) --disk.refuseNextReads;
            return outstanding = !refused;
        }
        Wait WaitFor(StopEvent& stop, uint32_t ms) override {
            for (uint32_t waited = 0; ms == StopEvent::kForever || waited < ms; waited += 5) {
                if (stop.WaitFor(0) == StopEvent::Wait::Signalled) return Wait::Stopped;
                std::unique_lock<std::mutex> guard(disk.mutex);
                if (disk.failNextWaits > 0) {
                    --disk.failNextWaits;
                    return Wait::Stopped;  // as a wait that failed
                }
                if (disk.changed.wait_for(guard, std::chrono::milliseconds(5),
                                          [this] { return outstanding && !disk.script.empty(); }))
                    return Wait::Completed;
            }
            return Wait::TimedOut;
        }
        bool Finish(uint32_t& bytes, uint32_t& error) override {
            std::lock_guard<std::mutex> guard(disk.mutex);
            data = std::move(disk.script.front());
            disk.script.pop_front();
            ++disk.taken;
            disk.changed.notify_all();
            outstanding = false;
            bytes = static_cast<uint32_t>(data.size());
            error = 0;
            return true;
        }
        const uint8_t* Data() const override { return data.data(); }
        void Cancel() override { outstanding = false; }

    private:
        ScriptedDisk& disk;
        std::vector<uint8_t> data;
        bool outstanding = false;
    };

    // The next read returns these records; no records means lost changes.
    void Deliver(const std::vector<DirChange>& changes) {
        std::lock_guard<std::mutex> guard(mutex);
        script.push_back(Records(changes));
        ++delivered;
        changed.notify_all();
    }
    // Waits until the watcher applied everything delivered: a last read of
    // nothing usable is taken only after the batch before it was applied.
    void Sync() {
        Deliver({Change(3, L"..")});
        std::unique_lock<std::mutex> guard(mutex);
        changed.wait(guard, [this] { return taken == delivered; });
    }
    // Lets `tickets` more listings of the gated folder through; waits until
    // `held` listings reached it.
    void Admit(int tickets) {
        std::lock_guard<std::mutex> guard(mutex);
        admitted += tickets;
        changed.notify_all();
    }
    void WaitHeld(int held) {
        std::unique_lock<std::mutex> guard(mutex);
        changed.wait(guard, [&] { return gatedListings >= held; });
    }
    int Count(const int& counter) {
        std::lock_guard<std::mutex> guard(mutex);
        return counter;
    }
    void Script(int& counter, int value) {
        std::lock_guard<std::mutex> guard(mutex);
        counter = value;
    }

    bool ListFolder(const WString& folder, FolderVisitor& visitor) override {
        if (!gate.empty() && folder.size() >= gate.size() &&
            folder.compare(folder.size() - gate.size(), gate.size(), gate) == 0) {
            std::unique_lock<std::mutex> guard(mutex);
            ++gatedListings;
            changed.notify_all();
            changed.wait(guard, [this] { return admitted >= gatedListings; });
        }
        return SystemFileSystem().ListFolder(Real(folder), visitor);
    }
    bool Attributes(const WString& p, uint32_t& a, uint32_t& e) override {
        return SystemFileSystem().Attributes(Real(p), a, e);
    }
    bool Stat(const WString& p, FileStat& s, uint32_t& e) override { return SystemFileSystem().Stat(Real(p), s, e); }
    bool LongName(const WString& p, WString& l) override { return SystemFileSystem().LongName(Real(p), l); }
    std::unique_ptr<ChangeWatch> WatchFolder(const WString& f, uint32_t& e) override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            ++opens;
        }
        if (!scriptReads) return SystemFileSystem().WatchFolder(Real(f), e);
        if (failOpen) {
            e = WinError::AccessDenied;
            return nullptr;
        }
        return std::make_unique<Watch>(*this);
    }
    std::vector<WString> DriveRoots() override { return {}; }
    DriveType TypeOf(const WString&) override { return DriveType::NoRootDir; }
    bool VolumeInfo(const WString&, DriveInfo&) override { return false; }

    // Set before the engine starts.
    bool scriptReads = true;
    std::vector<std::pair<WString, WString>> shortNames;  // short component -> long one, as Windows resolves them
    WString gate;
    bool refuseReads = false;
    bool failOpen = false;
    // Guarded by mutex: counts, and the next reads refused and waits failed.
    int opens = 0, reads = 0;
    int refuseNextReads = 0, failNextWaits = 0;

private:
    WString Real(WString path) const {
        for (const auto& [shortName, longName] : shortNames) {
            const WString from = WChar(u'\\') + shortName, to = WChar(u'\\') + longName;
            for (size_t at = path.find(from); at != WString::npos; at = path.find(from, at + to.size())) {
                const size_t end = at + from.size();
                if (end == path.size() || path[end] == u'\\') path.replace(at, from.size(), to);
            }
        }
        return path;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<uint8_t>> script;
    int delivered = 0, taken = 0;
    int admitted = 0, gatedListings = 0;
};

}  // namespace ov::testing
