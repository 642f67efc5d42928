// Files that are only ever replaced whole. A new version is written to a file
// of its own beside the old one, flushed to the disk and then moved over the old
// one in a single step that itself reaches the disk before it returns, so after
// a crash or a power loss the path holds the old version or the new one, never
// a torn mix. Readers share the file for reading and deleting, so a replace
// that runs while they read (another copy of the program saving) never fails
// because of them; they go on reading the version they opened.
//
// Errors are texts for the log, each with the platform's error code.
#pragma once

#include <cstdint>
#include <string>

#include "engine/byte_stream.h"
#include "index/platform.h"

namespace ov {

// A file written front to back. Not thread-safe; one writer.
class OutputFile final : public ByteSink {
public:
    OutputFile() = default;
    ~OutputFile();  // closes without flushing
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or empties an existing one, shared with nobody.
    bool Create(const WString& path, std::string& error);
    // One platform write; false when it fails or writes fewer bytes.
    bool Write(const void* data, size_t length) override;
    // What the last failed write reported; empty when none failed.
    const std::string& WriteError() const { return writeError; }
    bool Rewind() override;
    // Flushes the file's data to the disk and closes it; false when either fails.
    bool FlushAndClose(std::string& error);
    void Close();

private:
    intptr_t handle = -1;
    std::string writeError;
};

// A file read front to back.
class InputFile final : public ByteSource {
public:
    enum class Opened { Yes, Missing, Failed };

    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens for reading, sharing read and delete access, and learns the size.
    Opened Open(const WString& path, std::string& error);
    uint64_t Size() const override { return size; }
    // Platform reads of at most kMaxIoBytes each until `length` bytes arrived;
    // stops at the first failed or empty read.
    bool Read(void* into, size_t length) override;
    void Close();

private:
    intptr_t handle = -1;
    uint64_t size = 0;
};

// Moves `from` over `to`, replacing it, and returns only once the move is on
// the disk. On failure both files are as they were.
bool MoveOver(const WString& from, const WString& to, std::string& error);
// Deletes the file; false when it could not be deleted (a missing file included).
bool RemoveFile(const WString& path);

}  // namespace ov
