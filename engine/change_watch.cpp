#include "engine/change_watch.h"

#include <cstring>

namespace ov {
namespace {

constexpr size_t kRecordHeader = 12;  // NextEntryOffset, Action, FileNameLength

uint32_t U32At(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Components between '\', none of them empty, "." or "..", and no NUL.
bool PathIsPlausible(const WString& path) {
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        if (end == WString::npos) end = path.size();
        const size_t n = end - start;
        if (n == 0 || (n == 1 && path[start] == u'.') || (n == 2 && path[start] == u'.' && path[start + 1] == u'.'))
            return false;
        if (end == path.size()) break;
        start = end + 1;
    }
    return path.find(WChar(0)) == WString::npos;
}

}  // namespace

void ParseChanges(const uint8_t* data, size_t bytes, std::vector<DirChange>& out) {
    size_t at = 0;
    while (at + kRecordHeader <= bytes) {
        const uint8_t* record = data + at;
        const uint32_t next = U32At(record);
        const size_t nameBytes = std::min<size_t>(U32At(record + 8), bytes - at - kRecordHeader) & ~size_t{1};
        DirChange change;
        change.action = U32At(record + 4);
        change.path.resize(nameBytes / 2);
        if (nameBytes > 0) std::memcpy(change.path.data(), record + kRecordHeader, nameBytes);
        if (PathIsPlausible(change.path)) out.push_back(std::move(change));
        if (next < kRecordHeader || next >= bytes - at) break;  // 0 ends the list; less would overlap
        at += next;
    }
}

}  // namespace ov
