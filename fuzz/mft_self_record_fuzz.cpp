// Record 0 of a crafted volume: its extents, bitmap and attribute list. The
// record ends where the buffer ends; a non-resident attribute list is read
// from the input itself.
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/mft_layout.h"

namespace {

class InputDev : public ov::Dev {
public:
    InputDev(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool Read(uint64_t offset, void* buffer, int length) override {
        if (offset > size || size - offset < static_cast<uint64_t>(length)) return false;
        std::memcpy(buffer, data + offset, static_cast<size_t>(length));
        return true;
    }

private:
    const uint8_t* data;
    size_t size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 512 || size > 65536) return 0;
    auto record = std::make_unique<uint8_t[]>(size);
    std::memcpy(record.get(), data, size);
    InputDev dev(data, size);
    ov::MftLayoutScan scan;
    scan.layout.recordSize = static_cast<uint32_t>(size);
    scan.layout.clusterSize = 512;
    scan.dev = &dev;
    ov::ParseMftSelfRecord(scan, record.get(), true);
    ov::ParseMftSelfRecord(scan, record.get(), false);
    return 0;
}
