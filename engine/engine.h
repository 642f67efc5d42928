// The engine: the index of every volume plus the volumes that fill it. It finds
// the drives and added folders to index (RefreshVolumes), runs one thread per
// volume that builds the volume's part of the index and keeps it current
// (VolumeThread and its routes), reports per-volume status texts and tells the
// main window about changes with coalesced posted messages.
//
// Locks, in order: volumesMutex (or saveMutex), then the index lock, then the
// pool's. statusMutex and reapMutex are leaves. Whoever starts, stops or joins
// volume threads holds volumesMutex, so no volume ever has two threads.
//
// A volume's thread may sit in a file-system call that does not return for a
// long time (a dead network share). Stopping never waits for it longer than
// kStopGraceMs: such a thread keeps its volume alive, is joined once it ended
// (at the next refresh, rebuild or stop) and at the latest by the destructor.
// Because it may still run after its volume left the slot table, every route
// re-checks the volume's stop flag under the exclusive index lock before it
// writes the volume's part of the index.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/drive_probe.h"
#include "engine/file_system.h"
#include "engine/journal_follow.h"
#include "engine/notify.h"
#include "engine/volume.h"
#include "index/index.h"

namespace ov {

// Receives one wide, NUL-terminated log line.
using LogSink = std::function<void(const WChar*)>;

class Engine : public Index {
public:
    static constexpr int kStopGraceMs = 500;
    // The wait after a journal error, and between asks for a missing journal.
    static constexpr uint32_t kJournalErrorWaitMs = 5000;
    static constexpr size_t kLogChars = 600;

    // fs serves every file-system call and must outlive the engine.
    explicit Engine(FileSystem& fs = SystemFileSystem());
    // Stop(false), then joins every thread that outlived it.
    ~Engine();

    // Brings the volume list in line with the drives and added folders and
    // starts a thread for every volume without one.
    void RefreshVolumes();
    // Starts the volume's thread; volumesMutex held, its previous thread joined.
    void StartVolume(Volume* volume);
    // Rebuilds every volume from scratch.
    void Rebuild();
    // The Rescan command: stops the volume's thread and starts it on a rescan.
    // False when the volume is gone, and when its old thread did not end within
    // the grace: the rescan then starts as soon as that thread ends, and until
    // then the volume's status says it waits (kRescanWaitingText).
    bool RescanVolume(Volume* volume);
    // Stops every volume's thread (waiting at most kStopGraceMs); saves when asked.
    void Stop(bool save);

    // A drive ("X:\") is to be removed: stops the threads of the volumes on it
    // (the drive's and added folders below it), so that they let go of every
    // handle on it, and keeps them stopped until the removal ends. False when
    // a thread did not end within kStopGraceMs (its handles stay open).
    bool ReleaseDrive(const WString& driveRoot);
    // The removal was cancelled: the volumes on the drive start again; a folder
    // volume scans again, as its changes went unwatched meanwhile.
    void ReclaimDrive(const WString& driveRoot);
    // The drive is gone: its volume and entries go at once; added folders on it
    // start again and say that they cannot be reached.
    void DropDrive(const WString& driveRoot);

    // The removable-drive option and the added folders, read by RefreshVolumes.
    void SetIncludeRemovable(bool include);
    void SetAddedFolders(std::vector<WString> folders);

    // The volume's phase and status text, set together.
    void SetStatus(Volume* volume, VolumePhase phase, const WString& text);
    WString StatusOf(const Volume* volume);
    VolumePhase PhaseOf(const Volume* volume);
    // Why the saved index that was there could not be used ("" when it loaded
    // or there was none), as a sentence for the status line.
    WString SavedIndexProblem();
    // printf-style line to logSink, cut to kLogChars - 1 characters; "%ls"
    // arguments are wchar_t texts (see Arg in wide_text.h).
    void Log(const wchar_t* format, ...);
    void PostIndexChanged();
    void PostVolumesChanged();

    // Body of each volume's thread.
    void VolumeThread(Volume* volume);

