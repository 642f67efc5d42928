// Folder change notifications: one folder opened for ReadDirectoryChangesW
// over its whole subtree, with at most one overlapped read outstanding, and
// the parsing of what a read returns. The Windows build calls the real API;
// natively an inotify stand-in produces the same records from a Linux tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/stop_event.h"
#include "index/platform.h"

namespace ov {

// FILE_ACTION_* codes of a change record.
namespace FileAction {
constexpr uint32_t Added = 1;
constexpr uint32_t Removed = 2;
constexpr uint32_t Modified = 3;
constexpr uint32_t RenamedOld = 4;
constexpr uint32_t RenamedNew = 5;
}  // namespace FileAction

// FILE_NOTIFY_CHANGE_FILE_NAME | DIR_NAME | ATTRIBUTES | SIZE | LAST_WRITE |
// CREATION: last-access and security changes are not watched.
constexpr uint32_t kWatchFilter = 0x5F;

// One notification as taken from a read's buffer.
struct DirChange {
    uint32_t action = 0;  // FileAction
    WString path;         // relative to the watched folder, '\'-separated, no leading '\'
};

// Appends the records of one completed read of `bytes` bytes
// (FILE_NOTIFY_INFORMATION records linked by NextEntryOffset). Nothing in the
// buffer is trusted: every name is cut to the bytes returned, a next offset
// that does not move forward or leaves the bytes ends the walk, and a path
// Windows never reports (empty, an empty, "." or ".." component, a NUL unit)
// is dropped. At most `bytes` / 12 records come out.
void ParseChanges(const uint8_t* data, size_t bytes, std::vector<DirChange>& out);

class ChangeWatch {
public:
    enum class Wait { Completed, Stopped, TimedOut };
    // The buffer every read fills: enough for the largest read length.
    static constexpr uint32_t kBufferBytes = 262144;

    virtual ~ChangeWatch() = default;  // implementations cancel an outstanding read first

    // Issues one read of at most `length` bytes (at most kBufferBytes) for the
    // whole subtree. False when it was refused; nothing is outstanding then.
    virtual bool Read(uint32_t length) = 0;
    // Waits up to ms (StopEvent::kForever: no time-out) for the outstanding
    // read to complete or `stop` to be signalled; a failed wait counts as
    // Stopped. Changes made while no read is outstanding are kept for the next
    // one, as long as they fit into the first read's length.
    virtual Wait WaitFor(StopEvent& stop, uint32_t ms) = 0;
    // Collects the completed read: false when it failed (error holds the
    // Windows code), otherwise the bytes it returned in Data(); 0 bytes means
    // changes were lost because they did not fit.
    virtual bool Finish(uint32_t& bytes, uint32_t& error) = 0;
    virtual const uint8_t* Data() const = 0;
    // Cancels the outstanding read, if any, and waits until it let go of the buffer.
    virtual void Cancel() = 0;
};

// The platform's watch, as SystemFileSystem().WatchFolder opens it: on Windows
// `folder` is a long-path form; natively the Linux path of the folder. Null
// with the Windows error code when the folder cannot be opened.
#ifdef _WIN32
std::unique_ptr<ChangeWatch> OpenChangeWatch(const WString& folder, uint32_t& error);
#else
std::unique_ptr<ChangeWatch> OpenChangeWatch(const std::string& folder, uint32_t& error);
#endif

}  // namespace ov
