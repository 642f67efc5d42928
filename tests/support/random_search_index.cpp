#include "tests/support/random_search_index.h"

#include "index/text.h"
#include "tests/support/index_reference.h"
#include "tests/support/search_reference.h"

namespace ov::testing {
namespace {

const char* const kFragments[] = {"report",   "Report",   "REPORT", "log",    "Log",         "catalog", "logs",
                                  "log_1",    "x-log",    "my log", "proj",   "src",         "Src",     "photo",
                                  "\xC3\xA9", "\xC3\x89", "ab",     "abc",    "a",           "b",       "x",
                                  "q",        "\xC3\x9F", "data",   "readme", "2024",        "tmp",     "foo",
                                  "Foo",      "bar",      "tar",    "zz",     "\xE2\x82\xAC"};
const char* const kSeparators[] = {"", "", "", " ", "-", "_", "."};
const char* const kExtensions[] = {"txt", "TXT", "jpg", "png", "gz", "tar.gz", "pdf", "c", "md", "log", "Jpg"};
const char* const kSpecial[] = {".gitignore", "name.", "archive.tar.gz", "photos.jpg",   "a.txt",        "A.TXT", "log",
                                "my log.txt", "x-log", "catalog.c",      "\xC3\xA9.txt", "report_12.pdf"};

uint64_t Pick(std::mt19937& rng, std::initializer_list<uint64_t> values) {
    return *(values.begin() + rng() % values.size());
}

uint64_t RandomSize(std::mt19937& rng) {
    if (rng() % 4 == 0) return rng() % 100000;
    return Pick(rng, {0, 0, 1, 100, 10240, 10241, 102401, 1u << 20, 5ull << 30, 1ull << 40});
}

// FILETIME ticks spread over a few years, with repeats so ranges have ties.
uint64_t RandomTime(std::mt19937& rng) {
    const uint64_t base = 132223104000000000ull;  // 2020-01-01
    const uint64_t day = 864000000000ull;
    if (rng() % 3 == 0) return base + (rng() % 2000) * day + rng() % day;
    return base + Pick(rng, {0, 1, 365, 366, 1000, 1500, 1826}) * day;
}

uint32_t RandomAttributes(std::mt19937& rng) {
    uint32_t a = 0;
    if (rng() % 10 == 0) a |= FileAttr::ReadOnly;
    if (rng() % 12 == 0) a |= FileAttr::Hidden;
    if (rng() % 14 == 0) a |= FileAttr::System;
    if (rng() % 3 == 0) a |= FileAttr::Archive;
    return a;
}

std::vector<uint32_t> LiveFolders(const Index& index) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < index.entries.size(); ++i) {
        if (IsDir(index.entries[i]) && !IsDeleted(index.entries[i])) out.push_back(i);
    }
    return out;
}

uint32_t RandomLive(const Index& index, std::mt19937& rng, bool rootsToo) {
    for (int tries = 0; tries < 50; ++tries) {
        const auto i = static_cast<uint32_t>(rng() % index.entries.size());
        const Entry& e = index.entries[i];
        if (!IsDeleted(e) && (rootsToo || !(e.flags & EntryFlags::VolumeRoot))) return i;
    }
    return kNoEntry;
}

bool Below(const Index& index, uint32_t entry, uint32_t folder) {
    for (uint32_t cur = entry; cur != kNoEntry; cur = index.entries[cur].parent) {
        if (cur == folder) return true;
    }
    return false;
}

uint32_t AddRandom(Index& index, std::mt19937& rng, const std::vector<uint32_t>& folders) {
    // Prefer recent folders so the tree grows deep as well as wide.
    const size_t span = std::min<size_t>(folders.size(), 40);
    const uint32_t parent = rng() % 2 ? folders[folders.size() - 1 - rng() % span] : folders[rng() % folders.size()];
    if (IsDeleted(index.entries[parent])) return kNoEntry;
    const bool folder = rng() % 4 == 0;
    const uint32_t flags =
        SlotBits(SlotOf(index.entries[parent].flags)) | RandomAttributes(rng) | (folder ? EntryFlags::Directory : 0u);
    return AddNamed(index, parent, RandomSearchName(rng, folder), flags, folder ? 0 : RandomSize(rng), RandomTime(rng),
                    RandomTime(rng));
}

}  // namespace

std::string RandomSearchName(std::mt19937& rng, bool folder) {
    if (rng() % 6 == 0) return kSpecial[rng() % std::size(kSpecial)];
    std::string name;
    const int parts = 1 + static_cast<int>(rng() % 3);
    for (int p = 0; p < parts; ++p) {
        if (p > 0) name += kSeparators[rng() % std::size(kSeparators)];
        name += kFragments[rng() % std::size(kFragments)];
    }
    if (!folder && rng() % 4 != 0) name += std::string(".") + kExtensions[rng() % std::size(kExtensions)];
    return name;
}

void FillRandomIndex(Index& index, std::mt19937& rng, const RandomIndexShape& shape) {
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

void RandomChange(Index& index, std::mt19937& rng) {
    const uint32_t entry = RandomLive(index, rng, false);
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
            const std::string name = RandomSearchName(rng, IsDir(e));
            index.Rename(entry, e.parent, name, FoldCaseUtf8(name));
            break;
        }
        case 3: {
            const auto folders = LiveFolders(index);
            const uint32_t target = folders[rng() % folders.size()];
            if (Below(index, target, entry)) break;  // a folder never moves below itself
            const std::string name = rng() % 2 ? std::string(index.NameOf(entry)) : RandomSearchName(rng, IsDir(e));
            index.Rename(entry, target, name, FoldCaseUtf8(name));
            break;
        }
        default:
            index.SetMeta(entry, IsDir(e) ? e.size : RandomSize(rng), RandomTime(rng), RandomTime(rng),
                          static_cast<uint16_t>(RandomAttributes(rng)));
            break;
    }
}

std::vector<std::string> SomeFolderPaths(const Index& index, std::mt19937& rng, size_t count) {
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
