// Path updates of a folder volume through its name map ((parent entry, folded
// name) to entry): the steps the folder watcher applies its changes with, as
// functions over the index, the volume and the file system. Paths are relative
// to the volume's root, without a leading or trailing '\'; "" is the root.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/file_system.h"
#include "engine/volume.h"
#include "index/index.h"

namespace ov {

// The last component of a relative path starts here.
size_t LeafStart(const WString& path);
// Whether [begin, end) holds a '~', the mark of a short (8.3) name.
bool HasTilde(const WChar* begin, const WChar* end);
// The path below the volume's root in long-path form; folders end in '\'.
WString OnDisk(const Volume& volume, const WString& path, bool folder = false);
// Replaces short (8.3) components of path by their long names, so that no
// "PROGRA~1" twin is added. A removed item is gone, so only its folders can
// be looked up then; the longest prefix that resolves is taken. No lock.
void ExpandShortNames(FileSystem& fs, const Volume& volume, bool removal, WString& path);
// Each folder once; a folder below another one in the list is read with it.
void Outermost(std::vector<WString>& folders);

// The entry at a relative path; an empty component matches nothing. Index
// lock held (shared is enough).
uint32_t FindRel(const Index& index, const Volume& volume, const WString& path);
// Removes entry e with everything below it from the index and the name map,
// keeping the volume's counts exact. Index lock held exclusively.
void RemoveNamed(Index& index, VolumeMaps& volume, uint32_t e);
// Adds or refreshes the item at path from what the disk said of it. A folder
// on the way that the index lacks is not added here: its path goes to `reads`
// (the caller walks it, with everything below). newFolder: a folder was added,
// whose contents the caller must read. Index lock held exclusively.
uint32_t TouchPath(Index& index, Volume& volume, const WString& path, const FileStat& stat, bool& newFolder,
                   std::vector<WString>& reads);
// Brings items [begin, end) of `tree` (ReadTree's output: the item at path
// and, for a folder, what lies below it to at most 201 levels, parents first)
// in line with the index: missing ones are added, present ones refreshed.
// entryOf maps the tree's items to entries; with relocate the items before
// begin are found again first (entry numbers moved). Index lock held exclusively.
void AddTree(Index& index, Volume& volume, const WString& path, const Index::Piece& tree, size_t begin, size_t end,
             std::vector<uint32_t>& entryOf, bool relocate);
// Reads the item at path and what is below it from disk into tree (entry 0 the
// item, parents piece-local); no lock. False when it is gone or the volume is
// stopping.
bool ReadTree(FileSystem& fs, const Volume& volume, const WString& path, Index::Piece& tree);

}  // namespace ov
