// A folder change read's buffer as the platform might return it, lengths and
// offsets included: parsing stays inside the bytes and yields only paths a
// watcher may look up.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/change_watch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the bytes returned, so a read past them is caught.
    auto bytes = std::make_unique<uint8_t[]>(size);
    if (size) std::memcpy(bytes.get(), data, size);
    std::vector<ov::DirChange> changes;
    ov::ParseChanges(bytes.get(), size, changes);
    if (changes.size() > size / 12) __builtin_trap();
    for (const ov::DirChange& c : changes) {
        if (c.path.empty() || c.path.front() == u'\\' || c.path.back() == u'\\') __builtin_trap();
        for (size_t i = 0; i < c.path.size(); ++i) {
            if (c.path[i] == 0) __builtin_trap();
            if (c.path[i] == u'\\' && i + 1 < c.path.size() && c.path[i + 1] == u'\\') __builtin_trap();
        }
        if (c.path.size() * 2 > size) __builtin_trap();
    }
    return 0;
}
