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
#include "app/commands.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "engine/engine.h"
#include "engine/wide_text.h"
#include "index/platform.h"
#include "index/text.h"

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
        // From a successful post on, the record belongs to the window.
        ov::SearchResult* record = result.release();
        if (!PostMessageW(window, ov::WM_APP_RESULTS, 0, reinterpret_cast<LPARAM>(record))) delete record;
    };
}

void SetUpEngine() {
    gEngine = std::make_unique<ov::Engine>();
    if (gArgs.forceScan) gEngine->elevated = false;
    gEngine->SetIncludeRemovable(gSettings.includeRemovable != 0);
    gEngine->SetAddedFolders(
        std::vector<ov::WString>(gSettings.indexedFolders.begin(), gSettings.indexedFolders.end()));
    SetIndexHideFlags();
    {
        std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
        gEngine->excluded.clear();
        for (const std::wstring& folder : gSettings.excludedFolders) gEngine->excluded.push_back(ExclusionKey(folder));
        gEngine->excludesDirty = true;
    }
    gEngine->logSink = LogFromEngine;
}

void AttachEngineWindow(HWND main) {
    if (gEngine) gEngine->notifyWindow.store(main);
}

void StartSearching() {
    if (gEngine) ov::StartSearchWorker(gSearch, *gEngine, PostResultsTo(gMain));
}

void StartIndexLoad() {
    if (gEngine) gIndexLoadThread = std::thread(IndexLoadThread, gMain);
}

void StopEngineWork(bool save) {
    ov::StopSearchWorker(gSearch);
    if (gEngine) gEngine->Stop(save);
}

void AbandonEngineAtExit() {
    // Its volume threads are stopped and the index is saved, its file flushed
    // and closed. Freeing the index piece by piece would keep an installer or
    // a new copy waiting for seconds at ten million entries; the pool's idle
    // workers end with the process.
    static_cast<void>(gEngine.release());
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
