#include "index/mem_mem.h"

#include <bit>
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

#ifdef _WIN32
// The first c in h[0, length), in place of memchr, which the Windows C runtime
// (and Wine's) walks byte by byte; glibc's is faster than this on short names.
// Sixteen bytes a step (eight below sixteen), the last step overlapping the one
// before it instead of a byte-by-byte tail.
const char* FindByte(const char* h, size_t length, char c) {
    size_t i = 0;
#ifdef OV_MEMMEM_SSE2
    if (length >= 16) {
        const __m128i lanes = _mm_set1_epi8(c);
        auto matches = [&](size_t at) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + at));
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lanes)));
        };
        for (; i + 16 <= length; i += 16) {
            if (const unsigned mask = matches(i)) return h + i + LowestBit(mask);
        }
        if (i == length) return nullptr;
        const size_t at = length - 16;  // its lanes below i were searched already
        const unsigned mask = matches(at) >> (i - at);
        return mask ? h + i + LowestBit(mask) : nullptr;
    }
#endif
    if (length >= 8) {
        // A byte equal to c becomes zero; the lowest zero byte is flagged exactly
        // (a borrow only runs upwards from a zero byte).
        constexpr uint64_t kOnes = 0x0101010101010101ull;
        const uint64_t lanes = kOnes * static_cast<unsigned char>(c);
        auto matches = [&](size_t at) {
            uint64_t word;
            std::memcpy(&word, h + at, 8);
            const uint64_t v = word ^ lanes;
            return (v - kOnes) & ~v & (kOnes << 7);
        };
        for (; i + 8 <= length; i += 8) {
            if (const uint64_t flags = matches(i)) return h + i + std::countr_zero(flags) / 8;
        }
        if (i == length) return nullptr;
        const size_t at = length - 8;
        const uint64_t flags = matches(at) >> ((i - at) * 8);
        return flags ? h + i + std::countr_zero(flags) / 8 : nullptr;
    }
    for (; i < length; ++i) {
        if (h[i] == c) return h + i;
    }
    return nullptr;
}
#else
const char* FindByte(const char* h, size_t length, char c) {
    return static_cast<const char*>(std::memchr(h, c, length));
}
#endif

}  // namespace

const char* MemMem(const char* haystack, size_t haystackLength, const char* needle, size_t needleLength) {
    if (needleLength == 0) return haystack;
    if (haystackLength < needleLength) return nullptr;
    if (needleLength == 1) return FindByte(haystack, haystackLength, needle[0]);

    const char first = needle[0];
    const char last = needle[needleLength - 1];
    size_t i = 0;
#ifdef OV_MEMMEM_SSE2
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
