#include <windows.h>

#include "engine/virtual_buffer.h"

namespace ov {

VirtualBuffer::VirtualBuffer(size_t size) : length(size) {
    if (size) bytes = static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

VirtualBuffer::~VirtualBuffer() {
    if (bytes) VirtualFree(bytes, 0, MEM_RELEASE);
}

}  // namespace ov
