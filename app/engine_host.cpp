// The engine as the application holds it: made at start-up from the settings,
// filled by the index-load thread, saved in the background every 30 minutes
// when it changed, stopped with one last save at exit. The UI thread owns
// gEngine; the load and save threads only call the engine's own thread-safe
// operations and reach the window by posted messages.
#include "app/engine_host.h"

#include <mutex>
#include <shared_mutex>
#include <string>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/posted_record.h"
#include "app/settings.h"
#include "app/window_kit.h"
#include "engine/engine.h"
#include "engine/wide_text.h"
#include "index/platform.h"
#include "index/query.h"
#include "index/searcher.h"
#include "index/text.h"

std::unique_ptr<ov::Engine> gEngine;
ov::SearchRequest gSearch;
std::thread gIndexLoadThread;
std::thread gSaveThread;
bool gIndexLoaded = false;
bool gEnding = false;

namespace {

// The index's change counter at the last background save (UI thread).
uint64_t gSavedChanges = 0;

void LogFromEngine(const ov::WChar* text) {
    Log(L"%ls", text);
}

// The index keeps excluded folders folded; a drive root "c:\" as "c:".
std::string ExclusionKey(const std::wstring& folder) {
    std::string key = ov::FoldCaseUtf8(ov::ToUtf8(folder));
    if (key.size() == 3 && key[1] == ':') key.resize(2);
    return key;
}

void IndexLoadThread(HWND main) {
    try {
        const double start = ov::platform::MonotonicMs();
        const bool loaded = gEngine->LoadDb();
        gEngine->loaded = loaded;
        gEngine->loadMs = ov::platform::MonotonicMs() - start;
        gEngine->RefreshVolumes();
    } catch (const std::exception&) {
        Log(L"loading the index stopped: out of memory");
    }
    PostMessageW(main, WM_APP_INDEX_LOADED, 0, 0);
}

void BackgroundSaveThread() {
    try {
        gEngine->SaveDb();
    } catch (const std::exception&) {
        Log(L"background save stopped: out of memory");
    }
}

// Once SaveBeforeExit ran nothing may start engine work again.
bool EngineUsable() {
    return gEngine && !gEnding;
}

}  // namespace

ov::ResultSink PostResultsTo(HWND window) {
    return [window](std::unique_ptr<ov::SearchResult> result) {
        PostOwned(window, ov::WM_APP_RESULTS, 0, std::move(result));
    };
}

void SetUpEngine() {
    gEngine = std::make_unique<ov::Engine>();
    if (gArgs.forceScan) gEngine->elevated = false;
    gEngine->SetIncludeRemovable(gSettings.includeRemovable != 0);
    gEngine->SetAddedFolders(
        std::vector<ov::WString>(gSettings.indexedFolders.begin(), gSettings.indexedFolders.end()));
    SetIndexHideFlags();
    SetExcludedFolders(gSettings.excludedFolders);
    gEngine->logSink = LogFromEngine;
}

void AttachEngineWindow(HWND main) {
    if (gEngine) gEngine->notifyWindow.store(main);
}

void StartSearching() {
    if (gEngine) ov::StartSearchWorker(gSearch, *gEngine, PostResultsTo(gMain));
}

void SubmitSearch(const std::string& text, const ov::SearchOptions& options, bool keepSelection, int threads) {
    ov::RequestSearch(gSearch, text, options, keepSelection, threads);
}

void StartIndexLoad() {
    if (gEngine) gIndexLoadThread = std::thread(IndexLoadThread, gMain);
}

void MarkIndexLoaded() {
    if (gIndexLoadThread.joinable()) gIndexLoadThread.join();
    gIndexLoaded = true;
}

void MarkEnding() {
    gEnding = true;
}

void StopEngineForExit() {
    if (gSaveThread.joinable()) gSaveThread.join();
    ov::StopSearchWorker(gSearch);
    if (gIndexLoadThread.joinable()) gIndexLoadThread.join();
    StopEngineWork(true);
}

void StopEngineWork(bool save) {
    ov::StopSearchWorker(gSearch);
    if (gEngine) gEngine->Stop(save);
}

void StopSearching() {
    ov::StopSearchWorker(gSearch);
}

