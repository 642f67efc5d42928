// One indexed root: a drive or an added folder. The index's part of it (maps and
// counts) is VolumeMaps; this adds the volume's identity and its thread's state.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "index/platform.h"
#include "index/volume_maps.h"

namespace ov {

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

    std::atomic<bool> live{false};  // a watcher runs for the volume
    double scanMs = 0;
    WString status;  // guarded by the engine's statusMutex

    // Thread state: written by the volume's own thread while it runs and by its
    // stopper only after the join.
    std::atomic<bool> stop{false};
    bool running = false;
    bool rescan = false;
    bool folderScanned = false;
    bool mftFailed = false;
    void* stopEvent = nullptr;  // manual-reset event; owned, created at the first start
    std::thread thread;
};

}  // namespace ov
