// Native stand-in: the drive is an image file, which answers no control.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "engine/drive_handle.h"
#include "index/text.h"

namespace ov {

DriveHandle::~DriveHandle() {
    if (handle != -1) close(static_cast<int>(handle));
}

bool DriveHandle::Open(const WString& driveName, Access, uint32_t& error) {
    const int fd = open(ToUtf8(driveName).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = static_cast<uint32_t>(errno);
        return false;
    }
    handle = fd;
    return true;
}

DeviceControl DriveHandle::Control() const {
    return [](uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t& returned, uint32_t& error) {
        returned = 0;
        error = kErrorNotSupported;
        return false;
    };
}

}  // namespace ov
