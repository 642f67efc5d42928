#include "tests/support/random_index.h"

#include <algorithm>
#include <numeric>

#include "index/text.h"

namespace ov::testing {
namespace {

template <size_t N>
const char* Pick(std::mt19937_64& rng, const char* const (&items)[N]) {
    return items[rng() % N];
}

uint32_t AddToPiece(Index::Piece& piece, const Entry& e, const std::string& name) {
    const uint32_t at = piece.Add(e.parent, name, FoldCaseUtf8(name), e.flags, e.size, e.modified, e.created);
    piece.entries[at].childCount = e.childCount;
    return at;
}

}  // namespace

std::string RandomName(std::mt19937_64& rng) {
    static const char* const kWhole[] = {".profile", "name.", ".", "..x", "x.", "Makefile", "a.c", "A.C"};
    static const char* const kStems[] = {
        "a", "A", "b", "report", "Report", "REPORT", "readme", "x", "abcdefghij", "ABCDEFGHIJ", "abcdefghik",
        "abcdefgh",
        "\xE2\x84\xAA\xE2\x84\xAA",  // two Kelvin signs: fold to "kk", a third of the bytes
        "kk", "\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9", "z",
        // Shared prefixes past 16 and 24 bytes, for sorts that read names eight bytes at a time.
        "common_prefix_of_names_a", "common_prefix_of_names_b", "Common_Prefix_Of_Names", "common_prefix_of"};
    static const char* const kExts[] = {"",
                                        "",
                                        ".txt",
                                        ".TXT",
                                        ".c",
                                        ".",
                                        ".Txt",
                                        ".tar.gz",
                                        ".longextension1",
                                        ".longextension2",
                                        ".content",
                                        ".manifest",
                                        ".manifests"};  // 7, 8 and 9 bytes
    if (rng() % 16 == 0) return Pick(rng, kWhole);
    std::string name = Pick(rng, kStems);
    if (rng() % 3 == 0) name += static_cast<char>('0' + rng() % 10);
    name += Pick(rng, kExts);
    return name;
}

uint64_t RandomSize(std::mt19937_64& rng) {
    static const uint64_t kSizes[] = {0, 0, 1, 10, 4096};
    const size_t pick = rng() % 7;
    return pick < 5 ? kSizes[pick] : rng() % 1000000000;
}

uint64_t RandomTime(std::mt19937_64& rng) {
    static const uint64_t kTimes[] = {0, 100, 200};
    const size_t pick = rng() % 5;
    return pick < 3 ? kTimes[pick] : 130000000000000000ull + rng() % 1000000;
}

std::vector<uint32_t> AddRandomTree(Index& index, std::mt19937_64& rng, uint32_t root, int slot, size_t count) {
    std::vector<uint32_t> folders{root};
    std::vector<uint32_t> added;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t parent = folders[rng() % folders.size()];
        const bool dir = rng() % 5 == 0;
        const uint32_t flags = SlotBits(slot) | (dir ? EntryFlags::Directory : 0) | static_cast<uint32_t>(rng() % 8);
        const std::string name = RandomName(rng);
        const uint32_t e = index.Add(parent, name.data(), name.size(), FoldCaseUtf8(name), flags,
                                     dir ? 0 : RandomSize(rng), RandomTime(rng), RandomTime(rng));
        added.push_back(e);
        if (dir) folders.push_back(e);
    }
    return added;
}

Index::Piece RandomPiece(std::mt19937_64& rng, const std::string& rootName, size_t count) {
    Index::Piece piece;
    std::vector<uint32_t> records;  // record of each piece entry
    Entry root{};
    root.parent = kNoEntry;
    root.flags = EntryFlags::Directory | EntryFlags::VolumeRoot;
    AddToPiece(piece, root, rootName);
    records.push_back(5);
    std::vector<uint32_t> folders{0};
    for (size_t i = 0; i < count; ++i) {
        const bool dir = rng() % 5 == 0;
        Entry e{};
        e.parent = folders[rng() % folders.size()];
        e.flags = (dir ? EntryFlags::Directory : 0) | static_cast<uint32_t>(rng() % 8);
        e.size = dir ? 12345 : RandomSize(rng);  // a scan need not set folder sizes
        e.childCount = 77;
        e.modified = RandomTime(rng);
        e.created = RandomTime(rng);
        const uint32_t at = AddToPiece(piece, e, RandomName(rng));
        const auto record = static_cast<uint32_t>(24 + i);
        records.push_back(record);
        if (dir) {
            folders.push_back(at);
            piece.folders += 1;
            continue;
        }
        piece.files += 1;
        if (rng() % 10 == 0) {
            Entry link = e;
            link.parent = folders[rng() % folders.size()];
            AddToPiece(piece, link, RandomName(rng));
            records.push_back(record);
            piece.files += 1;
        }
    }

    // A file-table scan numbers entries by record, so parents may follow their
    // children; shuffle to make sure nothing relies on the order.
    const size_t n = piece.entries.size();
    std::vector<uint32_t> perm(n);
    std::iota(perm.begin(), perm.end(), 0u);
    std::shuffle(perm.begin(), perm.end(), rng);  // perm[old] = new
    std::vector<Entry> shuffled(n);
    for (size_t i = 0; i < n; ++i) {
        Entry e = piece.entries[i];
        if (e.parent != kNoEntry) e.parent = perm[e.parent];
        shuffled[perm[i]] = e;
    }
    piece.entries.swap(shuffled);
    piece.root = perm[0];
    // The first name in original order is the record's; later ones are links.
    piece.recordMap.assign(24 + count + 64, kNoEntry);
    for (size_t old = 0; old < n; ++old) {
        const uint32_t entry = perm[old];
        uint32_t& slot = piece.recordMap[records[old]];
        if (slot == kNoEntry) {
            slot = entry;
        } else {
            piece.hardLinks.emplace_back(records[old], entry);
        }
    }
    return piece;
}

uint32_t RandomLiveEntry(const Index& index, std::mt19937_64& rng, bool foldersOnly) {
    const size_t n = index.entries.size();
    if (n == 0) return kNoEntry;
    auto fits = [&](size_t i) {
        const Entry& e = index.entries[i];
        return !IsDeleted(e) && !(e.flags & EntryFlags::VolumeRoot) && (!foldersOnly || IsDir(e));
    };
    for (int tries = 0; tries < 64; ++tries) {
        const size_t i = rng() % n;
        if (fits(i)) return static_cast<uint32_t>(i);
    }
    const size_t start = rng() % n;
    for (size_t k = 0; k < n; ++k) {
        if (fits((start + k) % n)) return static_cast<uint32_t>((start + k) % n);
    }
    return kNoEntry;
}

bool IsWithin(const Index& index, uint32_t entry, uint32_t ancestor) {
    uint32_t cur = entry;
    for (int depth = 0; depth <= Index::kMaxDepth && cur != kNoEntry && cur < index.entries.size(); ++depth) {
        if (cur == ancestor) return true;
        cur = index.entries[cur].parent;
    }
    return false;
}

}  // namespace ov::testing
