// Folder watcher. One change read is kept outstanding on a folder volume's
// root, and the first one is issued before the volume is scanned: changes made
// while the scan runs are kept and applied after its merge (Wine, moreover,
// only reports changes in folders that were listed after the read was issued).
// Lost changes mean one more scan; losing them again during that scan or
// within a minute after it makes each further scan wait a minute first, so a
// folder that changes faster than it can be watched is rescanned on a timer,
// not in a loop. A root that vanishes without a word (Wine never completes the
// read; a moved root on Windows keeps reporting from its new place) is noticed
// by a check of the root every 30 s without changes.
//
// A batch is applied in steps, so that the exclusive index lock never covers
// disk access: the disk is asked about every path first (attributes, long
// names of short 8.3 ones), the changes are then applied in order under the
// lock, noting folders the index must read, and each such folder is walked
// without the lock and added under it. Folders are found again by path in the
// last step, as entry numbers may move in between (a compaction).
//
// Counts stay exact: every entry added counts in the volume's files or
// folders, every removal is counted by RemoveCounted.
#include <algorithm>
#include <atomic>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "engine/engine.h"
#include "engine/folder_paths.h"
#include "engine/folder_scan.h"
#include "engine/wide_text.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kSmallReadBytes = 65536;  // network roots, and after a refused read
constexpr uint32_t kLargeReadBytes = 262144;
constexpr uint32_t kOpenFailedWaitMs = 30000;
constexpr uint32_t kRootCheckMs = 30000;
constexpr uint32_t kOverflowWaitMs = 60000;
constexpr double kSettleMs = 60000;
constexpr uint32_t kScanPollMs = 50;
constexpr size_t kMaxHeldChanges = size_t{1} << 18;  // kept during a scan; past it they count as lost
constexpr size_t kAddSlice = 16384;                  // items of a walked tree added per hold of the index lock
constexpr uint64_t kCompactDeleted = 50000;

bool IsRemoval(uint32_t action) {
    return action == FileAction::Removed || action == FileAction::RenamedOld;
}

bool IsArrival(uint32_t action) {
    return action == FileAction::Added || action == FileAction::RenamedNew;
}

}  // namespace

struct Engine::HeldChanges {
    std::vector<std::vector<DirChange>> batches;
    size_t count = 0;
    bool lost = false;
};

uint32_t Engine::FolderWaitMs(uint32_t ms) const {
    return folderWaitCapMsForTesting > 0 ? std::min(ms, folderWaitCapMsForTesting) : ms;
}

// --- applying a batch ---

void Engine::CompactIfDue() {
    if (deletedCount > kCompactDeleted && deletedCount > entries.size() / 4) Compact();
}

double Engine::ReadAndAddTree(Volume* volume, const WString& path) {
    Index::Piece tree;
    std::vector<uint32_t> entryOf;
    try {
        if (!ReadTree(fs, *volume, path, tree)) return 0;
        entryOf.assign(tree.entries.size(), kNoEntry);
    } catch (const std::bad_alloc&) {
        return 0;  // the next rescan brings it in
    }
    // In slices, so that a large tree does not hold up searches for all of its adding.
    double held = 0;
    uint64_t seen = 0;
    for (size_t begin = 0; begin < tree.entries.size(); begin += kAddSlice) {
        std::unique_lock<SharedMutex> guard(lock);
        if (volume->stop.load()) break;
        const double t0 = NowMs();
        AddTree(*this, *volume, path, tree, begin, std::min(tree.entries.size(), begin + kAddSlice), entryOf,
                begin > 0 && epoch != seen);
        CompactIfDue();
        seen = epoch;
        held = std::max(held, NowMs() - t0);
        guard.unlock();
        PostIndexChanged();
    }
    return held;
}

