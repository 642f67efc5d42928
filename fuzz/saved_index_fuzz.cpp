// The saved index loader on arbitrary bytes. It must refuse with a reason or
// accept without crashing, and an accepted file must become a consistent index:
// searchable, its folded names in entry order for the pool scan, and saved and
// loaded again to the same content.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/index_file_reader.h"
#include "engine/index_file_writer.h"
#include "index/searcher.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

void CheckSame(const ov::Index& a, const ov::Index& b) {
    Check(a.entries.size() == b.entries.size());
    Check(a.entries.empty() ||
          std::memcmp(a.entries.data(), b.entries.data(), a.entries.size() * sizeof(ov::Entry)) == 0);
    Check(a.names == b.names && a.folded == b.folded && a.openCounts == b.openCounts);
    Check(a.volumes.size() == b.volumes.size());
    for (size_t s = 0; s < a.volumes.size(); ++s) {
        Check((a.volumes[s] == nullptr) == (b.volumes[s] == nullptr));
        if (!a.volumes[s]) continue;
        const auto& x = static_cast<const ov::Volume&>(*a.volumes[s]);
        const auto& y = static_cast<const ov::Volume&>(*b.volumes[s]);
        Check(x.root == y.root && x.name == y.name && x.fileSystem == y.fileSystem && x.label == y.label);
        Check(x.serial == y.serial && x.addedFolder == y.addedFolder && x.kind == y.kind);
        Check(x.journalId == y.journalId && x.nextUsn == y.nextUsn && x.rootEntry == y.rootEntry);
        Check(x.files == y.files && x.folders == y.folders && x.recordMap == y.recordMap);
        Check(std::multiset(x.hardLinks.begin(), x.hardLinks.end()) ==
              std::multiset(y.hardLinks.begin(), y.hardLinks.end()));
        Check(x.nameMap.Size() == y.nameMap.Size());
    }
}

bool Load(const std::string& bytes, ov::Index& index, std::vector<std::unique_ptr<ov::Volume>>& volumes) {
    ov::MemorySource source(bytes.data(), bytes.size());
    ov::LoadedIndex image;
    std::string reason;
    if (!ov::ReadIndexFile(source, image, reason)) {
        Check(!reason.empty());
        return false;
    }
    Check(ov::InstallIndex(index, image, volumes, reason));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One index for the whole run: each spins up a thread pool.
    static ov::Index index;
    static std::vector<std::unique_ptr<ov::Volume>> volumes;
    if (!Load(std::string(reinterpret_cast<const char*>(data), size), index, volumes)) return 0;

    const size_t n = index.entries.size();
    Check(index.foldedOffsets.size() == n && index.extHashes.size() == n && index.changedNames.empty());
    for (size_t i = 1; i < n; ++i)
        Check(index.foldedOffsets[i] >= uint64_t{index.foldedOffsets[i - 1]} + index.entries[i - 1].foldedLength);
    ov::SearchOptions options;
    ov::Query query = ov::ParseQuery("a", options);
    ov::Searcher searcher(&index);
    searcher.Prepare(query, options);
    std::vector<uint32_t> hits;
    Check(searcher.Run(query, options, hits, nullptr));

    ov::StringSink saved;
    std::string reason;
    Check(ov::WriteIndexFile(index, saved, reason));
    ov::Index again;
    std::vector<std::unique_ptr<ov::Volume>> againVolumes;
    Check(Load(saved.bytes, again, againVolumes));
    CheckSame(index, again);
    return 0;
}
