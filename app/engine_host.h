// The application's one door to the engine: its set-up from the settings, the
// index-load and background-save threads, the search worker, its stop at exit,
// and everything the windows read from or ask of the index and its volumes. No
// other file of the application touches the engine or the index lock.
// UI thread only, except the thread bodies.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/export_format.h"
#include "engine/volume.h"
#include "index/search_worker.h"

namespace ov {
class Engine;

// One row's details as the index holds them. A row that is not valid (its
// entry gone, or its id from an older epoch) is shown blank.
struct ResultRow {
    std::wstring name;
    std::wstring folder;
    std::wstring fullPath;
    std::wstring extension;  // lower case; empty for folders
    uint64_t size = 0;
    uint64_t modified = 0;
    uint64_t created = 0;
    uint32_t flags = 0;  // ov::EntryFlags
    uint32_t openCount = 0;
    bool valid = false;
};
}  // namespace ov

// What the windows show of one volume, copied at one moment.
struct VolumeFacts {
    std::wstring name;  // "C:" or the added folder
    std::wstring root;
    std::wstring fileSystem;
    std::wstring label;
    std::wstring status;
    ov::VolumePhase phase = ov::VolumePhase::None;
    ov::VolumeKind kind = ov::VolumeKind::None;
    bool addedFolder = false;
    bool live = false;
    uint64_t files = 0;
    uint64_t folders = 0;
    double scanMs = 0;
    uint64_t journalId = 0;
    uint64_t nextUsn = 0;
    int slot = 0;
};

// The engine and index as the diagnostic report and the speed test print them.
struct EngineFacts {
    bool elevated = false;
    std::wstring indexPath;
    bool loaded = false;
    double loadMs = 0;
    int threads = 0;  // the pool's
    uint64_t liveEntries = 0;
    uint64_t deletedEntries = 0;
    uint64_t nameBytes = 0;  // both name pools
};

// One timed search of the speed test.
struct TimedSearch {
    uint64_t results = 0;  // of the last run
    double bestMs = 0;
};

// Owned here: the engine (null until start-up made it and after tear-down),
// the search worker's request block (the worker runs from start-up to
// SaveBeforeExit) and the two threads.
extern std::unique_ptr<ov::Engine> gEngine;
extern ov::SearchRequest gSearch;
extern std::thread gIndexLoadThread;
extern std::thread gSaveThread;
// WM_APP_INDEX_LOADED was handled: the saved index was loaded and the volumes enumerated.
extern bool gIndexLoaded;
// SaveBeforeExit ran: the engine and the search worker are stopped and nothing
// may start them again (log-off keeps the window until Windows ends the process).
extern bool gEnding;

// A search-worker sink that posts each result to window as WM_APP_RESULTS; the
// window then owns it. A failed post frees it.
ov::ResultSink PostResultsTo(HWND window);

// Start-up: makes the engine and gives it the settings; starts nothing yet.
void SetUpEngine();
// Start-up, once the main window exists: the engine posts to it from now on.
void AttachEngineWindow(HWND main);
// Start-up: the search worker over the index, posting results to the main window.
void StartSearching();
// A new request to the search worker.
void SubmitSearch(const std::string& text, const ov::SearchOptions& options, bool keepSelection, int threads);
// Start-up: the index-load thread (load the saved index, enumerate the volumes,
// post WM_APP_INDEX_LOADED).
void StartIndexLoad();
// WM_APP_INDEX_LOADED: joins the load thread and marks the index loaded.
void MarkIndexLoaded();
// The first step of every exit: from now on nothing starts engine work.
void MarkEnding();
// The last steps of SaveBeforeExit: joins the background save, stops the
// search worker, joins the load thread, stops the engine with one last save.
void StopEngineForExit();
// Stops the search worker and the engine's threads; with save the index file is
// written once more. Safe to call again.
void StopEngineWork(bool save);
// Tear-down after the message loop: the search worker stopped.
void StopSearching();
// Tear-down: joins the threads, stops the engine and lets go of it without
// freeing it. The process is about to end and the system takes the memory
// back at once.
void EndEngine();

