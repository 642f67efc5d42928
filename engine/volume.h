// One indexed root: a drive or an added folder, with what the index needs to
// map file records and names back to entries.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "index/entry.h"
#include "index/platform.h"

namespace ov {

enum class VolumeKind : uint32_t { None = 0, FileTable = 1, Folders = 2 };

struct Volume {
    Volume() {
        hardLinks.max_load_factor(1.0f);
        nameMap.max_load_factor(1.0f);
    }
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;

    WString root;        // always ends in '\'
    WString name;        // "C:" or the added folder without trailing '\'
    WString fileSystem;
    WString label;
    uint32_t serial = 0;
    bool addedFolder = false;
    VolumeKind kind = VolumeKind::None;
    bool live = false;
    uint32_t rootEntry = kNoEntry;
    std::vector<uint32_t> recordMap;                       // record -> entry (FileTable)
    uint32_t recordCount = 0;  // file-table records when last read; 0 = unknown (bounds journal record numbers)
    std::unordered_multimap<uint32_t, uint32_t> hardLinks;  // record -> further names (FileTable)
    uint64_t journalId = 0;
    uint64_t nextUsn = 0;
    std::unordered_multimap<uint64_t, uint32_t> nameMap;  // (parent << 32 | hash of folded name) -> entry (Folders)
    uint64_t files = 0;
    uint64_t folders = 0;
    double scanMs = 0;
    WString status;  // guarded by the engine's statusMutex
    int slot = 0;
    std::atomic<bool> stop{false};
    bool running = false;
    bool rescan = false;
    bool folderScanned = false;
    bool mftFailed = false;
    void* stopEvent = nullptr;  // manual-reset event handle
    std::thread thread;
};

}  // namespace ov
