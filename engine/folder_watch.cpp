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
constexpr int kMaxTreeDepth = 200;
constexpr size_t kAddSlice = 16384;  // items of a walked tree added per hold of the index lock
constexpr uint64_t kCompactDeleted = 50000;

bool IsRemoval(uint32_t action) {
    return action == FileAction::Removed || action == FileAction::RenamedOld;
}

bool HasTilde(const WChar* begin, const WChar* end) {
    return std::find(begin, end, u'~') != end;
}

// The live entry named folded in folder parent, or kNoEntry. Pairs of removed
// entries and hash collisions share keys, so every candidate is checked.
uint32_t Lookup(const Index& index, const Volume& volume, uint32_t parent, std::string_view folded) {
    return volume.nameMap.Find(NameMapKey(parent, folded), [&](uint32_t e) {
        return e < index.entries.size() && !IsDeleted(index.entries[e]) && index.entries[e].parent == parent &&
               index.FoldedOf(e) == folded;
    });
}

void Forget(const Index& index, Volume& volume, uint32_t e) {
    volume.nameMap.Erase(NameMapKey(index.entries[e].parent, index.FoldedOf(e)), e);
}

void Remember(const Index& index, Volume& volume, uint32_t e) {
    volume.nameMap.Insert(NameMapKey(index.entries[e].parent, index.FoldedOf(e)), e);
}

std::string_view TreeFolded(const Index::Piece& tree, const Entry& t) {
    return std::string_view(tree.folded).substr(t.foldedOffset, t.foldedLength);
}

// Where the last component of a relative path starts.
size_t LeafStart(const WString& path) {
    const size_t slash = path.rfind(u'\\');
    return slash == WString::npos ? 0 : slash + 1;
}

// The path below the volume's root in long-path form; folders end in '\'.
WString OnDisk(const Volume& volume, const WString& path, bool folder = false) {
    WString full = volume.root + path;
    if (folder && !path.empty()) full.push_back(u'\\');
    return LongPath(full);
}

// Replaces short (8.3) components of path by their long names, so that no
// "PROGRA~1" twin is added. A removed item is gone, so only its folders can
// be looked up then; the longest prefix that resolves is taken.
void ExpandShortNames(FileSystem& fs, const Volume& volume, bool removal, WString& path) {
    const size_t leaf = LeafStart(path);
    size_t end = removal ? (leaf == 0 ? 0 : leaf - 1) : path.size();
    while (end > 0 && HasTilde(path.data(), path.data() + end)) {
        WString full;
        if (fs.LongName(OnDisk(volume, path.substr(0, end)), full)) {
            // The long path has as many components as the short one.
            const size_t parts = std::count(path.begin(), path.begin() + end, u'\\') + 1;
            size_t from = full.size();
            for (size_t k = 0; k < parts && from != WString::npos && from > 0; ++k) from = full.rfind(u'\\', from - 1);
            if (from != WString::npos) path = full.substr(from + 1) + path.substr(end);
            return;
        }
        const size_t slash = path.rfind(u'\\', end - 1);
        end = slash == WString::npos ? 0 : slash;
    }
}

// Each folder once; a folder below another one in the list is read with it.
void Outermost(std::vector<WString>& folders) {
    std::sort(folders.begin(), folders.end());
    std::vector<WString> kept;
    for (WString& f : folders) {
        const bool below = std::any_of(kept.begin(), kept.end(), [&f](const WString& k) {
            return f == k || (f.size() > k.size() && f.compare(0, k.size(), k) == 0 && f[k.size()] == u'\\');
        });
        if (!below) kept.push_back(std::move(f));
    }
    folders.swap(kept);
}

// Collects one folder's listing into a piece, queueing its subfolders.
class TreeReader final : public FolderVisitor {
public:
    TreeReader(Index::Piece& tree, const std::atomic<bool>& stop) : tree(tree), stop(stop) {}

    struct Folder {
        uint32_t item;
        WString path;  // ends in '\'
        int depth;
    };

    void List(FileSystem& fs, const Folder& f, std::vector<Folder>& queue) {
        folder = &f;
        found = &queue;
        fs.ListFolder(LongPath(f.path), *this);  // an unlistable folder adds nothing
    }

