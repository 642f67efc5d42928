// The change journal on a 5-million-entry file-table volume made from the
// corpus (its first 5 million paths under one root, record 24 + i for entry
// i). Each batch names distinct records, each three times in shuffled order as
// a journal does (create, write, close): renames, moves, new folders with new
// files in them, new files elsewhere and deletes. FILE records come from
// memory, so the figures are this code's own: fetching through the drive's
// control is a cost only Windows shows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <unordered_map>
#include <unordered_set>

#include "bench/big_index.h"
#include "bench/corpus.h"
#include "bench/synthetic.h"
#include "engine/journal_follow.h"
#include "index/text.h"
#include "tests/support/ntfs_builder.h"

namespace {

constexpr size_t kEntries = 5000000;
constexpr uint32_t kFirstRecord = 24;
constexpr uint32_t kRootRecord = 5;

struct Known {
    uint32_t parent = 0;  // record
    bool folder = false;
    bool alive = false;
};

struct JournalVolume {
    ov::Index index;
    ov::Volume volume;
    std::vector<Known> records;  // by record number
    uint32_t nextRecord = 0;
    uint64_t counter = 0;
    std::mt19937_64 rng{7};
};

// Null with the reason when the corpus cannot be had.
JournalVolume* SharedVolume(std::string& error) {
    static std::unique_ptr<JournalVolume> shared;
    static std::string failed;
    if (shared || !failed.empty()) {
        error = failed;
        return shared.get();
    }
    const ov::bench::Corpus* corpus = ov::bench::LoadCorpus(ov::bench::CorpusSize::kFull, failed);
    ov::bench::EntryList list;
    if (!corpus) return nullptr;
    const std::vector<std::string_view> paths(corpus->paths.begin(),
                                              corpus->paths.begin() + std::min(kEntries, corpus->paths.size()));
    if (!ov::bench::PathsToEntries(paths, 11, list, failed)) return nullptr;
    // One root: the other top-level folders go below the first.
    for (size_t i = 1; i < list.entries.size(); ++i) {
        if (list.entries[i].parent != ov::kNoEntry) continue;
        list.entries[i].parent = 0;
        list.entries[i].flags = ov::bench::FolderFlags(0);
    }
    auto v = std::make_unique<JournalVolume>();
    v->records.resize(kFirstRecord + list.entries.size());
    for (size_t i = 1; i < list.entries.size(); ++i) {
        const ov::bench::EntrySpec& e = list.entries[i];
        Known& k = v->records[kFirstRecord + i];
        k.parent = e.parent == 0 ? kRootRecord : kFirstRecord + e.parent;
        k.folder = (e.flags & ov::EntryFlags::Directory) != 0;
        k.alive = true;
    }
    v->nextRecord = static_cast<uint32_t>(v->records.size());
    ov::Index::Piece piece = ov::bench::PieceOf(list);
    v->volume.kind = ov::VolumeKind::FileTable;
    v->volume.journalId = 1;
    v->index.volumes = {&v->volume};
    {
        std::unique_lock<ov::SharedMutex> guard(v->index.lock);
        if (!v->index.Ingest(0, piece)) {
            failed = "Ingest refused the piece";
            return nullptr;
        }
    }
    shared = std::move(v);
    return shared.get();
}

// A batch of `count` distinct records: their FILE records and journal records.
struct Batch {
    std::unordered_map<uint32_t, std::vector<uint8_t>> files;
    std::vector<ov::UsnChange> changes;
    std::vector<std::pair<uint32_t, Known>> after;
};

uint32_t Pick(JournalVolume& v, bool folder, const std::unordered_set<uint32_t>& taken) {
    const auto& map = v.volume.recordMap;
    for (;;) {
        const auto r = static_cast<uint32_t>(kFirstRecord + v.rng() % (v.records.size() - kFirstRecord));
        const Known& k = v.records[r];
        if (k.alive && k.folder == folder && !taken.count(r) && r < map.size() && map[r] != ov::kNoEntry) return r;
    }
}

std::u16string Utf16(const std::string& utf8) {
    const ov::WString wide = ov::ToWide(utf8);
    return std::u16string(wide.begin(), wide.end());
}

// The record's name with a number added, short enough for a FILE record.
std::u16string Renamed(JournalVolume& v, uint32_t record, const std::u16string& number) {
    const std::u16string name = Utf16(std::string(v.index.NameOf(v.volume.recordMap[record])));
    return name.size() + number.size() <= 255 ? name + number : u"renamed" + number;
}

Batch MakeBatch(JournalVolume& v, int count) {
    Batch batch;
    std::unordered_set<uint32_t> taken;
    std::vector<uint32_t> newFolders;
    auto record = [&](uint32_t r, uint32_t parent, const std::u16string& name, bool folder) {
        ov::testing::RecordBuilder file(1024, folder ? 3 : 1);
        file.StandardInfo(v.counter, v.counter + 1, folder ? 0x10 : 0x20).FileName(parent, name);
        if (!folder) file.ResidentData(static_cast<uint32_t>(v.rng() % 300));
        batch.files[r] = file.Finish();
        batch.after.push_back({r, Known{parent, folder, true}});
    };
    for (int i = 0; i < count; ++i) {
        const uint64_t roll = v.rng() % 100;
        const std::u16string counter = Utf16(" " + std::to_string(++v.counter));
        uint32_t r;
        if (roll < 30) {  // renamed in its folder
            r = Pick(v, false, taken);
            record(r, v.records[r].parent, Renamed(v, r, counter), false);
        } else if (roll < 50) {  // moved to another folder
            r = Pick(v, false, taken);
            record(r, Pick(v, true, taken), Renamed(v, r, u""), false);
        } else if (roll < 60) {  // a new folder
            r = v.nextRecord++;
            record(r, Pick(v, true, taken), u"new folder" + counter, true);
            newFolders.push_back(r);
        } else if (roll < 85) {  // a new file, often in a new folder
            r = v.nextRecord++;
            const uint32_t parent =
                !newFolders.empty() && v.rng() % 2 ? newFolders[v.rng() % newFolders.size()] : Pick(v, true, taken);
            record(r, parent, u"new file" + counter + u".txt", false);
        } else {  // deleted
            r = Pick(v, false, taken);
            batch.files[r] = ov::testing::RecordBuilder(1024, 0).Finish();
            batch.after.push_back({r, Known{}});
        }
        taken.insert(r);
        for (int copy = 0; copy < 3; ++copy) batch.changes.push_back({r});
    }
    std::shuffle(batch.changes.begin(), batch.changes.end(), v.rng);
    return batch;
}

// Throughput of whole batches (fetch, parse, apply) and the longest time one
// batch holds the index lock exclusively.
void BM_Journal_Apply(benchmark::State& state) {
    std::string error;
    JournalVolume* v = SharedVolume(error);
    if (!v) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int count = static_cast<int>(state.range(1));
    ov::RawVolume raw(nullptr);
    ov::JournalBatch journal;
    double longestLockMs = 0, lockMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Batch batch = MakeBatch(*v, count);
        const ov::DeviceControl control = [&](uint32_t code, const void* in, uint32_t, void* out, uint32_t outSize,
                                              uint32_t& returned, uint32_t& error) {
            uint64_t reference;
            std::memcpy(&reference, in, 8);
            const auto it = batch.files.find(static_cast<uint32_t>(reference));
            if (code != ov::kGetNtfsFileRecord || it == batch.files.end() || !(it->second[0x16] & 1)) {
                error = ov::kErrorInvalidParameter;
                return false;
            }
            const auto length = static_cast<uint32_t>(it->second.size());
            std::memcpy(out, &reference, 8);
            std::memcpy(static_cast<uint8_t*>(out) + 8, &length, 4);
            std::memcpy(static_cast<uint8_t*>(out) + 12, it->second.data(), std::min(length, outSize - 12));
            returned = 12 + length;
            return true;
        };
        state.ResumeTiming();
        // ApplyJournalBatch's steps, with the locked part timed on its own.
        if (journal.Fetch(control, raw, batch.changes, v->index, v->volume, v->volume.stop) !=
            ov::JournalBatch::Fetched::Done) {
            state.SkipWithError("the fetch stopped");
            return;
        }
        const auto locked = std::chrono::steady_clock::now();
        {
            std::unique_lock<ov::SharedMutex> guard(v->index.lock);
            if (journal.Apply(v->index, v->volume) != ov::JournalBatch::Applied::Done) {
                state.SkipWithError("the batch was not applied whole");
                return;
            }
            v->volume.nextUsn += 1;
            if (ov::JournalShouldCompact(v->index)) v->index.Compact();
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - locked).count();
        longestLockMs = std::max(longestLockMs, ms);
        lockMs += ms;
        state.PauseTiming();
        for (const auto& [r, k] : batch.after) {
            if (r >= v->records.size()) v->records.resize(r + 1);
            v->records[r] = k;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["entries"] = static_cast<double>(v->index.entries.size());
    state.counters["lock_ms_mean"] = lockMs / static_cast<double>(state.iterations());
    state.counters["lock_ms_max"] = longestLockMs;
}
BENCHMARK(BM_Journal_Apply)
    ->ArgNames({"entries", "records"})
    ->Args({kEntries, 100})
    ->Args({kEntries, 1000})
    ->Args({kEntries, 10000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(30);

}  // namespace
