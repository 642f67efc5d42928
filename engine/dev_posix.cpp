// Native stand-in for the volume device: the drive name is a path to an image
// file or block device, read with pread.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "engine/dev.h"
#include "index/text.h"

namespace ov {
namespace {

class FileDev : public Dev {
public:
    explicit FileDev(int fd) : fd(fd) {}
    ~FileDev() override { close(fd); }
    FileDev(const FileDev&) = delete;
    FileDev& operator=(const FileDev&) = delete;

    bool Read(uint64_t offset, void* buffer, int length) override {
        if (length < 0 || offset > static_cast<uint64_t>(INT64_MAX)) return false;
        auto* out = static_cast<char*>(buffer);
        size_t done = 0;
        while (done < static_cast<size_t>(length)) {
            ssize_t got = pread(fd, out + done, static_cast<size_t>(length) - done, static_cast<off_t>(offset + done));
            if (got <= 0) return false;
            done += static_cast<size_t>(got);
        }
        return true;
    }

private:
    int fd;
};

}  // namespace

DevFactory DriveDevFactory(const WString& driveName) {
    const std::string path = ToUtf8(driveName);
    return [path]() -> std::unique_ptr<Dev> {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        try {
            return std::make_unique<FileDev>(fd);
        } catch (const std::bad_alloc&) {
            close(fd);
            return nullptr;
        }
    };
}

}  // namespace ov
