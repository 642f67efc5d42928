#include "engine/usn_journal.h"

#include <cstring>

#include "engine/le_bytes.h"

namespace ov {
namespace {

constexpr uint32_t kRecordMin = 60;    // USN_RECORD_V2 with an empty name
constexpr uint32_t kRecordV3Min = 76;  // USN_RECORD_V3 with an empty name

}  // namespace

bool QueryJournal(const DeviceControl& control, JournalData& data, uint32_t& error) {
    uint8_t answer[56] = {};  // USN_JOURNAL_DATA_V0
    uint32_t returned = 0;
    error = 0;
    if (!control(kQueryUsnJournal, nullptr, 0, answer, sizeof answer, returned, error)) return false;
    if (returned < 24) {
        error = kErrorInvalidParameter;
        return false;
    }
    data.journalId = LeU64(answer);
    data.firstUsn = LeU64(answer + 8);
    data.nextUsn = LeU64(answer + 16);
    return true;
}

bool ReadJournal(const DeviceControl& control, uint64_t startUsn, uint64_t journalId, uint8_t* answer, uint32_t size,
                 uint32_t& returned, uint32_t& error) {
    // READ_USN_JOURNAL_DATA_V0: StartUsn, ReasonMask, ReturnOnlyOnClose, Timeout,
    // BytesToWaitFor, UsnJournalID.
    uint8_t request[40] = {};
    const uint32_t everyReason = 0xFFFFFFFFu;
    std::memcpy(request, &startUsn, 8);
    std::memcpy(request + 8, &everyReason, 4);
    std::memcpy(request + 32, &journalId, 8);
    returned = 0;
    error = 0;
    return control(kReadUsnJournal, request, sizeof request, answer, size, returned, error);
}

bool ParseJournalRead(const uint8_t* answer, uint32_t bytes, uint64_t& next, std::vector<UsnChange>& changes) {
    if (bytes < 8) return false;
    next = LeU64(answer);
    for (uint32_t at = 8; bytes - at >= kRecordMin;) {
        const uint8_t* record = answer + at;
        const uint32_t length = LeU32(record);
        if (length < kRecordMin || length > bytes - at) break;
        const uint16_t version = LeU16(record + 4);
        if (version == 2 || (version == 3 && length >= kRecordV3Min)) changes.push_back(UsnChange{LeU64(record + 8)});
        at += length;
    }
    return true;
}

}  // namespace ov
