#include "bench/corpus_volumes.h"

#include <mutex>
#include <shared_mutex>

#include "index/text.h"

namespace ov::bench {

void AddCorpusVolumes(Index& index, std::vector<std::unique_ptr<Volume>>& volumes) {
    std::unique_lock<ov::SharedMutex> hold(index.lock);
    volumes.clear();
    index.volumes.clear();
    const auto n = static_cast<uint32_t>(index.entries.size());
    auto volumeOf = [&](int slot) -> Volume& {
        while (volumes.size() <= static_cast<size_t>(slot)) {
            auto v = std::make_unique<Volume>();
            v->slot = static_cast<int>(volumes.size());
            v->kind = VolumeKind::FileTable;
            v->fileSystem = ToWide("NTFS");
            v->serial = 0x5EED0000u + static_cast<uint32_t>(v->slot);
            v->journalId = 0x01D9000000000000ull + static_cast<uint64_t>(v->slot);
            v->recordMap.assign(16, kNoEntry);  // the file table's reserved records
            volumes.push_back(std::move(v));
            index.volumes.push_back(volumes.back().get());
        }
        return *volumes[slot];
    };
    for (uint32_t i = 0; i < n; ++i) {
        const Entry& e = index.entries[i];
        Volume& v = volumeOf(SlotOf(e.flags));
        if (e.parent == kNoEntry) {
            v.rootEntry = i;
            v.recordMap[5] = i;
            v.root = index.PathW(i, false);
            v.name = ToWide(std::string(index.NameOf(i)));
            continue;
        }
        const auto record = static_cast<uint32_t>(v.recordMap.size());
        v.recordMap.push_back(i);
        (IsDir(e) ? v.folders : v.files) += 1;
        // One file in a hundred has a second name, one in fifty has been opened.
        if (!IsDir(e) && i % 100 == 7) v.hardLinks.emplace(record, i);
        if (!IsDir(e) && i % 50 == 3) index.openCounts[i] = 1 + i % 9;
    }
    for (auto& v : volumes) v->nextUsn = 0x100000 + v->recordMap.size() * 96;
}

}  // namespace ov::bench
