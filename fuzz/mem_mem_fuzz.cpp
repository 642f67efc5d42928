// MemMem against a naive search: the first byte splits the input into needle
// (at most 40 bytes) and haystack.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "index/mem_mem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t nl = std::min<size_t>(data[0] % 41, size - 1);
    // Exact-size copies so any read past either end is caught.
    std::vector<char> needle(data + 1, data + 1 + nl);
    std::vector<char> hay(data + 1 + nl, data + size);
    const char* h = hay.empty() ? nullptr : hay.data();
    const char* n = needle.empty() ? nullptr : needle.data();
    static const char kEmpty = 0;
    if (!h) h = &kEmpty;
    if (!n) n = &kEmpty;

    const char* want = nullptr;
    if (nl <= hay.size()) {
        for (size_t i = 0; i + nl <= hay.size(); ++i) {
            if (nl == 0 || std::memcmp(h + i, n, nl) == 0) {
                want = h + i;
                break;
            }
        }
    }
    if (ov::MemMem(h, hay.size(), n, nl) != want) std::abort();
    return 0;
}
