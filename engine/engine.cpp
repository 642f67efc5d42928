// The volume list and the volume threads. Retry decisions of a volume thread
// (none of them spins: every retry waits on the volume's stop event first):
// - A failed folder scan waits 60 s, a journal error 5 s, then tries again.
// - A watcher that returns with neither stop nor rescan set could not watch the
//   volume: the watch alone is tried again every 30 s, without scanning, so a
//   volume that fell back from its file table does not read the table and scan
//   its folders each time; once a watch stands, one scan under it catches up.
// - A file-table read without a change journal (journal id 0: one being
//   deleted, or none and none could be made) stays as read, not live, and asks
//   for a journal every 5 s; once there is one the drive is read again with it
//   pinned, as what changed since the read is in no journal. A journal that
//   cannot be followed right after a fresh read waits 60 s before the drive is
//   read again.
#include "engine/engine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdarg>
#include <shared_mutex>

#include "engine/wide_text.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kFailedScanWaitMs = 60000;
constexpr uint32_t kUnwatchedWaitMs = 30000;

void Post(const std::atomic<WindowHandle>& window, std::atomic<bool>& flag, uint32_t message) {
    WindowHandle target = window.load();
    if (target != nullptr && !flag.exchange(true)) PostNotify(target, message);
}

}  // namespace

struct Engine::DriveRecord {
    WString root;
    WString name;
    WString fileSystem;
    WString label;
    uint32_t serial = 0;
    bool addedFolder = false;
};

Engine::Engine(FileSystem& fs) : fs(fs) {
    elevated = ProcessIsElevated();
    indexPath = SavedIndexPath();
}

Engine::~Engine() {
    Stop(false);
    {
        std::lock_guard<std::mutex> guard(reapMutex);
        restarterQuit = true;
    }
    reapSignal.notify_all();
    if (restarter.joinable()) restarter.join();
    std::lock_guard<std::mutex> guard(volumesMutex);
    // Threads that outlived the stop's grace still use their volumes and this
    // engine: wait for them however long their last call takes.
    for (auto& v : owned)
        if (v && v->thread.joinable()) v->thread.join();
    for (auto& v : retired)
        if (v->thread.joinable()) v->thread.join();
    retired.clear();
    std::unique_lock<SharedMutex> index(lock);
    volumes.clear();
    owned.clear();
}

Volume* Engine::VolumeAt(int slot) const {
    if (slot < 0 || static_cast<size_t>(slot) >= owned.size()) return nullptr;
    return owned[slot].get();
}

void Engine::ReplaceVolumes(std::vector<std::unique_ptr<Volume>> slots) {
    owned = std::move(slots);
    owned.resize(std::min<size_t>(owned.size(), kMaxVolumes));
    volumes.assign(owned.size(), nullptr);
    for (size_t i = 0; i < owned.size(); ++i) {
        if (!owned[i]) continue;
        owned[i]->slot = static_cast<int>(i);
        volumes[i] = owned[i].get();
    }
}

std::vector<Volume*> Engine::SlotVolumes() {
    std::shared_lock<SharedMutex> guard(lock);
    std::vector<Volume*> list;
    for (auto& v : owned)
        if (v) list.push_back(v.get());
    return list;
}

void Engine::SetIncludeRemovable(bool include) {
    std::lock_guard<std::mutex> guard(volumesMutex);
    includeRemovable = include;
}

void Engine::SetAddedFolders(std::vector<WString> folders) {
    std::lock_guard<std::mutex> guard(volumesMutex);
    addedFolders = std::move(folders);
}

// --- notifications, status and log ---

void Engine::PostIndexChanged() {
    Post(notifyWindow, indexChangedPosted, WM_APP_INDEX_CHANGED);
}

void Engine::PostVolumesChanged() {
    Post(notifyWindow, volumesChangedPosted, WM_APP_VOLUMES_CHANGED);
}

