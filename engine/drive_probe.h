// What a file-table scan asks the drive before reading it: the change journal's
// position, pinned first so that every change made during the read is replayed
// afterwards, and whether the disk seeks (one reader) or not (several).
// Where a control fails (no journal, or Wine) there is no journal and the disk
// counts as solid-state.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/drive_handle.h"
#include "index/platform.h"

namespace ov {

struct JournalPin {
    bool present = false;  // a journal exists (or was created)
    uint32_t error = 0;    // when none: the query's error, or the creation's
    uint64_t journalId = 0;
    uint64_t nextUsn = 0;
};

// Creates the change journal (32 MiB, grown by 8 MiB). The control is refused
// on a handle opened only for reading: control must be of one opened for
// reading and writing. False with the error code.
bool CreateJournalWith(const DeviceControl& control, uint32_t& error);
// Opens "\\.\" + driveName for reading and writing and creates its journal.
bool CreateJournal(const WString& driveName, uint32_t& error);
using JournalCreator = std::function<bool(const WString& driveName, uint32_t& error)>;

// Queries the journal; when none is active, creates it with create and queries
// again. One being deleted (kErrorJournalDeleteInProgress) can be neither used
// nor replaced until the deletion ends: the pin is then absent, to be taken
// again later.
void PinJournalWith(const DeviceControl& control, const std::function<bool(uint32_t& error)>& create, JournalPin& pin);
// True when the seek-penalty query succeeds and says the disk seeks.
bool SeekPenaltyWith(const DeviceControl& control);

}  // namespace ov
