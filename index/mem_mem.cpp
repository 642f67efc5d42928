#include "index/mem_mem.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || defined(__x86_64__)
#include <emmintrin.h>
#define OV_MEMMEM_SSE2 1
#endif

namespace ov {
namespace {

// Both ends already agree; compare what lies between them. Inline word compares:
// a library call per candidate costs more than the scan on short needles.
inline bool MiddleMatches(const char* at, const char* needle, size_t needleLength) {
    if (needleLength <= 2) return true;
    const char* a = at + 1;
    const char* b = needle + 1;
    size_t m = needleLength - 2;
    for (; m >= 8; m -= 8, a += 8, b += 8) {
        uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) return false;
    }
    if (m >= 4) {
        // Two overlapping 4-byte compares cover 4 to 7 bytes.
        uint32_t x1, y1, x2, y2;
        std::memcpy(&x1, a, 4);
        std::memcpy(&y1, b, 4);
        std::memcpy(&x2, a + m - 4, 4);
        std::memcpy(&y2, b + m - 4, 4);
        return x1 == y1 && x2 == y2;
    }
    for (; m > 0; --m, ++a, ++b) {
        if (*a != *b) return false;
    }
    return true;
}

inline unsigned LowestBit(unsigned mask) {
#if defined(__GNUC__) || defined(__clang__)
    return static_cast<unsigned>(__builtin_ctz(mask));
#else
    unsigned bit = 0;
    while (!(mask & 1u)) {
        mask >>= 1;
        ++bit;
    }
    return bit;
#endif
}

}  // namespace

const char* MemMem(const char* haystack, size_t haystackLength, const char* needle, size_t needleLength) {
    if (needleLength == 0) return haystack;
    if (haystackLength < needleLength) return nullptr;

    const char first = needle[0];
    const char last = needle[needleLength - 1];
    size_t i = 0;
#ifdef OV_MEMMEM_SSE2
    if (needleLength == 1) {
        // Not memchr: on names of a few dozen bytes the call into the C library
        // costs more than the search, many times more under Wine.
        const __m128i lanes = _mm_set1_epi8(first);
        for (; i + 16 <= haystackLength; i += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i));
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lanes)));
            if (mask != 0) return haystack + i + LowestBit(mask);
        }
        for (; i < haystackLength; ++i) {
            if (haystack[i] == first) return haystack + i;
        }
        return nullptr;
    }
    // Sixteen start positions per step: a position is a candidate only when both the
    // first and the last byte of the needle agree, so the middle bytes are rarely read.
    const __m128i firstLanes = _mm_set1_epi8(first);
    const __m128i lastLanes = _mm_set1_epi8(last);
    for (; i + needleLength + 15 <= haystackLength; i += 16) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i + needleLength - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, firstLanes), _mm_cmpeq_epi8(tail, lastLanes))));
        while (mask != 0) {
            const char* at = haystack + i + LowestBit(mask);
            if (MiddleMatches(at, needle, needleLength)) return at;
            mask &= mask - 1;
        }
    }
#endif
    for (; i + needleLength <= haystackLength; ++i) {
        const char* at = haystack + i;
        if (at[0] == first && at[needleLength - 1] == last && MiddleMatches(at, needle, needleLength)) return at;
    }
    return nullptr;
}

}  // namespace ov
