// Where a volume's master file table lies: the boot sector gives the sizes and
// record 0's place, record 0 (with the extension records its attribute list
// names) gives the table's extents and its in-use bitmap.
//
// Everything here reads untrusted bytes: sizes, offsets and run lists are
// checked before use and all arithmetic on them is checked for overflow.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/dev.h"
#include "engine/ntfs_attributes.h"
#include "engine/virtual_buffer.h"

namespace ov {

// One extent of a non-resident attribute.
struct Run {
    int64_t lcn = -1;  // first cluster on the volume; -1 = sparse, reads as zeros
    uint64_t clusters = 0;
};

// The runs of one $DATA instance of the $MFT and the first virtual cluster they map.
struct RunSegment {
    uint64_t lowestVcn = 0;
    std::vector<Run> runs;
};

struct MftRuns {
    uint32_t sectorSize = 512;
    uint32_t clusterSize = 4096;
    uint32_t recordSize = 1024;
    uint64_t dataSize = 0;
    std::vector<Run> runs;        // the $MFT's extents in VCN order
    std::vector<uint8_t> bitmap;  // bit r set = record r in use; empty = no bitmap
    std::string message;          // why the layout could not be found
};

// What record 0 and its extension records tell.
struct MftLayoutScan {
    MftRuns layout;
    std::vector<RunSegment> segments;
    std::vector<uint8_t> residentBitmap;
    bool bitmapResident = false;
    std::vector<Run> bitmapRuns;
    uint64_t bitmapSize = 0;
    Dev* dev = nullptr;  // reads non-resident attribute lists; may be null
    std::vector<uint32_t> extensionRecords;
};

constexpr uint32_t kMaxMftRecords = 0xFFFFFFF0u;
constexpr uint32_t kMaxRead = 0x1000000;           // 16 MiB per device read
constexpr uint32_t kMaxAttributeValue = 0x100000;  // a non-resident attribute list read whole

// Appends the runs of an attribute's mapping pairs. False on a malformed pair,
// an overflowing or negative cluster number.
bool DecodeRunList(const uint8_t* begin, const uint8_t* end, std::vector<Run>& out);

// Reads [offset, offset + length) of a non-resident attribute through its runs.
bool ReadRuns(Dev* dev, const MftRuns& layout, const std::vector<Run>& runs, uint64_t offset, void* buffer,
              uint64_t length);

// Reads a non-resident attribute's whole value through its runs into a new
// page-aligned block (its length rounded up to clusters). False when the runs
// are malformed, the value is larger than kMaxAttributeValue or a read fails.
bool ReadNonResidentValue(Dev* dev, const MftRuns& layout, const Attribute& attr,
                          std::unique_ptr<VirtualBuffer>& value);

// Collects the layout facts of record 0 (base) or one of its extension records.
// record holds at least layout.recordSize bytes, fixups applied.
void ParseMftSelfRecord(MftLayoutScan& scan, const uint8_t* record, bool base);

// The sizes of a boot sector (4096 bytes). False with layout.message set.
bool ParseBootSector(const uint8_t* boot, MftRuns& layout, uint64_t& mftCluster, uint64_t& volumeBytes);

// Boot sector to extents and bitmap. False with layout.message set; records is
// the number of FILE records the table holds.
bool ReadMftLayout(Dev& dev, MftRuns& layout, uint32_t& records);

}  // namespace ov