double Engine::PruneFolder(Volume* volume, const WString& path) {
    class Names final : public FolderVisitor {
    public:
        bool Item(const FindData& fd) override {
            NameAndFolded(fd.name, fd.nameLength, name, folded, scratch);
            present.insert(folded);
            return true;
        }
        std::unordered_set<std::string> present;

    private:
        std::string name, folded;
        WString scratch;
    } names;
    if (!fs.ListFolder(OnDisk(*volume, path, true), names)) return 0;
    std::unique_lock<SharedMutex> guard(lock);
    if (volume->stop.load()) return 0;
    const double t0 = NowMs();
    const uint32_t folder = FindRel(*this, *volume, path);
    if (folder == kNoEntry) return 0;
    std::vector<uint32_t> gone;
    for (uint32_t j = 0; j < entries.size(); ++j)
        if (entries[j].parent == folder && !IsDeleted(entries[j]) && names.present.count(std::string(FoldedOf(j))) == 0)
            gone.push_back(j);
    for (uint32_t j : gone) {
        RemoveNamed(*this, *volume, j);
    }
    CompactIfDue();
    const double held = NowMs() - t0;
    guard.unlock();
    PostIndexChanged();
    return held;
}

double Engine::ApplyWatch(Volume* volume, std::vector<DirChange>& batch) {
    // The disk first, without the lock: long names, and what each path is now.
    struct Fact {
        bool present = false;
        FileStat stat;
    };
    std::vector<Fact> facts(batch.size());
    for (size_t i = 0; i < batch.size(); ++i) {
        DirChange& c = batch[i];
        const bool removal = IsRemoval(c.action);
        ExpandShortNames(fs, *volume, removal, c.path);
        uint32_t error = 0;
        if (!removal) facts[i].present = fs.Stat(OnDisk(*volume, c.path), facts[i].stat, error);
    }

    double held = 0;
    std::vector<WString> reads, prunes;
    {
        std::unique_lock<SharedMutex> guard(lock);
        // A stopped volume may already have left the slot table.
        if (volume->stop.load() || volume->kind != VolumeKind::Folders || volume->rootEntry == kNoEntry) return 0;
        const double t0 = NowMs();
        for (size_t i = 0; i < batch.size(); ++i) {
            const DirChange& c = batch[i];
            if (IsRemoval(c.action)) {
                const uint32_t e = FindRel(*this, *volume, c.path);
                if (e != kNoEntry && e != volume->rootEntry) {
                    RemoveNamed(*this, *volume, e);
                } else if (e == kNoEntry) {
                    // Reported by a short name that no longer exists: whatever of its
                    // folder is gone from disk goes.
                    const size_t leaf = LeafStart(c.path);
                    const WString folder = leaf == 0 ? WString() : c.path.substr(0, leaf - 1);
                    if (HasTilde(c.path.data() + leaf, c.path.data() + c.path.size()) &&
                        FindRel(*this, *volume, folder) != kNoEntry)
                        prunes.push_back(folder);
                }
            } else if (facts[i].present) {
                // A folder's own record may come after a walk of its parent found
                // it, and only from then on are its changes surely reported (Wine,
                // the native stand-in): what the walk saw in it may be stale, so it
                // is added anew and walked whole.
                if (IsArrival(c.action) && (facts[i].stat.attributes & FileAttr::Directory)) {
                    const uint32_t e = FindRel(*this, *volume, c.path);
                    if (e != kNoEntry && e != volume->rootEntry && IsDir(entries[e])) RemoveNamed(*this, *volume, e);
                }
                bool newFolder = false;
                TouchPath(*this, *volume, c.path, facts[i].stat, newFolder, reads);
                if (newFolder) reads.push_back(c.path);
            }
        }
        CompactIfDue();
        held = NowMs() - t0;
    }
    PostIndexChanged();

    // New folders are walked without the lock (a large tree copied in must not
    // hold up searches for the whole walk) and added under it.
    Outermost(reads);
    for (const WString& path : reads) {
        if (volume->stop.load()) break;
        held = std::max(held, ReadAndAddTree(volume, path));
    }
    std::sort(prunes.begin(), prunes.end());
    prunes.erase(std::unique(prunes.begin(), prunes.end()), prunes.end());
    for (const WString& path : prunes) {
        if (volume->stop.load()) break;
        held = std::max(held, PruneFolder(volume, path));
    }
    return held;
}

