// Engine volumes for an index filled from a path list, so it saves and loads as
// the engine's would: one NTFS volume per top-level folder, with a record map
// over its entries, a few hard links, a journal position, and some open counts;
// or one added-folder volume per top-level folder.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/volume.h"
#include "index/index.h"

namespace ov::bench {

// Gives every slot its entries' volume. The index lock is taken exclusively.
void AddCorpusVolumes(Index& index, std::vector<std::unique_ptr<Volume>>& volumes);

// For an index filled from paths (FillIndex): gives each top-level folder /name
// an added-folder volume rooted at base\name\, the name its root entry then
// carries (base: a Windows path, its trailing '\' optional). False, with error
// set and nothing changed, when the paths do not name one top-level folder per
// slot or a name does not fit. The index lock is taken exclusively.
bool AddCorpusFolderVolumes(Index& index, const std::vector<std::string_view>& paths, const std::string& base,
                            std::vector<std::unique_ptr<Volume>>& volumes, std::string& error);

}  // namespace ov::bench
