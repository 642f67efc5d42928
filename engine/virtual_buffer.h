// Page-aligned memory for raw reads: unbuffered device reads need buffers
// aligned to the sector size, and a page is aligned to every sector size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ov {

class VirtualBuffer {
public:
    // data() is null when the memory could not be had.
    explicit VirtualBuffer(size_t size);
    ~VirtualBuffer();
    VirtualBuffer(const VirtualBuffer&) = delete;
    VirtualBuffer& operator=(const VirtualBuffer&) = delete;

    uint8_t* data() const { return bytes; }
    size_t size() const { return bytes ? length : 0; }

private:
    uint8_t* bytes = nullptr;
    size_t length = 0;
};

}  // namespace ov
