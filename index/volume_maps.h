// What the index keeps per volume slot: how the slot's entries map back to file
// records (file-table volumes) or to names under a parent (folder volumes), and
// the slot's file and folder counts. The engine's volume record extends it with
// the volume's identity and its thread's state.
//
// Every field is guarded by the index lock: written under it held exclusively.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "index/entry.h"
#include "index/name_map.h"
#include "index/text.h"

namespace ov {

enum class VolumeKind : uint32_t { None = 0, FileTable = 1, Folders = 2 };

// Key of a folder volume's name map: the parent entry and the FNV-1a hash of the
// folded name (a hash of 0 is kept as it is).
inline uint64_t NameMapKey(uint32_t parent, std::string_view foldedName) {
    return (static_cast<uint64_t>(parent) << 32) | Fnv1a32(foldedName.data(), foldedName.size());
}

struct VolumeMaps {
    VolumeMaps() { hardLinks.max_load_factor(1.0f); }
    VolumeMaps(const VolumeMaps&) = delete;
    VolumeMaps& operator=(const VolumeMaps&) = delete;

    VolumeKind kind = VolumeKind::None;
    int slot = 0;  // place in Index::volumes; bits 16-23 of its entries' flags
    uint32_t rootEntry = kNoEntry;
    std::vector<uint32_t> recordMap;  // record -> entry of its first name (FileTable)
    // File-table records when last read; 0 = unknown. Bounds record numbers from the journal.
    uint32_t recordCount = 0;
    std::unordered_multimap<uint32_t, uint32_t> hardLinks;  // record -> further names (FileTable)
    NameMap nameMap;                                        // NameMapKey -> entry (Folders)
    uint64_t files = 0;
    uint64_t folders = 0;
};

}  // namespace ov