    // The routes of a volume's thread (each in its own file).
    // Folder scan: true when the volume's new part was merged.
    bool FolderScan(Volume* volume);
    // The folder route of one cycle (folder_watch.cpp): arms a watch on the
    // root, scans when `scan` (then calls scanEnded, and applies what changed
    // meanwhile after the merge), and follows the changes until stopped or
    // until the volume must be scanned again (rescan set). False when the scan failed. Returning true with neither stop
    // nor rescan set means the volume cannot be watched now.
    bool Watch(Volume* volume, bool scan, const std::function<void()>& scanEnded);
    // Applies one batch of changes in order: the disk is read without the
    // index lock, the index changed under it held exclusively, folders that
    // appeared are walked without it and added under it, in slices. Returns the
    // longest time in milliseconds the lock was held at once.
    double ApplyWatch(Volume* volume, std::vector<DirChange>& batch);

    // NTFS file-table read: true when the volume's new part was merged.
    bool MftScan(Volume* volume);
    // Change journal: 0 stopped, 1 read the drive again, 2 retry later.
    int Journal(Volume* volume);
    // One batch of the journal applied to the volume's part of the index.
    BatchEnd ApplyJournal(Volume* volume, const std::vector<UsnChange>& changes, uint64_t next,
                          const DeviceControl& control, RawVolume& raw, JournalBatch& batch);
    bool SaveDb();
    // Reads the saved index holding no lock; volumesMutex and the index lock
    // are held only to swap it in, and only while no volume has a thread.
    bool LoadDb();

    // The volume in a slot, or null (index lock held).
    Volume* VolumeAt(int slot) const;
    // Replaces the whole slot table (index lock held exclusively, before any
    // volume thread started): the saved index's volumes, slot i at position i.
    void ReplaceVolumes(std::vector<std::unique_ptr<Volume>> slots);

    // Immutable while volume threads run: set by the application before it refreshes.
    std::atomic<WindowHandle> notifyWindow{nullptr};
    bool elevated = false;
    WString indexPath;
    bool includeRemovable = false;      // guarded by volumesMutex
    std::vector<WString> addedFolders;  // guarded by volumesMutex
    int readerThreads = 0;
    std::atomic<bool> indexChangedPosted{false};
    std::atomic<bool> volumesChangedPosted{false};
    std::atomic<int> busyVolumes{0};
    LogSink logSink;
    double loadMs = 0;
    bool loaded = false;
    std::mutex statusMutex;  // also guards savedIndexProblem
    WString savedIndexProblem;
    std::mutex volumesMutex;
    std::mutex saveMutex;
    // Walkers of a folder scan instead of twice the pool's threads; 0 = that
    // rule. Set before volumes start; for timing runs only.
    int scanWalkersForTesting = 0;
    // Caps every wait of the folder route (60 s after a failed scan, 30 s for a
    // watch that cannot be armed, the root check, the overflow timer); 0 = the
    // real waits. Set before volumes start; for tests only.
    uint32_t folderWaitCapMsForTesting = 0;
    // Called by LoadDb once the file is read and checked, before it is
    // installed; for tests only.
    std::function<void()> loadParsedForTesting;
    // Opens the drive a file-table read pins and reads and the change journal
    // follows; tests answer it instead. Set before volumes start.
    JournalOpener openJournalDrive = OpenJournalDrive;
    // Creates the change journal of a drive that has none; tests answer it
    // instead. Set before volumes start.
    JournalCreator createJournal = CreateJournal;

