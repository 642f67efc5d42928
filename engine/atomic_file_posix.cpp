// Native stand-in: write, fsync, rename and an fsync of the folder, which is
// what makes a rename durable on POSIX file systems.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "engine/atomic_file.h"
#include "index/text.h"

namespace ov {
namespace {

std::string Describe(const char* what, int code) {
    return std::string(what) + " failed: " + std::strerror(code) + " (" + std::to_string(code) + ")";
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::Create(const WString& path, std::string& error) {
    Close();
    const int fd = ::open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = Describe("creating the file", errno);
        return false;
    }
    handle = fd;
    return true;
}

bool OutputFile::Write(const void* data, size_t length) {
    if (handle < 0) return false;
    const char* at = static_cast<const char*>(data);
    // A regular file takes a write whole unless something is wrong; a short count
    // is followed by the error on the next call.
    while (length > 0) {
        const ssize_t n = ::write(static_cast<int>(handle), at, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeError = Describe("writing the file", n < 0 ? errno : EIO);
            return false;
        }
        at += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool OutputFile::Rewind() {
    return handle >= 0 && ::lseek(static_cast<int>(handle), 0, SEEK_SET) == 0 &&
           ::ftruncate(static_cast<int>(handle), 0) == 0;
}

bool OutputFile::FlushAndClose(std::string& error) {
    if (handle < 0) {
        error = "the file is not open";
        return false;
    }
    const bool synced = ::fsync(static_cast<int>(handle)) == 0;
    const int syncError = errno;
    const bool closed = ::close(static_cast<int>(handle)) == 0;
    const int closeError = errno;
    handle = -1;
    if (!synced) error = Describe("flushing the file", syncError);
    if (synced && !closed) error = Describe("closing the file", closeError);
    return synced && closed;
}

void OutputFile::Close() {
    if (handle >= 0) ::close(static_cast<int>(handle));
    handle = -1;
}

InputFile::~InputFile() {
    Close();
}

InputFile::Opened InputFile::Open(const WString& path, std::string& error) {
    Close();
    const int fd = ::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        error = Describe("opening the file", code);
        return code == ENOENT ? Opened::Missing : Opened::Failed;
    }
    struct stat info;
    const bool known = ::fstat(fd, &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
        error = known ? "not a regular file" : Describe("reading the file size", errno);
        ::close(fd);
        return Opened::Failed;
    }
    handle = fd;
    size = static_cast<uint64_t>(info.st_size);
    return Opened::Yes;
}

bool InputFile::Read(void* into, size_t length) {
    if (handle < 0) return false;
    char* at = static_cast<char*>(into);
    while (length > 0) {
        const ssize_t n = ::read(static_cast<int>(handle), at, std::min(length, kMaxIoBytes));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void InputFile::Close() {
    if (handle >= 0) ::close(static_cast<int>(handle));
    handle = -1;
    size = 0;
}

bool MoveOver(const WString& from, const WString& to, std::string& error) {
    const std::string target = ToUtf8(to);
    if (::rename(ToUtf8(from).c_str(), target.c_str()) != 0) {
        error = Describe("replacing the file", errno);
        return false;
    }
    // The new name reaches the disk with its folder. Were that to fail, the file
    // is still in place, so the move counts as done.
    const int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

bool RemoveFile(const WString& path) {
    return ::unlink(ToUtf8(path).c_str()) == 0;
}

}  // namespace ov
