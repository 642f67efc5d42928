// Where the saved index's bytes go and where they come from: a file, or memory
// for tests and the fuzzer. Both move whole pieces or fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace ov {

// Largest single platform read or write.
constexpr size_t kMaxIoBytes = size_t{64} << 20;

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all `length` bytes (at most kMaxIoBytes) or fails.
    virtual bool Write(const void* data, size_t length) = 0;
    // Drops everything written so far, so the writer can start again.
    virtual bool Rewind() = 0;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Total bytes the source holds.
    virtual uint64_t Size() const = 0;
    // Reads exactly `length` bytes from where the last read ended, or fails.
    virtual bool Read(void* into, size_t length) = 0;
};

class StringSink final : public ByteSink {
public:
    bool Write(const void* data, size_t length) override {
        bytes.append(static_cast<const char*>(data), length);
        return true;
    }
    bool Rewind() override {
        bytes.clear();
        return true;
    }
    std::string bytes;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, size_t size) : data(static_cast<const char*>(data)), size(size) {}
    uint64_t Size() const override { return size; }
    bool Read(void* into, size_t length) override {
        if (length > size - at) return false;
        if (length > 0) std::memcpy(into, data + at, length);
        at += length;
        return true;
    }

private:
    const char* data;
    size_t size;
    size_t at = 0;
};

}  // namespace ov
