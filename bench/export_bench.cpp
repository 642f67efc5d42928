// The export's write path over the shared 10-million-entry index: rows read in
// batches, each under its own shared hold of the index lock, formatted without
// the lock and written through the export's buffer; against a plain write of
// the same number of bytes. Counters give the throughput and the longest hold.
// The CSV dates are left empty here: their text comes from the system's
// locale services, which only the Windows build has.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <shared_mutex>
#include <string>
#include <vector>

#include "app/export_format.h"
#include "bench/big_index.h"

namespace {

constexpr size_t kBatchRows = 2048;  // as the program reads them

class FdSink final : public ExportSink {
public:
    explicit FdSink(int fd) : fd(fd) {}
    bool Write(const char* data, size_t size) override {
        while (size > 0) {
            const ssize_t done = ::write(fd, data, size);
            if (done <= 0) return false;
            data += done;
            size -= static_cast<size_t>(done);
        }
        return true;
    }

private:
    int fd;
};

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

std::string OutputPath() {
    return (std::filesystem::temp_directory_path() / ("ov-export-bench-" + std::to_string(getpid()))).string();
}

void Export(benchmark::State& state, ExportFormat format, size_t rows) {
    ov::Index& index = ov::bench::SharedBigIndex().index;
    std::vector<uint32_t> ids(std::min(rows, index.entries.size()));
    std::iota(ids.begin(), ids.end(), 0u);
    const std::string path = OutputPath();
    double longestHoldMs = 0;
    double longestHoldCpuMs = 0;  // the same without the time other processes took the core
    uint64_t bytes = 0;
    double seconds = 0;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const auto start = std::chrono::steady_clock::now();
        FdSink sink(fd);
        ExportWriter writer(sink);
        writer.Buffer() = ExportPreamble(format);
        std::vector<ExportRow> batch;
        for (size_t first = 0; first < ids.size(); first += kBatchRows) {
            size_t filled = 0;
            {
                const auto held = std::chrono::steady_clock::now();
                const double cpuBefore = ThreadCpuMs();
                std::shared_lock<ov::SharedMutex> hold(index.lock);
                filled = FillExportRows(index, ids.data() + first, std::min(kBatchRows, ids.size() - first), batch);
                longestHoldCpuMs = std::max(longestHoldCpuMs, ThreadCpuMs() - cpuBefore);
                longestHoldMs = std::max(
                    longestHoldMs,
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - held).count());
            }
            for (size_t i = 0; i < filled; ++i) {
                AppendExportLine(writer.Buffer(), format, batch[i]);
                writer.LineDone();
            }
        }
        if (!writer.Finish()) state.SkipWithError("a write failed");
        bytes = static_cast<uint64_t>(::lseek(fd, 0, SEEK_END));
        ::close(fd);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    ::unlink(path.c_str());
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["MB_per_s"] = static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e6 / seconds;
    state.counters["longest_hold_ms"] = longestHoldMs;
    state.counters["longest_hold_cpu_ms"] = longestHoldCpuMs;
}

// The same number of bytes as the text export, written in the export's pieces.
void PlainWrite(benchmark::State& state, size_t rows) {
    ov::Index& index = ov::bench::SharedBigIndex().index;
    uint64_t total = 3;
    std::string path;
    for (uint32_t id = 0; id < std::min(rows, index.entries.size()); ++id) {
        path.clear();
        index.AppendPath(id, false, path);
        total += path.size() + 2;
    }
    const std::string piece(ExportWriter::kFlushBytes, 'x');
    const std::string file = OutputPath();
    double seconds = 0;
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const auto start = std::chrono::steady_clock::now();
        FdSink sink(fd);
        for (uint64_t left = total; left > 0;) {
            const size_t size = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
            if (!sink.Write(piece.data(), size)) state.SkipWithError("a write failed");
            left -= size;
        }
        ::close(fd);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    ::unlink(file.c_str());
    state.counters["MB"] = static_cast<double>(total) / 1e6;
    state.counters["MB_per_s"] = static_cast<double>(total) * static_cast<double>(state.iterations()) / 1e6 / seconds;
}

const bool kRegistered = [] {
    const struct {
        const char* name;
        ExportFormat format;
    } formats[] = {{"csv", ExportFormat::Csv}, {"txt", ExportFormat::Text}, {"efu", ExportFormat::Efu}};
    for (const size_t rows : {size_t{1000000}, ov::bench::kBigEntries}) {
        const std::string suffix = "/rows:" + std::to_string(rows);
        for (const auto& f : formats) {
            benchmark::RegisterBenchmark(("BM_Export_Rows/format:" + std::string(f.name) + suffix).c_str(), Export,
                                         f.format, rows)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(1)
                ->Repetitions(3)
                ->ReportAggregatesOnly(true);
        }
        benchmark::RegisterBenchmark(("BM_Export_PlainWrite/format:txt" + suffix).c_str(), PlainWrite, rows)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    }
    return true;
}();

}  // namespace
