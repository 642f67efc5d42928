// Hand-made NTFS structures for tests and fuzz seeds: FILE records with the
// attributes the reader uses, and small in-memory volumes read through a Dev
// that can be told to fail.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/dev.h"
#include "engine/mft_layout.h"

namespace ov::testing {

std::vector<uint8_t> EncodeRuns(const std::vector<Run>& runs);

class RecordBuilder {
public:
    explicit RecordBuilder(uint32_t size = 1024, uint16_t flags = 1, uint32_t baseRecord = 0);
    RecordBuilder& StandardInfo(uint64_t created, uint64_t modified, uint32_t attributes);
    RecordBuilder& FileName(uint32_t parent, const std::u16string& name, uint8_t nameSpace = 1);
    RecordBuilder& ResidentData(uint32_t length, const std::u16string& streamName = u"");
    RecordBuilder& NonResidentData(uint64_t lowestVcn, uint64_t dataSize, const std::vector<Run>& runs,
                                   uint32_t type = 0x80);
    RecordBuilder& ResidentBitmap(const std::vector<uint8_t>& bits);
    // Entries of a resident attribute list: (type, holding record).
    RecordBuilder& AttributeList(const std::vector<std::pair<uint32_t, uint32_t>>& entries);
    // Any attribute: header fields as given, value bytes after a resident header.
    RecordBuilder& Raw(const std::vector<uint8_t>& attribute);
    // End marker, bytes in use and the update sequence (each stride's last two
    // bytes saved in the array and replaced by the sequence number).
    std::vector<uint8_t> Finish(uint16_t sequence = 7);

private:
    RecordBuilder& Resident(uint32_t type, const std::vector<uint8_t>& value, const std::u16string& name = u"");
    std::vector<uint8_t> bytes;
    uint32_t at;
};

// A volume in memory: boot sector, a contiguous $MFT at mftCluster, record 0
// describing it with a resident bitmap. Records are placed with Put.
class MemVolume {
public:
    struct Shape {
        uint32_t sectorSize = 512;
        uint32_t clusterSize = 4096;
        uint32_t recordSize = 1024;
        uint32_t records = 64;
        uint64_t mftCluster = 4;
        uint64_t volumeBytes = 64 << 20;
    };
    explicit MemVolume(const Shape& shape);
    const Shape& shape() const { return s; }
    std::vector<uint8_t>& image() { return bytes; }

    // Writes a finished record at its place in the $MFT and marks it in use.
    void Put(uint32_t record, const std::vector<uint8_t>& finished);
    // Record 0 with the $MFT's runs and the in-use bitmap; call after every Put.
    void WriteRecordZero();
    // Root (5) and n files under it from record 24 on.
    void AddRootAndFiles(uint32_t files);

    // Devices over the image. Reads touching a byte in failAt fail; opens fail
    // once `opens` reaches openLimit. Every read is counted.
    DevFactory Factory();
    std::set<uint64_t> failAt;
    int openLimit = 1 << 30;
    std::atomic<int> opens{0};
    std::atomic<int> reads{0};
    std::vector<uint8_t> bitmap;

private:
    Shape s;
    std::vector<uint8_t> bytes;
};

}  // namespace ov::testing
