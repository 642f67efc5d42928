// Saving and loading the whole index over the corpus, next to the floors: a plain copy of a file of the same
// size, and its read into untouched memory. Saves flush to the disk as the product does; BM_IndexFile_Write is
// the same save without the flush, to compare with the copy in the page cache. Counters give the throughput,
// the longest holds of the index lock and the peak memory the operation added. Searches during a save are timed
// by bench/tools/saved_index_timing, which also runs under Wine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "bench/corpus_volumes.h"
#include "engine/atomic_file.h"
#include "engine/index_file.h"
#include "index/text.h"

namespace {

using ov::Index;

constexpr uint64_t kSeed = 0x5A7ED;
const int64_t kSizes[] = {1000000, 5000000, 10000000};

struct CorpusState {
    int64_t entries = 0;
    std::unique_ptr<Index> index;
    std::vector<std::unique_ptr<ov::Volume>> volumes;
};

// The corpus index of one size with its volumes, one at a time. The 5-million
// index is the first half of the 10-million corpus's paths.
CorpusState* CorpusIndex(int64_t entries, std::string& error) {
    static CorpusState state;
    if (state.index && state.entries == entries) return &state;
    state.index.reset();
    state.volumes.clear();
    const ov::bench::Corpus* corpus =
        ov::bench::LoadCorpus(entries == 1000000 ? ov::bench::CorpusSize::k1M : ov::bench::CorpusSize::k10M, error);
    if (!corpus) return nullptr;
    std::vector<std::string_view> paths = corpus->paths;
    if (entries < 10000000 && entries > 1000000) paths.resize(std::min<size_t>(paths.size(), entries));
    auto index = std::make_unique<Index>();
    if (!ov::bench::FillIndex(*index, paths, kSeed, error)) return nullptr;
    ov::bench::AddCorpusVolumes(*index, state.volumes);
    state.index = std::move(index);
    state.entries = entries;
    return &state;
}

// A folder of this run for the files written, removed with them at exit (they
// take gigabytes at the larger sizes).
std::filesystem::path BenchFolder() {
    struct Folder {
        Folder() : path(std::filesystem::temp_directory_path() / ("ov-index-file-bench-" + std::to_string(getpid()))) {
            std::filesystem::create_directories(path);
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        std::filesystem::path path;
    };
    static const Folder folder;
    return folder.path;
}

ov::WString Wide(const std::filesystem::path& p) {
    return p.u16string();
}

uint64_t StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(std::strlen(field)));
    }
    return 0;
}

// Peak resident memory since the last reset, in MB above what was resident then.
class PeakMemory {
public:
    PeakMemory() {
        std::ofstream("/proc/self/clear_refs") << "5";
        base = StatusKb("VmRSS:");
    }
    double AddedMb() const { return (static_cast<double>(StatusKb("VmHWM:")) - static_cast<double>(base)) / 1024; }

private:
    uint64_t base = 0;
};

CorpusState* Setup(benchmark::State& state, int64_t entries) {
    std::string error;
    CorpusState* corpus = CorpusIndex(entries, error);
    if (!corpus) state.SkipWithError(error.c_str());
    return corpus;
}

void Throughput(benchmark::State& state, uint64_t bytes, double seconds) {
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["MB_per_s"] = static_cast<double>(bytes) / 1e6 / seconds;
}

void BM_IndexFile_Save(benchmark::State& state, int64_t entries, bool) {
    CorpusState* corpus = Setup(state, entries);
    if (!corpus) return;
    const ov::WString path = Wide(BenchFolder() / "Orvane.db");
    std::mutex saveMutex;
    ov::SaveTimes times;
    double peak = 0;
    for (auto _ : state) {
        PeakMemory memory;
        std::string reason;
        if (!ov::SaveDb(*corpus->index, path, saveMutex, {}, reason, &times)) state.SkipWithError(reason.c_str());
        peak = std::max(peak, memory.AddedMb());
    }
    Throughput(state, times.bytes, times.totalMs / 1000);
    state.counters["snapshot_hold_ms"] = times.snapshotMs;
    state.counters["longest_pool_hold_ms"] = times.longestPoolHoldMs;
    state.counters["exclusive_ms"] = times.exclusiveMs;
    state.counters["peak_added_MB"] = peak;
}

// The save without the flush to the disk: what the page cache takes.
void BM_IndexFile_Write(benchmark::State& state, int64_t entries, bool) {
    CorpusState* corpus = Setup(state, entries);
    if (!corpus) return;
    const ov::WString path = Wide(BenchFolder() / "written.db");
    ov::SaveTimes times;
    for (auto _ : state) {
        ov::OutputFile file;
        std::string reason;
        if (!file.Create(path, reason) || !ov::WriteIndexFile(*corpus->index, file, reason, &times))
            state.SkipWithError(reason.c_str());
    }
    Throughput(state, times.bytes, times.totalMs / 1000);
    state.counters["snapshot_hold_ms"] = times.snapshotMs;
}

