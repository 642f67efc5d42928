// Naive recomputation of what the index keeps incrementally.
#pragma once

#include <string>
#include <vector>

#include "index/index.h"

namespace ov::testing {

constexpr uint32_t kDir = EntryFlags::Directory;
constexpr uint32_t kRoot = EntryFlags::Directory | EntryFlags::VolumeRoot;

struct FolderTotals {
    std::vector<uint64_t> size;
    std::vector<uint32_t> childCount;
};

// Folder sizes and child counts from scratch: each live file counts for its
// nearest 256 folders, each live entry for its parent.
FolderTotals RecomputeTotals(const Index& index);

// Empty when every live folder agrees with the recomputation, else a description
// of the first difference.
std::string CheckTotals(const Index& index);

// Adds an entry with its folded name computed here.
uint32_t AddNamed(Index& index, uint32_t parent, const std::string& name, uint32_t flags, uint64_t size = 0,
                  uint64_t modified = 0, uint64_t created = 0);

}  // namespace ov::testing
