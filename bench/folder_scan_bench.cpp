// The folder scanner's piece building and its merge, from a synthetic walk:
// 16 buckets filled as walkers fill them (a folder's items in one bucket, ids
// in the order found). Peak memory is the process's high-water mark above what
// it held before the walk's buckets were filled, against the piece's bytes.
#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "bench/synthetic.h"
#include "engine/folder_scan.h"

namespace {

constexpr int kWalkers = 16;

const ov::bench::EntryList& Synthetic(size_t records) {
    static std::map<size_t, ov::bench::EntryList> lists;
    auto it = lists.find(records);
    if (it == lists.end()) it = lists.emplace(records, ov::bench::MakeSyntheticEntries(records, 9)).first;
    return it->second;
}

std::vector<ov::ScanBucket> Walked(const ov::bench::EntryList& list) {
    std::vector<ov::ScanBucket> buckets(kWalkers);
    for (uint32_t id = 1; id < list.entries.size(); ++id) {
        const ov::bench::EntrySpec& e = list.entries[id];
        ov::ScanRec rec{};
        rec.id = id;
        rec.parentId = e.parent;
        rec.flags = e.flags & (ov::EntryFlags::AttributeMask | ov::EntryFlags::Directory);
        rec.size = e.size;
        rec.modified = e.modified;
        rec.created = e.created;
        buckets[e.parent % kWalkers].Add(rec, list.NameOf(e), list.FoldedOf(e));
    }
    return buckets;
}

// Resident and peak resident bytes; writing 5 to clear_refs restarts the peak.
uint64_t StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(std::string(field).size())) * 1024;
    return 0;
}
void RestartPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_FolderScan_PieceAndIngest(benchmark::State& state) {
    const ov::bench::EntryList& list = Synthetic(static_cast<size_t>(state.range(0)));
    const auto count = static_cast<uint32_t>(list.entries.size());
    double buildMs = 0, ingestMs = 0, peakRatio = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ov::Index index;
        ov::VolumeMaps volume;
        volume.kind = ov::VolumeKind::Folders;
        index.volumes.push_back(&volume);
        RestartPeak();
        const uint64_t before = StatusBytes("VmRSS:");
        std::vector<ov::ScanBucket> buckets = Walked(list);
        state.ResumeTiming();
        const double t0 = ov::NowMs();
        ov::Index::Piece piece;
        if (!ov::BuildScanPiece(buckets, count, "C:", piece)) state.SkipWithError("the piece was refused");
        const double t1 = ov::NowMs();
        const double pieceBytes =
            static_cast<double>(piece.entries.size() * sizeof(ov::Entry) + piece.names.size() + piece.folded.size());
        {
            std::unique_lock<ov::SharedMutex> guard(index.lock);
            if (!index.Ingest(0, piece)) state.SkipWithError("Ingest refused the piece");
        }
        const double t2 = ov::NowMs();
        state.PauseTiming();
        buildMs += t1 - t0;
        ingestMs += t2 - t1;
        peakRatio = static_cast<double>(StatusBytes("VmHWM:") - before) / pieceBytes;
        state.ResumeTiming();
    }
    const double n = static_cast<double>(count) * static_cast<double>(state.iterations());
    state.counters["build_records_per_s"] = n / (buildMs / 1000.0);
    state.counters["ingest_records_per_s"] = n / (ingestMs / 1000.0);
    state.counters["peak_over_piece_bytes"] = peakRatio;
}
BENCHMARK(BM_FolderScan_PieceAndIngest)
    ->ArgName("records")
    ->Arg(1000000)
    ->Arg(10000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace
