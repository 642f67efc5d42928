// Reads a saved index file (index_file_format.h) and makes it the index.
//
// Nothing in the file is trusted. Every count is checked against the bytes that
// are left before anything is allocated for it, pools past 4 GiB are refused,
// and every entry number must name an entry of the right kind: an entry's slot
// must hold a volume, a parent must be a folder, and a volume's root entry,
// record map and hard links must point at the volume's own entries. A refused
// file leaves the index as it was.
//
// What is stored is then made consistent rather than believed: folder sizes and
// child counts are recomputed, and a file saved with deleted or renamed entries
// still in it (a writer ran between the save's compaction and its copy) is
// compacted, since the name search finds a renamed entry only through the
// renamed list, which the file does not hold.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/byte_stream.h"
#include "engine/volume.h"
#include "index/index.h"

namespace ov {

// A parsed and validated file, not yet part of any index.
struct LoadedIndex {
    std::vector<Entry> entries;
    std::string names;
    std::string folded;
    std::vector<std::unique_ptr<Volume>> volumes;  // one per slot of the file; null for an empty slot
    std::unordered_map<uint32_t, uint32_t> openCounts;
};

struct LoadTimes {
    double readMs = 0;       // reading and checking the file
    double prepareMs = 0;    // totals, compaction, side tables, name maps, name order: no lock held
    double sortMs = 0;       // of which the name order
    double exclusiveMs = 0;  // the swap under the exclusive lock
    double totalMs = 0;
    uint64_t bytes = 0;
    bool compacted = false;
};

// Reads the whole source and checks everything. False with a reason for the
// log when the data is not a sound saved index; image is then to be dropped.
// Never throws.
bool ReadIndexFile(ByteSource& source, LoadedIndex& image, std::string& reason);

// Makes the image consistent in an index of its own, then swaps it into index
// under its exclusive lock: entries, pools, open counts, the slot table and the
// name order with its ranks; every other sort order to be rebuilt, the path
// cache and the exclusions to be redone, epoch and change counter one higher. owner receives the image's volumes (slot
// i at position i) and the volumes it held before go back into image.volumes,
// so they are freed with the image, outside the lock; none of them may have a
// running thread. With a gate, the swap alone is made holding it (taken before
// the index lock), and only when mayInstall, asked under it, agrees. False,
// changing nothing, when memory runs out or mayInstall refuses. Never throws.
bool InstallIndex(Index& index, LoadedIndex& image, std::vector<std::unique_ptr<Volume>>& owner, std::string& reason,
                  LoadTimes* times = nullptr, std::mutex* gate = nullptr,
                  const std::function<bool(std::string& reason)>& mayInstall = {});

// The status text of a volume read from the file.
WString LoadedVolumeStatus();

}  // namespace ov