void Engine::SetStatus(Volume* volume, VolumePhase phase, const WString& text) {
    {
        std::lock_guard<std::mutex> guard(statusMutex);
        volume->status = text;
        volume->phase = phase;
    }
    PostVolumesChanged();
}

WString Engine::StatusOf(const Volume* volume) {
    // The old thread may still set texts while it ends.
    if (volume->rescanWaiting.load()) return Text(kRescanWaitingText);
    std::lock_guard<std::mutex> guard(statusMutex);
    return volume->status;
}

VolumePhase Engine::PhaseOf(const Volume* volume) {
    std::lock_guard<std::mutex> guard(statusMutex);
    return volume->phase;
}

void Engine::Log(const wchar_t* format, ...) {
    if (!logSink) return;
    va_list args;
    va_start(args, format);
    const WString line = FormatTextV(kLogChars, format, args);
    va_end(args);
    logSink(line.c_str());
}

// --- the volume list ---

std::vector<Engine::DriveRecord> Engine::PresentRecords() {
    std::vector<DriveRecord> records;
    for (const WString& root : fs.DriveRoots()) {
        const DriveType type = fs.TypeOf(root);
        if (type != DriveType::Fixed && !(type == DriveType::Removable && includeRemovable)) continue;
        DriveInfo info;
        if (!fs.VolumeInfo(root, info)) continue;  // no medium or unreadable: absent
        DriveRecord r;
        r.root = root;
        r.name = root.substr(0, 2);
        r.fileSystem = std::move(info.fileSystem);
        r.label = std::move(info.label);
        r.serial = info.serial;
        records.push_back(std::move(r));
    }
    for (const WString& folder : addedFolders) {
        if (folder.empty()) continue;
        DriveRecord r;
        const bool slash = folder.back() == u'\\';
        r.root = slash ? folder : folder + WChar(u'\\');
        r.name = slash ? folder.substr(0, folder.size() - 1) : folder;
        r.addedFolder = true;
        records.push_back(std::move(r));
    }
    return records;
}

void Engine::RemoveVolumes(const std::vector<Volume*>& gone) {
    StopThreads(gone);
    std::vector<std::unique_ptr<Volume>> removed;
    removed.reserve(gone.size());  // nothing fails once the slots are let go
    bool compacted = true;
    {
        std::unique_lock<SharedMutex> guard(lock);
        std::array<bool, kMaxVolumes> goneSlot{};
        for (Volume* v : gone) goneSlot[v->slot] = true;
        for (Entry& e : entries) {
            if (!IsDeleted(e) && goneSlot[SlotOf(e.flags)]) {
                e.flags |= EntryFlags::Deleted;
                deletedCount += 1;
            }
        }
        for (Volume* v : gone) {
            volumes[v->slot] = nullptr;
            removed.push_back(std::move(owned[v->slot]));
        }
        // A compaction that runs out of memory changes nothing: the entries stay
        // flagged until a later one (a save's). The volumes must still be retired.
        try {
            Compact();
        } catch (const std::exception&) {
            compacted = false;
        }
    }
    if (!compacted) Log(L"Compacting after removing a drive or folder stopped: out of memory");
    PostIndexChanged();
    // A thread that has not ended yet keeps its volume until it is joined.
    for (auto& v : removed)
        if (v->running) retired.push_back(std::move(v));
}

