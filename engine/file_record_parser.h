// NTFS FILE records reduced to what the index keeps: a FileRec with the
// record's attributes, size, times and folder flag, and one NameRec per kept
// $FILE_NAME with its name appended to the UTF-8 pools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/file_record.h"

namespace ov {

constexpr uint32_t kUpdateStride = 512;

// Checks a multi-sector record's update sequence and puts the saved bytes back
// in place. Strict: the header must hold exactly one entry per 512-byte stride
// and every stride must end in the sequence number, else false. Tolerant: an
// unusable header leaves the record as it is and a mismatch stops fixing; true.
bool ApplyUpdateSequence(uint8_t* record, uint32_t size, bool tolerant);

// Parses one FILE record of `size` bytes, fixing it up in place. True for an
// in-use record: out, baseReference (0 in a base record) and the rows and
// pools are filled. False for bytes that are no FILE record, fail the strict
// check, or a record not in use. With extensionRecords given, the records a
// resident attribute list places names or data in are added to it once each.
bool ParseFileRecord(uint8_t* record, uint32_t size, uint32_t recordNumber, FileRec& out, uint32_t& baseReference,
                     std::vector<NameRec>& rows, std::string& namePool, std::string& foldedPool, bool tolerant,
                     std::vector<uint32_t>* extensionRecords);

// Adds to records, once each, the records other than recordNumber that an
// attribute list's value places names or data in.
void AddExtensionRecords(const uint8_t* list, uint64_t length, uint32_t recordNumber, std::vector<uint32_t>& records);

}  // namespace ov
