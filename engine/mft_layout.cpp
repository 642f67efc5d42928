// Finding the $MFT. Record 0 describes the table itself; when its mapping pairs
// do not fit, an attribute list moves further $DATA instances (segments) into
// extension records, which are read through the extents record 0 describes.
// Segments must join without gaps: a segment that does not start where the
// previous ones end would number every later record wrongly, so the table
// stops at the first gap.
#include "engine/mft_layout.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/file_record_parser.h"
#include "engine/le_bytes.h"
#include "engine/ntfs_attributes.h"
#include "engine/virtual_buffer.h"

namespace ov {
namespace {

constexpr uint32_t kBlock = 0x10000;
constexpr uint32_t kBootRead = 4096;
constexpr uint32_t kMinRecords = 16;

bool AddU64(uint64_t a, uint64_t b, uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}
bool MulU64(uint64_t a, uint64_t b, uint64_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}

bool RoundUp(uint64_t value, uint64_t unit, uint64_t& out) {
    uint64_t raised;
    if (!AddU64(value, unit - 1, raised)) return false;
    out = raised / unit * unit;
    return true;
}

// 2^exponent, refused past 31 (the sizes it gives are 32-bit).
bool PowerOfTwo(int exponent, uint64_t& out) {
    if (exponent < 0 || exponent > 31) return false;
    out = uint64_t{1} << exponent;
    return true;
}

bool Fail(MftRuns& layout, const char* reason) {
    layout.message = reason;
    return false;
}

void ScanListEntries(MftLayoutScan& scan, const uint8_t* list, uint64_t length) {
    ForEachListEntry(list, length, [&](uint32_t type, uint32_t holder) {
        if ((type == kAttrData || type == kAttrBitmap) && holder != 0) scan.extensionRecords.push_back(holder);
    });
}

void ReadNonResidentList(MftLayoutScan& scan, const Attribute& attr) {
    std::unique_ptr<VirtualBuffer> list;
    if (ReadNonResidentValue(scan.dev, scan.layout, attr, list)) ScanListEntries(scan, list->data(), attr.dataSize);
}

}  // namespace

bool ReadNonResidentValue(Dev* dev, const MftRuns& layout, const Attribute& attr,
                          std::unique_ptr<VirtualBuffer>& value) {
    std::vector<Run> runs;
    if (attr.resident || attr.pairsOffset > attr.length ||
        !DecodeRunList(attr.bytes + attr.pairsOffset, attr.bytes + attr.length, runs) ||
        attr.dataSize > kMaxAttributeValue)
        return false;
    uint64_t raised;
    if (!RoundUp(attr.dataSize, layout.clusterSize, raised) || raised == 0) return false;
    value = std::make_unique<VirtualBuffer>(raised + 4096);
    return value->data() && ReadRuns(dev, layout, runs, 0, value->data(), raised);
}

bool DecodeRunList(const uint8_t* begin, const uint8_t* end, std::vector<Run>& out) {
    int64_t lcn = 0;
    const uint8_t* p = begin;
    while (p < end) {
        const uint8_t header = *p;
        if (header == 0) return true;
        const int lengthBytes = header & 0x0F;
        const int offsetBytes = header >> 4;
        if (lengthBytes < 1 || lengthBytes > 8 || offsetBytes > 8) return false;
        if (end - p - 1 < lengthBytes + offsetBytes) return false;
        ++p;
        uint64_t clusters = 0;
        for (int i = 0; i < lengthBytes; ++i) clusters |= uint64_t{p[i]} << (8 * i);
        p += lengthBytes;
        if (offsetBytes == 0) {
            out.push_back(Run{-1, clusters});
            continue;
        }
        uint64_t raw = 0;
        for (int i = 0; i < offsetBytes; ++i) raw |= uint64_t{p[i]} << (8 * i);
        p += offsetBytes;
        if (offsetBytes < 8 && (raw >> (8 * offsetBytes - 1)) & 1) raw |= ~uint64_t{0} << (8 * offsetBytes);
        int64_t next;
        if (__builtin_add_overflow(lcn, static_cast<int64_t>(raw), &next) || next < 0) return false;
        lcn = next;
        out.push_back(Run{lcn, clusters});
    }
    return true;
}

bool ReadRuns(Dev* dev, const MftRuns& layout, const std::vector<Run>& runs, uint64_t offset, void* buffer,
              uint64_t length) {
    if (runs.empty()) return length == 0;
    if (length == 0) return true;
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t start = 0;
    for (const Run& run : runs) {
        uint64_t bytes, end;
        if (!MulU64(run.clusters, layout.clusterSize, bytes) || !AddU64(start, bytes, end)) return false;
        if (offset < end) {
            const uint64_t piece = std::min(length, end - offset);
            if (run.lcn < 0) {
                std::memset(out, 0, piece);
            } else {
                uint64_t at;
                if (!MulU64(static_cast<uint64_t>(run.lcn), layout.clusterSize, at) ||
                    !AddU64(at, offset - start, at) || !dev)
                    return false;
                for (uint64_t done = 0; done < piece;) {
                    const uint64_t step = std::min<uint64_t>(piece - done, kMaxRead);
                    if (!dev->Read(at + done, out + done, static_cast<int>(step))) return false;
                    done += step;
                }
            }
            out += piece;
            offset += piece;
            length -= piece;
            if (length == 0) return true;
        }
        start = end;
    }
    return false;
}

void ParseMftSelfRecord(MftLayoutScan& scan, const uint8_t* record, bool base) {
    ForEachAttribute(record, std::min(LeU32(record + 0x18), scan.layout.recordSize), [&](const Attribute& attr) {
        const uint8_t* pairs = attr.bytes + attr.pairsOffset;
        const uint8_t* end = attr.bytes + attr.length;
        if (!attr.resident) {
            if (attr.type == kAttrData && attr.unnamed) {
                RunSegment segment{attr.lowestVcn, {}};
                if (attr.pairsOffset <= attr.length && DecodeRunList(pairs, end, segment.runs))
                    scan.segments.push_back(std::move(segment));
                if (attr.lowestVcn == 0) scan.layout.dataSize = attr.dataSize;
            } else if (attr.type == kAttrBitmap && attr.unnamed) {
                if (attr.pairsOffset <= attr.length) DecodeRunList(pairs, end, scan.bitmapRuns);
                if (attr.lowestVcn == 0) scan.bitmapSize = attr.dataSize;
            } else if (attr.type == kAttrList && base) {
                ReadNonResidentList(scan, attr);
            }
            return;
        }
        if (!attr.valueFits) return;
        const uint8_t* value = attr.bytes + attr.valueOffset;
        if (attr.type == kAttrBitmap && attr.unnamed) {
            scan.residentBitmap.assign(value, value + attr.valueLength);
            scan.bitmapResident = true;
        } else if (attr.type == kAttrList && base) {
            ScanListEntries(scan, value, attr.valueLength);
        }
    });
}

bool ParseBootSector(const uint8_t* boot, MftRuns& layout, uint64_t& mftCluster, uint64_t& volumeBytes) {
    if (std::memcmp(boot + 3, "NTFS    ", 8) != 0) return Fail(layout, "not an NTFS drive");
    const uint64_t sectorSize = LeU16(boot + 0x0B);
    const uint8_t perCluster = boot[0x0D];
    uint64_t sectors = perCluster;
    if (perCluster > 128 && !PowerOfTwo(256 - perCluster, sectors)) return Fail(layout, "unusual NTFS layout");
    const uint64_t clusterSize = sectors * sectorSize;  // both below 2^32
    const auto perRecord = static_cast<int8_t>(boot[0x40]);
    uint64_t recordSize = 0;
    if (perRecord > 0) {
        recordSize = perRecord * clusterSize;
    } else if (!PowerOfTwo(-perRecord, recordSize)) {
        return Fail(layout, "unusual NTFS layout");
    }
    // Unbuffered reads of single records need records made of whole sectors.
    if (clusterSize > 0x200000 || clusterSize < sectorSize || sectorSize < 512 || sectorSize > 4096 ||
        recordSize < 512 || recordSize > 65536 || recordSize % sectorSize != 0)
        return Fail(layout, "unusual NTFS layout");
    if (!MulU64(LeU64(boot + 0x28), sectorSize, volumeBytes)) return Fail(layout, "unusual NTFS layout");
    layout.sectorSize = static_cast<uint32_t>(sectorSize);
    layout.clusterSize = static_cast<uint32_t>(clusterSize);
    layout.recordSize = static_cast<uint32_t>(recordSize);
    mftCluster = LeU64(boot + 0x30);
    return true;
}

bool ReadMftLayout(Dev& dev, MftRuns& layout, uint32_t& records) try {
    VirtualBuffer block(kBlock);
    if (!block.data()) return Fail(layout, "not enough memory");
    if (!dev.Read(0, block.data(), kBootRead)) return Fail(layout, "couldn't read the boot sector");
    uint64_t mftCluster = 0, volumeBytes = 0;
    if (!ParseBootSector(block.data(), layout, mftCluster, volumeBytes)) return false;

    const uint32_t recordSize = layout.recordSize;
    uint64_t recordZero;
    if (!MulU64(mftCluster, layout.clusterSize, recordZero) ||
        !dev.Read(recordZero, block.data(), static_cast<int>(std::max(layout.sectorSize, recordSize))))
        return Fail(layout, "couldn't read MFT record 0");
    if (std::memcmp(block.data(), "FILE", 4) != 0 || !ApplyUpdateSequence(block.data(), recordSize, false))
        return Fail(layout, "MFT record 0 is damaged");

    MftLayoutScan scan;
    scan.layout = layout;
    scan.dev = &dev;
    ParseMftSelfRecord(scan, block.data(), true);

    std::sort(scan.extensionRecords.begin(), scan.extensionRecords.end());
    scan.extensionRecords.erase(std::unique(scan.extensionRecords.begin(), scan.extensionRecords.end()),
                                scan.extensionRecords.end());
    if (!scan.extensionRecords.empty()) {
        for (const RunSegment& segment : scan.segments)
            if (segment.lowestVcn == 0) scan.layout.runs = segment.runs;
        const std::vector<uint32_t> numbers = scan.extensionRecords;
        for (uint32_t q : numbers) {
            if (ReadRuns(&dev, scan.layout, scan.layout.runs, uint64_t{q} * recordSize, block.data(), recordSize) &&
                std::memcmp(block.data(), "FILE", 4) == 0 && ApplyUpdateSequence(block.data(), recordSize, false))
                ParseMftSelfRecord(scan, block.data(), false);
        }
    }

    std::stable_sort(scan.segments.begin(), scan.segments.end(),
                     [](const RunSegment& a, const RunSegment& b) { return a.lowestVcn < b.lowestVcn; });
    layout = std::move(scan.layout);
    layout.runs.clear();
    uint64_t vcn = 0;
    for (const RunSegment& segment : scan.segments) {
        if (segment.lowestVcn != vcn) break;
        uint64_t next = vcn;
        bool fits = true;
        for (const Run& run : segment.runs) fits = fits && AddU64(next, run.clusters, next);
        if (!fits) break;
        layout.runs.insert(layout.runs.end(), segment.runs.begin(), segment.runs.end());
        vcn = next;
    }
    uint64_t covered;
    if (layout.runs.empty() || layout.dataSize < uint64_t{kMinRecords} * recordSize ||
        !MulU64(vcn, layout.clusterSize, covered))
        return Fail(layout, "couldn't find the MFT's extents");
    if (covered < layout.dataSize) layout.dataSize = covered - covered % recordSize;
    if (layout.dataSize < uint64_t{kMinRecords} * recordSize) return Fail(layout, "couldn't find the MFT's extents");

    const uint64_t count = layout.dataSize / recordSize;
    // A table larger than the volume is a lie; refusing it bounds every
    // allocation sized by the record count.
    if (count > kMaxMftRecords || count > volumeBytes / recordSize) return Fail(layout, "MFT too large");
    records = static_cast<uint32_t>(count);

    const uint64_t needed = (count + 7) / 8;
    if (scan.bitmapResident) {
        layout.bitmap.assign(scan.residentBitmap.begin(),
                             scan.residentBitmap.begin() + std::min<uint64_t>(needed, scan.residentBitmap.size()));
    } else if (!scan.bitmapRuns.empty() && scan.bitmapSize != 0) {
        const uint64_t size = std::min(scan.bitmapSize, needed);
        uint64_t raised;
        if (RoundUp(size, layout.clusterSize, raised)) {
            VirtualBuffer bits(raised + 4096);
            if (bits.data() && ReadRuns(&dev, layout, scan.bitmapRuns, 0, bits.data(), raised))
                layout.bitmap.assign(bits.data(), bits.data() + size);
        }
    }
    if (!layout.bitmap.empty() && layout.bitmap.size() * 8 < count) layout.bitmap.clear();
    return true;
} catch (const std::bad_alloc&) {
    return Fail(layout, "not enough memory");
} catch (const std::length_error&) {
    return Fail(layout, "not enough memory");
}

}  // namespace ov