    // The status of a volume whose part does not fit the index's record format.
    static constexpr const wchar_t* kIndexFullText = L"The index is full, so this drive or folder couldn't be added.";
    // The status of a volume whose scan or merge ran out of memory; it is read again later.
    static constexpr const wchar_t* kNoMemoryText = L"There wasn't enough memory to index this drive or folder.";
    // The status of a volume whose rescan waits for its old thread's last file-system call.
    static constexpr const wchar_t* kRescanWaitingText =
        L"Waiting for this drive or folder to answer, then rescanning it";

private:
    struct DriveRecord;
    struct HeldChanges;
    struct RootWatch;
    enum class ScanEnd { Failed, Ended, Scanned };
    // With the exclusive index lock held by guard: makes piece the volume's part,
    // built as kind. False, changing nothing, when the volume is being stopped; or
    // when Ingest refuses it, with the kind kept, guard released and the status set.
    bool MergePiece(Volume* volume, VolumeKind kind, Index::Piece& piece, std::unique_lock<SharedMutex>& guard);
    // The folder route's wait of ms, cut to folderWaitCapMsForTesting.
    uint32_t FolderWaitMs(uint32_t ms) const;
    // Watch's three steps. Opens the root for change notifications and issues
    // the first read (logs why it cannot when a scan follows).
    RootWatch ArmWatch(Volume* volume, bool scan);
    // Scans, keeping what the watch reports meanwhile, and applies that after
    // the merge. Failed: the scan failed; Ended: stopped, or changes were lost
    // (a rescan is due); Scanned: watching may begin.
    ScanEnd ScanHoldingChanges(Volume* volume, RootWatch& root, const std::function<void()>& scanEnded);
    // The steady loop: applies each batch of changes until stopped, the root
    // is gone, changes were lost or the watch is refused.
    void FollowChanges(Volume* volume, RootWatch& root);
    // FolderScan on a thread of its own while this one keeps the watch's reads
    // going; what they return is kept in `held`.
    bool ScanWatched(Volume* volume, ChangeWatch& watch, uint32_t& length, HeldChanges& held);
    // Changes were lost: rescan, with a pause when it keeps happening.
    void Overflowed(Volume* volume);
    // Walks the folder at path and applies what it holds; returns the longest hold of the lock.
    double ReadAndAddTree(Volume* volume, const WString& path);
    // Removes the entries of the folder at path that are no longer on disk; returns the hold of the lock.
    double PruneFolder(Volume* volume, const WString& path);
    void CompactIfDue();
    // The drive's journal pinned through source, created when it has none.
    JournalPin PinDriveJournal(const WString& drive, const JournalSource& source);
    // A drive read without a journal: asks for one every 5 s until there is one
    // (true) or the thread must end (false).
    bool AwaitJournal(Volume* volume);
    // Waits on the volume's stop event; false when the thread must end.
    bool WaitBeforeRetry(Volume* volume, uint32_t ms);
    void ReleaseFirstPass(bool& firstPass);
    // Signals every running volume of the list and joins those whose thread ends
    // within the grace; the others stay running (volumesMutex held).
    void StopThreads(const std::vector<Volume*>& list);
    // Joins threads that ended since they were stopped, frees retired volumes
    // (volumesMutex held).
    void ReapEnded();
    std::vector<Volume*> SlotVolumes();
    // The volumes whose root lies on the drive ("X:\"), in slot order.
    std::vector<Volume*> VolumesOnDrive(const WString& driveRoot);
    std::vector<DriveRecord> PresentRecords();
    void RemoveVolumes(const std::vector<Volume*>& gone);

    FileSystem& fs;
    // The volumes of the slot table, owned; same length as volumes (index lock).
    std::vector<std::unique_ptr<Volume>> owned;
    // Volumes removed from the table whose thread has not ended yet (volumesMutex).
    std::vector<std::unique_ptr<Volume>> retired;
    std::mutex reapMutex;
    std::condition_variable reapSignal;
    // Volume threads that ended so far, and the restarter's end (reapMutex).
    uint64_t threadsEnded = 0;
    bool restarterQuit = false;
    // Started by the first rescan that has to wait; starts each waiting
    // rescan once its old thread ended (RestartWaiting). Joined by the destructor.
    std::thread restarter;
    // The volume's rescan starts once its still running thread ends (volumesMutex held).
    void RescanWhenEnded(Volume* volume);
    void RestartWaiting();
};

}  // namespace ov
