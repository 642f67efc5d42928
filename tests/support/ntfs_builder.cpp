#include "tests/support/ntfs_builder.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace ov::testing {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    std::memcpy(&b[at], &v, 2);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    std::memcpy(&b[at], &v, 4);
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    std::memcpy(&b[at], &v, 8);
}

int BytesFor(uint64_t v, bool isSigned) {
    for (int n = 1; n < 8; ++n) {
        const auto s = static_cast<int64_t>(v);
        if (isSigned) {
            const int64_t lo = -(int64_t{1} << (8 * n - 1)), hi = (int64_t{1} << (8 * n - 1)) - 1;
            if (s >= lo && s <= hi) return n;
        } else if (v < (uint64_t{1} << (8 * n))) {
            return n;
        }
    }
    return 8;
}

class MemDev : public Dev {
public:
    explicit MemDev(MemVolume& volume) : volume(volume) {}
    bool Read(uint64_t offset, void* buffer, int length) override {
        ++volume.reads;
        const auto& image = volume.image();
        if (length < 0 || offset > image.size() || image.size() - offset < static_cast<uint64_t>(length)) return false;
        auto hit = volume.failAt.lower_bound(offset);
        if (hit != volume.failAt.end() && *hit < offset + static_cast<uint64_t>(length)) return false;
        std::memcpy(buffer, image.data() + offset, static_cast<size_t>(length));
        return true;
    }

private:
    MemVolume& volume;
};

}  // namespace

std::vector<uint8_t> EncodeRuns(const std::vector<Run>& runs) {
    std::vector<uint8_t> out;
    int64_t lcn = 0;
    for (const Run& run : runs) {
        const int lengthBytes = BytesFor(run.clusters, false);
        const int64_t delta = run.lcn - lcn;
        const int offsetBytes = run.lcn < 0 ? 0 : BytesFor(static_cast<uint64_t>(delta), true);
        out.push_back(static_cast<uint8_t>(offsetBytes << 4 | lengthBytes));
        for (int i = 0; i < lengthBytes; ++i) out.push_back(static_cast<uint8_t>(run.clusters >> (8 * i)));
        for (int i = 0; i < offsetBytes; ++i)
            out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(delta) >> (8 * i)));
        if (run.lcn >= 0) lcn = run.lcn;
    }
    out.push_back(0);
    return out;
}

RecordBuilder::RecordBuilder(uint32_t size, uint16_t flags, uint32_t baseRecord) : bytes(size, 0) {
    std::memcpy(bytes.data(), "FILE", 4);
    const uint16_t count = static_cast<uint16_t>(size / 512 + 1);
    Put16(bytes, 4, 0x30);
    Put16(bytes, 6, count);
    Put16(bytes, 0x16, flags);
    Put32(bytes, 0x1C, size);
    Put64(bytes, 0x20, baseRecord);
    at = (0x30 + 2u * count + 7) & ~7u;
    Put16(bytes, 0x14, static_cast<uint16_t>(at));
}

RecordBuilder& RecordBuilder::Raw(const std::vector<uint8_t>& attribute) {
    if (at + attribute.size() + 8 > bytes.size()) std::abort();  // the test asked for more than the record holds
    std::memcpy(&bytes[at], attribute.data(), attribute.size());
    at += static_cast<uint32_t>((attribute.size() + 7) & ~size_t{7});
    return *this;
}

RecordBuilder& RecordBuilder::Resident(uint32_t type, const std::vector<uint8_t>& value, const std::u16string& name) {
    const uint32_t nameOffset = 0x18;
    const uint32_t valueOffset = (nameOffset + 2 * static_cast<uint32_t>(name.size()) + 7) & ~7u;
    std::vector<uint8_t> a((valueOffset + value.size() + 7) & ~size_t{7}, 0);
    Put32(a, 0, type);
    Put32(a, 4, static_cast<uint32_t>(a.size()));
    a[9] = static_cast<uint8_t>(name.size());
    Put16(a, 0x0A, static_cast<uint16_t>(nameOffset));
    Put32(a, 0x10, static_cast<uint32_t>(value.size()));
    Put16(a, 0x14, static_cast<uint16_t>(valueOffset));
    for (size_t i = 0; i < name.size(); ++i) Put16(a, nameOffset + 2 * i, name[i]);
    if (!value.empty()) std::memcpy(&a[valueOffset], value.data(), value.size());
    return Raw(a);
}

RecordBuilder& RecordBuilder::StandardInfo(uint64_t created, uint64_t modified, uint32_t attributes) {
    std::vector<uint8_t> v(72, 0);
    Put64(v, 0, created);
    Put64(v, 8, modified);
    Put64(v, 16, modified);
    Put64(v, 24, modified);
    Put32(v, 32, attributes);
    return Resident(0x10, v);
}

RecordBuilder& RecordBuilder::FileName(uint32_t parent, const std::u16string& name, uint8_t nameSpace) {
    std::vector<uint8_t> v(66 + 2 * name.size(), 0);
    Put64(v, 0, parent | (uint64_t{1} << 48));
    v[64] = static_cast<uint8_t>(name.size());
    v[65] = nameSpace;
    for (size_t i = 0; i < name.size(); ++i) Put16(v, 66 + 2 * i, name[i]);
    return Resident(0x30, v);
}

