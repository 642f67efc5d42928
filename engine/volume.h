// One indexed root: a drive or an added folder. The index's part of it (maps and
// counts) is VolumeMaps; this adds the volume's identity and its thread's state.
// The engine owns every volume; one is destroyed only after its thread is joined.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "engine/stop_event.h"
#include "index/platform.h"
#include "index/volume_maps.h"

namespace ov {

// What a volume's thread is doing, set together with its status text so that
// decisions never read the text. Busy: a first pass or a rescan is under way.
enum class VolumePhase : uint8_t {
    None,          // not started, no status yet
    Loaded,        // from the saved index, not yet checked against the disk
    ReadingTable,  // reading the NTFS file table
    Scanning,      // walking the folders
    Rescanning,    // changes were lost: scanning again
    Indexed,       // a read or scan just finished
    Live,          // following the change journal
    JournalReset,  // the journal was replaced: the drive is read again
    Failed,        // the last read, scan or merge failed
};

inline bool IsBusyPhase(VolumePhase phase) {
    return phase == VolumePhase::Loaded || phase == VolumePhase::ReadingTable || phase == VolumePhase::Scanning ||
           phase == VolumePhase::Rescanning;
}

struct Volume : VolumeMaps {
    // Identity: set when the volume is made (RefreshVolumes or the saved index);
    // label is rewritten under the index lock held exclusively.
    WString root;  // always ends in '\'
    WString name;  // "C:" or the added folder without trailing '\'
    WString fileSystem;
    WString label;
    uint32_t serial = 0;
    bool addedFolder = false;

    // Journal position (FileTable): written by the volume's thread under the index
    // lock held exclusively, so a save reads a consistent pair under it held shared.
    uint64_t journalId = 0;
    uint64_t nextUsn = 0;
    // Batches at nextUsn whose records could not be fetched, one after another
    // (the volume's thread only).
    uint32_t fetchFailures = 0;

    std::atomic<bool> live{false};          // a watcher runs for the volume
    double scanMs = 0;                      // written by the volume's thread under the index lock
    WString status;                         // guarded by the engine's statusMutex
    VolumePhase phase = VolumePhase::None;  // set with status, under the same mutex

    // Thread state. stop is set by stoppers and read everywhere; rescan,
    // folderScanned and mftFailed are written by the volume's own thread while it
    // runs and by others only while no thread runs. running and stopEvent belong
    // to whoever starts and stops threads (under the engine's volumesMutex).
    std::atomic<bool> stop{false};
    bool running = false;  // a thread was started and has not been joined
    bool rescan = false;
    bool folderScanned = false;
    bool mftFailed = false;
    std::unique_ptr<StopEvent> stopEvent;  // made at the first start, kept
    std::thread thread;

    // Set by the thread as the last thing it does, so a stopper can wait for it
    // with a time-out and join without blocking (under the engine's reapMutex).
    std::atomic<bool> threadEnded{true};
    // Rebuild asked for a rescan while the old thread was still ending
    // (volumesMutex): the next start rescans.
    bool rescanWhenStarted = false;
    // The user asked for that rescan: it starts as soon as the old thread ends,
    // not at the next refresh (set and cleared under volumesMutex).
    std::atomic<bool> rescanWaiting{false};
    // Its drive is about to be removed: the thread stays stopped, holding no
    // handle on it, until the removal ends or is cancelled (volumesMutex).
    bool released = false;

    // Folder watcher, volume thread only: overflows in a row that came during
    // a scan or within a minute after it, when the last scan ended, and
    // whether no watch stood during it.
    int overflowStreak = 0;
    double scannedAtMs = 0;
    bool scannedUnwatched = false;
};

}  // namespace ov
