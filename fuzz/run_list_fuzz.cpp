// Mapping pairs from a crafted attribute, and reads through the runs they give.
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/mft_layout.h"

namespace {

class ZeroDev : public ov::Dev {
public:
    bool Read(uint64_t offset, void* buffer, int length) override {
        if (offset > (uint64_t{1} << 40)) return false;
        std::memset(buffer, 0, static_cast<size_t>(length));
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto pairs = std::make_unique<uint8_t[]>(size);
    if (size) std::memcpy(pairs.get(), data, size);
    std::vector<ov::Run> runs;
    if (!ov::DecodeRunList(pairs.get(), pairs.get() + size, runs)) return 0;
    for (const ov::Run& run : runs)
        if (run.lcn < -1) __builtin_trap();
    ov::MftRuns layout;
    ZeroDev dev;
    uint8_t buffer[8192];
    ov::ReadRuns(&dev, layout, runs, size % 8 * 512, buffer, sizeof buffer);
    return 0;
}
