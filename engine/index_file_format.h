// The saved index file's layout, shared by its writer and its reader. All
// integers little-endian, nothing aligned, nothing between the fields:
//
//   "OVDB", u32 version 2, u32 N entries, u64 A name-pool bytes, u64 B folded bytes,
//   N entry records of 48 bytes, the name pool, the folded pool,
//   u32 V slots, then per slot a u32 presence word (0 = empty) and for a volume
//     root, name, file system, label (u32 UTF-16 units, then the units),
//     u32 serial, u32 added folder, u32 kind, u64 journal id, u64 next USN,
//     u32 root entry, u64 files, u64 folders,
//     u32 K + K u32 record map, u32 M + M pairs (u32 record, u32 entry),
//   u32 P + P pairs (u32 entry, u32 open count), "END!".
//
// Only the entry records are stored byte for byte, which holds because Entry is
// laid out exactly like the record on every target we build; the asserts below
// say so. Everything else is encoded field by field.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "index/entry.h"

namespace ov {

constexpr char kIndexFileMagic[4] = {'O', 'V', 'D', 'B'};
constexpr char kIndexFileEnd[4] = {'E', 'N', 'D', '!'};
constexpr uint32_t kIndexFileVersion = 2;
constexpr uint64_t kIndexFileHeaderBytes = 28;
constexpr uint64_t kIndexFileMinBytes = 32;
constexpr uint64_t kIndexFileMaxBytes = uint64_t{8} << 30;
constexpr uint32_t kIndexFileMaxStringUnits = 32768;
constexpr uint32_t kIndexFileMaxSlots = 256;

static_assert(std::endian::native == std::endian::little, "the entry table and record maps are stored as in memory");
static_assert(std::is_trivially_copyable_v<Entry> && std::is_standard_layout_v<Entry>);
static_assert(sizeof(Entry) == 48 && alignof(Entry) <= 8);
static_assert(offsetof(Entry, parent) == 0 && offsetof(Entry, nameOffset) == 4 && offsetof(Entry, foldedOffset) == 8 &&
              offsetof(Entry, nameLength) == 12 && offsetof(Entry, foldedLength) == 14 &&
              offsetof(Entry, flags) == 16 && offsetof(Entry, childCount) == 20 && offsetof(Entry, size) == 24 &&
              offsetof(Entry, modified) == 32 && offsetof(Entry, created) == 40);

inline void PutU32(std::string& out, uint32_t v) {
    const char bytes[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 24)};
    out.append(bytes, 4);
}
inline void PutU64(std::string& out, uint64_t v) {
    PutU32(out, static_cast<uint32_t>(v));
    PutU32(out, static_cast<uint32_t>(v >> 32));
}
inline uint32_t GetU32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}
inline uint64_t GetU64(const char* p) {
    return uint64_t{GetU32(p)} | uint64_t{GetU32(p + 4)} << 32;
}

}  // namespace ov