// --- the watch ---

namespace {

// Issues a read; a refused one is tried once more with the small length, which
// then stays for the rest of the watch.
bool Arm(ChangeWatch& watch, uint32_t& length) {
    if (watch.Read(length)) return true;
    if (length <= kSmallReadBytes) return false;
    length = kSmallReadBytes;
    return watch.Read(length);
}

}  // namespace

bool Engine::ScanWatched(Volume* volume, ChangeWatch& watch, uint32_t& length, HeldChanges& held) {
    std::atomic<bool> done{false};
    bool scanned = false;
    std::thread scanner;
    try {
        scanner = std::thread([this, volume, &done, &scanned] {
            try {
                scanned = FolderScan(volume);
            } catch (const std::exception&) {
                scanned = false;
            }
            done.store(true);
        });
    } catch (const std::exception&) {
        // No thread: the changes wait in the watch until the scan is done.
        return FolderScan(volume);
    }
    bool collecting = true;
    while (collecting && !done.load()) {
        switch (watch.WaitFor(*volume->stopEvent, kScanPollMs)) {
            case ChangeWatch::Wait::Stopped:
                // The scan sees a stop too; a wait that failed may have missed changes.
                held.lost = !volume->stop.load();
                collecting = false;
                break;
            case ChangeWatch::Wait::TimedOut:
                break;
            case ChangeWatch::Wait::Completed: {
                uint32_t bytes = 0, error = 0;
                if (!watch.Finish(bytes, error) || bytes == 0) {
                    held.lost = true;
                    collecting = false;
                    break;
                }
                try {
                    held.batches.emplace_back();
                    ParseChanges(watch.Data(), bytes, held.batches.back());
                    held.count += held.batches.back().size();
                } catch (const std::bad_alloc&) {
                    held.count = kMaxHeldChanges + 1;
                }
                if (held.count > kMaxHeldChanges || !Arm(watch, length)) {
                    held.lost = true;
                    held.batches.clear();
                    collecting = false;
                }
                break;
            }
        }
    }
    scanner.join();
    return scanned;
}

void Engine::Overflowed(Volume* volume) {
    volume->rescan = true;
    const bool soon = NowMs() - volume->scannedAtMs < kSettleMs;
    volume->overflowStreak = soon ? volume->overflowStreak + 1 : 1;
    const bool pause = volume->overflowStreak >= 2;
    Log(L"%ls: changes were lost; scanning again%ls", Arg(volume->name).c_str(), pause ? L" in a minute" : L"");
    SetStatus(volume, VolumePhase::Rescanning, Text(L"Lots of changes at once \u2014 scanning again"));
    if (pause) volume->stopEvent->WaitFor(FolderWaitMs(kOverflowWaitMs));
}

struct Engine::RootWatch {
    std::unique_ptr<ChangeWatch> watch;
    uint32_t length = kLargeReadBytes;
    uint32_t error = 0;  // of a failed open
    bool armed = false;  // a read is outstanding
};

Engine::RootWatch Engine::ArmWatch(Volume* volume, bool scan) {
    RootWatch root;
    try {
        root.watch = fs.WatchFolder(LongPath(volume->root), root.error);
    } catch (const std::bad_alloc&) {
        root.watch.reset();
    }
    const bool network = volume->root.size() >= 2 && volume->root[0] == u'\\' && volume->root[1] == u'\\';
    if (network) root.length = kSmallReadBytes;
    root.armed = root.watch && Arm(*root.watch, root.length);
    // Retries come without a scan; saying it once is enough.
    if (!root.armed && scan) {
        if (root.watch)
            Log(L"%ls: the file system doesn't report changes", Arg(volume->name).c_str());
        else
            Log(L"%ls: can't watch for changes (%lu)", Arg(volume->name).c_str(),
                static_cast<unsigned long>(root.error));
    }
    return root;
}