    bool Item(const FindData& fd) override {
        if (stop.load(std::memory_order_relaxed)) return false;
        NameAndFolded(fd.name, fd.nameLength, name, folded, scratch);
        const bool dir = (fd.attributes & FileAttr::Directory) != 0;
        const uint32_t flags = (fd.attributes & EntryFlags::AttributeMask) | (dir ? EntryFlags::Directory : 0);
        const uint32_t item = tree.Add(folder->item, name, folded, flags, dir ? 0 : fd.size, fd.modified, fd.created);
        // Junctions and links to folders are listed, never entered.
        if (item != kNoEntry && dir && !(fd.attributes & FileAttr::ReparsePoint) && folder->depth < kMaxTreeDepth) {
            WString path = folder->path;
            path.append(fd.name, fd.nameLength).push_back(u'\\');
            found->push_back(Folder{item, std::move(path), folder->depth + 1});
        }
        return true;
    }

private:
    Index::Piece& tree;
    const std::atomic<bool>& stop;
    const Folder* folder = nullptr;
    std::vector<Folder>* found = nullptr;
    std::string name;
    std::string folded;
    WString scratch;
};

}  // namespace

struct Engine::HeldChanges {
    std::vector<std::vector<DirChange>> batches;
    size_t count = 0;
    bool lost = false;
};

uint32_t Engine::FolderWaitMs(uint32_t ms) const {
    return folderWaitCapMsForTesting > 0 ? std::min(ms, folderWaitCapMsForTesting) : ms;
}

// --- path updates (index lock held) ---

uint32_t Engine::FindRel(const Volume* volume, const WString& path) const {
    uint32_t current = volume->rootEntry;
    std::string name, folded;
    WString scratch;
    size_t position = 0;
    while (current != kNoEntry) {
        if (position >= path.size()) return current;
        size_t end = path.find(u'\\', position);
        if (end == WString::npos) end = path.size();
        if (end == position) return kNoEntry;  // two '\' in a row
        NameAndFolded(path.data() + position, end - position, name, folded, scratch);
        current = Lookup(*this, *volume, current, folded);
        position = end + 1;
    }
    return kNoEntry;
}

uint32_t Engine::Settle(Volume* volume, uint32_t parent, const std::string& name, const std::string& folded,
                        const FileStat& stat, bool& added) {
    added = false;
    const bool dir = (stat.attributes & FileAttr::Directory) != 0;
    uint32_t e = Lookup(*this, *volume, parent, folded);
    if (e != kNoEntry && IsDir(entries[e]) != dir) {  // a file became a folder or the other way round
        Forget(*this, *volume, e);
        RemoveCounted(*volume, e);
        e = kNoEntry;
    }
    if (e != kNoEntry) {
        if (NameOf(e) != name) {  // the case changed
            Forget(*this, *volume, e);
            Rename(e, parent, name, folded);  // when refused, the entry keeps its name and so its key
            Remember(*this, *volume, e);
        }
        SetMeta(e, stat.size, stat.modified, stat.created, static_cast<uint16_t>(stat.attributes));
        return e;
    }
    const uint32_t flags =
        (stat.attributes & EntryFlags::AttributeMask) | (dir ? EntryFlags::Directory : 0) | SlotBits(volume->slot);
    e = Add(parent, name.data(), name.size(), folded, flags, dir ? 0 : stat.size, stat.modified, stat.created);
    if (e == kNoEntry) return kNoEntry;
    Remember(*this, *volume, e);
    (dir ? volume->folders : volume->files) += 1;
    added = true;
    return e;
}

uint32_t Engine::TouchPath(Volume* volume, const WString& path, const FileStat& stat, bool& newFolder,
                           std::vector<WString>& reads) {
    newFolder = false;
    uint32_t parent = volume->rootEntry;
    std::string name, folded;
    WString scratch;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        const bool leaf = end == WString::npos;
        if (leaf) end = path.size();
        if (end == start || parent == kNoEntry) return kNoEntry;
        NameAndFolded(path.data() + start, end - start, name, folded, scratch);
        if (leaf) break;
        const uint32_t next = Lookup(*this, *volume, parent, folded);
        if (next == kNoEntry || !IsDir(entries[next])) {
            // Its own change was lost or comes later: read it whole, with the item below it.
            reads.push_back(path.substr(0, end));
            return kNoEntry;
        }
        parent = next;
        start = end + 1;
    }
    bool added = false;
    const uint32_t e = Settle(volume, parent, name, folded, stat, added);
    newFolder = added && IsDir(entries[e]);
    return e;
}

