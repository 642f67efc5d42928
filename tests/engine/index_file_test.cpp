#include "engine/index_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <shared_mutex>
#include <thread>

#include "engine/engine.h"
#include "index/searcher.h"
#include "index/text.h"
#include "tests/engine/fake_drives.h"
#include "tests/support/child_process.h"
#include "tests/support/index_reference.h"
#include "tests/support/random_index.h"
#include "tests/support/random_query.h"
#include "tests/support/volume_index.h"

namespace ov {
namespace {

using testing::AddNamed;
using testing::VolumeIndex;

// The file layout written out independently of the writer, field by field, from
// a plain description that tests can bend out of shape.
struct ModelVolume {
    std::u16string root, name, fileSystem, label;
    uint32_t presence = 1, serial = 0, added = 0, kind = 1;
    uint64_t journalId = 0, nextUsn = 0;
    uint32_t rootEntry = kNoEntry;
    uint64_t files = 0, folders = 0;
    std::vector<uint32_t> recordMap;
    std::vector<std::pair<uint32_t, uint32_t>> links;
    std::optional<uint32_t> rootUnits, records, linkCount;  // claimed counts, when not the true ones
};

struct Model {
    std::string magic = "OVDB";
    uint32_t version = 2;
    std::vector<Entry> entries;
    std::string names, folded;
    std::vector<std::optional<ModelVolume>> volumes;
    std::vector<std::pair<uint32_t, uint32_t>> opens;
    std::string end = "END!", trailing;
    std::optional<uint32_t> n, slots, openCount;
    std::optional<uint64_t> a, b;
};

struct Bytes {
    std::string out;
    void U16(uint32_t v) { out += {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
    void U32(uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
    void U64(uint64_t v) { U32(uint32_t(v)), U32(uint32_t(v >> 32)); }
    void Text(const std::u16string& s, std::optional<uint32_t> claimed = {}) {
        U32(claimed.value_or(uint32_t(s.size())));
        for (char16_t c : s) U16(c);
    }
};

std::string Build(const Model& m) {
    Bytes f;
    f.out = m.magic;
    f.U32(m.version);
    f.U32(m.n.value_or(uint32_t(m.entries.size())));
    f.U64(m.a.value_or(m.names.size()));
    f.U64(m.b.value_or(m.folded.size()));
    for (const Entry& e : m.entries) {
        f.U32(e.parent), f.U32(e.nameOffset), f.U32(e.foldedOffset), f.U16(e.nameLength), f.U16(e.foldedLength);
        f.U32(e.flags), f.U32(e.childCount), f.U64(e.size), f.U64(e.modified), f.U64(e.created);
    }
    f.out += m.names + m.folded;
    f.U32(m.slots.value_or(uint32_t(m.volumes.size())));
    for (const auto& v : m.volumes) {
        f.U32(v ? v->presence : 0);
        if (!v || v->presence == 0) continue;
        f.Text(v->root, v->rootUnits), f.Text(v->name), f.Text(v->fileSystem), f.Text(v->label);
        f.U32(v->serial), f.U32(v->added), f.U32(v->kind), f.U64(v->journalId), f.U64(v->nextUsn);
        f.U32(v->rootEntry), f.U64(v->files), f.U64(v->folders);
        f.U32(v->records.value_or(uint32_t(v->recordMap.size())));
        for (uint32_t r : v->recordMap) f.U32(r);
        f.U32(v->linkCount.value_or(uint32_t(v->links.size())));
        for (auto [record, entry] : v->links) f.U32(record), f.U32(entry);
    }
    f.U32(m.openCount.value_or(uint32_t(m.opens.size())));
    for (auto [entry, count] : m.opens) f.U32(entry), f.U32(count);
    return f.out + m.end + m.trailing;
}

std::u16string Units(const WString& s) {
    return std::u16string(s.begin(), s.end());
}

// The model of an index as the writer should see it, pairs in the maps' order.
Model ModelOf(const Index& index) {
    Model m;
    m.entries = index.entries;
    m.names = index.names;
    m.folded = index.folded;
    for (const VolumeMaps* maps : index.volumes) {
        if (!maps) {
            m.volumes.emplace_back();
            continue;
        }
        const auto& v = static_cast<const Volume&>(*maps);
        ModelVolume mv;
        mv.root = Units(v.root), mv.name = Units(v.name), mv.fileSystem = Units(v.fileSystem);
        mv.label = Units(v.label), mv.serial = v.serial, mv.added = v.addedFolder, mv.kind = uint32_t(v.kind);
        mv.journalId = v.journalId, mv.nextUsn = v.nextUsn, mv.rootEntry = v.rootEntry, mv.files = v.files;
        mv.folders = v.folders, mv.recordMap = v.recordMap;
        mv.links.assign(v.hardLinks.begin(), v.hardLinks.end());
        m.volumes.push_back(mv);
    }
    m.opens.assign(index.openCounts.begin(), index.openCounts.end());
    return m;
}

// Six entries on a file-table volume (a hard link among them) and an added folder.
Model SmallModel() {
    VolumeIndex v;
    v.volumes.push_back(std::make_unique<Volume>());
    v.volumes.push_back(std::make_unique<Volume>());
    Volume& c = *v.volumes[0];
    Volume& d = *v.volumes[1];
    c.root = ToWide("C:\\"), c.name = ToWide("C:"), c.fileSystem = ToWide("NTFS"), c.label = ToWide("Syst\xC3\xA8me");
    c.serial = 0xA1B2C3D4, c.journalId = 0x1122334455667788, c.nextUsn = 4096, c.files = 3, c.folders = 1;
    d.slot = 1, d.kind = VolumeKind::Folders, d.addedFolder = true, d.files = 1;
    d.root = ToWide("D:\\Daten\\"), d.name = ToWide("D:\\Daten");
    Index& index = v.index;
    index.volumes = {&c, &d};
    c.rootEntry = AddNamed(index, kNoEntry, "C:", testing::kRoot, 0, 7, 8);
    const uint32_t docs = AddNamed(index, c.rootEntry, "Dokumente", testing::kDir, 0, 9, 10);
    const uint32_t a = AddNamed(index, docs, "\xC3\xA4.txt", FileAttr::Archive, 100, 11, 12);
    const uint32_t link = AddNamed(index, c.rootEntry, "b.txt", FileAttr::Archive, 100, 11, 12);
    d.rootEntry = AddNamed(index, kNoEntry, "D:\\Daten", testing::kRoot | SlotBits(1), 0, 13, 14);
    AddNamed(index, d.rootEntry, "x", SlotBits(1), 5, 15, 16);
    c.recordMap.assign(32, kNoEntry);
    c.recordMap[5] = c.rootEntry, c.recordMap[28] = docs, c.recordMap[29] = a;
    c.hardLinks.emplace(29, link);
    index.openCounts[a] = 3;
    return ModelOf(index);
}

struct Loaded {
    VolumeIndex v;
    bool ok = false;
    std::string reason;
};

std::unique_ptr<Loaded> LoadFile(const WString& path) {
    auto out = std::make_unique<Loaded>();
    out->ok = LoadDb(out->v.index, path, out->v.volumes, out->reason);
    return out;
}

std::unique_ptr<Loaded> LoadBytes(const std::string& bytes) {
    auto out = std::make_unique<Loaded>();
    MemorySource source(bytes.data(), bytes.size());
    LoadedIndex image;
    out->ok =
        ReadIndexFile(source, image, out->reason) && InstallIndex(out->v.index, image, out->v.volumes, out->reason);
    return out;
}

bool Save(Index& index, const WString& path, std::string* why = nullptr) {
    std::mutex saveMutex;
    std::string reason;
    const bool ok = SaveDb(index, path, saveMutex, {}, reason);
    if (why) *why = reason;
    return ok;
}

std::vector<std::vector<uint32_t>> SearchAll(Index& index, const std::vector<testing::RandomSearch>& searches) {
    std::vector<std::vector<uint32_t>> out;
    for (const auto& s : searches) {
        Query query = ParseQuery(s.text, s.options);
        Searcher searcher(&index);
        searcher.Prepare(query, s.options);
        out.emplace_back();
        EXPECT_TRUE(searcher.Run(query, s.options, out.back(), nullptr));
    }
    return out;
}

// Equal tables, volumes and open counts, a consistent loaded state, and equal
// answers to random searches. The loaded folder totals are exact, while the
// index keeps them only within 256 levels of each change; the original is
// brought to the exact ones before comparing.
void ExpectSameIndex(Index& want, Index& got, uint64_t seed) {
    EXPECT_EQ("", testing::CheckTotals(got));
    want.RecomputeFolderTotals();
    ASSERT_EQ(want.entries.size(), got.entries.size());
    EXPECT_EQ(0, std::memcmp(want.entries.data(), got.entries.data(), want.entries.size() * sizeof(Entry)));
    EXPECT_EQ(want.names, got.names);
    EXPECT_EQ(want.folded, got.folded);
    EXPECT_EQ(want.openCounts, got.openCounts);
    ASSERT_EQ(want.volumes.size(), got.volumes.size());
    for (size_t s = 0; s < want.volumes.size(); ++s) {
        ASSERT_EQ(want.volumes[s] == nullptr, got.volumes[s] == nullptr);
        if (!want.volumes[s]) continue;
        const auto& w = static_cast<const Volume&>(*want.volumes[s]);
        const auto& g = static_cast<const Volume&>(*got.volumes[s]);
        EXPECT_TRUE(w.root == g.root && w.name == g.name && w.fileSystem == g.fileSystem && w.label == g.label &&
                    w.serial == g.serial);
        EXPECT_TRUE(w.addedFolder == g.addedFolder && w.kind == g.kind && w.journalId == g.journalId &&
                    w.nextUsn == g.nextUsn && w.rootEntry == g.rootEntry && w.files == g.files &&
                    w.folders == g.folders && w.recordMap == g.recordMap && g.slot == int(s));
        EXPECT_EQ(std::multiset(w.hardLinks.begin(), w.hardLinks.end()),
                  std::multiset(g.hardLinks.begin(), g.hardLinks.end()));
        EXPECT_EQ(LoadedVolumeStatus(), g.status);
        // A folder volume can find every named entry of its slot again by parent and name.
        size_t named = 0;
        for (uint32_t i = 0; i < got.entries.size() && g.kind == VolumeKind::Folders; ++i) {
            const Entry& e = got.entries[i];
            if (SlotOf(e.flags) != g.slot || e.parent == kNoEntry) continue;
            ++named;
            EXPECT_EQ(i, g.nameMap.Find(NameMapKey(e.parent, got.FoldedOf(i)), [i](uint32_t c) { return c == i; }));
        }
        EXPECT_EQ(named, g.nameMap.Size());
    }
    // The name order comes made with the load; every other one is made when asked for.
    for (int k = 0; k < kSortKeys; ++k) EXPECT_EQ(k != int(SortKey::Name), got.overflow[k]) << k;
    EXPECT_TRUE(got.OrderCurrent(SortKey::Name));
    EXPECT_EQ(got.entries.size(), got.ranks[int(SortKey::Name)].size());
    EXPECT_TRUE(got.excludesDirty);
    EXPECT_FALSE(got.pathsValid);
    EXPECT_EQ(got.foldedOffsets.size(), got.entries.size());

    got.excluded = want.excluded;
    got.excludesDirty = want.excludesDirty = true;
    testing::Rng rng(seed);
    const auto folders = testing::SomeFolderPaths(want, rng, 10);
    std::vector<testing::RandomSearch> searches;
    for (int k = 0; k < 60; ++k) searches.push_back(testing::RandomQuery(rng, folders));
    EXPECT_EQ(SearchAll(want, searches), SearchAll(got, searches));
}

TEST(IndexFile, EmptyIndexIsFortyBytes) {
    testing::TempDir dir("index-file");
    const WString path = testing::FileIn(dir.path, "Orvane.db");
    Index index;
    ASSERT_TRUE(Save(index, path));
    const std::string want("OVDB\x02\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0END!", 40);
    EXPECT_EQ(want, testing::ReadWholeFile(path));
    auto loaded = LoadFile(path);
    ASSERT_TRUE(loaded->ok) << loaded->reason;
    EXPECT_EQ(2u, loaded->v.index.epoch);
    EXPECT_TRUE(loaded->v.index.entries.empty() && loaded->v.volumes.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.path / "Orvane.db.tmp"));
}

// The file matches the layout written field by field from the index's state.
TEST(IndexFile, WritesTheLayoutFieldByField) {
    testing::TempDir dir("index-file");
    const auto folder = dir.path / std::filesystem::u8path("Ordner \xC3\x9C\xF0\x9F\x93\x81");
    std::filesystem::create_directories(folder);
    const WString path = testing::FileIn(folder, "Orvane \xE2\x9C\x93.db");
    VolumeIndex v;
    testing::FillVolumeIndex(v, 7, 4, 40, 20);
    ASSERT_TRUE(Save(v.index, path));
    EXPECT_EQ(0u, v.index.deletedCount);  // compacted first, so the file holds the compacted numbers
    EXPECT_EQ(Build(ModelOf(v.index)), testing::ReadWholeFile(path));
    // And back: a file written by hand loads and saves as the same bytes.
    const std::string small = Build(SmallModel());
    auto loaded = LoadBytes(small);
    ASSERT_TRUE(loaded->ok) << loaded->reason;
    StringSink again;
    std::string reason;
    ASSERT_TRUE(WriteIndexFile(loaded->v.index, again, reason)) << reason;
    EXPECT_EQ(small, again.bytes);
}

TEST(IndexFile, RoundTripKeepsTablesAndSearchResults) {
    testing::TempDir dir("index-file");
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(seed);
        VolumeIndex v;
        testing::FillVolumeIndex(v, seed, seed % 2 ? 4 : 2, 300 + 200 * seed, 150);
        const WString path = testing::FileIn(dir.path, "Orvane.db");
        std::string reason;
        ASSERT_TRUE(Save(v.index, path, &reason)) << reason;
        auto loaded = LoadFile(path);
        ASSERT_TRUE(loaded->ok) << loaded->reason;
        EXPECT_EQ(2u, loaded->v.index.epoch);
        ExpectSameIndex(v.index, loaded->v.index, seed);
    }
}

// A writer may run between the save's compaction and its copy, so a file can
// hold deleted and renamed entries; the loaded index is the compacted one, and
// renamed entries are found by their new names.
TEST(IndexFile, UncompactedFileLoadsCompacted) {
    VolumeIndex v;
    testing::FillVolumeIndex(v, 11, 4, 500, 300);
    ASSERT_FALSE(v.index.changedNames.empty());
    ASSERT_GT(v.index.deletedCount, 0u);
    std::vector<std::string> newNames;  // of renamed entries still live
    for (uint32_t e : v.index.changedNames) {
        if (!IsDeleted(v.index.entries[e])) newNames.emplace_back(v.index.NameOf(e));
    }
    ASSERT_FALSE(newNames.empty());
    StringSink sink;
    std::string reason;
    ASSERT_TRUE(WriteIndexFile(v.index, sink, reason)) << reason;
    auto loaded = LoadBytes(sink.bytes);
    ASSERT_TRUE(loaded->ok) << loaded->reason;

    v.index.Compact();
    ExpectSameIndex(v.index, loaded->v.index, 11);
    Index& got = loaded->v.index;
    got.excluded.clear();
    got.excludesDirty = true;
    SearchOptions options;
    for (const std::string& name : newNames) {
        if (name.find('"') != std::string::npos) continue;
        const auto hits = SearchAll(got, {{"\"" + name + "\"", options}})[0];
        EXPECT_TRUE(std::any_of(hits.begin(), hits.end(), [&](uint32_t e) { return got.NameOf(e) == name; })) << name;
    }
}

struct Case {
    const char* name;
    std::function<void(Model&)> change;
};

// Every refused file leaves the file and the index as they were.
void ExpectRefused(const std::string& bytes, const WString& path, const std::string& what) {
    ASSERT_TRUE(testing::WriteWholeFile(path, bytes));
    auto loaded = LoadFile(path);
    EXPECT_FALSE(loaded->ok) << what;
    EXPECT_FALSE(loaded->reason.empty()) << what;
    const Index& index = loaded->v.index;
    EXPECT_TRUE(index.entries.empty() && index.names.empty() && index.volumes.empty() && loaded->v.volumes.empty())
        << what;
    EXPECT_EQ(1u, index.epoch) << what;
    EXPECT_EQ(bytes, testing::ReadWholeFile(path)) << what;
}

TEST(IndexFile, CorruptFilesAreRefusedAndLeftAlone) {
    testing::TempDir dir("index-file");
    const WString path = testing::FileIn(dir.path, "Orvane.db");
    const Model base = SmallModel();
    const std::string whole = Build(base);
    ASSERT_TRUE(LoadBytes(whole)->ok);
    for (size_t length = 0; length < whole.size(); ++length)
        ExpectRefused(whole.substr(0, length), path, "cut to " + std::to_string(length));

    const uint32_t n = uint32_t(base.entries.size());
    const Case cases[] = {
        {"magic", [](Model& m) { m.magic = "OVDC"; }},
        {"version 1", [](Model& m) { m.version = 1; }},
        {"version 3", [](Model& m) { m.version = 3; }},
        {"terabytes of entries", [](Model& m) { m.n = 0xFFFFFFFE; }},
        {"one entry too many", [&](Model& m) { m.n = n + 1; }},
        {"terabyte name pool", [](Model& m) { m.a = uint64_t{1} << 40; }},
        {"folded pool past 4 GiB", [](Model& m) { m.b = uint64_t{1} << 32; }},
        {"name past the pool", [](Model& m) { m.entries[2].nameLength = uint16_t(m.names.size()); }},
        {"name offset past the pool", [](Model& m) { m.entries[2].nameOffset = uint32_t(m.names.size()) + 1; }},
        {"folded name past the pool", [](Model& m) { m.entries[5].foldedOffset = uint32_t(m.folded.size()); }},
        {"parent out of range", [&](Model& m) { m.entries[2].parent = n; }},
        {"parent far out of range", [](Model& m) { m.entries[2].parent = 0x7FFFFFFF; }},
        {"parent is a file", [](Model& m) { m.entries[3].parent = 2; }},
        {"entry in a slot past the table", [](Model& m) { m.entries[5].flags |= SlotBits(9); }},
        {"entry in an empty slot", [](Model& m) { m.volumes[1]->presence = 0; }},
        {"257 slots", [](Model& m) { m.slots = 257; }},
        {"more slots than blocks", [](Model& m) { m.slots = 3; }},
        {"root text of 32,769 units", [](Model& m) { m.volumes[0]->root.assign(32769, u'x'); }},
        {"root text longer than the file", [](Model& m) { m.volumes[0]->rootUnits = 30000; }},
        {"terabytes of record map", [](Model& m) { m.volumes[0]->records = 0xFFFFFFFF; }},
        {"record map out of range", [&](Model& m) { m.volumes[0]->recordMap[30] = n; }},
        {"record map into another volume", [](Model& m) { m.volumes[0]->recordMap[30] = 5; }},
        {"more hard links than entries", [&](Model& m) { m.volumes[0]->linkCount = n + 1; }},
        {"terabytes of hard links", [](Model& m) { m.volumes[0]->linkCount = 0xFFFFFFFF; }},
        {"hard link out of range", [&](Model& m) { m.volumes[0]->links[0].second = n; }},
        {"hard link into another volume", [](Model& m) { m.volumes[0]->links[0].second = 4; }},
        {"root entry out of range", [&](Model& m) { m.volumes[1]->rootEntry = n; }},
        {"root entry of another volume", [](Model& m) { m.volumes[1]->rootEntry = 0; }},
        {"terabytes of open counts", [](Model& m) { m.openCount = 0xFFFFFFFF; }},
        {"end marker wrong", [](Model& m) { m.end = "END?"; }},
        {"end marker missing", [](Model& m) { m.end.clear(); }},
    };
    for (const Case& c : cases) {
        Model m = base;
        c.change(m);
        ExpectRefused(Build(m), path, c.name);
    }
}

TEST(IndexFile, AcceptsWhatTheFormatAllows) {
    const Model base = SmallModel();
    const uint32_t n = uint32_t(base.entries.size());
    const Case cases[] = {
        {"name ending at the end of the pool",
         [](Model& m) { m.entries[5].nameLength = uint16_t(m.names.size() - m.entries[5].nameOffset); }},
        {"empty slot between volumes",
         [](Model& m) {
             m.volumes.insert(m.volumes.begin() + 1, std::nullopt);
             m.volumes[2]->rootEntry = 4;
             for (int e : {4, 5}) m.entries[e].flags = (m.entries[e].flags & ~EntryFlags::SlotMask) | SlotBits(2);
         }},
        {"open count for no entry",
         [&](Model& m) {
             m.opens.push_back({n, 9});
         }},
        {"bytes after the end marker", [](Model& m) { m.trailing = "more"; }},
        {"texts of 32,768 units", [](Model& m) { m.volumes[0]->label.assign(32768, u'\xE9'); }},
        {"unknown volume kind", [](Model& m) { m.volumes[1]->kind = 7; }},
    };
    for (const Case& c : cases) {
        Model m = base;
        c.change(m);
        auto loaded = LoadBytes(Build(m));
        ASSERT_TRUE(loaded->ok) << c.name << ": " << loaded->reason;
        const auto& volumes = loaded->v.volumes;
        if (std::string(c.name) == "empty slot between volumes") {
            ASSERT_EQ(3u, volumes.size());
            EXPECT_TRUE(volumes[0] && !volumes[1] && volumes[2] && volumes[2]->slot == 2);
        }
        if (std::string(c.name) == "unknown volume kind") {
            EXPECT_EQ(VolumeKind::None, volumes[1]->kind);
        }
        if (std::string(c.name) == "open count for no entry") {
            EXPECT_EQ(1u, loaded->v.index.openCounts.size());
        }
    }
}

TEST(IndexFile, FailedSaveKeepsTheOldFile) {
    testing::TempDir dir("index-file");
    const WString path = testing::FileIn(dir.path, "Orvane.db");
    Index empty;
    ASSERT_TRUE(Save(empty, path));
    const std::string before = testing::ReadWholeFile(path);
    VolumeIndex v;
    testing::FillVolumeIndex(v, 3, 2, 200, 0);
    // The temporary file's name is taken by a folder.
    std::filesystem::create_directory(dir.path / "Orvane.db.tmp");
    std::string reason;
    EXPECT_FALSE(Save(v.index, path, &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(before, testing::ReadWholeFile(path));
    EXPECT_FALSE(Save(v.index, WString(), &reason));
    Loaded none;
    EXPECT_FALSE(LoadDb(none.v.index, testing::FileIn(dir.path, "missing.db"), none.v.volumes, reason));
}

// A sink that stops at its first write until released.
class GateSink final : public ByteSink {
public:
    bool Write(const void* data, size_t length) override {
        std::unique_lock<std::mutex> hold(mutex);
        waiting = true;
        changed.notify_all();
        changed.wait(hold, [this] { return open; });
        inner.Write(data, length);
        return true;
    }
    bool Rewind() override { return inner.Rewind(); }
    void AwaitWriter() {
        std::unique_lock<std::mutex> hold(mutex);
        changed.wait(hold, [this] { return waiting; });
    }
    void Open() {
        std::lock_guard<std::mutex> hold(mutex);
        open = true;
        changed.notify_all();
    }
    StringSink inner;

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false, open = false;
};

// The save copies what it needs under short shared holds and does its writing
// without the lock: while its write is held up, a writer gets the lock and a
// search answers, and the file holds the index as it was when the save began.
// A compaction meanwhile makes the save start again with the new numbers.
TEST(IndexFile, SaveLeavesTheLockFreeWhileWriting) {
    for (bool compact : {false, true}) {
        VolumeIndex v;
        testing::FillVolumeIndex(v, 5, 2, 100000, 0);  // a table above the writer's straight-write size
        Index& index = v.index;
        StringSink before;
        std::string reason;
        ASSERT_TRUE(WriteIndexFile(index, before, reason)) << reason;

        GateSink gate;
        SaveTimes times;
        bool saved = false;
        std::thread save([&] { saved = WriteIndexFile(index, gate, reason, &times); });
        gate.AwaitWriter();
        {
            std::unique_lock<SharedMutex> hold(index.lock, std::try_to_lock);
            ASSERT_TRUE(hold.owns_lock());
            AddNamed(index, v.volumes[0]->rootEntry, "new.txt", 0, 10, 1, 1);
            index.SetMeta(3, 12345, 6, 7, 0);
            if (compact) index.Compact();
        }
        SearchOptions options;
        EXPECT_FALSE(SearchAll(index, {{"new", options}})[0].empty());
        gate.Open();
        save.join();
        ASSERT_TRUE(saved) << reason;
        EXPECT_EQ(compact ? 2 : 1, times.attempts);
        if (!compact) {
            EXPECT_EQ(before.bytes, gate.inner.bytes);
            continue;
        }
        StringSink after;
        ASSERT_TRUE(WriteIndexFile(index, after, reason));
        EXPECT_EQ(after.bytes, gate.inner.bytes);
    }
}

// Writers that keep changing the index while the table is copied a chunk at a
// time make the copy start again, and at last take a single hold; the file
// never mixes entries from before and after a change. A torn copy would show as
// a folder whose size disagrees with its files. On a busy machine the writer may
// not run during one save, so saves repeat until one was made to start again.
TEST(IndexFile, ChangesDuringTheCopyNeverTearIt) {
    VolumeIndex v;
    testing::FillVolumeIndex(v, 9, 2, 300000, 0);
    Index& index = v.index;
    ASSERT_EQ("", testing::CheckTotals(index));
    std::vector<uint32_t> files;
    for (uint32_t i = 0; i < index.entries.size(); ++i)
        if (!IsDir(index.entries[i])) files.push_back(i);
    std::atomic<bool> saving{true};
    std::atomic<uint64_t> changes{0};
    std::thread writer([&] {
        std::mt19937 rng(5);
        while (saving) {
            std::unique_lock<SharedMutex> hold(index.lock);
            const uint32_t e = files[rng() % files.size()];
            index.SetMeta(e, rng() % 100000, 1, 1, 0);
            changes.fetch_add(1);
        }
    });
    while (changes.load() == 0) std::this_thread::yield();
    int maxTries = 0;
    std::string failure;  // asserted once the writer has stopped
    for (int round = 0; round < 20 && maxTries < 2 && failure.empty(); ++round) {
        StringSink sink;
        std::string reason;
        SaveTimes times;
        if (!WriteIndexFile(index, sink, reason, &times)) {
            failure = "save failed: " + reason;
            break;
        }
        maxTries = std::max(maxTries, times.snapshotTries);
        MemorySource source(sink.bytes.data(), sink.bytes.size());
        LoadedIndex image;
        if (!ReadIndexFile(source, image, reason)) {
            failure = "load failed: " + reason;
            break;
        }
        Index copy;
        copy.entries = std::move(image.entries);
        copy.names = std::move(image.names);
        const std::string totals = testing::CheckTotals(copy);
        if (!totals.empty()) failure = "round " + std::to_string(round) + ": " + totals;
    }
    saving = false;
    writer.join();
    ASSERT_EQ("", failure);
    EXPECT_GT(maxTries, 1) << "no save saw a change during its copy in 20 rounds";
}

// Live entries of an engine as paths below their volume's root, sorted.
std::vector<std::string> EnginePaths(Engine& engine) {
    std::shared_lock<SharedMutex> hold(engine.lock);
    std::vector<std::string> paths;
    for (uint32_t i = 0; i < engine.entries.size(); ++i) {
        if (!IsDeleted(engine.entries[i])) paths.push_back(engine.Path(i, false));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The engine saves when it stops with saving and loads at the next start: the
// volume comes back with its entries, searchable before anything is read
// again, and the refresh after the load finds the same. A damaged file is
// refused with a line in the log and the index stays empty.
TEST(IndexFile, EngineSavesAtStopAndLoadsAtStart) {
    testing::TempDir temp("index-file-engine");
    std::filesystem::create_directories(temp.path / "c" / "Unterordner");
    std::ofstream(temp.path / "c" / "a.txt") << "abc";
    std::ofstream(temp.path / "c" / "Unterordner" / "b.txt") << "x";
    testing::FakeDrives drives;
    testing::FakeDrive c;
    c.target = testing::W(temp.path / "c");
    c.serial = 7;
    drives.Set('C', c);
    const WString path = testing::FileIn(temp.path, "Orvane.db");
    std::vector<std::string> log;
    auto start = [&](Engine& engine) {
        engine.elevated = false;
        engine.indexPath = path;
        engine.logSink = [&log](const WChar* line) { log.push_back(ToUtf8(WString(line))); };
        return engine.LoadDb();
    };
    std::vector<std::string> before;
    {
        Engine engine{drives};
        EXPECT_FALSE(start(engine));  // nothing saved yet
        engine.RefreshVolumes();
        ASSERT_TRUE(testing::WaitIdle(engine));
        before = EnginePaths(engine);
        ASSERT_EQ(4u, before.size());
        engine.Stop(true);
    }
    {
        Engine engine{drives};
        ASSERT_TRUE(start(engine)) << (log.empty() ? "" : log.back());
        EXPECT_EQ(before, EnginePaths(engine));
        {
            std::shared_lock<SharedMutex> hold(engine.lock);
            const Volume* v = engine.VolumeAt(0);
            ASSERT_TRUE(v != nullptr);
            EXPECT_TRUE(v->root == Text(L"C:\\") && v->kind == VolumeKind::Folders && v->serial == 7u);
            EXPECT_EQ(LoadedVolumeStatus(), engine.StatusOf(v));
            EXPECT_EQ(2u, engine.epoch);
        }
        engine.RefreshVolumes();
        ASSERT_TRUE(testing::WaitIdle(engine));
        EXPECT_EQ(before, EnginePaths(engine));
        engine.Stop(false);
    }
    std::string bytes = testing::ReadWholeFile(path);
    bytes.resize(bytes.size() - 1);
    ASSERT_TRUE(testing::WriteWholeFile(path, bytes));
    Engine engine{drives};
    log.clear();
    EXPECT_FALSE(start(engine));
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(0u, log[0].find("Couldn't load the saved index: ")) << log[0];
    EXPECT_TRUE(EnginePaths(engine).empty());
}

// The window's commands take the volume list (the removable-drive option
// here) while a large saved index loads: the load holds it only for the swap,
// so the command ends while the load is held between parsing and installing.
TEST(IndexFile, LoadingLeavesTheVolumeListFreeWhileItParses) {
    testing::TempDir temp("index-file-load");
    const WString path = testing::FileIn(temp.path, "Orvane.db");
    size_t saved = 0;
    {
        VolumeIndex v;
        testing::FillVolumeIndex(v, 21, 4, 50000, 0);
        ASSERT_TRUE(Save(v.index, path));
        saved = v.index.entries.size() - v.index.deletedCount;
    }
    testing::FakeDrives drives;
    Engine engine{drives};
    engine.indexPath = path;
    std::mutex mutex;
    std::condition_variable changed;
    bool parsed = false, commandDone = false, doneBeforeInstall = false;
    engine.loadParsedForTesting = [&] {
        std::unique_lock<std::mutex> guard(mutex);
        parsed = true;
        changed.notify_all();
        // Bounded only so that a load holding the list fails instead of hanging.
        doneBeforeInstall = changed.wait_for(guard, std::chrono::seconds(60), [&] { return commandDone; });
    };
    bool loaded = false;
    std::thread load([&] { loaded = engine.LoadDb(); });
    {
        std::unique_lock<std::mutex> guard(mutex);
        changed.wait(guard, [&] { return parsed; });
    }
    engine.SetIncludeRemovable(true);  // takes volumesMutex, as the window's thread does
    {
        std::lock_guard<std::mutex> guard(mutex);
        commandDone = true;
        changed.notify_all();
    }
    load.join();
    EXPECT_TRUE(doneBeforeInstall) << "the command waited for the load to end";
    EXPECT_TRUE(loaded);
    EXPECT_EQ(saved, EnginePaths(engine).size());
}

constexpr char kKillTarget[] = "OV_INDEX_FILE_KILL_TARGET";

// The two indexes the child saves by turns.
void MakeKillIndex(VolumeIndex& v, int which) {
    testing::FillVolumeIndex(v, 100 + which, 2, which ? 30000 : 20000, 300);
}

// The bytes a completed save of index `which` leaves: compacted, then written.
std::string SavedBytes(int which) {
    VolumeIndex v;
    MakeKillIndex(v, which);
    v.index.Compact();
    StringSink sink;
    std::string reason;
    EXPECT_TRUE(WriteIndexFile(v.index, sink, reason)) << reason;
    return sink.bytes;
}

TEST(IndexFile, DISABLED_SavesUntilKilled) {
    const char* target = std::getenv(kKillTarget);
    if (!target) GTEST_SKIP() << "runs only as the child of KilledSaveLeavesALoadableFile";
    VolumeIndex v[2];
    MakeKillIndex(v[0], 0);
    MakeKillIndex(v[1], 1);
    const std::string path = target;
    Save(v[1].index, ToWide(path));
    testing::WriteWholeFile(ToWide(path + ".ready"), "");  // from here on every moment lies in some save
    for (int k = 0;; k ^= 1) Save(v[k].index, ToWide(path));
}

// A save killed at any moment leaves the previous complete file or the new one.
TEST(IndexFile, KilledSaveLeavesALoadableFile) {
    testing::TempDir dir("index-file");
    const WString path = testing::FileIn(dir.path, "Orvane.db");
    const WString ready = testing::FileIn(dir.path, "Orvane.db.ready");
    const std::string versions[2] = {SavedBytes(0), SavedBytes(1)};
    ASSERT_NE(versions[0], versions[1]);
    ASSERT_TRUE(testing::WriteWholeFile(path, versions[0]));
    // Kills fall within the next few saves, however fast this build saves.
    double saveMs = 0;
    {
        VolumeIndex v;
        MakeKillIndex(v, 1);
        const double start = NowMs();
        ASSERT_TRUE(Save(v.index, testing::FileIn(dir.path, "timing.db")));
        saveMs = NowMs() - start;
    }
    std::mt19937 rng(42);
    int midSave = 0;
    // Twelve kills, or fewer where a sanitizer on a busy machine makes each round
    // take tens of seconds: at least four, and no new one after two minutes.
    const double started = NowMs();
    for (int round = 0; round < 12 && (round < 4 || NowMs() - started < 120000); ++round) {
        std::filesystem::remove(std::filesystem::path(ready));
        std::filesystem::remove(dir.path / "Orvane.db.tmp");
        testing::ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start("IndexFile.DISABLED_SavesUntilKilled", kKillTarget, ToUtf8(path), error)) << error;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (!std::filesystem::exists(std::filesystem::path(ready)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(std::filesystem::exists(std::filesystem::path(ready))) << "the child never got ready";
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % static_cast<uint32_t>(3000 * saveMs + 1)));
        child.Kill();
        midSave += std::filesystem::exists(dir.path / "Orvane.db.tmp");
        const std::string bytes = testing::ReadWholeFile(path);
        EXPECT_TRUE(bytes == versions[0] || bytes == versions[1]) << "round " << round << ": " << bytes.size();
        auto loaded = LoadFile(path);
        EXPECT_TRUE(loaded->ok) << loaded->reason;
    }
    EXPECT_GT(midSave, 0) << "no kill landed inside a save";
}

}  // namespace
}  // namespace ov
