// Folder scanner. Walkers take folders from one shared queue (the walk mutex is
// taken twice per folder, never per item), number what they find with one
// atomic counter and keep it in buckets of their own. The piece is assembled
// once from the buckets; its entry numbers are the scan ids.
//
// The index is not touched during the walk: the merge takes the index lock
// once, and only if the volume was not stopped meanwhile (a stopped volume may
// already have left the slot table).
#include "engine/folder_scan.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "engine/engine.h"
#include "engine/progress_reporter.h"
#include "engine/wide_text.h"
#include "index/text.h"

namespace ov {
namespace {

// Scan ids stay below this, so every id is an entry number.
constexpr uint32_t kMaxScanIds = 0xFFFFFFF0u;
constexpr int kProgressMs = 300;

enum class WalkFailure : int { None = 0, TooMany, NoMemory, Lost };

struct Walk {
    Walk(FileSystem& fs, const WString& root, const std::atomic<bool>& stop, int walkers)
        : fs(fs), root(root), stop(stop), buckets(walkers) {}

    bool Halted() const { return stop.load(std::memory_order_relaxed) || failure.load() != 0; }
    void Fail(WalkFailure why) {
        int none = 0;
        failure.compare_exchange_strong(none, static_cast<int>(why));
    }
    // A folder that cannot be listed is left out, unless the whole drive or
    // folder went away: then what was found is no picture of it.
    void CheckRoot() {
        uint32_t attributes = 0, error = 0;
        if (fs.Attributes(LongPath(root), attributes, error) && (attributes & FileAttr::Directory)) return;
        rootError.store(error != 0 ? error : WinError::Directory);
        Fail(WalkFailure::Lost);
    }

    FileSystem& fs;
    const WString& root;
    const std::atomic<bool>& stop;
    std::vector<ScanBucket> buckets;
    std::atomic<uint32_t> nextId{1};
    std::atomic<int> failure{0};
    std::atomic<uint64_t> skippedNames{0};  // too long for an entry
    std::atomic<uint32_t> rootError{0};     // WalkFailure::Lost: why the root could not be reached

    std::mutex mutex;  // guards queue and active
    std::condition_variable changed;
    std::deque<DirItem> queue;
    int active = 0;
};

// Lists one folder into the walker's bucket; folders to enter go to `found`.
class Lister final : public FolderVisitor {
public:
    Lister(Walk& walk, ScanBucket& bucket) : walk(walk), bucket(bucket) {}

    void List(const DirItem& item, std::vector<DirItem>& into) {
        folder = &item;
        found = &into;
        if (!walk.fs.ListFolder(LongPath(item.path), *this) && !walk.Halted()) walk.CheckRoot();
    }

