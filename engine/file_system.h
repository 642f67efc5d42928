// The file-system calls of the folder scanner, the folder watcher and the
// volume list, behind a small interface: the Windows build calls the real API,
// the native build maps paths onto the Linux file system, and tests put fakes
// in front of either (drives that come and go, a listing that hangs like a
// dead share, scripted change records).
//
// Paths are what the scanner hands Windows: long-path form ("\\?\C:\dir\",
// "\\?\UNC\server\share\dir\"), folders ending in '\'. Implementations must be
// callable from many threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/change_watch.h"
#include "index/platform.h"

namespace ov {

// One directory entry as a listing reports it.
struct FindData {
    const WChar* name;  // not NUL-terminated necessarily; valid during the call only
    size_t nameLength;
    uint32_t attributes;  // FILE_ATTRIBUTE_*
    uint64_t size;        // files only
    uint64_t modified;    // FILETIME
    uint64_t created;
};

class FolderVisitor {
public:
    // Called for every entry but "." and ".."; false ends the listing.
    virtual bool Item(const FindData& item) = 0;

protected:
    ~FolderVisitor() = default;
};

// GetDriveTypeW's answers.
enum class DriveType : uint32_t {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6
};

// GetFileAttributesExW's answer.
struct FileStat {
    uint32_t attributes = 0;  // FILE_ATTRIBUTE_*
    uint64_t size = 0;        // 0 for a folder
    uint64_t modified = 0;    // FILETIME
    uint64_t created = 0;
};

struct DriveInfo {
    WString label;
    WString fileSystem;
    uint32_t serial = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Lists folder (long-path form, ending in '\'). False, visiting nothing,
    // when it cannot be opened.
    virtual bool ListFolder(const WString& folder, FolderVisitor& visitor) = 0;
    // The path's attributes; false with the Windows error code.
    virtual bool Attributes(const WString& path, uint32_t& attributes, uint32_t& error) = 0;
    // Attributes, size and times of the path itself (a link is not followed);
    // false with the Windows error code.
    virtual bool Stat(const WString& path, FileStat& stat, uint32_t& error) = 0;
    // The path with every short (8.3) component replaced by its long name;
    // false when the path does not exist.
    virtual bool LongName(const WString& path, WString& longPath) = 0;
    // Opens folder (long-path form) for change notifications over its whole
    // subtree; null with the Windows error code when it cannot be opened.
    virtual std::unique_ptr<ChangeWatch> WatchFolder(const WString& folder, uint32_t& error) = 0;
    // Drive roots ("C:\") in the platform's order.
    virtual std::vector<WString> DriveRoots() = 0;
    virtual DriveType TypeOf(const WString& root) = 0;
    // Label, serial number and file-system name; false when the volume cannot be
    // read (no medium, gone). Never shows a critical-error dialog.
    virtual bool VolumeInfo(const WString& root, DriveInfo& info) = 0;
};

// The platform's own file system; lives for the whole process.
FileSystem& SystemFileSystem();

// Windows error codes the native side and the scanner report.
namespace WinError {
constexpr uint32_t InvalidFunction = 1;  // the file system does not support the call
constexpr uint32_t FileNotFound = 2;
constexpr uint32_t PathNotFound = 3;
constexpr uint32_t TooManyOpenFiles = 4;
constexpr uint32_t AccessDenied = 5;
constexpr uint32_t NotEnoughMemory = 8;
constexpr uint32_t BadNetPath = 53;
constexpr uint32_t Directory = 267;  // ERROR_DIRECTORY: the name is not a folder
}  // namespace WinError

}  // namespace ov
