// The file-table reader: FILE records parsed per second on one thread, and a
// whole volume of about a million records read end to end with 1, 4 and 8
// readers next to one sequential pass over the same bytes (the disk's limit)
// and that pass with the first writes to as much fresh memory as a read leaves
// behind (the limit where new pages cost more than the bytes read).
// The volume is made once by make_ntfs_images.py --million (ntfs-3g, about
// 7 minutes) into ~/.cache/orvane-ntfs/million.img, or OV_MFT_IMAGE.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/file_record_parser.h"
#include "engine/mft_layout.h"
#include "engine/mft_reader.h"
#include "engine/virtual_buffer.h"
#include "index/text.h"
#include "tests/support/ntfs_builder.h"

namespace {

// 1024 typical records: times, a long name and its DOS name, a small file.
std::vector<uint8_t> TypicalChunk() {
    std::mt19937 rng(7);
    const std::u16string words[] = {u"report", u"IMG_", u"invoice", u"Setup", u"данные", u"backup", u"notes"};
    std::vector<uint8_t> chunk;
    for (uint32_t r = 0; r < 1024; ++r) {
        std::u16string name = words[rng() % 7] + u" " + ov::ToWide(std::to_string(rng() % 100000)).c_str() + u".txt";
        std::vector<uint8_t> record = ov::testing::RecordBuilder(1024, r % 10 ? 1 : 3)
                                          .StandardInfo(rng(), rng(), 0x20)
                                          .FileName(5 + rng() % 5000, name, 1)
                                          .FileName(5 + rng() % 5000, u"REPORT~1.TXT", 2)
                                          .ResidentData(rng() % 300)
                                          .Finish();
        chunk.insert(chunk.end(), record.begin(), record.end());
    }
    return chunk;
}

void BM_FileRecord_Parse(benchmark::State& state) {
    const std::vector<uint8_t> chunk = TypicalChunk();
    std::vector<uint8_t> work(chunk.size());
    std::vector<ov::NameRec> rows;
    std::string names, folded;
    for (auto _ : state) {
        std::memcpy(work.data(), chunk.data(), chunk.size());  // fixups change the records
        rows.clear();
        names.clear();
        folded.clear();
        for (uint32_t r = 0; r < 1024; ++r) {
            ov::FileRec rec;
            uint32_t base;
            benchmark::DoNotOptimize(
                ov::ParseFileRecord(work.data() + r * 1024, 1024, r, rec, base, rows, names, folded, false, nullptr));
        }
    }
    state.counters["records/s"] =
        benchmark::Counter(1024.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FileRecord_Parse);

std::string MillionImage() {
    if (const char* path = std::getenv("OV_MFT_IMAGE")) return path;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.cache/orvane-ntfs/million.img";
}

// The reader counts every file-table read is timed with.
void ReaderCounts(benchmark::internal::Benchmark* b) {
    b->ArgNames({"readers"})->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
}

void BM_MftRead_Image(benchmark::State& state) {
    const ov::DevFactory factory = ov::DriveDevFactory(ov::ToWide(MillionImage()));
    if (!factory()) {
        state.SkipWithError("no benchmark volume: run tests/engine/make_ntfs_images.py --million IMAGE");
        return;
    }
    uint32_t records = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        ov::MftResult result;
        if (!ov::MftReadAll(factory, static_cast<int>(state.range(0)), result, nullptr, nullptr)) {
            state.SkipWithError(result.error.c_str());
            return;
        }
        ov::Index::Piece piece;
        benchmark::DoNotOptimize(ov::FromMftResult(result, ov::ToWide(std::string("X:")), piece));
        records = result.recordCount;
        bytes = result.bytesRead;
    }
    state.counters["records"] = records;
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1048576.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MftRead_Image)->Apply(ReaderCounts);

// The same extents read once in order, 1 MiB at a time, without parsing.
void BM_MftRead_Sequential(benchmark::State& state) {
    const ov::DevFactory factory = ov::DriveDevFactory(ov::ToWide(MillionImage()));
    auto dev = factory();
    ov::MftRuns layout;
    uint32_t records = 0;
    if (!dev || !ov::ReadMftLayout(*dev, layout, records)) {
        state.SkipWithError("no benchmark volume: run tests/engine/make_ntfs_images.py --million IMAGE");
        return;
    }
    ov::VirtualBuffer buffer(1 << 20);
    const uint64_t total = uint64_t{records} * layout.recordSize;
    for (auto _ : state) {
        for (uint64_t at = 0; at < total; at += buffer.size())
            ov::ReadRuns(dev.get(), layout, layout.runs, at, buffer.data(),
                         std::min<uint64_t>(buffer.size(), total - at));
    }
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(total) * static_cast<double>(state.iterations()) / 1048576.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MftRead_Sequential)->Unit(benchmark::kMillisecond)->UseRealTime();

// Bytes a read of the table leaves in memory: the readers' parts, and the
// piece that FromMftResult builds from them on one thread.
struct OutputBytes {
    uint64_t parts = 0;
    uint64_t piece = 0;
};

bool MeasureOutput(const ov::DevFactory& factory, OutputBytes& out) {
    ov::MftResult result;
    if (!ov::MftReadAll(factory, 1, result, nullptr, nullptr)) return false;
    for (const ov::MftPart& part : result.parts)
        out.parts += sizeof(ov::FileRec) * (part.files.size() + part.extensions.size()) +
                     sizeof(ov::NameRec) * part.nameRows.size() + part.namePool.size() + part.foldedPool.size();
    ov::Index::Piece piece;
    if (!ov::FromMftResult(result, ov::ToWide(std::string("X:")), piece)) return false;
    out.piece = sizeof(ov::Entry) * piece.entries.size() + piece.names.size() + piece.folded.size() +
                sizeof(uint32_t) * piece.recordMap.size() + sizeof(piece.hardLinks[0]) * piece.hardLinks.size();
    return true;
}

// What BM_MftRead_Image cannot beat without parsing nothing: each of n threads
// reads every n-th MiB of the table and writes its share of the parts' bytes
// into fresh memory, then one thread writes the piece's bytes into fresh
// memory. Nothing is kept between iterations.
void BM_MftRead_FreshMemoryFloor(benchmark::State& state) {
    const ov::DevFactory factory = ov::DriveDevFactory(ov::ToWide(MillionImage()));
    auto dev = factory();
    ov::MftRuns layout;
    uint32_t records = 0;
    OutputBytes output;
    if (!dev || !ov::ReadMftLayout(*dev, layout, records) || !MeasureOutput(factory, output)) {
        state.SkipWithError("no benchmark volume: run tests/engine/make_ntfs_images.py --million IMAGE");
        return;
    }
    const auto threads = static_cast<uint32_t>(state.range(0));
    const uint64_t total = uint64_t{records} * layout.recordSize;
    const auto reader = [&](uint32_t n) {
        auto own = factory();
        ov::VirtualBuffer buffer(1 << 20);
        const uint64_t step = buffer.size();
        for (uint64_t at = n * step; at < total; at += threads * step)
            ov::ReadRuns(own.get(), layout, layout.runs, at, buffer.data(), std::min<uint64_t>(step, total - at));
        std::vector<char> fresh(output.parts / threads);
        benchmark::DoNotOptimize(fresh.data());
        benchmark::ClobberMemory();
    };
    for (auto _ : state) {
        std::vector<std::thread> started;
        for (uint32_t n = 1; n < threads; ++n) started.emplace_back(reader, n);
        reader(0);
        for (std::thread& t : started) t.join();
        std::vector<char> piece(output.piece);
        benchmark::DoNotOptimize(piece.data());
        benchmark::ClobberMemory();
    }
    state.counters["MB fresh"] = static_cast<double>(output.parts + output.piece) / 1048576.0;
}
BENCHMARK(BM_MftRead_FreshMemoryFloor)->Apply(ReaderCounts);

}  // namespace
