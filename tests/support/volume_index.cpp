#include "tests/support/volume_index.h"

#include <fstream>
#include <random>

#include "index/text.h"
#include "tests/support/index_reference.h"
#include "tests/support/random_index.h"

namespace ov::testing {
namespace {

std::unique_ptr<Volume> MakeVolume(int slot, std::mt19937_64& rng) {
    auto v = std::make_unique<Volume>();
    v->slot = slot;
    const bool folders = slot % 2 == 1;
    v->kind = folders ? VolumeKind::Folders : VolumeKind::FileTable;
    const std::string letter(1, static_cast<char>('C' + slot));
    if (folders) {
        v->root = ToWide("D:\\Fotos \xF0\x9F\x93\xB7 " + std::to_string(slot) + "\\");
        v->name = v->root.substr(0, v->root.size() - 1);
        v->addedFolder = true;
    } else {
        v->root = ToWide(letter + ":\\");
        v->name = ToWide(letter + ":");
        v->fileSystem = ToWide("NTFS");
        v->label = ToWide("Disque \xC3\xA9t\xC3\xA9 \xF0\x9D\x84\x9E");
        v->serial = static_cast<uint32_t>(rng());
        v->journalId = rng();
        v->nextUsn = rng() >> 8;
    }
    return v;
}

}  // namespace

void FillVolumeIndex(VolumeIndex& v, uint64_t seed, int slots, size_t perVolume, size_t changes) {
    std::mt19937_64 rng(seed);
    Index& index = v.index;
    v.volumes.clear();
    for (int s = 0; s < slots; ++s) v.volumes.push_back(s == 1 && slots >= 3 ? nullptr : MakeVolume(s, rng));
    for (const auto& volume : v.volumes) index.volumes.push_back(volume.get());
    for (const auto& volume : v.volumes) {
        if (!volume) continue;
        Index::Piece piece = RandomPiece(rng, ToUtf8(volume->name), perVolume);
        if (volume->kind == VolumeKind::Folders) {
            piece.recordMap.clear();
            piece.hardLinks.clear();
        }
        index.Ingest(volume->slot, piece);
    }
    // Deep paths with names of one to four bytes per character.
    uint32_t parent = v.volumes[0]->rootEntry;
    for (int depth = 0; depth < 300; ++depth) {
        const std::string name = "\xE6\xB7\xB1 \xF0\x9F\x8C\xB2 Ebene " + std::to_string(depth);
        parent = AddNamed(index, parent, name, EntryFlags::Directory, 0, RandomTime(rng), RandomTime(rng));
        if (depth % 50 == 49) AddNamed(index, parent, "F\xC3\xBC\xC3\x9F.txt", 0, 1000 + depth, 1, 2);
    }
    for (size_t k = 0; k < changes; ++k) RandomChange(index, rng);
    for (size_t k = 0; k < index.entries.size() / 20; ++k) {
        const auto e = static_cast<uint32_t>(rng() % index.entries.size());
        index.openCounts[e] = 1 + static_cast<uint32_t>(rng() % 40);
    }
    index.excluded = SomeFolderPaths(index, rng, 1);
    index.excludesDirty = true;
}

WString FileIn(const std::filesystem::path& folder, const std::string& utf8Name) {
    const std::u16string units = (folder / std::filesystem::u8path(utf8Name)).u16string();
    return WString(units.begin(), units.end());
}

std::string ReadWholeFile(const WString& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const WString& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace ov::testing
