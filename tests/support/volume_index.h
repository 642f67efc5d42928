// Indexes with engine volumes in their slots, and temporary folders, for the
// tests of the saved index file.
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

// A fresh folder under the temporary folder, removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    // The path of a file in the folder, as the engine spells paths.
    WString File(const std::string& name) const;

private:
    std::filesystem::path path;
};

WString WidePath(const std::filesystem::path& path);
// The whole file; empty when it cannot be read.
std::string ReadWholeFile(const WString& path);
bool WriteWholeFile(const WString& path, const std::string& bytes);

}  // namespace ov::testing
