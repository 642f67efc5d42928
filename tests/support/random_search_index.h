// Random indexes for the search tests: a few volumes of nested folders and files
// whose names share fragments, cases, accents, dots and blanks, then removals,
// renames and moves left uncompacted, hidden/system attributes and exclusions.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "index/index.h"

namespace ov::testing {

struct RandomIndexShape {
    size_t entries = 1500;
    bool mutate = true;   // remove, rename, move and change entries after building
    bool exclude = true;  // exclude one or two folders
};

// Fills an empty index. Index lock not needed: the caller owns the index alone.
void FillRandomIndex(Index& index, std::mt19937& rng, const RandomIndexShape& shape);

// One random change of the kinds FillRandomIndex makes (add, remove, rename,
// move, new attributes/size/times). Caller holds the index lock exclusively.
void RandomChange(Index& index, std::mt19937& rng);

// A random name from the shared fragments (file names may carry an extension).
std::string RandomSearchName(std::mt19937& rng, bool folder);

// Folded full paths of some live folders (for parent:, path terms, exclusions).
std::vector<std::string> SomeFolderPaths(const Index& index, std::mt19937& rng, size_t count);

}  // namespace ov::testing
