// Seeded random indexes for the property and oracle tests: names that collide on
// purpose (case variants, shared prefixes longer than eight bytes, dotted edge
// cases, names whose folded form is shorter) or that share search fragments,
// tied sizes and times, hidden and system attributes, trees grown deep as well as
// wide, volume pieces shaped like a file-table scan with hard links, and random
// removals, renames and moves left uncompacted.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "index/index.h"

namespace ov::testing {

using Rng = std::mt19937_64;

// A random file or folder name (a file's may carry an extension).
std::string RandomName(Rng& rng, bool folder = false);
uint64_t RandomSize(Rng& rng);
uint64_t RandomTime(Rng& rng);  // FILETIME ticks, with repeats so ranges have ties
uint32_t RandomAttributes(Rng& rng);

// Adds count entries (about a fifth folders) below root in `slot`, each under one
// of the folders added so far, recent ones preferred. Returns the new entries.
std::vector<uint32_t> AddRandomTree(Index& index, Rng& rng, uint32_t root, int slot, size_t count);

struct RandomIndexShape {
    size_t entries = 1500;
    bool mutate = true;   // remove, rename, move and change entries after building
    bool exclude = true;  // exclude one or two folders
};

// Fills an empty index with one to four volume roots ("C:", "D:", a share, "E:\")
// and random trees below them. The caller owns the index alone.
void FillRandomIndex(Index& index, Rng& rng, const RandomIndexShape& shape);

// One random change: add, remove, rename, move, or new attributes, size and
// times. Caller holds the index lock exclusively.
void RandomChange(Index& index, Rng& rng);

// A volume's piece: a root named rootName (record 5) and count further entries.
// Records are numbered from 24; about one file in ten has a second name (a hard
// link) in another folder. files counts every file name, folders every folder
// but the root.
Index::Piece RandomPiece(Rng& rng, const std::string& rootName, size_t count);

// A random live entry that is not a volume root; kNoEntry when none was found.
uint32_t RandomLiveEntry(const Index& index, Rng& rng, bool foldersOnly = false);

// True when `ancestor` is entry itself or one of its first 256 ancestors.
bool IsWithin(const Index& index, uint32_t entry, uint32_t ancestor);

// Folded full paths of some live folders (for parent:, path terms, exclusions).
std::vector<std::string> SomeFolderPaths(const Index& index, Rng& rng, size_t count);

}  // namespace ov::testing
