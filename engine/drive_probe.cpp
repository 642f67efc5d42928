#include "engine/drive_probe.h"

#include <cstring>

#include "engine/usn_journal.h"

namespace ov {

bool CreateJournalWith(const DeviceControl& control, uint32_t& error) {
    uint8_t create[16] = {};  // CREATE_USN_JOURNAL_DATA: 32 MiB, grown by 8 MiB
    const uint64_t maximumSize = 0x2000000, allocationDelta = 0x800000;
    std::memcpy(create, &maximumSize, 8);
    std::memcpy(create + 8, &allocationDelta, 8);
    uint32_t ignored = 0;
    return control(kCreateUsnJournal, create, sizeof create, nullptr, 0, ignored, error);
}

bool CreateJournal(const WString& driveName, uint32_t& error) {
    DriveHandle drive;
    return drive.Open(driveName, DriveHandle::Access::ReadWrite, error) && CreateJournalWith(drive.Control(), error);
}

void PinJournalWith(const DeviceControl& control, const std::function<bool(uint32_t& error)>& create, JournalPin& pin) {
    JournalData data;
    uint32_t error = 0;
    bool ok = QueryJournal(control, data, error);
    if (!ok && error == kErrorJournalNotActive) ok = create(error) && QueryJournal(control, data, error);
    pin.present = ok;
    pin.error = ok ? 0 : error;
    pin.journalId = ok ? data.journalId : 0;
    pin.nextUsn = ok ? data.nextUsn : 0;
}

bool SeekPenaltyWith(const DeviceControl& control) {
    const uint32_t query[3] = {7, 0, 0};  // StorageDeviceSeekPenaltyProperty, PropertyStandardQuery
    uint8_t descriptor[12] = {};          // DEVICE_SEEK_PENALTY_DESCRIPTOR
    uint32_t returned = 0, error = 0;
    return control(kQueryStorageProperty, query, sizeof query, descriptor, sizeof descriptor, returned, error) &&
           returned >= 12 && descriptor[8] != 0;
}

}  // namespace ov