// The process has administrator rights (asked of the system; no engine needed).
bool ProcessRunsElevated();
// SetUpEngine ran and EndEngine did not yet.
bool EngineMade();
bool EngineElevated();
// Threads of the index's pool; 0 without an engine.
int IndexThreadCount();
// "HideHidden" and "HideSystem" into the index's atomic flags.
void SetIndexHideFlags();
// "IncludeRemovable" into the engine; the volumes are refreshed once the index has loaded.
void ApplyIncludeRemovable();
// The added folders into the engine; the volumes are refreshed once the index has loaded.
void SetIndexedFolders(const std::vector<std::wstring>& folders);
// The excluded folders into the index, which marks their entries at the next
// search; with countChange the index's change counter rises too.
void SetExcludedFolders(const std::vector<std::wstring>& folders, bool countChange = false);
// Refreshes the volumes when the index has loaded and the program is not ending.
void RefreshVolumesIfLoaded();
// Starts a background save when the index changed since the last one and no
// volume is in its first scan or a rescan.
void StartBackgroundSaveIfDue();
// Command "Save index": saves on this thread; false when it failed or there is no engine.
bool SaveIndexNow();
// Command "Rescan all".
void RebuildIndex();
// The Index Status window's Rescan: the volume found again, under the lock,
// in slot with root (or elsewhere with that root, as VolumeFacts gives them).
// False when there is none or its old thread is still ending (it rescans at
// the next refresh).
bool RescanVolumeByRoot(int slot, const std::wstring& root);
// A volume that is not an added folder has a root starting with letter (any case).
bool IndexesDriveLetter(wchar_t letter);
// The drive ("X:\") is about to be removed: the engine lets go of every handle
// on it (false when a volume thread did not let go in time); the removal was
// cancelled: it takes them up again; the drive is gone: its volume goes.
bool ReleaseIndexedDrive(const std::wstring& driveRoot);
void ReclaimIndexedDrive(const std::wstring& driveRoot);
void DropIndexedDrive(const std::wstring& driveRoot);

// Clears the engine's posted flag of the message being handled.
void ClearIndexChangedPosted();
void ClearVolumesChangedPosted();
// The index's epoch and change counter; false without an engine.
bool ReadIndexCounters(uint64_t& epoch, uint64_t& changes);
// Entries of the index less the deleted ones; false without an engine.
bool ReadLiveEntryCount(uint64_t& count);
// Entry id's row as the index holds it at epoch, under the index lock held shared.
ov::ResultRow ReadResultRow(uint32_t id, uint64_t epoch);
// The rows of ids under one hold of the lock (copy, export, a painted page).
std::vector<ov::ResultRow> ReadResultRows(const std::vector<uint32_t>& ids, uint64_t epoch);
// Full paths of the ids that still name live entries at epoch, in order, at
// most max; empty when epoch is not the index's. Under one hold of the index
// lock held shared, released before the caller hands them to the shell.
std::vector<std::wstring> ReadEntryPaths(const std::vector<uint32_t>& ids, uint64_t epoch, size_t max);
// Keeps ids, entry numbers at epoch, naming the same entries through every
// compaction and merge until StopFollowingEntries, so that a long reader can
// take them in short holds; false (nothing followed) when epoch is no longer the
// index's. One follower at a time; UI thread.
bool FollowEntries(std::vector<uint32_t>& ids, uint64_t epoch);
void StopFollowingEntries();
// ReadExportRows when the followed entries were left behind (the index was
// replaced by a load) and when memory ran out.
constexpr ptrdiff_t kRowsLeftBehind = -1;
constexpr ptrdiff_t kRowsNoMemory = -2;
// FillExportRows (export_format.h) over ids[0..count), a stretch of the
// followed entries, under one short hold of the index lock held shared: the
// count of rows filled, or one of the two above.
ptrdiff_t ReadExportRows(const uint32_t* ids, size_t count, std::vector<ExportRow>& rows);
// Counts one opening of each id when epoch is the index's (the Run Count
// column and order), under the index lock held exclusively.
void NoteEntriesOpened(const std::vector<uint32_t>& ids, uint64_t epoch);
// Why the saved index that was there could not be used, as a sentence; empty
// when it loaded, there was none, or there is no engine.
std::wstring ReadSavedIndexProblem();
// Every volume in slot order; empty without an engine.
std::vector<VolumeFacts> SnapshotVolumes();
// False without an engine.
bool ReadEngineFacts(EngineFacts& facts);
// Runs the search text with all options off runs times on threads of the pool,
// each run prepared under the exclusive lock and timed alone under the shared
// one; the smallest time. No engine: all zero.
TimedSearch TimeSearch(const std::string& text, int threads, int runs);
// The pool's threads in use (clamped to 1..threads).
void SetSearchThreadsInUse(int threads);
// The administrator bar should show: an unelevated engine indexes an NTFS drive.
bool AdminBarWanted();
// Self-test: the index has loaded, no volume is busy and every volume is live.
bool IndexReadyForSelfTest();