void BM_IndexFile_Load(benchmark::State& state, int64_t entries, bool) {
    CorpusState* corpus = Setup(state, entries);
    if (!corpus) return;
    const ov::WString path = Wide(BenchFolder() / "Orvane.db");
    std::mutex saveMutex;
    std::string reason;
    if (!ov::SaveDb(*corpus->index, path, saveMutex, {}, reason)) return state.SkipWithError(reason.c_str());
    ov::LoadTimes times;
    double peak = 0;
    for (auto _ : state) {
        auto index = std::make_unique<Index>();
        std::vector<std::unique_ptr<ov::Volume>> volumes;
        PeakMemory memory;
        if (!ov::LoadDb(*index, path, volumes, reason, &times)) state.SkipWithError(reason.c_str());
        peak = std::max(peak, memory.AddedMb());
        state.PauseTiming();
        index.reset();
        state.ResumeTiming();
    }
    Throughput(state, times.bytes, times.totalMs / 1000);
    state.counters["read_ms"] = times.readMs;
    state.counters["prepare_ms"] = times.prepareMs;
    state.counters["exclusive_ms"] = times.exclusiveMs;
    state.counters["peak_added_MB"] = peak;
}

// The floor: the saved file copied with 64 MiB reads and writes, from the page
// cache; with sync:1 the copy is flushed to the disk as a save is.
void BM_IndexFile_Copy(benchmark::State& state, int64_t entries, bool sync) {
    CorpusState* corpus = Setup(state, entries);
    if (!corpus) return;
    const auto from = BenchFolder() / "Orvane.db";
    const auto to = BenchFolder() / "copy.db";
    std::mutex saveMutex;
    std::string reason;
    if (!ov::SaveDb(*corpus->index, Wide(from), saveMutex, {}, reason)) return state.SkipWithError(reason.c_str());
    std::vector<char> buffer(ov::kMaxIoBytes);
    uint64_t bytes = 0;
    double seconds = 0;
    for (auto _ : state) {
        const double start = ov::NowMs();
        const int in = open(from.c_str(), O_RDONLY);
        const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        bytes = 0;
        for (ssize_t got; (got = read(in, buffer.data(), buffer.size())) > 0; bytes += static_cast<uint64_t>(got)) {
            if (write(out, buffer.data(), static_cast<size_t>(got)) != got) state.SkipWithError("write failed");
        }
        if (sync) fsync(out);
        close(in);
        close(out);
        seconds = (ov::NowMs() - start) / 1000;
    }
    Throughput(state, bytes, seconds);
}

// The floor of a load on this machine: the saved file read into memory the
// process has not touched before, as a load must fill. Where the first touch of
// a page is dear (a virtual machine returns freed pages to its host), this and
// not the copy above is what a load can reach.
void BM_IndexFile_ReadFresh(benchmark::State& state, int64_t entries, bool) {
    CorpusState* corpus = Setup(state, entries);
    if (!corpus) return;
    const auto from = BenchFolder() / "Orvane.db";
    std::mutex saveMutex;
    std::string reason;
    if (!ov::SaveDb(*corpus->index, Wide(from), saveMutex, {}, reason)) return state.SkipWithError(reason.c_str());
    uint64_t bytes = 0;
    double seconds = 0;
    for (auto _ : state) {
        const double start = ov::NowMs();
        const int in = open(from.c_str(), O_RDONLY);
        std::vector<char> memory(static_cast<size_t>(lseek(in, 0, SEEK_END)));
        bytes = 0;
        while (bytes < memory.size()) {
            const size_t want = std::min(memory.size() - bytes, ov::kMaxIoBytes);
            const ssize_t got = pread(in, memory.data() + bytes, want, static_cast<off_t>(bytes));
            if (got <= 0) break;
            bytes += static_cast<uint64_t>(got);
        }
        close(in);
        seconds = (ov::NowMs() - start) / 1000;
        state.PauseTiming();
        memory = {};
        state.ResumeTiming();
    }
    Throughput(state, bytes, seconds);
}

// Every case of one size before the next, so each corpus index is built once.
const bool kRegistered = [] {
    for (int64_t n : kSizes) {
        const std::string size = "/entries:" + std::to_string(n);
        auto add = [&](const std::string& name, void (*fn)(benchmark::State&, int64_t, bool), bool sync) {
            benchmark::RegisterBenchmark(name.c_str(), fn, n, sync)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(3);
        };
        add("BM_IndexFile_Save" + size, BM_IndexFile_Save, false);
        add("BM_IndexFile_Write" + size, BM_IndexFile_Write, false);
        add("BM_IndexFile_Load" + size, BM_IndexFile_Load, false);
        add("BM_IndexFile_Copy" + size + "/sync:0", BM_IndexFile_Copy, false);
        add("BM_IndexFile_Copy" + size + "/sync:1", BM_IndexFile_Copy, true);
        add("BM_IndexFile_ReadFresh" + size, BM_IndexFile_ReadFresh, false);
    }
    return true;
}();

}  // namespace