void EndEngine() {
    if (gIndexLoadThread.joinable()) gIndexLoadThread.join();
    if (gSaveThread.joinable()) gSaveThread.join();
    StopEngineWork(false);
    // Its volume threads are stopped and the index is saved, its file flushed
    // and closed. Freeing the index piece by piece would keep an installer or
    // a new copy waiting for seconds at ten million entries; the pool's idle
    // workers end with the process.
    static_cast<void>(gEngine.release());
}

bool ProcessRunsElevated() {
    return ov::ProcessIsElevated();
}

bool EngineMade() {
    return gEngine != nullptr;
}

bool EngineElevated() {
    return gEngine && gEngine->elevated;
}

int IndexThreadCount() {
    return gEngine ? gEngine->pool.Threads() : 0;
}

void SetIndexHideFlags() {
    if (!gEngine) return;
    gEngine->hideHidden.exchange(gSettings.hideHidden != 0);
    gEngine->hideSystem.exchange(gSettings.hideSystem != 0);
}

void ApplyIncludeRemovable() {
    if (!gEngine) return;
    gEngine->SetIncludeRemovable(gSettings.includeRemovable != 0);
    RefreshVolumesIfLoaded();
}

void SetIndexedFolders(const std::vector<std::wstring>& folders) {
    if (!gEngine) return;
    gEngine->SetAddedFolders(std::vector<ov::WString>(folders.begin(), folders.end()));
    RefreshVolumesIfLoaded();
}

void SetExcludedFolders(const std::vector<std::wstring>& folders, bool countChange) {
    if (!gEngine) return;
    std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
    gEngine->excluded.clear();
    for (const std::wstring& folder : folders) gEngine->excluded.push_back(ExclusionKey(folder));
    if (countChange) gEngine->changes += 1;
    gEngine->excludesDirty = true;
}

void RefreshVolumesIfLoaded() {
    if (EngineUsable() && gIndexLoaded) gEngine->RefreshVolumes();
}

void StartBackgroundSaveIfDue() {
    if (!EngineUsable() || !gIndexLoaded) return;
    uint64_t changes = 0;
    {
        std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
        changes = gEngine->changes;
    }
    // With volumes busy nothing is remembered, so the next tick tries again.
    if (changes == gSavedChanges || gEngine->busyVolumes.load() != 0) return;
    gSavedChanges = changes;
    if (gSaveThread.joinable()) gSaveThread.join();
    gSaveThread = std::thread(BackgroundSaveThread);
}

bool SaveIndexNow() {
    return EngineUsable() && gEngine->SaveDb();
}

void RebuildIndex() {
    if (EngineUsable()) gEngine->Rebuild();
}

bool RescanVolumeByRoot(int slot, const std::wstring& root) {
    if (!EngineUsable()) return false;
    const ov::WString wanted(root.begin(), root.end());
    ov::Volume* found = nullptr;
    {
        std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
        ov::Volume* inSlot = gEngine->VolumeAt(slot);
        if (inSlot && ov::SameTextIgnoringCase(inSlot->root, wanted)) {
            found = inSlot;
        } else {
            for (int s = 0; s < static_cast<int>(gEngine->volumes.size()); ++s) {
                ov::Volume* volume = gEngine->VolumeAt(s);
                if (volume && ov::SameTextIgnoringCase(volume->root, wanted)) found = volume;
            }
        }
    }
    // A refresh may drop it meanwhile: RescanVolume checks again, under its
    // own lock, that the volume is still listed before it touches it.
    return found && gEngine->RescanVolume(found);
}

bool IndexesDriveLetter(wchar_t letter) {
    if (!gEngine) return false;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    for (int slot = 0; slot < static_cast<int>(gEngine->volumes.size()); ++slot) {
        const ov::Volume* volume = gEngine->VolumeAt(slot);
        if (volume && !volume->addedFolder && !volume->root.empty() &&
            towupper(static_cast<wint_t>(volume->root[0])) == towupper(static_cast<wint_t>(letter))) {
            return true;
        }
    }
    return false;
}

// Also while ending: a drive removed then must not be held by the engine.
bool ReleaseIndexedDrive(const std::wstring& driveRoot) {
    return !gEngine || gEngine->ReleaseDrive(ov::WString(driveRoot.begin(), driveRoot.end()));
}

void ReclaimIndexedDrive(const std::wstring& driveRoot) {
    if (EngineUsable()) gEngine->ReclaimDrive(ov::WString(driveRoot.begin(), driveRoot.end()));
}

void DropIndexedDrive(const std::wstring& driveRoot) {
    if (EngineUsable()) gEngine->DropDrive(ov::WString(driveRoot.begin(), driveRoot.end()));
}

void ClearIndexChangedPosted() {
    if (gEngine) gEngine->indexChangedPosted.exchange(false);
}

void ClearVolumesChangedPosted() {
    if (gEngine) gEngine->volumesChangedPosted.exchange(false);
}

bool ReadIndexCounters(uint64_t& epoch, uint64_t& changes) {
    if (!gEngine) return false;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    epoch = gEngine->epoch;
    changes = gEngine->changes;
    return true;
}

bool ReadLiveEntryCount(uint64_t& count) {
    if (!gEngine) return false;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    count = gEngine->entries.size() - gEngine->deletedCount;
    return true;
}

namespace {

// One row of entry id (index lock held shared, epoch checked).
ov::ResultRow RowOf(const ov::Engine& engine, uint32_t id) {
    ov::ResultRow out;
    if (id >= engine.entries.size()) return out;
    const ov::Entry& entry = engine.entries[id];
    if (ov::IsDeleted(entry)) return out;
    try {
        out.fullPath = engine.PathW(id, false);
        if (entry.flags & ov::EntryFlags::VolumeRoot) {
            out.name = out.fullPath;
        } else {
            const std::string_view name = engine.NameOf(id);
            out.name = ov::ToWide(name.data(), name.size());
            if (entry.parent != ov::kNoEntry) out.folder = engine.PathW(id, true);
        }
        if (!ov::IsDir(entry)) {
            const std::string_view extension = ov::FoldedExtension(engine.FoldedOf(id));
            out.extension = ov::ToWide(extension.data(), extension.size());
        }
    } catch (const std::exception&) {
        return ov::ResultRow();
    }
    out.size = entry.size;
    out.modified = entry.modified;
    out.created = entry.created;
    out.flags = entry.flags;
    const auto count = engine.openCounts.find(id);
    out.openCount = count == engine.openCounts.end() ? 0 : count->second;
    out.valid = true;
    return out;
}

}  // namespace

ov::ResultRow ReadResultRow(uint32_t id, uint64_t epoch) {
    if (!gEngine) return {};
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    // Entry numbers move when the index is compacted: ids of another epoch name other entries.
    if (epoch != gEngine->epoch) return {};
    return RowOf(*gEngine, id);
}

std::vector<ov::ResultRow> ReadResultRows(const std::vector<uint32_t>& ids, uint64_t epoch) {
    std::vector<ov::ResultRow> rows(ids.size());
    if (!gEngine) return rows;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    if (epoch != gEngine->epoch) return rows;
    for (size_t i = 0; i < ids.size(); ++i) rows[i] = RowOf(*gEngine, ids[i]);
    return rows;
}

std::vector<std::wstring> ReadEntryPaths(const std::vector<uint32_t>& ids, uint64_t epoch, size_t max) {
    std::vector<std::wstring> paths;
    if (!gEngine) return paths;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    if (epoch != gEngine->epoch) return paths;
    try {
        for (const uint32_t id : ids) {
            if (paths.size() >= max) break;
            if (id >= gEngine->entries.size() || ov::IsDeleted(gEngine->entries[id])) continue;
            const ov::WString path = gEngine->PathW(id, false);
            paths.emplace_back(path.begin(), path.end());
        }
    } catch (const std::exception&) {
        // Out of memory: what was collected so far.
    }
    return paths;
}

bool FollowEntries(std::vector<uint32_t>& ids, uint64_t epoch) {
    if (!gEngine) return false;
    std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
    if (epoch != gEngine->epoch) return false;
    gEngine->followed = &ids;
    gEngine->followedEpoch = epoch;
    return true;
}

void StopFollowingEntries() {
    if (!gEngine) return;
    std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
    gEngine->followed = nullptr;
}

ptrdiff_t ReadExportRows(const uint32_t* ids, size_t count, std::vector<ExportRow>& rows) {
    if (!gEngine) return kRowsLeftBehind;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    if (!gEngine->followed || gEngine->followedEpoch != gEngine->epoch) return kRowsLeftBehind;
    try {
        return static_cast<ptrdiff_t>(FillExportRows(*gEngine, ids, count, rows));
    } catch (const std::exception&) {
        return kRowsNoMemory;
    }
}