RecordBuilder& RecordBuilder::ResidentData(uint32_t length, const std::u16string& streamName) {
    return Resident(0x80, std::vector<uint8_t>(length, 'd'), streamName);
}

RecordBuilder& RecordBuilder::NonResidentData(uint64_t lowestVcn, uint64_t dataSize, const std::vector<Run>& runs,
                                              uint32_t type) {
    const std::vector<uint8_t> pairs = EncodeRuns(runs);
    std::vector<uint8_t> a((0x40 + pairs.size() + 7) & ~size_t{7}, 0);
    Put32(a, 0, type);
    Put32(a, 4, static_cast<uint32_t>(a.size()));
    a[8] = 1;
    Put64(a, 0x10, lowestVcn);
    uint64_t clusters = 0;
    for (const Run& run : runs) clusters += run.clusters;
    Put64(a, 0x18, lowestVcn + clusters - 1);
    Put16(a, 0x20, 0x40);
    Put64(a, 0x28, dataSize);
    Put64(a, 0x30, dataSize);
    Put64(a, 0x38, dataSize);
    std::memcpy(&a[0x40], pairs.data(), pairs.size());
    return Raw(a);
}

RecordBuilder& RecordBuilder::ResidentBitmap(const std::vector<uint8_t>& bits) {
    return Resident(0xB0, bits);
}

RecordBuilder& RecordBuilder::AttributeList(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
    std::vector<uint8_t> v;
    for (const auto& [type, holder] : entries) {
        std::vector<uint8_t> e(32, 0);
        Put32(e, 0, type);
        Put16(e, 4, 32);
        Put64(e, 0x10, holder | (uint64_t{1} << 48));
        v.insert(v.end(), e.begin(), e.end());
    }
    return Resident(0x20, v);
}

std::vector<uint8_t> RecordBuilder::Finish(uint16_t sequence) {
    Put32(bytes, at, 0xFFFFFFFFu);
    Put32(bytes, 0x18, at + 8);
    const uint16_t count = static_cast<uint16_t>(bytes.size() / 512 + 1);
    Put16(bytes, 0x30, sequence);
    for (uint32_t i = 1; i < count; ++i) {
        const size_t end = i * 512 - 2;
        std::memcpy(&bytes[0x30 + 2 * i], &bytes[end], 2);
        Put16(bytes, end, sequence);
    }
    return bytes;
}

MemVolume::MemVolume(const Shape& shape) : bitmap((shape.records + 7) / 8, 0), s(shape), bytes(shape.volumeBytes, 0) {
    std::memcpy(&bytes[3], "NTFS    ", 8);
    Put16(bytes, 0x0B, static_cast<uint16_t>(s.sectorSize));
    bytes[0x0D] = static_cast<uint8_t>(s.clusterSize / s.sectorSize);
    Put64(bytes, 0x28, s.volumeBytes / s.sectorSize);
    Put64(bytes, 0x30, s.mftCluster);
    bytes[0x40] = s.recordSize >= s.clusterSize ? static_cast<uint8_t>(s.recordSize / s.clusterSize)
                                                : static_cast<uint8_t>(-__builtin_ctz(s.recordSize));
}

void MemVolume::Put(uint32_t record, const std::vector<uint8_t>& finished) {
    std::memcpy(&bytes[s.mftCluster * s.clusterSize + uint64_t{record} * s.recordSize], finished.data(),
                finished.size());
    bitmap[record / 8] |= static_cast<uint8_t>(1u << (record % 8));
}

void MemVolume::WriteRecordZero() {
    bitmap[0] |= 1;
    const uint64_t dataSize = uint64_t{s.records} * s.recordSize;
    const uint64_t clusters = (dataSize + s.clusterSize - 1) / s.clusterSize;
    Put(0, RecordBuilder(s.recordSize)
               .StandardInfo(1, 1, 6)
               .FileName(5, u"$MFT", 3)
               .NonResidentData(0, dataSize, {Run{static_cast<int64_t>(s.mftCluster), clusters}})
               .ResidentBitmap(bitmap)
               .Finish());
}

void MemVolume::AddRootAndFiles(uint32_t files) {
    Put(5, RecordBuilder(s.recordSize, 3).StandardInfo(10, 20, 6).FileName(5, u".", 3).Finish());
    for (uint32_t i = 0; i < files; ++i) {
        const std::u16string name = u"file" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                                    std::u16string(1, static_cast<char16_t>(u'a' + i / 26 % 26));
        Put(24 + i,
            RecordBuilder(s.recordSize).StandardInfo(30, 40, 0x20).FileName(5, name).ResidentData(i % 500).Finish());
    }
    WriteRecordZero();
}

DevFactory MemVolume::Factory() {
    return [this]() -> std::unique_ptr<Dev> {
        if (opens.fetch_add(1) >= openLimit) return nullptr;
        return std::make_unique<MemDev>(*this);
    };
}

}  // namespace ov::testing
