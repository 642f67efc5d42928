#include <cstdlib>
#include <cstring>

#include "engine/virtual_buffer.h"

namespace ov {

constexpr size_t kPage = 4096;

VirtualBuffer::VirtualBuffer(size_t size) : length(size) {
    if (size == 0 || size > SIZE_MAX - kPage) return;
    const size_t rounded = (size + kPage - 1) / kPage * kPage;
    bytes = static_cast<uint8_t*>(std::aligned_alloc(kPage, rounded));
    // Fresh pages from the system come zeroed; keep that promise here too.
    if (bytes) std::memset(bytes, 0, rounded);
}

VirtualBuffer::~VirtualBuffer() {
    std::free(bytes);
}

}  // namespace ov
