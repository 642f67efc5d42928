// UTF-8 / UTF-16 conversion, case folding, FNV-1a and the millisecond clock.
// Every place that folds or converts names goes through these, so the index,
// the parser and the searcher agree byte for byte.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "index/platform.h"

namespace ov {

// Decodes UTF-8 leniently: never fails, never rejects input; lone surrogates
// encoded as three bytes come back unchanged.
WString ToWide(const char* utf8, size_t length);
inline WString ToWide(const std::string& utf8) {
    return ToWide(utf8.data(), utf8.size());
}

// Appends UTF-16 units as UTF-8; unpaired surrogates become three bytes each.
void AppendUtf8(std::string& out, const WChar* units, size_t count);
inline std::string ToUtf8(const WString& text) {
    std::string out;
    AppendUtf8(out, text.data(), text.size());
    return out;
}

// Folds UTF-16 units in place: A-Z directly, the platform call only when some
// unit is above 0x7F.
void FoldUnits(WChar* units, size_t count);

// The folded (lower-case) form of a UTF-8 text; same number of UTF-16 units.
std::string FoldCaseUtf8(const char* utf8, size_t length);
inline std::string FoldCaseUtf8(const std::string& utf8) {
    return FoldCaseUtf8(utf8.data(), utf8.size());
}

constexpr uint32_t kFnvBasis = 0x811C9DC5u;
constexpr uint32_t kFnvPrime = 16777619u;

inline uint32_t Fnv1a32(const char* bytes, size_t length) {
    uint32_t h = kFnvBasis;
    for (size_t i = 0; i < length; ++i) h = (h ^ static_cast<unsigned char>(bytes[i])) * kFnvPrime;
    return h;
}

// Hash of an extension as the index and the query both store it: 0 means none.
inline uint32_t ExtensionHash(const char* ext, size_t length) {
    uint32_t h = Fnv1a32(ext, length);
    return h == 0 ? 1 : h;
}

// The extension of a folded name as the index hashes and sorts it: the bytes
// after the last '.', none when that dot is the first or the last byte.
inline std::string_view FoldedExtension(std::string_view foldedName) {
    const size_t dot = foldedName.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == foldedName.size()) return {};
    return foldedName.substr(dot + 1);
}

// Bytewise order of two byte strings: unsigned bytes, then the shorter first;
// negative, zero or positive. Inline and eight bytes a step: names are short,
// and the C library's memcmp is a call through the import table that compares
// byte by byte under Wine.
inline int CompareBytes(const char* a, size_t aLength, const char* b, size_t bLength) {
    static_assert(std::endian::native == std::endian::little, "words are byte-swapped to compare in byte order");
    const size_t common = aLength < bLength ? aLength : bLength;
    size_t i = 0;
    for (; i + 8 <= common; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    }
    for (; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return aLength < bLength ? -1 : (aLength > bLength ? 1 : 0);
}
inline bool SameBytes(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareBytes(a.data(), a.size(), b.data(), b.size()) == 0;
}

// Monotonic time in fractional milliseconds; subtract two readings.
double NowMs();

}  // namespace ov
