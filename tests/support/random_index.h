// Seeded random indexes for property tests: names that collide on purpose
// (case variants, shared prefixes longer than eight bytes, dotted edge cases,
// names whose folded form is shorter), tied sizes and times, and volume pieces
// shaped like a file-table scan with hard links.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "index/index.h"

namespace ov::testing {

std::string RandomName(std::mt19937_64& rng);
uint64_t RandomSize(std::mt19937_64& rng);
uint64_t RandomTime(std::mt19937_64& rng);

// Adds count entries (about a fifth folders) below root, each under a random
// folder of those added so far. Returns the new entry numbers.
std::vector<uint32_t> AddRandomTree(Index& index, std::mt19937_64& rng, uint32_t root, int slot, size_t count);

// A volume's piece: a root named rootName (record 5) and count further entries.
// Records are numbered from 24; about one file in ten has a second name (a hard
// link) in another folder. files counts every file name, folders every folder
// but the root.
Index::Piece RandomPiece(std::mt19937_64& rng, const std::string& rootName, size_t count);

// Picks a random live entry that is not a volume root; kNoEntry when none was found.
uint32_t RandomLiveEntry(const Index& index, std::mt19937_64& rng, bool foldersOnly = false);

// True when `ancestor` is entry itself or one of its first 256 ancestors.
bool IsWithin(const Index& index, uint32_t entry, uint32_t ancestor);

}  // namespace ov::testing