void Engine::RefreshVolumes() {
    try {
        std::lock_guard<std::mutex> guard(volumesMutex);
        ReapEnded();
        const std::vector<DriveRecord> records = PresentRecords();

        std::vector<Volume*> gone;
        for (Volume* v : SlotVolumes()) {
            const bool present = std::any_of(records.begin(), records.end(), [v](const DriveRecord& r) {
                return SameTextIgnoringCase(r.root, v->root) && (r.addedFolder || r.serial == v->serial);
            });
            if (!present) gone.push_back(v);
        }
        if (!gone.empty()) RemoveVolumes(gone);

        for (const DriveRecord& r : records) {
            Volume* found = nullptr;
            for (Volume* v : SlotVolumes())
                if (SameTextIgnoringCase(v->root, r.root)) found = v;  // the highest slot wins
            if (found) {
                if (found->running || found->released) continue;
                {
                    std::unique_lock<SharedMutex> index(lock);
                    found->label = r.label;
                }
                StartVolume(found);
                continue;
            }
            Volume* created = nullptr;
            {
                std::unique_lock<SharedMutex> index(lock);
                size_t slot = 0;
                while (slot < volumes.size() && volumes[slot] != nullptr) ++slot;
                if (slot >= static_cast<size_t>(kMaxVolumes)) continue;  // all 256 slots taken
                auto v = std::make_unique<Volume>();
                v->root = r.root;
                v->name = r.name;
                v->fileSystem = r.fileSystem;
                v->label = r.label;
                v->serial = r.serial;
                v->addedFolder = r.addedFolder;
                v->slot = static_cast<int>(slot);
                if (slot == volumes.size()) {
                    volumes.push_back(nullptr);
                    owned.emplace_back();
                }
                created = v.get();
                volumes[slot] = created;
                owned[slot] = std::move(v);
            }
            StartVolume(created);
        }
    } catch (const std::exception&) {
        Log(L"Refreshing the volumes stopped: out of memory");
    }
    PostVolumesChanged();
}

// --- volume threads ---

void Engine::StartVolume(Volume* volume) {
    volume->running = true;
    volume->stop.exchange(false);
    bool firstPass = false;
    try {
        if (!volume->stopEvent) volume->stopEvent = std::make_unique<StopEvent>();
        volume->stopEvent->Reset();
        if (volume->rescanWhenStarted) {
            volume->rescan = true;
            volume->rescanWhenStarted = false;
        }
        volume->rescanWaiting.store(false);
        firstPass = volume->kind == VolumeKind::None || volume->rescan;
        if (firstPass) busyVolumes.fetch_add(1);
        volume->threadEnded.store(false);
        volume->thread = std::thread([this, volume] {
            VolumeThread(volume);
            {
                std::lock_guard<std::mutex> guard(reapMutex);
                volume->threadEnded.store(true);
                threadsEnded += 1;
            }
            reapSignal.notify_all();
        });
    } catch (const std::exception&) {
        volume->running = false;
        volume->threadEnded.store(true);
        if (firstPass) busyVolumes.fetch_sub(1);
        Log(L"%ls: couldn't start its thread", Arg(volume->name).c_str());
        PostVolumesChanged();
    }
}

void Engine::StopThreads(const std::vector<Volume*>& list) {
    std::vector<Volume*> stopping;
    for (Volume* v : list) {
        if (!v->running) continue;
        v->stop.exchange(true);
        if (v->stopEvent) v->stopEvent->Set();
        stopping.push_back(v);
    }
    if (stopping.empty()) return;
    {
        std::unique_lock<std::mutex> guard(reapMutex);
        reapSignal.wait_for(guard, std::chrono::milliseconds(kStopGraceMs), [&stopping] {
            return std::all_of(stopping.begin(), stopping.end(), [](Volume* v) { return v->threadEnded.load(); });
        });
    }
    for (Volume* v : stopping) {
        if (!v->threadEnded.load()) continue;  // joined later
        if (v->thread.joinable()) v->thread.join();
        v->running = false;
    }
}

void Engine::ReapEnded() {
    for (Volume* v : SlotVolumes()) {
        if (!v->running || !v->threadEnded.load()) continue;
        if (v->thread.joinable()) v->thread.join();
        v->running = false;
    }
    for (auto it = retired.begin(); it != retired.end();) {
        if (!(*it)->threadEnded.load()) {
            ++it;
            continue;
        }
        if ((*it)->thread.joinable()) (*it)->thread.join();
        it = retired.erase(it);
    }
}

