#include "engine/drive_probe.h"

#include <cstring>

#include "engine/le_bytes.h"

namespace ov {

void PinJournalWith(const DeviceControl& control, JournalPin& pin) {
    uint8_t data[56] = {};  // USN_JOURNAL_DATA
    uint32_t returned = 0, error = 0;
    bool ok = control(kQueryUsnJournal, nullptr, 0, data, sizeof data, returned, error);
    if (!ok && error == kErrorJournalNotActive) {
        uint8_t create[16] = {};  // CREATE_USN_JOURNAL_DATA: 32 MiB, grown by 8 MiB
        const uint64_t maximumSize = 0x2000000, allocationDelta = 0x800000;
        std::memcpy(create, &maximumSize, 8);
        std::memcpy(create + 8, &allocationDelta, 8);
        uint32_t ignored = 0;
        control(kCreateUsnJournal, create, sizeof create, nullptr, 0, ignored, error);
        ok = control(kQueryUsnJournal, nullptr, 0, data, sizeof data, returned, error);
    }
    pin.present = ok && returned >= 24;
    pin.journalId = pin.present ? LeU64(data) : 0;
    pin.nextUsn = pin.present ? LeU64(data + 16) : 0;
}

bool SeekPenaltyWith(const DeviceControl& control) {
    const uint32_t query[3] = {7, 0, 0};  // StorageDeviceSeekPenaltyProperty, PropertyStandardQuery
    uint8_t descriptor[12] = {};          // DEVICE_SEEK_PENALTY_DESCRIPTOR
    uint32_t returned = 0, error = 0;
    return control(kQueryStorageProperty, query, sizeof query, descriptor, sizeof descriptor, returned, error) &&
           returned >= 12 && descriptor[8] != 0;
}

}  // namespace ov
