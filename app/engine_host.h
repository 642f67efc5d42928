// The application's side of the engine: its set-up from the settings, the
// index-load and background-save threads, its stop at exit, and the few facts
// the windows ask of it. UI thread only, except the thread bodies.
#pragma once

#include <windows.h>

#include <cstdint>

#include "index/search_worker.h"

// A search-worker sink that posts each result to window as WM_APP_RESULTS; the
// window then owns it. A failed post frees it.
ov::ResultSink PostResultsTo(HWND window);

// Start-up: makes the engine and gives it the settings; starts nothing yet.
void SetUpEngine();
// Start-up, once the main window exists: the engine posts to it from now on.
void AttachEngineWindow(HWND main);
// Start-up: the search worker over the index, posting results to the main window.
void StartSearching();
// Start-up: the index-load thread (load the saved index, enumerate the volumes,
// post WM_APP_INDEX_LOADED).
void StartIndexLoad();
// Stops the search worker and the engine's threads; with save the index file is
// written once more. Safe to call again.
void StopEngineWork(bool save);
// Tear-down, after StopEngineWork: lets go of the engine without freeing it.
// The process is about to end and the system takes the memory back at once.
void AbandonEngineAtExit();

bool EngineElevated();
// Threads of the index's pool; 0 without an engine.
int IndexThreadCount();
// "HideHidden" and "HideSystem" into the index's atomic flags.
void SetIndexHideFlags();
// "IncludeRemovable" into the engine; the volumes are refreshed once the index has loaded.
void ApplyIncludeRemovable();
// Refreshes the volumes when the index has loaded and the program is not ending.
void RefreshVolumesIfLoaded();
// Starts a background save when the index changed since the last one and no
// volume is in its first scan or a rescan.
void StartBackgroundSaveIfDue();
// Command "Save index": saves on this thread; false when it failed or there is no engine.
bool SaveIndexNow();
// Command "Rescan all".
void RebuildIndex();

// Clears the engine's posted flag of the message being handled.
void ClearIndexChangedPosted();
void ClearVolumesChangedPosted();
// The index's epoch and change counter; false without an engine.
bool ReadIndexCounters(uint64_t& epoch, uint64_t& changes);
// Entries of the index less the deleted ones; false without an engine.
bool ReadLiveEntryCount(uint64_t& count);
// The administrator bar should show: an unelevated engine indexes an NTFS drive.
bool AdminBarWanted();
// Self-test: the index has loaded, no volume is busy and every volume is live.
bool IndexReadyForSelfTest();
