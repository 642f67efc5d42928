// Entry lists for benchmarks: a seeded generator of a realistic folder tree, and
// the one routine that adds such a list to an index. Both the generator and the
// corpus loader produce EntryList, so every benchmark fills its index the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "index/index.h"

namespace ov::bench {

// One entry to add; parents come before their children.
struct EntrySpec {
    uint32_t parent;  // position in EntryList::entries; kNoEntry for a volume root
    uint32_t nameOffset;
    uint32_t foldedOffset;
    uint16_t nameLength;
    uint16_t foldedLength;
    uint32_t flags;  // EntryFlags, slot bits and attributes
    uint64_t size;   // files only; the index sums folders itself
    uint64_t modified;
    uint64_t created;
};

struct EntryList {
    std::vector<EntrySpec> entries;
    std::string names;   // names back to back, no separators
    std::string folded;  // their FoldCaseUtf8 forms
    size_t folders = 0;
    size_t volumes = 0;

    // Folds the name; false (nothing appended) when it is too long for an entry.
    bool Append(uint32_t parent, std::string_view name, uint32_t flags, uint64_t size, uint64_t modified,
                uint64_t created);
    std::string_view NameOf(const EntrySpec& e) const {
        return std::string_view(names).substr(e.nameOffset, e.nameLength);
    }
    std::string_view FoldedOf(const EntrySpec& e) const {
        return std::string_view(folded).substr(e.foldedOffset, e.foldedLength);
    }
    // Average name length in bytes and average depth (a volume root has depth 1).
    double AverageNameBytes() const;
    double AverageDepth() const;
};

// Flags of a volume root, a folder and a file of volume `slot`.
uint32_t RootFlags(int slot);
uint32_t FolderFlags(int slot);
uint32_t FileFlags(int slot);
// Name of volume `slot` as a drive: "C:" for 0 up to "Z:", then "V24:" and so on.
std::string VolumeName(int slot);

// Seeded size (bytes, roughly log-normal) and times (FILETIME, 2012-2024, created <= modified) of a file.
void RandomFileMeta(std::mt19937_64& rng, uint64_t& size, uint64_t& modified, uint64_t& created);

// `count` entries on one volume "C:": about 10% folders, mean depth about 7, names
// about 19 bytes with a realistic mix of extensions and a few non-ASCII names.
// Emitted depth first, each folder followed by its files, as a folder scan finds them.
EntryList MakeSyntheticEntries(size_t count, uint64_t seed);

// Adds every entry in order, holding the index lock exclusively. False with an
// error text when the index refuses one (the entries added so far stay).
bool AddEntries(Index& index, const EntryList& list, std::string& error);

// What the index's entry table and name pools occupy, in bytes.
uint64_t IndexBytes(const Index& index);

}  // namespace ov::bench
