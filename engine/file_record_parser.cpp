// Every field comes from disk and is untrusted: each attribute header field is
// read only once the attribute is known to be long enough to hold it, and every
// value stays inside its attribute, the bytes in use and the buffer.
#include "engine/file_record_parser.h"

#include <algorithm>
#include <cstring>

#include "engine/le_bytes.h"
#include "engine/ntfs_attributes.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kHeaderBytes = 0x28;
constexpr uint16_t kInUse = 0x0001;
constexpr uint16_t kFolder = 0x0002;
constexpr uint8_t kDosNames = 2;
constexpr int kMaxNames = 64;

struct FoundName {
    const uint8_t* units;
    uint32_t parent;
    uint8_t length;
    uint8_t nameSpace;
};

}  // namespace

bool ApplyUpdateSequence(uint8_t* record, uint32_t size, bool tolerant) {
    if (size < 8) return tolerant;
    const uint32_t offset = LeU16(record + 4);
    const uint32_t count = LeU16(record + 6);
    bool valid = count != 0 && uint64_t{offset} + 2ull * count <= size && uint64_t{count - 1} * kUpdateStride <= size;
    // One entry per stride exactly: fewer would leave strides unchecked.
    if (!tolerant) valid = valid && size % kUpdateStride == 0 && count - 1 == size / kUpdateStride;
    if (!valid) return tolerant;
    const uint16_t sequence = LeU16(record + offset);
    for (uint32_t i = 1; i < count; ++i) {
        uint8_t* end = record + i * kUpdateStride - 2;
        if (LeU16(end) != sequence) return tolerant;
        std::memcpy(end, record + offset + 2 * i, 2);
    }
    return true;
}

void AddExtensionRecords(const uint8_t* list, uint64_t length, uint32_t recordNumber, std::vector<uint32_t>& records) {
    ForEachListEntry(list, length, [&](uint32_t type, uint32_t holder) {
        if ((type == kAttrFileName || type == kAttrData) && holder != recordNumber &&
            std::find(records.begin(), records.end(), holder) == records.end())
            records.push_back(holder);
    });
}

bool ParseFileRecord(uint8_t* record, uint32_t size, uint32_t recordNumber, FileRec& out, uint32_t& baseReference,
                     std::vector<NameRec>& rows, std::string& namePool, std::string& foldedPool, bool tolerant,
                     std::vector<uint32_t>* extensionRecords) {
    if (size < kHeaderBytes || std::memcmp(record, "FILE", 4) != 0) return false;
    if (!ApplyUpdateSequence(record, size, tolerant)) return false;
    const uint16_t flags = LeU16(record + 0x16);
    if (!(flags & kInUse)) return false;
    baseReference = LeU32(record + 0x20);
    out = FileRec{};
    out.record = recordNumber;
    out.directory = (flags & kFolder) != 0;

    FoundName names[kMaxNames];
    int found = 0;
    ForEachAttribute(record, std::min(LeU32(record + 0x18), size), [&](const Attribute& attr) {
        const uint8_t* v = attr.bytes + attr.valueOffset;
        if (attr.type == kAttrStandardInformation && attr.resident) {
            if (attr.valueOffset + 36u <= attr.length && attr.valueLength >= 36) {
                out.created = LeU64(v);
                out.modified = LeU64(v + 8);
                out.attributes = LeU32(v + 32);
            }
        } else if (attr.type == kAttrFileName && attr.resident) {
            if (attr.valueLength < 66 || attr.valueOffset + 66u > attr.length) return;
            const uint8_t n = v[64];
            if (n == 0 || attr.valueOffset + 66u + 2u * n > attr.length || found == kMaxNames) return;
            names[found++] = FoundName{v + 66, LeU32(v), n, v[65]};
        } else if (attr.type == kAttrData && attr.unnamed) {
            // A later unnamed $DATA overrides; only the first extent knows the size.
            if (attr.resident || attr.lowestVcn == 0) {
                out.size = attr.resident ? attr.valueLength : attr.dataSize;
                out.sizeKnown = true;
            }
        } else if (attr.type == kAttrList && attr.resident && extensionRecords && attr.valueFits) {
            AddExtensionRecords(v, attr.valueLength, recordNumber, *extensionRecords);
        }
    });

    bool longName = false;
    for (int i = 0; i < found; ++i) longName = longName || names[i].nameSpace != kDosNames;
    const uint32_t owner = baseReference ? baseReference : recordNumber;
    WChar units[255];
    for (int i = 0; i < found; ++i) {
        const FoundName& name = names[i];
        if (longName && name.nameSpace == kDosNames) continue;
        for (uint32_t u = 0; u < name.length; ++u) units[u] = static_cast<WChar>(LeU16(name.units + 2 * u));
        NameRec row;
        row.record = owner;
        row.parent = name.parent;
        row.nameOffset = static_cast<uint32_t>(namePool.size());
        row.foldedOffset = static_cast<uint32_t>(foldedPool.size());
        row.nameSpace = name.nameSpace;
        AppendUtf8(namePool, units, name.length);
        FoldUnits(units, name.length);
        AppendUtf8(foldedPool, units, name.length);
        row.nameLength = static_cast<uint16_t>(namePool.size() - row.nameOffset);
        row.foldedLength = static_cast<uint16_t>(foldedPool.size() - row.foldedOffset);
        rows.push_back(row);
    }
    return true;
}

}  // namespace ov
