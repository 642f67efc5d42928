// FILE records from a crafted volume, parsed strictly and tolerantly from a
// buffer that ends where the record ends.
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/file_record_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 65537) return 0;
    const bool tolerant = data[0] & 1;
    const auto length = static_cast<uint32_t>(size - 1);
    auto record = std::make_unique<uint8_t[]>(length);
    std::memcpy(record.get(), data + 1, length);
    ov::FileRec rec;
    uint32_t base = 0;
    std::vector<ov::NameRec> rows;
    std::string names, folded;
    std::vector<uint32_t> extensions;
    if (ov::ParseFileRecord(record.get(), length, 40, rec, base, rows, names, folded, tolerant, &extensions)) {
        for (const ov::NameRec& row : rows) {
            if (uint64_t{row.nameOffset} + row.nameLength > names.size()) __builtin_trap();
            if (uint64_t{row.foldedOffset} + row.foldedLength > folded.size()) __builtin_trap();
        }
    }
    return 0;
}
