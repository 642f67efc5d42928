// A journal read and the file-record answers of the records it names, both
// crafted: the first two bytes give the read's length, the rest is what the
// file-record control answers for every record asked (the record number
// patched in when the first byte is odd, so that parsing is reached), also
// for the parents the batch then asks for. Raw reads see a valid boot sector
// and zeros.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/journal_batch.h"

namespace {

class BootDev : public ov::Dev {
public:
    bool Read(uint64_t offset, void* buffer, int length) override {
        if (offset > (uint64_t{1} << 40)) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        std::memset(out, 0, static_cast<size_t>(length));
        if (offset == 0 && length >= 512) {
            std::memcpy(out + 3, "NTFS    ", 8);
            out[0x0C] = 2;  // 512-byte sectors
            out[0x0D] = 8;  // 4 KiB clusters
            out[0x28] = 0x80;
            out[0x2A] = 0x01;  // 65664 sectors
            out[0x30] = 4;
            out[0x40] = 0xF6;  // 1 KiB records
        }
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t readBytes = std::min<size_t>(size - 2, data[0] | data[1] << 8);
    std::vector<uint8_t> read(data + 2, data + 2 + readBytes);
    const std::vector<uint8_t> answer(data + 2 + readBytes, data + size);

    uint64_t next = 0;
    std::vector<ov::UsnChange> changes;
    ov::ParseJournalRead(read.data(), static_cast<uint32_t>(read.size()), next, changes);
    changes.resize(std::min<size_t>(changes.size(), 64));
    changes.push_back({5});
    changes.push_back({40});

    const bool patch = data[0] & 1;
    const ov::DeviceControl control = [&](uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                          uint32_t& returned, uint32_t& error) {
        if (code != ov::kGetNtfsFileRecord || inSize != 8) {
            error = ov::kErrorNotSupported;
            return false;
        }
        returned = static_cast<uint32_t>(std::min<size_t>(answer.size(), outSize));
        std::memcpy(out, answer.data(), returned);
        if (patch && returned >= 8) std::memcpy(out, in, 8);
        return true;
    };
    ov::RawVolume raw([]() -> std::unique_ptr<ov::Dev> { return std::make_unique<BootDev>(); });
    ov::JournalBatch batch;
    const std::atomic<bool> stop{false};
    static const ov::Index index;
    static const ov::VolumeMaps volume;
    batch.Fetch(control, raw, changes, index, volume, stop);
    for (const ov::JournalItem& item : batch.Items())
        if (!item.present && item.rowCount != 0) __builtin_trap();
    return 0;
}