void Engine::Rebuild() {
    std::lock_guard<std::mutex> guard(volumesMutex);
    ReapEnded();
    std::vector<Volume*> list = SlotVolumes();
    list.erase(std::remove_if(list.begin(), list.end(), [](Volume* v) { return v->released; }), list.end());
    StopThreads(list);
    for (Volume* v : list) {
        if (v->running) {
            RescanWhenEnded(v);  // its old thread is still ending
            continue;
        }
        v->rescan = true;
        StartVolume(v);
    }
}

void Engine::RescanWhenEnded(Volume* volume) {
    volume->rescanWhenStarted = true;
    try {
        if (!restarter.joinable()) restarter = std::thread([this] { RestartWaiting(); });
    } catch (const std::exception&) {
        Log(L"%ls: rescans at the next refresh (couldn't start a thread to wait)", Arg(volume->name).c_str());
        return;
    }
    volume->rescanWaiting.store(true);
    PostVolumesChanged();
}

void Engine::RestartWaiting() {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(reapMutex);
            reapSignal.wait(guard, [this, seen] { return restarterQuit || threadsEnded != seen; });
            if (restarterQuit) return;
            seen = threadsEnded;
        }
        std::lock_guard<std::mutex> guard(volumesMutex);
        ReapEnded();
        bool started = false;
        for (Volume* v : SlotVolumes()) {
            if (!v->rescanWaiting.load() || v->running || v->released) continue;
            StartVolume(v);  // takes rescanWhenStarted as its rescan
            started = true;
        }
        if (started) PostVolumesChanged();
    }
}

bool Engine::RescanVolume(Volume* volume) {
    std::lock_guard<std::mutex> guard(volumesMutex);
    ReapEnded();
    const std::vector<Volume*> list = SlotVolumes();
    if (std::find(list.begin(), list.end(), volume) == list.end() || volume->released) return false;
    StopThreads({volume});
    if (volume->running) {
        RescanWhenEnded(volume);
        return false;
    }
    volume->rescan = true;
    StartVolume(volume);
    return true;
}

void Engine::Stop(bool save) {
    {
        std::lock_guard<std::mutex> guard(volumesMutex);
        ReapEnded();
        const std::vector<Volume*> list = SlotVolumes();
        // Stopped means stopped: a waiting rescan waits for the next start.
        for (Volume* v : list) v->rescanWaiting.store(false);
        StopThreads(list);
    }
    if (save) SaveDb();
}

// --- drives being removed ---

std::vector<Volume*> Engine::VolumesOnDrive(const WString& driveRoot) {
    std::vector<Volume*> list = SlotVolumes();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&driveRoot](Volume* v) {
                                  return v->root.size() < driveRoot.size() ||
                                         !SameTextIgnoringCase(v->root.substr(0, driveRoot.size()), driveRoot);
                              }),
               list.end());
    return list;
}

bool Engine::ReleaseDrive(const WString& driveRoot) {
    std::lock_guard<std::mutex> guard(volumesMutex);
    ReapEnded();
    const std::vector<Volume*> list = VolumesOnDrive(driveRoot);
    for (Volume* v : list) v->released = true;
    StopThreads(list);
    bool released = true;
    for (Volume* v : list) {
        if (v->running) {
            released = false;
            Log(L"%ls: still busy with the drive, which can't be removed yet", Arg(v->name).c_str());
        }
    }
    if (!list.empty()) PostVolumesChanged();
    return released;
}

void Engine::ReclaimDrive(const WString& driveRoot) {
    std::lock_guard<std::mutex> guard(volumesMutex);
    ReapEnded();
    for (Volume* v : VolumesOnDrive(driveRoot)) {
        if (!v->released) continue;
        v->released = false;
        const bool watched = v->kind == VolumeKind::Folders;
        if (v->running) {  // its old thread is still ending: a refresh starts it
            v->rescanWhenStarted = v->rescanWhenStarted || watched;
            continue;
        }
        if (watched) v->rescan = true;
        StartVolume(v);
    }
}

