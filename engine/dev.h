// Raw access to a volume: the file-table reader reads the volume device itself,
// one device per reader thread so that reads never share a file position.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "index/platform.h"

namespace ov {

class Dev {
public:
    virtual ~Dev() = default;
    // Reads length bytes at the byte offset into buffer; true only when every byte
    // was read. Windows devices opened without buffering need offset, length and
    // buffer aligned to the sector size.
    virtual bool Read(uint64_t offset, void* buffer, int length) = 0;
};

// Makes a new device on every call, or null when the volume cannot be opened.
// The caller owns the device.
using DevFactory = std::function<std::unique_ptr<Dev>()>;

#ifdef _WIN32
// One handle of a volume device, read at explicit offsets.
class WinDev : public Dev {
public:
    explicit WinDev(void* handle) : handle(handle) {}
    ~WinDev() override;
    WinDev(const WinDev&) = delete;
    WinDev& operator=(const WinDev&) = delete;
    bool Read(uint64_t offset, void* buffer, int length) override;

private:
    void* handle;  // INVALID_HANDLE_VALUE = none
};
#endif

// Devices of a drive ("C:") opened unbuffered for large sequential reads. Native
// builds open the name as a file path instead (an image file or block device).
DevFactory DriveDevFactory(const WString& driveName);

}  // namespace ov
