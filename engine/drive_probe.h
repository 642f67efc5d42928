// What a file-table scan asks the drive before reading it: the change journal's
// position, pinned first so that every change made during the read is replayed
// afterwards, and whether the disk seeks (one reader) or not (several).
// Where a control fails (no journal, or Wine) there is no journal and the disk
// counts as solid-state.
#pragma once

#include <cstdint>
#include <functional>

#include "index/platform.h"

namespace ov {

struct JournalPin {
    bool opened = false;     // the drive could be opened
    uint32_t openError = 0;  // GetLastError of the failed open
    bool present = false;    // a journal exists (or was created)
    uint64_t journalId = 0;
    uint64_t nextUsn = 0;
};

// One device control: code, input, output; true on success with the bytes
// returned, else false with the error code. The seam the logic is tested by.
using DeviceControl = std::function<bool(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                         uint32_t& returned, uint32_t& error)>;

constexpr uint32_t kQueryUsnJournal = 0x900F4;
constexpr uint32_t kCreateUsnJournal = 0x900E7;
constexpr uint32_t kQueryStorageProperty = 0x2D1400;
constexpr uint32_t kErrorJournalNotActive = 1179;

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