void Engine::DropDrive(const WString& driveRoot) {
    try {
        std::lock_guard<std::mutex> guard(volumesMutex);
        ReapEnded();
        std::vector<Volume*> gone, folders;
        for (Volume* v : VolumesOnDrive(driveRoot)) (v->addedFolder ? folders : gone).push_back(v);
        if (!gone.empty()) RemoveVolumes(gone);
        StopThreads(folders);
        for (Volume* v : folders) {
            v->released = false;
            if (!v->running) StartVolume(v);
        }
    } catch (const std::exception&) {
        Log(L"Removing a drive's volumes stopped: out of memory");
    }
    PostVolumesChanged();
}

bool Engine::WaitBeforeRetry(Volume* volume, uint32_t ms) {
    return volume->stopEvent->WaitFor(ms) == StopEvent::Wait::TimedOut && !volume->stop.load();
}

void Engine::ReleaseFirstPass(bool& firstPass) {
    if (!firstPass) return;
    firstPass = false;
    busyVolumes.fetch_sub(1);
    PostVolumesChanged();
}

void Engine::VolumeThread(Volume* volume) {
    bool firstPass = volume->kind == VolumeKind::None || volume->rescan;
    // One folder scan (when needed) with the watch around it; false when the
    // thread must end.
    auto folderRoute = [&](bool scan) {
        const auto release = [&] { ReleaseFirstPass(firstPass); };
        for (;;) {
            if (!scan) release();
            if (!Watch(volume, scan, release)) return WaitBeforeRetry(volume, FolderWaitMs(kFailedScanWaitMs));
            if (volume->stop.load() || volume->rescan) return true;
            if (!WaitBeforeRetry(volume, FolderWaitMs(kUnwatchedWaitMs))) return false;  // cannot be watched now
            scan = false;
        }
    };
    try {
        while (!volume->stop.load()) {
            const bool folders =
                volume->addedFolder || !SameTextIgnoringCase(volume->fileSystem, Text(L"NTFS")) || !elevated;
            if (folders) {
                const bool scan = volume->kind != VolumeKind::Folders || volume->rescan || !volume->folderScanned;
                if (!folderRoute(scan)) break;
                continue;
            }
            const bool resume = volume->kind == VolumeKind::FileTable && !volume->rescan && volume->journalId != 0;
            bool readNow = false;
            if (!resume) {
                if (!MftScan(volume)) {
                    if (volume->stop.load()) break;
                    volume->mftFailed = true;
                    if (!folderRoute(true)) break;
                    continue;
                }
                readNow = true;
            }
            ReleaseFirstPass(firstPass);
            if (volume->journalId == 0) {
                if (!AwaitJournal(volume)) break;
                volume->rescan = true;
                continue;
            }
            const int result = Journal(volume);
            if (result == 1) {
                volume->rescan = true;
                SetStatus(volume, VolumePhase::JournalReset,
                          Text(L"The change journal was reset - reading the drive again"));
                if (readNow && !WaitBeforeRetry(volume, kFailedScanWaitMs)) break;
                continue;
            }
            if (!WaitBeforeRetry(volume, kJournalErrorWaitMs)) break;
        }
    } catch (const std::exception&) {
        Log(L"%ls: indexing stopped: out of memory", Arg(volume->name).c_str());
    }
    ReleaseFirstPass(firstPass);
}

bool Engine::MergePiece(Volume* volume, VolumeKind kind, Index::Piece& piece, std::unique_lock<SharedMutex>& guard) {
    if (volume->stop.load()) return false;
    const VolumeKind before = volume->kind;
    volume->kind = kind;  // Ingest builds the name map of a folder volume only
    bool merged = false;
    bool fits = true;
    try {
        merged = Ingest(volume->slot, piece);
    } catch (const std::exception&) {
        fits = false;  // out of memory: the index is as it was
    }
    if (merged) return true;
    volume->kind = before;
    guard.unlock();
    SetStatus(volume, VolumePhase::Failed, Text(fits ? kIndexFullText : kNoMemoryText));
    return false;
}

}  // namespace ov
