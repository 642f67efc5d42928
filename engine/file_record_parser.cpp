// Every field comes from disk and is untrusted: each attribute header field is
// read only once the attribute is known to be long enough to hold it, and every
// value stays inside its attribute, the bytes in use and the buffer.
#include "engine/file_record_parser.h"

#include <algorithm>
#include <cstring>

#include "engine/le_bytes.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kHeaderBytes = 0x28;
constexpr uint32_t kAttrHeader = 16;
constexpr uint32_t kResidentHeader = 0x18;
constexpr uint32_t kNonResidentHeader = 0x40;
constexpr uint32_t kEndMarker = 0xFFFFFFFFu;
constexpr uint32_t kStandardInformation = 0x10;
constexpr uint32_t kAttributeList = 0x20;
constexpr uint32_t kFileName = 0x30;
constexpr uint32_t kData = 0x80;
constexpr uint16_t kInUse = 0x0001;
constexpr uint16_t kFolder = 0x0002;
constexpr uint8_t kDosNames = 2;
constexpr int kMaxNames = 64;
constexpr uint32_t kListEntryMin = 26;

struct FoundName {
    const uint8_t* units;
    uint32_t parent;
    uint8_t length;
    uint8_t nameSpace;
};

void AddOnce(std::vector<uint32_t>& list, uint32_t record) {
    if (std::find(list.begin(), list.end(), record) == list.end()) list.push_back(record);
}

void ScanAttributeList(const uint8_t* value, uint32_t length, uint32_t recordNumber, std::vector<uint32_t>& out) {
    if (length < kListEntryMin) return;
    for (uint32_t at = 0; length - at >= kListEntryMin;) {
        const uint8_t* e = value + at;
        const uint32_t type = LeU32(e);
        const uint16_t entryLength = LeU16(e + 4);
        if (entryLength < kListEntryMin) break;
        const uint32_t holder = LeU32(e + 0x10);
        if ((type == kFileName || type == kData) && holder != recordNumber) AddOnce(out, holder);
        if (entryLength > length - at) break;
        at += entryLength;
    }
}

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
    const uint32_t limit = std::min(LeU32(record + 0x18), size);
    uint32_t at = LeU16(record + 0x14);
    while (at <= limit && limit - at >= kAttrHeader) {
        const uint8_t* a = record + at;
        const uint32_t type = LeU32(a);
        const uint32_t length = LeU32(a + 4);
        if (type == kEndMarker || length < kAttrHeader || length > limit - at) break;
        at += length;
        const bool resident = a[8] == 0;
        const bool unnamed = a[9] == 0;
        if (resident && length < kResidentHeader) continue;
        if (!resident && length < kNonResidentHeader) continue;
        const uint32_t valueLength = resident ? LeU32(a + 0x10) : 0;
        const uint32_t valueOffset = resident ? LeU16(a + 0x14) : 0;
        const bool valueFits = resident && uint64_t{valueOffset} + valueLength <= length;
        if (type == kStandardInformation && resident) {
            if (valueOffset + 36u <= length && valueLength >= 36) {
                const uint8_t* v = a + valueOffset;
                out.created = LeU64(v);
                out.modified = LeU64(v + 8);
                out.attributes = LeU32(v + 32);
            }
        } else if (type == kFileName && resident) {
            if (valueLength < 66 || valueOffset + 66u > length) continue;
            const uint8_t* v = a + valueOffset;
            const uint8_t n = v[64];
            if (n == 0 || valueOffset + 66u + 2u * n > length || found == kMaxNames) continue;
            names[found++] = FoundName{v + 66, LeU32(v), n, v[65]};
        } else if (type == kData && unnamed) {
            if (resident) {
                out.size = valueLength;
                out.sizeKnown = true;
            } else if (LeU64(a + 0x10) == 0) {
                out.size = LeU64(a + 0x30);
                out.sizeKnown = true;
            }
        } else if (type == kAttributeList && resident && extensionRecords && valueFits) {
            ScanAttributeList(a + valueOffset, valueLength, recordNumber, *extensionRecords);
        }
    }

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
