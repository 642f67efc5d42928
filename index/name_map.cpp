#include "index/name_map.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bitset>
#include <new>

#include "index/index.h"

namespace ov {
namespace {

// Filled to 4/5 by Reserve; grown past 7/8, where linear probing starts to
// run long, to about 3/5.
size_t RoomFor(size_t pairs) {
    return pairs + pairs / 4 + 16;
}
bool PastLimit(size_t pairs, size_t capacity) {
    return pairs > capacity - capacity / 8;
}
// Home() scales a 32-bit digest to the table; no table of entry numbers needs more.
constexpr size_t kMaxSlots = size_t{1} << 32;

}  // namespace

void NameMap::Clear() {
    std::vector<Slot>().swap(slots);
    count = 0;
}

void NameMap::Restart(size_t pairs) {
    if (slots.size() / 2 > RoomFor(pairs)) {
        try {
            std::vector<Slot>(RoomFor(pairs), Slot{0, kNoEntry}).swap(slots);
            count = 0;
            return;
        } catch (const std::bad_alloc&) {
            // The large table serves.
        }
    }
    if (count != 0) std::fill(slots.begin(), slots.end(), Slot{0, kNoEntry});
    count = 0;
}

void NameMap::Reserve(size_t pairs) {
    if (PastLimit(pairs, slots.size())) Resize(RoomFor(pairs));
}

void NameMap::Resize(size_t capacity) {
    capacity = std::min(std::max(capacity, count + 1), kMaxSlots);
    std::vector<Slot> old(capacity, Slot{0, kNoEntry});
    old.swap(slots);
    for (const Slot& s : old) {
        if (s.entry != kNoEntry) Place(s.tag, s.entry);
    }
}

void NameMap::Place(uint32_t tag, uint32_t entry) {
    size_t i = Home(tag);
    while (slots[i].entry != kNoEntry) i = Next(i);
    slots[i] = Slot{tag, entry};
}

void NameMap::Insert(uint64_t key, uint32_t entry) {
    if (slots.empty() || PastLimit(count + 1, slots.size())) Resize(RoomFor(count + count / 2 + 1));
    Place(TagOf(key), entry);
    count += 1;
}

void NameMap::InsertConcurrently(uint64_t key, uint32_t entry) {
    const uint32_t tag = TagOf(key);
    for (size_t i = Home(tag);; i = Next(i)) {
        std::atomic_ref<uint32_t> claim(slots[i].entry);
        uint32_t empty = kNoEntry;
        if (claim.load(std::memory_order_relaxed) == kNoEntry &&
            claim.compare_exchange_strong(empty, entry, std::memory_order_relaxed)) {
            // Only this thread writes the slot's tag, and nobody reads tags until the fill is over.
            slots[i].tag = tag;
            return;
        }
    }
}

bool NameMap::Erase(uint64_t key, uint32_t entry) {
    if (slots.empty()) return false;
    const uint32_t tag = TagOf(key);
    size_t hole = Home(tag);
    for (;; hole = Next(hole)) {
        if (slots[hole].entry == kNoEntry) return false;
        if (slots[hole].tag == tag && slots[hole].entry == entry) break;
    }
    // Pull back every later pair of the run whose home does not lie in
    // (hole, j]: a probe for it would otherwise stop at the hole.
    for (size_t j = Next(hole); slots[j].entry != kNoEntry; j = Next(j)) {
        const size_t home = Home(slots[j].tag);
        const bool reachable = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (!reachable) {
            slots[hole] = slots[j];
            hole = j;
        }
    }
    slots[hole] = Slot{0, kNoEntry};
    count -= 1;
    return true;
}

namespace {

constexpr uint32_t kFillBlock = uint32_t{1} << 16;

int FillBlocks(uint32_t first, uint32_t n) {
    return first < n ? static_cast<int>((n - first + kFillBlock - 1) / kFillBlock) : 0;
}

}  // namespace

// Calls fn(i) for every entry of block b (from first on) that belongs in a map `which` selects.
template <class Fn>
void Index::ForNameMapBlock(const std::bitset<kMaxVolumes>& which, uint32_t first, int b, Fn&& fn) const {
    const auto n = static_cast<uint32_t>(entries.size());
    const size_t slotCount = std::min<size_t>(volumes.size(), kMaxVolumes);
    const uint32_t lo = first + static_cast<uint32_t>(b) * kFillBlock;
    const uint32_t hi = std::min(n, lo + kFillBlock);
    for (uint32_t i = lo; i < hi; ++i) {
        const Entry& e = entries[i];
        const auto slot = static_cast<size_t>(SlotOf(e.flags));
        if (e.parent != kNoEntry && !IsDeleted(e) && slot < slotCount && which[slot] && volumes[slot]) fn(i);
    }
}

void Index::FillNameMaps(const std::bitset<kMaxVolumes>& which, uint32_t first) {
    if (which.none()) return;
    const auto n = static_cast<uint32_t>(entries.size());
    const size_t slotCount = std::min<size_t>(volumes.size(), kMaxVolumes);
    // Blocks of the table, counted first so each map is sized once, then filled.
    const int blocks = FillBlocks(first, n);
    std::vector<std::array<uint32_t, kMaxVolumes>> perBlock(static_cast<size_t>(blocks));
    pool.Run(blocks, [&](int b) {
        std::array<uint32_t, kMaxVolumes>& counts = perBlock[static_cast<size_t>(b)];
        counts.fill(0);
        ForNameMapBlock(which, first, b, [&](uint32_t i) { counts[SlotOf(entries[i].flags)] += 1; });
    });
    std::array<size_t, kMaxVolumes> totals{};
    for (const auto& counts : perBlock) {
        for (size_t s = 0; s < kMaxVolumes; ++s) totals[s] += counts[s];
    }
    for (size_t s = 0; s < slotCount; ++s) {
        if (!which[s] || !volumes[s]) continue;
        NameMap& map = volumes[s]->nameMap;
        map.Clear();
        map.Reserve(totals[s]);
    }
    FillCountedNameMaps(which, first, totals);
}

void Index::FillCountedNameMaps(const std::bitset<kMaxVolumes>& which, uint32_t first,
                                const std::array<size_t, kMaxVolumes>& pairs) {
    if (which.none()) return;
    const size_t slotCount = std::min<size_t>(volumes.size(), kMaxVolumes);
    for (size_t s = 0; s < slotCount; ++s) {
        if (which[s] && volumes[s]) volumes[s]->nameMap.Restart(pairs[s]);
    }
    pool.Run(FillBlocks(first, static_cast<uint32_t>(entries.size())), [&](int b) {
        ForNameMapBlock(which, first, b, [&](uint32_t i) {
            const Entry& e = entries[i];
            volumes[SlotOf(e.flags)]->nameMap.InsertConcurrently(NameMapKey(e.parent, FoldedOf(i)), i);
        });
    });
    for (size_t s = 0; s < slotCount; ++s) {
        if (which[s] && volumes[s]) volumes[s]->nameMap.Counted(pairs[s]);
    }
}

}  // namespace ov
