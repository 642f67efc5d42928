// Indexes with engine volumes in their slots, and files, for the tests of the
// saved index file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/volume.h"
#include "index/index.h"

namespace ov::testing {

struct VolumeIndex {
    Index index;
    std::vector<std::unique_ptr<Volume>> volumes;  // slot i at position i, as the engine keeps them
};

// Fills an empty VolumeIndex: `slots` slots (slot 1 left empty when there are
// three or more) alternating file-table volumes with record maps and hard links
// and added folders with name maps, each with identity texts outside the BMP;
// about `perVolume` entries each from a random scan, a chain of 300 folders with
// non-ASCII names, `changes` random additions, removals, renames and moves left
// uncompacted, open counts and excluded folders.
void FillVolumeIndex(VolumeIndex& v, uint64_t seed, int slots, size_t perVolume, size_t changes);

// The engine's spelling of the file `utf8Name` in folder.
WString FileIn(const std::filesystem::path& folder, const std::string& utf8Name);
// The whole file; empty when it cannot be read.
std::string ReadWholeFile(const WString& path);
bool WriteWholeFile(const WString& path, const std::string& bytes);

}  // namespace ov::testing