Engine::ScanEnd Engine::ScanHoldingChanges(Volume* volume, RootWatch& root, const std::function<void()>& scanEnded) {
    HeldChanges held;
    const bool scanned = root.armed ? ScanWatched(volume, *root.watch, root.length, held) : FolderScan(volume);
    scanEnded();
    if (!scanned) return ScanEnd::Failed;
    volume->scannedAtMs = NowMs();
    volume->scannedUnwatched = !root.armed;
    if (held.lost) {
        if (!volume->stop.load()) Overflowed(volume);
        return ScanEnd::Ended;
    }
    for (std::vector<DirChange>& batch : held.batches) {
        if (volume->stop.load()) return ScanEnd::Ended;
        ApplyWatch(volume, batch);
    }
    return ScanEnd::Scanned;
}

// Every way out but a stop or a vanished root may have missed changes: a read
// refused after working, or a wait or completion that failed, counts as lost
// changes and brings a rescan.
void Engine::FollowChanges(Volume* volume, RootWatch& root) {
    volume->live.store(true);
    PostVolumesChanged();
    bool lost = false;
    for (;;) {
        if (volume->stop.load()) break;
        if (!root.armed && !Arm(*root.watch, root.length)) {  // refused even at the small length
            lost = true;
            break;
        }
        root.armed = true;
        const ChangeWatch::Wait wait = root.watch->WaitFor(*volume->stopEvent, FolderWaitMs(kRootCheckMs));
        if (wait == ChangeWatch::Wait::Stopped) {
            lost = !volume->stop.load();  // a failed wait
            break;
        }
        if (wait == ChangeWatch::Wait::TimedOut) {
            uint32_t attributes = 0, error = 0;
            if (!fs.Attributes(LongPath(volume->root), attributes, error) || !(attributes & FileAttr::Directory)) {
                volume->rescan = true;  // the scan tells why it cannot be reached
                break;
            }
            continue;
        }
        uint32_t bytes = 0, error = 0;
        root.armed = false;
        if (!root.watch->Finish(bytes, error) || bytes == 0) {
            lost = true;
            break;
        }
        std::vector<DirChange> batch;
        try {
            ParseChanges(root.watch->Data(), bytes, batch);
        } catch (const std::bad_alloc&) {
            lost = true;
            break;
        }
        // The next read is outstanding while this batch is applied.
        root.armed = Arm(*root.watch, root.length);
        ApplyWatch(volume, batch);
        if (!root.armed) {
            lost = true;
            break;
        }
    }
    root.watch.reset();  // cancels the outstanding read and waits for it to let go of the buffer
    volume->live.store(false);
    PostVolumesChanged();
    if (lost && !volume->stop.load()) Overflowed(volume);
}

bool Engine::Watch(Volume* volume, bool scan, const std::function<void()>& scanEnded) {
    RootWatch root = ArmWatch(volume, scan);
    // Changes since a scan that ran unwatched are known to no one: once a
    // watch stands again, the volume is scanned under it.
    if (root.armed && volume->scannedUnwatched) scan = true;
    if (scan) {
        const ScanEnd end = ScanHoldingChanges(volume, root, scanEnded);
        if (end == ScanEnd::Failed) return false;
        if (end == ScanEnd::Ended) return true;
    }
    if (!root.armed) {
        if (!root.watch && !volume->stop.load()) {
            // Gone, or not a folder we may open: look again in 30 s, with a scan.
            volume->stopEvent->WaitFor(FolderWaitMs(kOpenFailedWaitMs));
            if (!volume->stop.load()) volume->rescan = true;
        }
        return true;
    }
    FollowChanges(volume, root);
    return true;
}

}  // namespace ov
