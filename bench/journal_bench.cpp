// The change journal on a 5-million-entry file-table volume made from the
// corpus (its first 5 million paths under one root, record 24 + i for entry
// i). Each batch names distinct records, each three times in shuffled order as
// a journal does (create, write, close): renames, moves, new folders with new
// files in them, new files elsewhere and deletes. FILE records come from
// memory, so the figures are this code's own: fetching through the drive's
// control is a cost only Windows shows. The churn case frees folders and
// reuses their records within the same batch, as deleting a build's output
// folder and writing new files right after does.
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
    uint16_t sequence = 1;  // of the file holding the record
};

struct JournalVolume {
    ov::Index index;
    ov::Volume volume;
    std::vector<Known> records;  // by record number
    uint32_t nextRecord = 0;
    uint64_t counter = 0;
    std::mt19937_64 rng{7};
    // Folders made by earlier batches: each outer one holds only its inner
    // one, which is empty.
    std::vector<std::pair<uint32_t, uint32_t>> toFree;
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
    std::vector<uint32_t> newFolders;
    int reused = 0;  // records of freed folders taken again
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

// The FILE record's header carries the sequence number of its file.
void SetSequence(std::vector<uint8_t>& file, uint16_t sequence) {
    file[0x10] = static_cast<uint8_t>(sequence);
    file[0x11] = static_cast<uint8_t>(sequence >> 8);
}

uint64_t Reference(uint32_t record, uint16_t sequence) {
    return record | uint64_t{sequence} << 48;
}

// About `reusePercent` of the records are folders made by earlier batches,
// one inside the other, removed together, their records taken by new files
// or a new folder that takes in a file moved from elsewhere.
Batch MakeBatch(JournalVolume& v, int count, int reusePercent = 0) {
    Batch batch;
    std::unordered_set<uint32_t> taken, parents;
    std::vector<uint32_t>& newFolders = batch.newFolders;
    auto record = [&](uint32_t r, uint32_t parent, const std::u16string& name, bool folder, uint16_t sequence) {
        parents.insert(parent);
        ov::testing::RecordBuilder file(1024, folder ? 3 : 1);
        file.StandardInfo(v.counter, v.counter + 1, folder ? 0x10 : 0x20).FileName(parent, name);
        if (!folder) file.ResidentData(static_cast<uint32_t>(v.rng() % 300));
        batch.files[r] = file.Finish();
        SetSequence(batch.files[r], sequence);
        batch.after.push_back({r, Known{parent, folder, true, sequence}});
    };
    auto sequence = [&](uint32_t r) { return r < v.records.size() ? v.records[r].sequence : uint16_t{1}; };
    auto named = [&](uint32_t r, uint16_t s) {
        for (int copy = 0; copy < 3; ++copy) batch.changes.push_back({Reference(r, s)});
    };
    for (int i = 0; i < count; ++i) {
        const uint64_t roll = v.rng() % 100;
        const std::u16string counter = Utf16(" " + std::to_string(++v.counter));
        uint32_t r;
        // A pair frees two records and takes 1.67 again in 2.33 records.
        if (reusePercent > 0 && v.rng() % 1000 < static_cast<uint64_t>(reusePercent) * 13 / 2 && !v.toFree.empty()) {
            const size_t at = v.rng() % v.toFree.size();
            const auto [outer, inner] = v.toFree[at];
            v.toFree[at] = v.toFree.back();
            v.toFree.pop_back();
            if (taken.count(outer) || taken.count(inner) || parents.count(outer) || parents.count(inner)) continue;
            taken.insert(outer);
            taken.insert(inner);
            // Both go; the inner one's record becomes a file, the outer one's
            // stays free, becomes a file, or a folder taking in a file.
            auto fresh = [&](uint32_t f) { return static_cast<uint16_t>(sequence(f) + 1); };
            batch.changes.push_back({Reference(outer, sequence(outer))});
            batch.changes.push_back({Reference(inner, sequence(inner))});
            auto parent = [&] {
                return !newFolders.empty() && v.rng() % 2 ? newFolders[v.rng() % newFolders.size()]
                                                          : Pick(v, true, taken);
            };
            record(inner, parent(), u"was inner" + counter, false, fresh(inner));
            named(inner, fresh(inner));
            batch.reused += 1;
            const uint64_t how = v.rng() % 3;
            if (how == 0) {
                batch.files[outer] = ov::testing::RecordBuilder(1024, 0).Finish();
                batch.after.push_back({outer, Known{0, false, false, fresh(outer)}});
                i += 1;
                continue;
            }
            record(outer, parent(), (how == 1 ? u"was outer" : u"outer again") + counter, how == 2, fresh(outer));
            named(outer, fresh(outer));
            batch.reused += 1;
            i += 1;
            if (how == 2 && ++i < count) {
                newFolders.push_back(outer);
                const uint32_t f = Pick(v, false, taken);
                record(f, outer, Renamed(v, f, u""), false, sequence(f));
                named(f, sequence(f));
                taken.insert(f);
            }
            continue;
        }
        if (roll < 30) {  // renamed in its folder
            r = Pick(v, false, taken);
            record(r, v.records[r].parent, Renamed(v, r, counter), false, sequence(r));
        } else if (roll < 50) {  // moved to another folder
            r = Pick(v, false, taken);
            record(r, Pick(v, true, taken), Renamed(v, r, u""), false, sequence(r));
        } else if (roll < 60) {  // a new folder
            r = v.nextRecord++;
            record(r, Pick(v, true, taken), u"new folder" + counter, true, 1);
            newFolders.push_back(r);
        } else if (roll < 85) {  // a new file, often in a new folder
            r = v.nextRecord++;
            const uint32_t parent =
                !newFolders.empty() && v.rng() % 2 ? newFolders[v.rng() % newFolders.size()] : Pick(v, true, taken);
            record(r, parent, u"new file" + counter + u".txt", false, 1);
        } else {  // deleted
            r = Pick(v, false, taken);
            batch.files[r] = ov::testing::RecordBuilder(1024, 0).Finish();
            batch.after.push_back({r, Known{0, false, false, static_cast<uint16_t>(sequence(r) + 1)}});
        }
        taken.insert(r);
        named(r, sequence(r));
    }
    std::shuffle(batch.changes.begin(), batch.changes.end(), v.rng);
    return batch;
}

// The file-record control over a batch's records; a record not in use is
// answered with a lower one, as the drive does.
ov::DeviceControl BatchControl(const Batch& batch) {
    return [&batch](uint32_t code, const void* in, uint32_t, void* out, uint32_t outSize, uint32_t& returned,
                    uint32_t& error) {
        uint64_t reference;
        std::memcpy(&reference, in, 8);
        const auto it = batch.files.find(static_cast<uint32_t>(reference));
        if (code != ov::kGetNtfsFileRecord || it == batch.files.end()) {
            error = ov::kErrorInvalidParameter;
            return false;
        }
        const auto length = static_cast<uint32_t>(it->second.size());
        const uint64_t answered = it->second[0x16] & 1 ? reference : kRootRecord;
        std::memcpy(out, &answered, 8);
        std::memcpy(static_cast<uint8_t*>(out) + 8, &length, 4);
        std::memcpy(static_cast<uint8_t*>(out) + 12, it->second.data(), std::min(length, outSize - 12));
        returned = 12 + length;
        return true;
    };
}

void Remember(JournalVolume& v, const Batch& batch) {
    std::unordered_set<uint32_t> filled;
    for (const auto& [r, k] : batch.after) {
        if (r >= v.records.size()) v.records.resize(r + 1);
        v.records[r] = k;
        if (k.alive) filled.insert(k.parent);
    }
    std::erase_if(v.toFree, [&](const auto& pair) { return filled.count(pair.first) || filled.count(pair.second); });
}

// ApplyJournalBatch's steps, with the locked part timed on its own (lockedMs).
// False when the fetch stopped or the batch was not applied whole.
bool ApplyBatch(JournalVolume& v, ov::RawVolume& raw, ov::JournalBatch& journal, const Batch& batch, double& lockedMs) {
    if (journal.Fetch(BatchControl(batch), raw, batch.changes, v.index, v.volume, v.volume.stop) !=
        ov::JournalBatch::Fetched::Done)
        return false;
    const auto locked = std::chrono::steady_clock::now();
    bool whole;
    {
        std::unique_lock<ov::SharedMutex> guard(v.index.lock);
        whole = journal.Apply(v.index, v.volume) == ov::JournalBatch::Applied::Done;
        v.volume.nextUsn += 1;
        if (ov::JournalShouldCompact(v.index)) v.index.Compact();
    }
    lockedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - locked).count();
    return whole;
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
        state.ResumeTiming();
        double ms = 0;
        if (!ApplyBatch(*v, raw, journal, batch, ms)) {
            state.SkipWithError("the batch was not fetched and applied whole");
            return;
        }
        longestLockMs = std::max(longestLockMs, ms);
        lockMs += ms;
        state.PauseTiming();
        Remember(*v, batch);
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

// Batches of 10,000 records of which about 10% free a folder and reuse its
// record in the same batch. A batch that asks for a full read is counted
// (read_again); the index's share of that full read is BM_Journal_FullReadIndex.
void BM_Journal_Churn(benchmark::State& state) {
    std::string error;
    JournalVolume* v = SharedVolume(error);
    if (!v) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int count = static_cast<int>(state.range(1));
    const int reusePercent = static_cast<int>(state.range(2));
    ov::RawVolume raw(nullptr);
    ov::JournalBatch journal;
    auto apply = [&](const Batch& batch, double& lockedMs) { return ApplyBatch(*v, raw, journal, batch, lockedMs); };
    // Folders for the batches to free, made beforehand, untimed.
    double ms = 0;
    const auto iterations = static_cast<size_t>(state.max_iterations);
    while (v->toFree.size() < static_cast<size_t>(count) * reusePercent / 100 * (iterations + 1)) {
        Batch made;
        std::unordered_set<uint32_t> none;
        std::vector<std::pair<uint32_t, uint32_t>> pairs;
        for (int i = 0; i < count / 2; ++i) {
            const uint32_t outer = v->nextRecord++, inner = v->nextRecord++;
            for (const auto& [r, parent] : {std::pair{outer, Pick(*v, true, none)}, std::pair{inner, outer}}) {
                ov::testing::RecordBuilder file(1024, 3);
                file.StandardInfo(1, 2, 0x10).FileName(parent, Utf16("to free " + std::to_string(r)));
                made.files[r] = file.Finish();
                SetSequence(made.files[r], 1);
                made.changes.push_back({Reference(r, 1)});
                made.after.push_back({r, Known{parent, true, true, 1}});
            }
            pairs.emplace_back(outer, inner);
        }
        if (!apply(made, ms)) {
            state.SkipWithError("the folders to free were not made");
            return;
        }
        Remember(*v, made);
        v->toFree.insert(v->toFree.end(), pairs.begin(), pairs.end());
    }
    double longestLockMs = 0, lockMs = 0;
    int readAgain = 0, reused = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Batch batch = MakeBatch(*v, count, reusePercent);
        reused += batch.reused;
        state.ResumeTiming();
        readAgain += !apply(batch, ms);
        longestLockMs = std::max(longestLockMs, ms);
        lockMs += ms;
        state.PauseTiming();
        Remember(*v, batch);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["read_again"] = readAgain;
    state.counters["reused_per_batch"] = reused / static_cast<double>(state.iterations());
    state.counters["lock_ms_mean"] = lockMs / static_cast<double>(state.iterations());
    state.counters["lock_ms_max"] = longestLockMs;
}
BENCHMARK(BM_Journal_Churn)
    ->ArgNames({"entries", "records", "reuse_percent"})
    ->Args({kEntries, 10000, 10})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

// The index's share of reading the benchmark's volume again: its 5 million
// entries made into a piece and ingested (reading and parsing the file table
// comes on top: BM_MftRead_*).
void BM_Journal_FullReadIndex(benchmark::State& state) {
    std::string error;
    const ov::bench::Corpus* corpus = ov::bench::LoadCorpus(ov::bench::CorpusSize::kFull, error);
    ov::bench::EntryList list;
    if (!corpus) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::vector<std::string_view> paths(corpus->paths.begin(),
                                              corpus->paths.begin() + std::min(kEntries, corpus->paths.size()));
    if (!ov::bench::PathsToEntries(paths, 11, list, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        ov::Index index;
        ov::Volume volume;
        volume.kind = ov::VolumeKind::FileTable;
        index.volumes = {&volume};
        ov::Index::Piece piece = ov::bench::PieceOf(list);
        std::unique_lock<ov::SharedMutex> guard(index.lock);
        if (!index.Ingest(0, piece)) state.SkipWithError("Ingest refused the piece");
    }
}
BENCHMARK(BM_Journal_FullReadIndex)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