void Engine::AddTree(Volume* volume, const WString& path, const Index::Piece& tree, size_t begin, size_t end,
                     std::vector<uint32_t>& entryOf, bool relocate) {
    if (tree.entries.empty() || path.empty()) return;
    const size_t leaf = LeafStart(path);
    const uint32_t parent = FindRel(volume, leaf == 0 ? WString() : path.substr(0, leaf - 1));
    if (parent == kNoEntry || !IsDir(entries[parent])) {  // went away meanwhile; its own change follows
        std::fill(entryOf.begin(), entryOf.end(), kNoEntry);
        return;
    }
    std::string name, folded;
    auto into = [&](size_t i) { return i == 0 ? parent : entryOf[tree.entries[i].parent]; };
    // Entry numbers moved since the items before begin were added: find them again.
    for (size_t i = 0; relocate && i < begin; ++i) {
        const uint32_t folder = into(i);
        const Entry& t = tree.entries[i];
        entryOf[i] = folder == kNoEntry ? kNoEntry : Lookup(*this, *volume, folder, TreeFolded(tree, t));
    }
    for (size_t i = begin; i < end; ++i) {
        const Entry& t = tree.entries[i];
        const uint32_t folder = into(i);
        if (folder == kNoEntry || !IsDir(entries[folder])) continue;  // its folder was refused
        name.assign(tree.names, t.nameOffset, t.nameLength);
        folded.assign(TreeFolded(tree, t));
        const FileStat stat{t.flags & EntryFlags::AttributeMask, t.size, t.modified, t.created};
        bool added = false;
        entryOf[i] = Settle(volume, folder, name, folded, stat, added);
    }
}

bool Engine::ReadTree(const Volume* volume, const WString& path, Index::Piece& tree) {
    tree = Index::Piece();
    FileStat stat;
    uint32_t error = 0;
    if (path.empty() || !fs.Stat(OnDisk(*volume, path), stat, error)) return false;
    std::string name, folded;
    WString scratch;
    const size_t leaf = LeafStart(path);
    NameAndFolded(path.data() + leaf, path.size() - leaf, name, folded, scratch);
    const bool dir = (stat.attributes & FileAttr::Directory) != 0;
    const uint32_t flags = (stat.attributes & EntryFlags::AttributeMask) | (dir ? EntryFlags::Directory : 0);
    if (tree.Add(kNoEntry, name, folded, flags, dir ? 0 : stat.size, stat.modified, stat.created) == kNoEntry)
        return false;
    if (!dir || (stat.attributes & FileAttr::ReparsePoint)) return true;
    TreeReader reader(tree, volume->stop);
    std::vector<TreeReader::Folder> queue{{0, volume->root + path + WChar(u'\\'), 0}};
    // Last in, first out: the queue stays as short as the tree is deep times its width.
    while (!queue.empty() && !volume->stop.load()) {
        const TreeReader::Folder f = std::move(queue.back());
        queue.pop_back();
        reader.List(fs, f, queue);
    }
    return !volume->stop.load();
}

// --- applying a batch ---

void Engine::CompactIfDue() {
    if (deletedCount > kCompactDeleted && deletedCount > entries.size() / 4) Compact();
}

