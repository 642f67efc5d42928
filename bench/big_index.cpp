#include "bench/big_index.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace ov::bench {
namespace {

constexpr uint64_t kSeed = 0x50127;

}  // namespace

const EntryList& BigPieceEntries() {
    static const EntryList list = MakeSyntheticEntries(kBigPieceEntries, kSeed + 1);
    return list;
}

Index::Piece PieceOf(const EntryList& list) {
    Index::Piece piece;
    piece.entries.reserve(list.entries.size());
    piece.names.reserve(list.names.size() + list.entries.size());
    piece.folded.reserve(list.folded.size() + list.entries.size());
    piece.recordMap.assign(list.entries.size() + 24, kNoEntry);
    for (size_t i = 0; i < list.entries.size(); ++i) {
        const EntrySpec& s = list.entries[i];
        piece.Add(s.parent, list.NameOf(s), list.FoldedOf(s), s.flags, s.size, s.modified, s.created);
        const auto entry = static_cast<uint32_t>(i);
        if (s.parent == kNoEntry) {
            piece.root = entry;
            piece.recordMap[5] = entry;
        } else {
            piece.recordMap[24 + i] = entry;
            (s.flags & EntryFlags::Directory ? piece.folders : piece.files) += 1;
        }
    }
    return piece;
}

BigIndex& SharedBigIndex() {
    static std::unique_ptr<BigIndex> big;
    if (big) return *big;
    big = std::make_unique<BigIndex>();
    Index& index = big->index;
    big->c.kind = VolumeKind::FileTable;
    big->d.kind = VolumeKind::FileTable;
    big->d.slot = 1;
    index.volumes = {&big->c, &big->d};
    std::string error;
    if (!AddEntries(index, MakeSyntheticEntries(kBigEntries - kBigPieceEntries, kSeed), error)) std::abort();
    std::unique_lock<ov::SharedMutex> guard(index.lock);
    Index::Piece piece = PieceOf(BigPieceEntries());
    if (!index.Ingest(1, piece)) std::abort();
    return *big;
}

uint64_t IndexBytesWithOrders(const Index& index) {
    uint64_t bytes = index.entries.capacity() * sizeof(Entry) + index.names.capacity() + index.folded.capacity();
    bytes += (index.foldedOffsets.capacity() + index.extHashes.capacity() + index.pathOffset.capacity()) * 4;
    bytes += index.pathLength.capacity() * 2 + index.pathBuffer.capacity();
    for (int k = 0; k < kSortKeys; ++k) bytes += (index.orders[k].capacity() + index.ranks[k].capacity()) * 4;
    return bytes;
}

}  // namespace ov::bench
