// One file or folder of the index: a fixed 48-byte record, stored byte for byte
// in the saved index file.
#pragma once

#include <cstdint>

namespace ov {

constexpr uint32_t kNoEntry = 0xFFFFFFFFu;

struct Entry {
    uint32_t parent;        // containing folder; kNoEntry for a volume root
    uint32_t nameOffset;    // into Index::names
    uint32_t foldedOffset;  // into Index::folded
    uint16_t nameLength;    // UTF-8 bytes, NUL excluded
    uint16_t foldedLength;
    uint32_t flags;       // EntryFlags
    uint32_t childCount;  // live children (folders)
    uint64_t size;        // file: bytes; folder: live files below it
    uint64_t modified;    // FILETIME, UTC
    uint64_t created;
};
static_assert(sizeof(Entry) == 48, "Entry is stored byte for byte");

namespace EntryFlags {
constexpr uint32_t AttributeMask = 0x0000FFFFu;  // low word of FILE_ATTRIBUTE_*
constexpr uint32_t SlotMask = 0x00FF0000u;
constexpr int SlotShift = 16;
constexpr uint32_t Excluded = 0x08000000u;
constexpr uint32_t VolumeRoot = 0x10000000u;
constexpr uint32_t NameChanged = 0x20000000u;
constexpr uint32_t Deleted = 0x40000000u;
constexpr uint32_t Directory = 0x80000000u;
}  // namespace EntryFlags

namespace FileAttr {
constexpr uint32_t ReadOnly = 0x0001;
constexpr uint32_t Hidden = 0x0002;
constexpr uint32_t System = 0x0004;
constexpr uint32_t Directory = 0x0010;
constexpr uint32_t Archive = 0x0020;
constexpr uint32_t ReparsePoint = 0x0400;
constexpr uint32_t Compressed = 0x0800;
constexpr uint32_t Offline = 0x1000;
constexpr uint32_t Encrypted = 0x4000;
}  // namespace FileAttr

inline int SlotOf(uint32_t flags) {
    return static_cast<int>((flags & EntryFlags::SlotMask) >> EntryFlags::SlotShift);
}
inline uint32_t SlotBits(int slot) {
    return (static_cast<uint32_t>(slot) << EntryFlags::SlotShift) & EntryFlags::SlotMask;
}
inline bool IsDir(const Entry& e) {
    return (e.flags & EntryFlags::Directory) != 0;
}
inline bool IsDeleted(const Entry& e) {
    return (e.flags & EntryFlags::Deleted) != 0;
}

// Sort keys of the result list; Type orders as Extension, RunCount descends.
enum class SortKey : int { Name = 0, Path, Size, Extension, DateModified, DateCreated, Type, RunCount };
constexpr int kSortKeys = 8;

}  // namespace ov
