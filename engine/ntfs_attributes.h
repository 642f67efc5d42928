// Walking the attributes of a FILE record and the entries of an attribute
// list. Every header field is read only once the attribute is known to be long
// enough to hold it (resident headers 0x18 bytes, non-resident 0x40), and an
// attribute reaching past the limit ends the walk.
#pragma once

#include <cstdint>

#include "engine/le_bytes.h"

namespace ov {

constexpr uint32_t kAttrStandardInformation = 0x10;
constexpr uint32_t kAttrList = 0x20;
constexpr uint32_t kAttrFileName = 0x30;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrBitmap = 0xB0;
constexpr uint32_t kListEntryMin = 26;

struct Attribute {
    const uint8_t* bytes;
    uint32_t type;
    uint32_t length;
    bool resident;
    bool unnamed;
    // Resident: the value, valueFits when it lies inside the attribute.
    uint32_t valueOffset = 0;
    uint32_t valueLength = 0;
    bool valueFits = false;
    // Non-resident.
    uint64_t lowestVcn = 0;
    uint32_t pairsOffset = 0;
    uint64_t dataSize = 0;
};

// Calls fn(const Attribute&) for each attribute with a whole header, from the
// record's first attribute up to limit bytes (at most the record's size).
template <class Fn>
void ForEachAttribute(const uint8_t* record, uint32_t limit, Fn&& fn) {
    uint32_t at = LeU16(record + 0x14);
    while (at <= limit && limit - at >= 16) {
        const uint8_t* a = record + at;
        Attribute attr{a, LeU32(a), LeU32(a + 4), a[8] == 0, a[9] == 0};
        if (attr.type == 0xFFFFFFFFu || attr.length < 16 || attr.length > limit - at) return;
        at += attr.length;
        if (attr.resident) {
            if (attr.length < 0x18) continue;
            attr.valueLength = LeU32(a + 0x10);
            attr.valueOffset = LeU16(a + 0x14);
            attr.valueFits = uint64_t{attr.valueOffset} + attr.valueLength <= attr.length;
        } else {
            if (attr.length < 0x40) continue;
            attr.lowestVcn = LeU64(a + 0x10);
            attr.pairsOffset = LeU16(a + 0x20);
            attr.dataSize = LeU64(a + 0x30);
        }
        fn(static_cast<const Attribute&>(attr));
    }
}

// Calls fn(type, holding record) for each entry of an attribute list's value.
template <class Fn>
void ForEachListEntry(const uint8_t* list, uint64_t length, Fn&& fn) {
    for (uint64_t at = 0; length >= kListEntryMin && length - at >= kListEntryMin;) {
        const uint8_t* e = list + at;
        const uint16_t entryLength = LeU16(e + 4);
        if (entryLength < kListEntryMin) return;
        fn(LeU32(e), LeU32(e + 0x10));
        if (entryLength > length - at) return;
        at += entryLength;
    }
}

}  // namespace ov
