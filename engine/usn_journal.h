// The change journal's wire formats: the answers of the journal query and of a
// journal read, and the journal records inside a read. Every answer comes from
// the drive and is read only within the bytes it returned.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/drive_handle.h"

namespace ov {

// One journal record: only which file changed. For a version 3 record, the
// low 64 bits of its 128-bit file id. Bits 0-47 are the record number, bits
// 48-63 the sequence number of the file that held the record then.
struct UsnChange {
    uint64_t fileReference = 0;
};

struct JournalData {
    uint64_t journalId = 0;
    uint64_t firstUsn = 0;
    uint64_t nextUsn = 0;
};

constexpr uint32_t kJournalReadBytes = 0x100000;

// FSCTL_QUERY_USN_JOURNAL. False with the error code; an answer too short to
// hold the three fields counts as kErrorInvalidParameter.
bool QueryJournal(const DeviceControl& control, JournalData& data, uint32_t& error);

// FSCTL_READ_USN_JOURNAL of every reason from startUsn on, without waiting.
// False with the error code.
bool ReadJournal(const DeviceControl& control, uint64_t startUsn, uint64_t journalId, uint8_t* answer, uint32_t size,
                 uint32_t& returned, uint32_t& error);

// Appends the version 2 and 3 records of a read's answer to changes; next is
// the USN to read from next. False when the answer holds no next USN (fewer
// than 8 bytes); records of other versions, and what does not fit, are skipped.
bool ParseJournalRead(const uint8_t* answer, uint32_t bytes, uint64_t& next, std::vector<UsnChange>& changes);

}  // namespace ov
