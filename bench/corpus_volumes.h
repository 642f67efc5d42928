// Engine volumes for an index filled from a path list, so it saves and loads as
// the engine's would: one NTFS volume per top-level folder, with a record map
// over its entries, a few hard links, a journal position, and some open counts.
#pragma once

#include <memory>
#include <vector>

#include "engine/volume.h"
#include "index/index.h"

namespace ov::bench {

// Gives every slot its entries' volume. The index lock is taken exclusively.
void AddCorpusVolumes(Index& index, std::vector<std::unique_ptr<Volume>>& volumes);

}  // namespace ov::bench
