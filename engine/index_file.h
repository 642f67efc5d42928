// Saving the whole index to one file and loading it at the next start, so that
// results show at once and each volume only catches up with what changed.
//
// The engine's SaveDb and LoadDb are these with its index, its saveMutex, its
// indexPath and its posting rule; the functions know nothing else of it.
//
// Lock order: saveMutex, then the index lock. SaveDb holds the index lock
// exclusively only to compact, and shared only in short holds (see
// index_file_writer.h); LoadDb holds it exclusively only to swap the loaded
// content in, and the file is read and checked holding no lock at all.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/index_file_reader.h"
#include "engine/index_file_writer.h"
#include "engine/volume.h"
#include "index/index.h"

namespace ov {

// Compacts the index when it holds deleted entries or garbage, calls
// indexChanged (may be empty) whether or not it compacted, writes path + ".tmp",
// flushes it to the disk and moves it over path. Holds saveMutex throughout, so
// saves never overlap. Every non-null slot of index.volumes must be an
// ov::Volume, and the caller must not hold the index lock. False with a reason
// for the log when the path is empty or any step fails; the file at path is
// then untouched and the temporary file removed. Never throws.
bool SaveDb(Index& index, const WString& path, std::mutex& saveMutex, const std::function<void()>& indexChanged,
            std::string& reason, SaveTimes* times = nullptr);

// Reads and checks the whole file at path into image, taking no lock. False
// with a reason for the log (kNoSavedIndexYet when there is no file); image is
// then to be dropped. Never throws.
bool ReadSavedIndex(const WString& path, LoadedIndex& image, std::string& reason, LoadTimes* times = nullptr);

// ReadSavedIndex, then, when the file is sound, makes it the index's content (see InstallIndex): owner receives the
// loaded volumes, slot i at position i. For start-up, before any volume thread runs. False with a reason for the log
// when the path is empty, the file is missing or unreadable, or anything in it is out of place; the index, owner and
// the file are then untouched. Never throws.
bool LoadDb(Index& index, const WString& path, std::vector<std::unique_ptr<Volume>>& owner, std::string& reason,
            LoadTimes* times = nullptr);
// LoadDb's reason when there is no file: nothing is wrong then.
inline constexpr const char* kNoSavedIndexYet = "there is no saved index yet";

}  // namespace ov
