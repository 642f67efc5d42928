// What a file-table scan asks the drive before reading it: the change journal's
// position, pinned first so that every change made during the read is replayed
// afterwards, and whether the disk seeks (one reader) or not (several).
// Where a control fails (no journal, or Wine) there is no journal and the disk
// counts as solid-state.
#pragma once

#include <cstdint>

#include "engine/drive_handle.h"
#include "index/platform.h"

namespace ov {

struct JournalPin {
    bool opened = false;     // the drive could be opened
    uint32_t openError = 0;  // GetLastError of the failed open
    bool present = false;    // a journal exists (or was created)
    uint64_t journalId = 0;
    uint64_t nextUsn = 0;
};

// Queries the journal, creating it when it is not active, and queries again.
void PinJournalWith(const DeviceControl& control, JournalPin& pin);
// True when the seek-penalty query succeeds and says the disk seeks.
bool SeekPenaltyWith(const DeviceControl& control);

// Opens "\\.\" + driveName and pins its journal; opened is false when the
// drive cannot be opened.
JournalPin PinJournal(const WString& driveName);
// A drive that cannot be opened or asked counts as solid-state.
bool IncursSeekPenalty(const WString& driveName);

}  // namespace ov
