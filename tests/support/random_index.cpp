#include "tests/support/random_index.h"

#include <algorithm>
#include <numeric>

#include "index/text.h"
#include "tests/support/index_reference.h"
#include "tests/support/search_reference.h"

namespace ov::testing {
namespace {

template <size_t N>
const char* Pick(Rng& rng, const char* const (&items)[N]) {
    return items[rng() % N];
}

uint64_t PickValue(Rng& rng, std::initializer_list<uint64_t> values) {
    return *(values.begin() + rng() % values.size());
}

// Whole names with edge cases of dots, case and words.
const char* const kWhole[] = {
    ".profile",       "name.", ".",     "..x",        "x.",    "Makefile",  "a.c",          "A.C", ".gitignore",
    "archive.tar.gz", "a.txt", "A.TXT", "my log.txt", "x-log", "catalog.c", "\xC3\xA9.txt", "log", "report_12.pdf"};
// Stems that collide for the sorts: case variants, prefixes past 8, 16 and 24
// bytes, names whose folded form is shorter.
const char* const kStems[] = {"a",
                              "A",
                              "b",
                              "report",
                              "Report",
                              "REPORT",
                              "readme",
                              "x",
                              "abcdefghij",
                              "ABCDEFGHIJ",
                              "abcdefghik",
                              "abcdefgh",
                              "\xE2\x84\xAA\xE2\x84\xAA",  // two Kelvin signs: fold to "kk", a third of the bytes
                              "kk",
                              "\xC3\x89t\xC3\xA9",
                              "\xC3\xA9t\xC3\xA9",
                              "z",
                              "common_prefix_of_names_a",
                              "common_prefix_of_names_b",
                              "Common_Prefix_Of_Names",
                              "common_prefix_of"};
// Fragments that queries search for, joined by separators.
const char* const kFragments[] = {"report",   "Report",   "REPORT", "log",    "Log",         "catalog", "logs",
                                  "log_1",    "x-log",    "my log", "proj",   "src",         "Src",     "photo",
                                  "\xC3\xA9", "\xC3\x89", "ab",     "abc",    "a",           "b",       "x",
                                  "q",        "\xC3\x9F", "data",   "readme", "2024",        "tmp",     "foo",
                                  "Foo",      "bar",      "tar",    "zz",     "\xE2\x82\xAC"};
const char* const kSeparators[] = {"", "", "", " ", "-", "_", "."};
// 7, 8 and 9 bytes among them, for sorts that read extensions eight bytes at a time.
const char* const kExtensions[] = {"txt",      "TXT",      "jpg", "png", "gz",  "tar.gz",         "pdf",
                                   "c",        "md",       "log", "Jpg", "Txt", "longextension1", "content",
                                   "manifest", "manifests"};

std::vector<uint32_t> LiveFolders(const Index& index) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        if (IsDir(index.entries[i]) && !IsDeleted(index.entries[i])) out.push_back(i);
    }
    return out;
}

// One entry under a folder of `folders`, recent ones preferred so the tree grows
// deep as well as wide; in the parent's slot unless slot >= 0.
uint32_t AddRandom(Index& index, Rng& rng, const std::vector<uint32_t>& folders, int slot = -1) {
    const size_t span = std::min<size_t>(folders.size(), 40);
    const uint32_t parent = rng() % 2 ? folders[folders.size() - 1 - rng() % span] : folders[rng() % folders.size()];
    if (IsDeleted(index.entries[parent])) return kNoEntry;
    const bool folder = rng() % 5 == 0;
    const uint32_t flags = SlotBits(slot >= 0 ? slot : SlotOf(index.entries[parent].flags)) | RandomAttributes(rng) |
                           (folder ? EntryFlags::Directory : 0u);
    return AddNamed(index, parent, RandomName(rng, folder), flags, folder ? 0 : RandomSize(rng), RandomTime(rng),
                    RandomTime(rng));
}

uint32_t AddToPiece(Index::Piece& piece, const Entry& e, const std::string& name) {
    const uint32_t at = piece.Add(e.parent, name, FoldCaseUtf8(name), e.flags, e.size, e.modified, e.created);
    piece.entries[at].childCount = e.childCount;
    return at;
}

}  // namespace

std::string RandomName(Rng& rng, bool folder) {
    const uint64_t style = rng() % 8;
    if (style == 0) return Pick(rng, kWhole);
    std::string name;
    if (style < 4) {
        name = Pick(rng, kStems);
        if (rng() % 3 == 0) name += static_cast<char>('0' + rng() % 10);
    } else {
        const int parts = 1 + static_cast<int>(rng() % 3);
        for (int p = 0; p < parts; ++p) {
            if (p > 0) name += Pick(rng, kSeparators);
            name += Pick(rng, kFragments);
        }
    }
    if (!folder && rng() % 4 != 0) name += std::string(".") + Pick(rng, kExtensions);
    return name;
}

uint64_t RandomSize(Rng& rng) {
    if (rng() % 4 == 0) return rng() % 100000;
    return PickValue(rng, {0, 0, 1, 100, 10240, 10241, 102401, 1u << 20, 5ull << 30, 1ull << 40});
}

