// A folder volume's part of the index as comparable text, and the oracle of
// the folder watcher: a fresh scan of the same folder by an engine of its own.
#pragma once

#include <chrono>
#include <map>
#include <shared_mutex>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "tests/engine/fake_drives.h"
#include "tests/support/index_reference.h"

namespace ov::testing {

// Path below the root ('/'-separated, "" the root) -> kind, attributes, size
// (folders: of everything below) and, when asked, times. The first line holds
// the volume's file and folder counts.
using View = std::map<std::string, std::string>;

// Which times a view holds. Under Wine a folder's new write time is not
// reported when its entries change, so there only files' times compare.
enum class Times { None, Files, All };

inline View VolumeView(Engine& engine, int slot, Times times) {
    std::shared_lock<SharedMutex> guard(engine.lock);
    View view;
    Volume* v = engine.VolumeAt(slot);
    if (v == nullptr) return view;
    view[" counts"] = std::to_string(v->files) + " files, " + std::to_string(v->folders) + " folders";
    const std::string totals = CheckTotals(engine);
    if (!totals.empty()) view[" totals"] = totals;
    for (uint32_t i = 0; i < engine.entries.size(); ++i) {
        const Entry& e = engine.entries[i];
        if (IsDeleted(e) || SlotOf(e.flags) != slot) continue;
        std::string path = e.parent == kNoEntry ? "" : std::string(engine.NameOf(i));
        for (uint32_t p = e.parent; p != kNoEntry && engine.entries[p].parent != kNoEntry; p = engine.entries[p].parent)
            path = std::string(engine.NameOf(p)) + "/" + path;
        std::string what = (IsDir(e) ? "d " : "f ") + std::to_string(e.flags & EntryFlags::AttributeMask) + " " +
                           std::to_string(e.size);
        // The root's own times are not read by a scan; a folder's differ only where the platform's do.
        const bool timed = times == Times::All || (times == Times::Files && !IsDir(e));
        if (timed && e.parent != kNoEntry) what += " " + std::to_string(e.modified) + " " + std::to_string(e.created);
        if (view.count(path)) what += " (twice)";
        view[path] += what;
    }
    return view;
}

// Up to `limit` differences, one per line; empty when the views are equal.
inline std::string Diff(const View& want, const View& got, int limit = 8) {
    std::string out;
    int n = 0;
    for (const auto& [path, what] : want) {
        auto it = got.find(path);
        if (it == got.end() || it->second != what) {
            if (n++ < limit)
                out += "'" + path + "': want " + what + ", got " + (it == got.end() ? "nothing" : it->second) + "\n";
        }
    }
    for (const auto& [path, what] : got) {
        if (!want.count(path) && n++ < limit) out += "'" + path + "': want nothing, got " + what + "\n";
    }
    return out;
}

// The file system without drives and without change reads: the oracle's
// engine scans the one folder it is given and nothing else.
class Unwatched final : public FileSystem {
public:
    explicit Unwatched(FileSystem& fs) : fs(fs) {}
    bool ListFolder(const WString& f, FolderVisitor& v) override { return fs.ListFolder(f, v); }
    bool Attributes(const WString& p, uint32_t& a, uint32_t& e) override { return fs.Attributes(p, a, e); }
    bool Stat(const WString& p, FileStat& s, uint32_t& e) override { return fs.Stat(p, s, e); }
    bool LongName(const WString& p, WString& l) override { return fs.LongName(p, l); }
    std::unique_ptr<ChangeWatch> WatchFolder(const WString&, uint32_t& error) override {
        error = WinError::InvalidFunction;
        return nullptr;
    }
    std::vector<WString> DriveRoots() override { return {}; }
    DriveType TypeOf(const WString& r) override { return fs.TypeOf(r); }
    bool VolumeInfo(const WString& r, DriveInfo& i) override { return fs.VolumeInfo(r, i); }

private:
    FileSystem& fs;
};

// The view a fresh scan of the added folder root gives.
inline View FreshScan(FileSystem& fs, const WString& root, Times times) {
    Unwatched unwatched(fs);
    Engine fresh(unwatched);
    fresh.elevated = false;
    fresh.SetAddedFolders({root});
    fresh.RefreshVolumes();
    WaitIdle(fresh);
    View view = VolumeView(fresh, 0, times);
    fresh.Stop(false);
    return view;
}

// Waits until the watched volume in slot equals a fresh scan of root; the
// differences left after `seconds`, empty when it settled. The default is ten
// seconds on an idle machine stretched six times for the sanitizers on a busy
// one; only a failing wait pays for it.
inline std::string SettlesToFreshScan(Engine& engine, int slot, FileSystem& fs, const WString& root, Times times,
                                      int seconds = 60) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string diff;
    for (;;) {
        const View want = FreshScan(fs, root, times);
        diff = Diff(want, VolumeView(engine, slot, times));
        if (diff.empty() || std::chrono::steady_clock::now() > until) return diff;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace ov::testing
