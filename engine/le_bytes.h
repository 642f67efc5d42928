// Little-endian fields of on-disk structures, read without alignment.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ov {

static_assert(std::endian::native == std::endian::little, "on-disk fields are read as little-endian");

inline uint16_t LeU16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint32_t LeU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint64_t LeU64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace ov
