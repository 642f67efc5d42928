// A 10-million-entry index shaped like a real disk, built once and shared by the
// sort-order and merge benchmarks, so a run of both holds one copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bench/synthetic.h"
#include "index/index.h"
#include "index/volume_maps.h"

namespace ov::bench {

constexpr size_t kBigEntries = 10000000;
constexpr size_t kBigPieceEntries = 2000000;

struct BigIndex {
    Index index;
    VolumeMaps c;  // slot 0: added one entry at a time
    VolumeMaps d;  // slot 1: ingested whole from a piece
};

// Slot 0 holds kBigEntries - kBigPieceEntries synthetic entries, slot 1 a piece
// of kBigPieceEntries; compacted, every pool thread in use. Built on first call.
BigIndex& SharedBigIndex();

// A file-table-like piece of the synthetic list: records from 24 on, root as record 5.
Index::Piece PieceOf(const EntryList& list);
const EntryList& BigPieceEntries();

// Entry table, pools, side tables, path cache, orders and ranks, in bytes.
uint64_t IndexBytesWithOrders(const Index& index);

}  // namespace ov::bench
