// One open handle of a volume device ("\\.\C:") and the device controls sent
// to it. The change journal and the file-table scan's probes reach the drive
// only through DeviceControl, so tests answer the controls instead of a drive.
#pragma once

#include <cstdint>
#include <functional>

#include "index/platform.h"

namespace ov {

// One device control: code, input, output; true on success with the bytes
// returned, else false with the error code.
using DeviceControl = std::function<bool(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                         uint32_t& returned, uint32_t& error)>;

constexpr uint32_t kQueryUsnJournal = 0x900F4;
constexpr uint32_t kCreateUsnJournal = 0x900E7;
constexpr uint32_t kReadUsnJournal = 0x900BB;
constexpr uint32_t kGetNtfsFileRecord = 0x90068;
constexpr uint32_t kQueryStorageProperty = 0x2D1400;

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorJournalDeleteInProgress = 1178;
constexpr uint32_t kErrorJournalNotActive = 1179;
constexpr uint32_t kErrorJournalEntryDeleted = 1181;

class DriveHandle {
public:
    enum class Access { Read, ReadWrite, QueryOnly };

    DriveHandle() = default;
    ~DriveHandle();
    DriveHandle(const DriveHandle&) = delete;
    DriveHandle& operator=(const DriveHandle&) = delete;

    // Opens "\\.\" + driveName for reading (ReadWrite: and writing), sharing
    // read, write and delete; QueryOnly asks for no access rights and shares
    // read and write. Natively the name is a path (an image file), opened for
    // reading. False with the error code.
    bool Open(const WString& driveName, Access access, uint32_t& error);
    // Controls sent to the open handle; valid while it stays open. Natively
    // every control fails with kErrorNotSupported, as under Wine.
    DeviceControl Control() const;

private:
    intptr_t handle = -1;  // HANDLE on Windows, a file descriptor natively; -1 = none
};

}  // namespace ov