double Engine::ReadAndAddTree(Volume* volume, const WString& path) {
    Index::Piece tree;
    std::vector<uint32_t> entryOf;
    try {
        if (!ReadTree(volume, path, tree)) return 0;
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
        AddTree(volume, path, tree, begin, std::min(tree.entries.size(), begin + kAddSlice), entryOf,
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
    const uint32_t folder = FindRel(volume, path);
    if (folder == kNoEntry) return 0;
    std::vector<uint32_t> gone;
    for (uint32_t j = 0; j < entries.size(); ++j)
        if (entries[j].parent == folder && !IsDeleted(entries[j]) && names.present.count(std::string(FoldedOf(j))) == 0)
            gone.push_back(j);
    for (uint32_t j : gone) {
        Forget(*this, *volume, j);
        RemoveCounted(*volume, j);
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
                const uint32_t e = FindRel(volume, c.path);
                if (e != kNoEntry && e != volume->rootEntry) {
                    Forget(*this, *volume, e);
                    RemoveCounted(*volume, e);
                } else if (e == kNoEntry) {
                    // Reported by a short name that no longer exists: whatever of its
                    // folder is gone from disk goes.
                    const size_t leaf = LeafStart(c.path);
                    const WString folder = leaf == 0 ? WString() : c.path.substr(0, leaf - 1);
                    if (HasTilde(c.path.data() + leaf, c.path.data() + c.path.size()) &&
                        FindRel(volume, folder) != kNoEntry)
                        prunes.push_back(folder);
                }
            } else if (facts[i].present) {
                bool newFolder = false;
                TouchPath(volume, c.path, facts[i].stat, newFolder, reads);
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
                collecting = false;  // the scan sees the stop too
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
    SetStatus(volume, Text(L"Lots of changes at once \u2014 scanning again"));
    if (pause) volume->stopEvent->WaitFor(FolderWaitMs(kOverflowWaitMs));
}

bool Engine::Watch(Volume* volume, bool scan, const std::function<void()>& scanEnded) {
    uint32_t error = 0;
    std::unique_ptr<ChangeWatch> watch;
    try {
        watch = fs.WatchFolder(LongPath(volume->root), error);
    } catch (const std::bad_alloc&) {
        watch.reset();
    }
    const bool opened = watch != nullptr;
    const bool network = volume->root.size() >= 2 && volume->root[0] == u'\\' && volume->root[1] == u'\\';
    uint32_t length = network ? kSmallReadBytes : kLargeReadBytes;
    bool armed = opened && Arm(*watch, length);
    // Retries come without a scan; saying it once is enough.
    if (!armed && scan) {
        if (opened)
            Log(L"%ls: the file system doesn't report changes", Arg(volume->name).c_str());
        else
            Log(L"%ls: can't watch for changes (%lu)", Arg(volume->name).c_str(), static_cast<unsigned long>(error));
    }

    if (scan) {
        HeldChanges held;
        const bool scanned = armed ? ScanWatched(volume, *watch, length, held) : FolderScan(volume);
        scanEnded();
        if (!scanned) return false;
        volume->scannedAtMs = NowMs();
        if (held.lost) {
            if (!volume->stop.load()) Overflowed(volume);
            return true;
        }
        for (std::vector<DirChange>& batch : held.batches) {
            if (volume->stop.load()) return true;
            ApplyWatch(volume, batch);
        }
    }
    if (!armed) {
        if (!opened && !volume->stop.load()) {
            // Gone, or not a folder we may open: look again in 30 s, with a scan.
            volume->stopEvent->WaitFor(FolderWaitMs(kOpenFailedWaitMs));
            if (!volume->stop.load()) volume->rescan = true;
        }
        return true;
    }

    volume->live.store(true);
    PostVolumesChanged();
    bool lost = false;
    for (;;) {
        if (volume->stop.load()) break;
        if (!armed && !Arm(*watch, length)) break;  // refused even at the small length: cannot be watched
        armed = true;
        const ChangeWatch::Wait wait = watch->WaitFor(*volume->stopEvent, FolderWaitMs(kRootCheckMs));
        if (wait == ChangeWatch::Wait::Stopped) break;
        if (wait == ChangeWatch::Wait::TimedOut) {
            uint32_t attributes = 0;
            if (!fs.Attributes(LongPath(volume->root), attributes, error) || !(attributes & FileAttr::Directory)) {
                volume->rescan = true;  // the scan tells why it cannot be reached
                break;
            }
            continue;
        }
        uint32_t bytes = 0;
        armed = false;
        if (!watch->Finish(bytes, error) || bytes == 0) {
            lost = true;
            break;
        }
        std::vector<DirChange> batch;
        try {
            ParseChanges(watch->Data(), bytes, batch);
        } catch (const std::bad_alloc&) {
            lost = true;
            break;
        }
        // The next read is outstanding while this batch is applied.
        armed = Arm(*watch, length);
        ApplyWatch(volume, batch);
        if (!armed) break;
    }
    watch.reset();  // cancels the outstanding read and waits for it to let go of the buffer
    volume->live.store(false);
    PostVolumesChanged();
    if (lost && !volume->stop.load()) Overflowed(volume);
    return true;
}

}  // namespace ov
