// Until the engine exists in this build, every question about it has the answer
// of a program without one: nothing is indexed, loaded, elevated or saved.
#include "app/engine_host.h"

#include "app/startup.h"

void SetUpEngine() {}

void AttachEngineWindow(HWND main) {}

void StartSearching() {}

void StartIndexLoad() {}

void StopEngineWork(bool save) {
    StopSearchWorker(gSearch);
}

void DestroyEngine() {}

bool EngineElevated() {
    return false;
}

int IndexThreadCount() {
    return 0;
}

void SetIndexHideFlags() {}

void ApplyIncludeRemovable() {}

void RefreshVolumesIfLoaded() {}

void StartBackgroundSaveIfDue() {}

bool SaveIndexNow() {
    return false;
}

void RebuildIndex() {}

void ClearIndexChangedPosted() {}

void ClearVolumesChangedPosted() {}

bool ReadIndexCounters(uint64_t& epoch, uint64_t& changes) {
    return false;
}

bool ReadLiveEntryCount(uint64_t& count) {
    return false;
}

bool AdminBarWanted() {
    return false;
}

bool IndexReadyForSelfTest() {
    return gIndexLoaded;
}