void NoteEntriesOpened(const std::vector<uint32_t>& ids, uint64_t epoch) {
    if (!gEngine) return;
    std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
    if (epoch != gEngine->epoch) return;
    for (const uint32_t id : ids) {
        if (id < gEngine->entries.size()) ++gEngine->openCounts[id];
    }
    gEngine->overflow[static_cast<size_t>(ov::SortKey::RunCount)] = true;
    gEngine->changes += 1;
}

std::wstring ReadSavedIndexProblem() {
    if (!gEngine) return {};
    const ov::WString problem = gEngine->SavedIndexProblem();
    return std::wstring(problem.begin(), problem.end());
}

std::vector<VolumeFacts> SnapshotVolumes() {
    std::vector<VolumeFacts> facts;
    if (!gEngine) return facts;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    for (int slot = 0; slot < static_cast<int>(gEngine->volumes.size()); ++slot) {
        const ov::Volume* volume = gEngine->VolumeAt(slot);
        if (!volume) continue;
        VolumeFacts fact;
        fact.name.assign(volume->name.begin(), volume->name.end());
        fact.root.assign(volume->root.begin(), volume->root.end());
        fact.fileSystem.assign(volume->fileSystem.begin(), volume->fileSystem.end());
        fact.label.assign(volume->label.begin(), volume->label.end());
        // statusMutex is a leaf, taken after the index lock.
        const ov::WString status = gEngine->StatusOf(volume);
        fact.status.assign(status.begin(), status.end());
        fact.phase = gEngine->PhaseOf(volume);
        fact.kind = volume->kind;
        fact.addedFolder = volume->addedFolder;
        fact.live = volume->live.load();
        fact.files = volume->files;
        fact.folders = volume->folders;
        fact.scanMs = volume->scanMs;
        fact.journalId = volume->journalId;
        fact.nextUsn = volume->nextUsn;
        fact.slot = slot;
        facts.push_back(std::move(fact));
    }
    return facts;
}

bool ReadEngineFacts(EngineFacts& facts) {
    if (!gEngine) return false;
    facts.elevated = gEngine->elevated;
    facts.indexPath.assign(gEngine->indexPath.begin(), gEngine->indexPath.end());
    facts.loaded = gEngine->loaded;
    facts.loadMs = gEngine->loadMs;
    facts.threads = gEngine->pool.Threads();
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    facts.liveEntries = gEngine->entries.size() - gEngine->deletedCount;
    facts.deletedEntries = gEngine->deletedCount;
    facts.nameBytes = gEngine->names.size() + gEngine->folded.size();
    return true;
}

TimedSearch TimeSearch(const std::string& text, int threads, int runs) {
    TimedSearch timed;
    if (!gEngine) return timed;
    gEngine->pool.SetThreadsInUse(threads);
    const ov::SearchOptions options;
    ov::Searcher searcher(gEngine.get());
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<uint32_t> hits;
    for (int run = 0; run < runs; ++run) {
        // Parsed again each time: a run resolves folders into the query.
        ov::Query query = ov::ParseQuery(text, options);
        {
            std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
            searcher.Prepare(query, options);
        }
        hits.clear();
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        {
            std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
            QueryPerformanceCounter(&start);
            searcher.Run(query, options, hits, nullptr);
            QueryPerformanceCounter(&end);
        }
        const double ms = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
        if (run == 0 || ms < timed.bestMs) timed.bestMs = ms;
        timed.results = hits.size();
    }
    return timed;
}

void SetSearchThreadsInUse(int threads) {
    if (gEngine) gEngine->pool.SetThreadsInUse(threads);
}

bool AdminBarWanted() {
    if (!gEngine || gEngine->elevated) return false;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    for (int slot = 0; slot < static_cast<int>(gEngine->volumes.size()); ++slot) {
        const ov::Volume* volume = gEngine->VolumeAt(slot);
        if (volume && !volume->addedFolder && ov::SameTextIgnoringCase(volume->fileSystem, L"NTFS")) return true;
    }
    return false;
}

bool IndexReadyForSelfTest() {
    if (!gEngine || !gIndexLoaded || gEngine->busyVolumes.load() != 0) return false;
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    for (int slot = 0; slot < static_cast<int>(gEngine->volumes.size()); ++slot) {
        const ov::Volume* volume = gEngine->VolumeAt(slot);
        if (volume && !volume->live.load()) return false;
    }
    return true;
}