uint64_t RandomTime(Rng& rng) {
    const uint64_t base = 132223104000000000ull;  // 2020-01-01
    const uint64_t day = 864000000000ull;
    if (rng() % 8 == 0) return PickValue(rng, {0, 100, 200});
    if (rng() % 3 == 0) return base + (rng() % 2000) * day + rng() % day;
    return base + PickValue(rng, {0, 1, 365, 366, 1000, 1500, 1826}) * day;
}

uint32_t RandomAttributes(Rng& rng) {
    uint32_t a = 0;
    if (rng() % 10 == 0) a |= FileAttr::ReadOnly;
    if (rng() % 12 == 0) a |= FileAttr::Hidden;
    if (rng() % 14 == 0) a |= FileAttr::System;
    if (rng() % 3 == 0) a |= FileAttr::Archive;
    return a;
}

std::vector<uint32_t> AddRandomTree(Index& index, Rng& rng, uint32_t root, int slot, size_t count) {
    std::vector<uint32_t> folders{root};
    std::vector<uint32_t> added;
    while (added.size() < count) {
        const uint32_t e = AddRandom(index, rng, folders, slot);
        if (e == kNoEntry) continue;
        added.push_back(e);
        if (IsDir(index.entries[e])) folders.push_back(e);
    }
    return added;
}

void FillRandomIndex(Index& index, Rng& rng, const RandomIndexShape& shape) {
    const char* const roots[] = {"C:", "D:", "\\\\srv\\share", "E:\\"};
    const int rootCount = 1 + static_cast<int>(rng() % 4);
    std::vector<uint32_t> folders;
    for (int r = 0; r < rootCount; ++r) {
        uint32_t attrs = r == 1 ? FileAttr::Hidden | FileAttr::System : 0;  // as drive roots often are
        folders.push_back(AddNamed(index, kNoEntry, roots[r],
                                   EntryFlags::Directory | EntryFlags::VolumeRoot | SlotBits(r) | attrs, 0,
                                   RandomTime(rng), RandomTime(rng)));
    }
    while (index.entries.size() < shape.entries) {
        const uint32_t added = AddRandom(index, rng, folders);
        if (added != kNoEntry && IsDir(index.entries[added])) folders.push_back(added);
    }
    if (shape.mutate) {
        for (size_t k = 0; k < shape.entries / 8; ++k) RandomChange(index, rng);
    }
    if (shape.exclude && rng() % 3 != 0) {
        index.excluded = SomeFolderPaths(index, rng, 1 + rng() % 2);
        index.excludesDirty = true;
    }
}

void RandomChange(Index& index, Rng& rng) {
    const uint32_t entry = RandomLiveEntry(index, rng);
    if (entry == kNoEntry) return;
    const Entry e = index.entries[entry];
    switch (rng() % 6) {
        case 0: {
            const auto folders = LiveFolders(index);
            if (!folders.empty()) AddRandom(index, rng, folders);
            break;
        }
        case 1:
            index.Remove(entry);
            break;
        case 2: {
            const std::string name = RandomName(rng, IsDir(e));
            index.Rename(entry, e.parent, name, FoldCaseUtf8(name));
            break;
        }
        case 3: {
            const auto folders = LiveFolders(index);
            const uint32_t target = folders[rng() % folders.size()];
            if (IsWithin(index, target, entry)) break;  // a folder never moves below itself
            const std::string name = rng() % 2 ? std::string(index.NameOf(entry)) : RandomName(rng, IsDir(e));
            index.Rename(entry, target, name, FoldCaseUtf8(name));
            break;
        }
        default:
            index.SetMeta(entry, IsDir(e) ? e.size : RandomSize(rng), RandomTime(rng), RandomTime(rng),
                          static_cast<uint16_t>(RandomAttributes(rng)));
            break;
    }
}

Index::Piece RandomPiece(Rng& rng, const std::string& rootName, size_t count) {
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
        e.flags = (dir ? EntryFlags::Directory : 0) | RandomAttributes(rng);
        e.size = dir ? 12345 : RandomSize(rng);  // a scan need not set folder sizes
        e.childCount = 77;
        e.modified = RandomTime(rng);
        e.created = RandomTime(rng);
        const uint32_t at = AddToPiece(piece, e, RandomName(rng, dir));
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
    std::shuffle(perm.begin(), perm.end(), rng);
    std::vector<Entry> shuffled(n);
    for (size_t old = 0; old < n; ++old) {
        Entry e = piece.entries[old];
        if (e.parent != kNoEntry) e.parent = perm[e.parent];
        shuffled[perm[old]] = e;
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

uint32_t RandomLiveEntry(const Index& index, Rng& rng, bool foldersOnly) {
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

std::vector<std::string> SomeFolderPaths(const Index& index, Rng& rng, size_t count) {
    const auto folders = LiveFolders(index);
    std::vector<std::string> out;
    for (size_t k = 0; k < count && !folders.empty(); ++k) {
        std::string path = NaiveFoldedPath(index, folders[rng() % folders.size()]);
        while (path.size() > 3 && path.back() == '\\') path.pop_back();
        out.push_back(path);
    }
    return out;
}

}  // namespace ov::testing
