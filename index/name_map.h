// A folder volume's name map: NameMapKey (parent entry and the hash of the
// folded name) to entry numbers, several entries per key.
//
// One flat open-addressing table of 8-byte slots with linear probing, so ten
// million pairs cost one allocation, not one heap node each. A slot holds the
// entry number and a 32-bit digest of its key, and the digest alone picks the
// slot a probe starts from (scaled to the table by a multiply): growing and
// removing never need the full key back. A lookup by key therefore yields
// every entry stored under a key with the same digest; the name map's users
// check each candidate's parent and folded name anyway, as different names
// share a key already. Removal shifts the rest of the probe run back, leaving
// no tombstones behind.
//
// Guarded by the index lock like the rest of the volume's maps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/entry.h"

namespace ov {

class NameMap {
public:
    size_t Size() const { return count; }
    bool Empty() const { return count == 0; }
    // Slots in the table; room for Size() up to the growth limit.
    size_t Capacity() const { return slots.size(); }
    // Drops every pair and the table's memory.
    void Clear();
    // Room for `pairs` pairs and then some, so that a table filled once from a
    // volume's entries takes the first changes after it without growing.
    void Reserve(size_t pairs);

    void Insert(uint64_t key, uint32_t entry);
    // Removes one pair (key, entry); false when there is none.
    bool Erase(uint64_t key, uint32_t entry);
    // The first entry stored under key (in table order) that accept(entry)
    // takes, or kNoEntry. accept may see entries of other keys (see above).
    template <class Accept>
    uint32_t Find(uint64_t key, Accept&& accept) const {
        if (slots.empty()) return kNoEntry;
        const uint32_t tag = TagOf(key);
        for (size_t i = Home(tag);; i = Next(i)) {
            const Slot& s = slots[i];
            if (s.entry == kNoEntry) return kNoEntry;
            if (s.tag == tag && accept(s.entry)) return s.entry;
        }
    }
    // fn(entry) for every pair, in table order.
    template <class Fn>
    void ForEach(Fn&& fn) const {
        for (const Slot& s : slots) {
            if (s.entry != kNoEntry) fn(s.entry);
        }
    }

    // Empties the map for `pairs` pairs to be put in with InsertConcurrently,
    // which Reserve made room for. A table far larger than they need is
    // swapped for a smaller one when memory allows; nothing else allocates.
    void Restart(size_t pairs);

    // For a table filled by several threads at once after Reserve: inserts
    // without growing and without counting, safe only against other calls of
    // itself. The caller keeps the pairs within what it reserved and then
    // tells Counted how many went in.
    void InsertConcurrently(uint64_t key, uint32_t entry);
    void Counted(size_t pairs) { count += pairs; }

private:
    struct Slot {
        uint32_t tag;
        uint32_t entry;  // kNoEntry: empty
    };

    static uint32_t TagOf(uint64_t key) {
        key ^= key >> 33;
        key *= 0xFF51AFD7ED558CCDull;
        key ^= key >> 33;
        key *= 0xC4CEB9FE1A85EC53ull;
        key ^= key >> 33;
        return static_cast<uint32_t>(key >> 32);
    }
    size_t Home(uint32_t tag) const { return static_cast<size_t>((uint64_t{tag} * slots.size()) >> 32); }
    size_t Next(size_t i) const { return i + 1 == slots.size() ? 0 : i + 1; }
    void Resize(size_t capacity);
    void Place(uint32_t tag, uint32_t entry);

    std::vector<Slot> slots;
    size_t count = 0;
};

}  // namespace ov