    bool Item(const FindData& fd) override {
        if (walk.Halted()) return false;
        NameAndFolded(fd.name, fd.nameLength, name, foldedName, units);
        if (name.size() > Index::kMaxNameBytes || foldedName.size() > Index::kMaxNameBytes) {
            walk.skippedNames.fetch_add(1);
            return true;
        }
        const uint32_t id = walk.nextId.fetch_add(1);
        if (id >= kMaxScanIds) {
            walk.Fail(WalkFailure::TooMany);
            return false;
        }
        const bool dir = (fd.attributes & FileAttr::Directory) != 0;
        ScanRec rec{};
        rec.id = id;
        rec.parentId = folder->id;
        rec.flags = (fd.attributes & EntryFlags::AttributeMask) | (dir ? EntryFlags::Directory : 0);
        rec.size = dir ? 0 : fd.size;
        rec.modified = fd.modified;
        rec.created = fd.created;
        if (!bucket.Add(rec, name, foldedName)) {
            walk.Fail(WalkFailure::TooMany);
            return false;
        }
        // Junctions and links to folders are listed, never entered.
        if (dir && !(fd.attributes & FileAttr::ReparsePoint)) {
            WString path;
            path.reserve(folder->path.size() + fd.nameLength + 1);
            path.append(folder->path).append(fd.name, fd.nameLength).push_back(u'\\');
            found->push_back(DirItem{id, std::move(path)});
        }
        return true;
    }

private:
    Walk& walk;
    ScanBucket& bucket;
    const DirItem* folder = nullptr;
    std::vector<DirItem>* found = nullptr;
    std::string name;  // scratch, reused for every item
    std::string foldedName;
    WString units;
};

void Walker(Walk& walk, int w) {
    Lister lister(walk, walk.buckets[w]);
    std::vector<DirItem> found;
    try {
        for (;;) {
            DirItem item;
            {
                std::unique_lock<std::mutex> guard(walk.mutex);
                walk.changed.wait(guard, [&walk] { return !walk.queue.empty() || walk.active == 0 || walk.Halted(); });
                if (walk.Halted() || walk.queue.empty()) break;  // stopped, or the walk is complete
                item = std::move(walk.queue.front());
                walk.queue.pop_front();
                walk.active += 1;
            }
            found.clear();
            lister.List(item, found);
            {
                std::lock_guard<std::mutex> guard(walk.mutex);
                for (DirItem& d : found) walk.queue.push_back(std::move(d));
                walk.active -= 1;
            }
            walk.changed.notify_all();
        }
    } catch (const std::exception&) {
        walk.Fail(WalkFailure::NoMemory);
        std::lock_guard<std::mutex> guard(walk.mutex);
        walk.active = std::max(0, walk.active - 1);
    }
    walk.changed.notify_all();
}

}  // namespace

WString LongPath(const WString& path) {
    static const WString kLong = Text(L"\\\\?\\");
    static const WString kUnc = Text(L"\\\\?\\UNC\\");
    if (path.compare(0, kLong.size(), kLong) == 0) return path;
    if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') return kUnc + path.substr(2);
    return kLong + path;
}

void NameAndFolded(const WChar* units, size_t count, std::string& name, std::string& folded, WString& scratch) {
    name.clear();
    AppendUtf8(name, units, count);
    scratch.assign(units, units + count);
    FoldUnits(scratch.data(), scratch.size());
    folded.clear();
    AppendUtf8(folded, scratch.data(), scratch.size());
}

int ScanWalkers(int poolThreads) {
    return std::clamp(2 * poolThreads, 2, 16);
}

uint64_t ByteChunks::Append(std::string_view bytes) {
    const uint64_t at = size;
    size_t left = bytes.size() + 1;  // with the NUL
    const char* from = bytes.data();
    while (left > 0) {
        if (chunks.empty() || chunks.back().size() == kChunkBytes) {
            chunks.emplace_back();
            chunks.back().reserve(kChunkBytes);
        }
        std::string& chunk = chunks.back();
        const size_t n = std::min(left, kChunkBytes - chunk.size());
        const size_t fromBytes = left > 1 ? std::min(n, left - 1) : 0;  // the NUL comes last
        chunk.append(from, fromBytes);
        if (fromBytes < n) chunk.push_back('\0');
        from += fromBytes;
        left -= n;
    }
    size += bytes.size() + 1;
    return at;
}

void ByteChunks::MoveTo(std::string& out) {
    for (std::string& chunk : chunks) {
        out.append(chunk);
        std::string().swap(chunk);
    }
    chunks.clear();
    size = 0;
}

bool ScanBucket::Add(const ScanRec& rec, std::string_view name, std::string_view foldedName) {
    if (names.Size() + name.size() + 1 > Index::kMaxPoolBytes ||
        folded.Size() + foldedName.size() + 1 > Index::kMaxPoolBytes)
        return false;
    if (records.empty() || records.back().size() == kRecordsPerChunk) {
        records.emplace_back();
        records.back().reserve(kRecordsPerChunk);
    }
    ScanRec r = rec;
    r.nameOffset = static_cast<uint32_t>(names.Append(name));
    r.foldedOffset = static_cast<uint32_t>(folded.Append(foldedName));
    r.nameLength = static_cast<uint16_t>(name.size());
    r.foldedLength = static_cast<uint16_t>(foldedName.size());
    records.back().push_back(r);
    return true;
}

size_t ScanBucket::Count() const {
    size_t n = 0;
    for (const auto& chunk : records) n += chunk.size();
    return n;
}

bool BuildScanPiece(std::vector<ScanBucket>& buckets, uint32_t count, std::string_view rootName, Index::Piece& piece) {
    piece = Index::Piece();
    if (count == 0 || count >= kNoEntry) return false;
    const std::string rootFolded = FoldCaseUtf8(rootName.data(), rootName.size());
    uint64_t nameBytes = rootName.size() + 1, foldedBytes = rootFolded.size() + 1;
    for (const ScanBucket& b : buckets) {
        nameBytes += b.names.Size();
        foldedBytes += b.folded.Size();
    }
    if (nameBytes > Index::kMaxPoolBytes || foldedBytes > Index::kMaxPoolBytes) return false;

    piece.entries.resize(count);
    piece.names.reserve(nameBytes);
    piece.folded.reserve(foldedBytes);
    std::vector<bool> seen(count, false);
    for (ScanBucket& b : buckets) {
        const auto nameBase = static_cast<uint32_t>(piece.names.size());
        const auto foldedBase = static_cast<uint32_t>(piece.folded.size());
        b.names.MoveTo(piece.names);
        b.folded.MoveTo(piece.folded);
        for (std::vector<ScanRec>& chunk : b.records) {
            for (const ScanRec& r : chunk) {
                if (r.id == 0 || r.id >= count || seen[r.id] || r.parentId >= count) return false;
                seen[r.id] = true;
                Entry& e = piece.entries[r.id];
                e.parent = r.parentId;
                e.nameOffset = nameBase + r.nameOffset;
                e.foldedOffset = foldedBase + r.foldedOffset;
                e.nameLength = r.nameLength;
                e.foldedLength = r.foldedLength;
                e.flags = r.flags;
                e.childCount = 0;
                e.size = r.size;
                e.modified = r.modified;
                e.created = r.created;
                (r.flags & EntryFlags::Directory ? piece.folders : piece.files) += 1;
            }
            std::vector<ScanRec>().swap(chunk);
        }
        b.records.clear();
    }
    if (piece.files + piece.folders != count - 1u) return false;  // an id without its record

    Entry& root = piece.entries[0];
    root = Entry{};
    root.parent = kNoEntry;
    root.nameOffset = static_cast<uint32_t>(piece.names.size());
    root.foldedOffset = static_cast<uint32_t>(piece.folded.size());
    root.nameLength = static_cast<uint16_t>(rootName.size());
    root.foldedLength = static_cast<uint16_t>(rootFolded.size());
    root.flags = EntryFlags::Directory | EntryFlags::VolumeRoot;
    piece.names.append(rootName).push_back('\0');
    piece.folded.append(rootFolded).push_back('\0');
    piece.root = 0;
    return true;
}

bool Engine::FolderScan(Volume* volume) {
    SetStatus(volume, VolumePhase::Scanning, Text(L"Scanning folders\u2026"));
    const double t0 = NowMs();
    const auto unreachable = [&](uint32_t error) {
        SetStatus(volume, VolumePhase::Failed,
                  FormatText(260, L"Can't reach this folder right now (%lu)", static_cast<unsigned long>(error)));
        return false;
    };
    uint32_t attributes = 0, error = 0;
    if (!fs.Attributes(LongPath(volume->root), attributes, error) || !(attributes & FileAttr::Directory)) {
        // A file is no folder either; its attributes leave no error code of their own.
        return unreachable(error != 0 ? error : WinError::Directory);
    }

    const WString kIndexFull = Text(kIndexFullText);
    const WString kNoMemory = Text(kNoMemoryText);
    const int walkers = scanWalkersForTesting > 0 ? scanWalkersForTesting : ScanWalkers(pool.Threads());
    Index::Piece piece;
    uint32_t count = 0;
    try {
        Walk walk(fs, volume->root, volume->stop, walkers);
        walk.queue.push_back(DirItem{0, volume->root});
        ProgressReporter progress(
            *this, volume, VolumePhase::Scanning, kProgressMs,
            [&walk] {
                return FormatText(260, L"Scanning folders\u2026 %u found so far",
                                  static_cast<unsigned>(walk.nextId.load() - 1));
            },
            [&walk] { return walk.Halted(); });
        std::vector<std::thread> threads;
        try {
            for (int w = 1; w < walkers; ++w) threads.emplace_back(Walker, std::ref(walk), w);
        } catch (const std::exception&) {
            // Fewer threads than planned: the walk still completes.
        }
        Walker(walk, 0);
        for (std::thread& t : threads) t.join();
        progress.Finish();

        if (volume->stop.load()) return false;  // the last progress text stays
        if (walk.skippedNames.load() > 0)
            Log(L"%ls: %llu names too long to index were left out", Arg(volume->name).c_str(),
                static_cast<unsigned long long>(walk.skippedNames.load()));
        if (walk.failure.load() == static_cast<int>(WalkFailure::Lost)) {
            Log(L"%ls: went away while its folders were scanned; trying again later", Arg(volume->name).c_str());
            return unreachable(walk.rootError.load());
        }
        if (walk.failure.load() != 0) {
            SetStatus(volume, VolumePhase::Failed,
                      walk.failure.load() == static_cast<int>(WalkFailure::TooMany) ? kIndexFull : kNoMemory);
            return false;
        }
        count = walk.nextId.load();
        if (!BuildScanPiece(walk.buckets, count, ToUtf8(volume->name), piece)) {
            SetStatus(volume, VolumePhase::Failed, kIndexFull);
            return false;
        }
    } catch (const std::exception&) {
        SetStatus(volume, VolumePhase::Failed, kNoMemory);
        return false;
    }

    {
        std::unique_lock<SharedMutex> guard(lock);
        if (!MergePiece(volume, VolumeKind::Folders, piece, guard)) return false;
        volume->rescan = false;
        volume->folderScanned = true;
        volume->scanMs = NowMs() - t0;
    }

    const wchar_t* suffix = L"";
    if (volume->addedFolder) {
        suffix = L"";
    } else if (volume->mftFailed) {
        suffix = L" - the NTFS file table couldn't be read";
    } else if (SameTextIgnoringCase(volume->fileSystem, Text(L"NTFS"))) {
        suffix = L" - run Orvane as administrator for the instant NTFS method";
    }
    SetStatus(volume, VolumePhase::Indexed,
              FormatText(260, L"Indexed %llu files and %llu folders in %.1f seconds (scanned folders%ls)",
                         static_cast<unsigned long long>(volume->files),
                         static_cast<unsigned long long>(volume->folders), volume->scanMs / 1000.0, suffix));
    PostIndexChanged();
    return true;
}

}  // namespace ov
