// Native stand-in: the drive is an image file; it has no journal and no seeks.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "engine/drive_probe.h"
#include "index/text.h"

namespace ov {

JournalPin PinJournal(const WString& driveName) {
    JournalPin pin;
    const int fd = open(ToUtf8(driveName).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        pin.openError = static_cast<uint32_t>(errno);
        return pin;
    }
    pin.opened = true;
    close(fd);
    return pin;
}

bool IncursSeekPenalty(const WString&) {
    return false;
}

}  // namespace ov
