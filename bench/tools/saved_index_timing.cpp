// Times what the program does with a saved index of real size: the load at
// start-up, then saves while searches run and a volume thread changes an entry
// four times a second, and the same without a save. Each search checks readiness under the shared lock and
// prepares under the exclusive lock only when it must, as the search worker
// does. Builds for Windows too, where the reader/writer lock makes new readers
// wait behind a waiting writer, so it can be timed under Wine.
//
//   ov_saved_index_timing FILE [ROUNDS]
//   ov_saved_index_timing --first FILE   the load and the first search (the
//                                        empty one), as the program starts
//   ov_saved_index_timing --floor FILE   what any start must do: the file read
//                                        into fresh memory and one parallel sort
//                                        by name
// The last two print one line of name=value pairs, for bench/startup_timing.py.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/atomic_file.h"
#include "engine/index_file.h"
#include "index/searcher.h"
#include "index/text.h"

namespace {

struct Latencies {
    std::vector<double> ms;
    double Percentile(double p) const {
        if (ms.empty()) return 0;
        return ms[std::min(ms.size() - 1, static_cast<size_t>(p * static_cast<double>(ms.size())))];
    }
};

// One search as the search worker runs it.
void Search(ov::Index& index, const ov::SearchOptions& options, const char* text = "report") {
    ov::Query query = ov::ParseQuery(text, options);
    ov::Searcher searcher(&index);
    bool ready = false;
    {
        std::shared_lock<ov::SharedMutex> hold(index.lock);
        ready = ov::SearchReady(index, query, options);
    }
    if (!ready) {
        std::unique_lock<ov::SharedMutex> hold(index.lock);
        searcher.Prepare(query, options);
    }
    std::vector<uint32_t> hits;
    std::shared_lock<ov::SharedMutex> hold(index.lock);
    searcher.Run(query, options, hits, nullptr);
}

// A change of one entry's times, as a volume thread makes for a written file.
// It takes the lock exclusively but leaves the name order current, so what the
// searches wait for is the lock, not the upkeep of a sort order.
void Touch(ov::Index& index, int k) {
    std::unique_lock<ov::SharedMutex> hold(index.lock);
    const auto e = static_cast<uint32_t>((uint64_t{7919} * static_cast<uint64_t>(k)) % index.entries.size());
    const ov::Entry& entry = index.entries[e];
    index.SetMeta(e, entry.size, entry.modified + 1, entry.created, static_cast<uint16_t>(entry.flags));
}

// Searches one after another while going() holds, with a writer touching an
// entry every 250 ms; worstAt is when the slowest one began, after `since`.
Latencies SearchWhile(ov::Index& index, const ov::SearchOptions& options, const std::function<bool()>& going,
                      double since, double& worstAt) {
    std::atomic<bool> searching{true};
    std::thread writer([&] {
        for (int k = 0; searching; ++k) {
            Touch(index, k);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    });
    Latencies searches;
    double worst = -1;
    while (going()) {
        const double start = ov::NowMs();
        Search(index, options);
        const double took = ov::NowMs() - start;
        searches.ms.push_back(took);
        if (took > worst) worst = took, worstAt = start - since;
    }
    searching = false;
    writer.join();
    std::sort(searches.ms.begin(), searches.ms.end());
    return searches;
}

// Loads the file as the program does; false once it said why not.
bool Load(ov::Index& index, const ov::WString& path, std::vector<std::unique_ptr<ov::Volume>>& volumes,
          ov::LoadTimes& load) {
    std::string reason;
    if (ov::LoadDb(index, path, volumes, reason, &load)) return true;
    std::fprintf(stderr, "load failed: %s\n", reason.c_str());
    return false;
}

int FirstResults(const ov::WString& path) {
    ov::Index index;
    std::vector<std::unique_ptr<ov::Volume>> volumes;
    ov::LoadTimes load;
    if (!Load(index, path, volumes, load)) return 1;
    const double start = ov::NowMs();
    Search(index, ov::SearchOptions{}, "");
    const double search = ov::NowMs() - start;
    std::printf(
        "entries=%zu load_ms=%.0f read_ms=%.0f prepare_ms=%.0f sort_ms=%.0f exclusive_ms=%.1f search_ms=%.0f "
        "first_ms=%.0f\n",
        index.entries.size(), load.totalMs, load.readMs, load.prepareMs, load.sortMs, load.exclusiveMs, search,
        load.totalMs + search);
    return 0;
}

int Floor(const ov::WString& path) {
    ov::Index index;  // its pool's threads start before the clock
    const double start = ov::NowMs();
    ov::InputFile file;
    std::string error;
    char header[28];
    if (file.Open(path, error) != ov::InputFile::Opened::Yes || !file.Read(header, sizeof header)) {
        std::fprintf(stderr, "cannot read the file %s\n", error.c_str());
        return 1;
    }
    uint32_t n = 0;
    uint64_t nameBytes = 0, foldedBytes = 0;
    std::memcpy(&n, header + 8, 4);
    std::memcpy(&nameBytes, header + 12, 8);
    std::memcpy(&foldedBytes, header + 20, 8);
    const uint64_t tables = sizeof header + uint64_t{n} * sizeof(ov::Entry) + nameBytes + foldedBytes;
    if (tables > file.Size()) {
        std::fprintf(stderr, "not a saved index\n");
        return 1;
    }
    index.entries.resize(n);
    index.names.resize(nameBytes);
    index.folded.resize(foldedBytes);
    std::string tail(file.Size() - tables, '\0');
    if (!file.Read(index.entries.data(), n * sizeof(ov::Entry)) || !file.Read(index.names.data(), nameBytes) ||
        !file.Read(index.folded.data(), foldedBytes) || !file.Read(tail.data(), tail.size())) {
        std::fprintf(stderr, "the file could not be read to its end\n");
        return 1;
    }
    file.Close();
    const double read = ov::NowMs() - start;
    index.FullSort(ov::SortKey::Name);
    const double total = ov::NowMs() - start;
    std::printf("entries=%u read_ms=%.0f sort_ms=%.0f floor_ms=%.0f\n", n, read, total - read, total);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--first") return FirstResults(ov::ToWide(argv[2]));
    if (argc == 3 && std::string(argv[1]) == "--floor") return Floor(ov::ToWide(argv[2]));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS] | --first FILE | --floor FILE\n", argv[0]);
        return 2;
    }
    const ov::WString path = ov::ToWide(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    ov::Index index;
    std::vector<std::unique_ptr<ov::Volume>> volumes;
    ov::LoadTimes load;
    if (!Load(index, path, volumes, load)) return 1;
    std::printf(
        "load: %zu entries, %.0f MB in %.0f ms (%.0f MB/s): read %.0f ms, prepare %.0f ms, exclusive %.2f ms%s\n",
        index.entries.size(), static_cast<double>(load.bytes) / 1e6, load.totalMs,
        static_cast<double>(load.bytes) / 1e3 / load.totalMs, load.readMs, load.prepareMs, load.exclusiveMs,
        load.compacted ? ", compacted" : "");
    ov::SearchOptions options;
    const double first = ov::NowMs();
    Search(index, options);
    std::printf("first search (sort order built): %.0f ms\n", ov::NowMs() - first);

    // The same searches and changes without a save, for comparison.
    {
        const double start = ov::NowMs();
        double worstAt = 0;
        const Latencies searches = SearchWhile(
            index, options, [&] { return ov::NowMs() - start < 3000; }, start, worstAt);
        std::printf("no save, 3 s: %zu searches: median %.1f ms, p99 %.1f ms, max %.1f ms\n", searches.ms.size(),
                    searches.Percentile(0.5), searches.Percentile(0.99), searches.Percentile(1.0));
    }

    const ov::WString out = path + ov::ToWide(".timing");
    std::string reason;
    for (int round = 0; round < rounds; ++round) {
        std::atomic<bool> saving{true};
        std::mutex saveMutex;
        ov::SaveTimes save;
        bool saved = false;
        std::thread saver([&] {
            saved = ov::SaveDb(index, out, saveMutex, {}, reason, &save);
            saving = false;
        });
        double worstAt = 0;
        const Latencies searches = SearchWhile(
            index, options, [&] { return saving.load(); }, ov::NowMs(), worstAt);
        saver.join();
        if (!saved) {
            std::fprintf(stderr, "save failed: %s\n", reason.c_str());
            return 1;
        }
        std::printf("save %d: %.0f ms (%.0f MB/s): written %.0f ms, flushed %.0f ms, moved %.0f ms\n", round + 1,
                    save.totalMs, static_cast<double>(save.bytes) / 1e3 / save.totalMs, save.writeMs, save.flushMs,
                    save.moveMs);
        std::printf("  longest shared holds: table %.1f ms (%d tries), pool chunk %.1f ms; compaction %.1f ms\n",
                    save.snapshotMs, save.snapshotTries, save.longestPoolHoldMs, save.exclusiveMs);
        std::printf(
            "  %zu searches during it: median %.1f ms, p99 %.1f ms, max %.1f ms (started %.0f ms into the save)\n",
            searches.ms.size(), searches.Percentile(0.5), searches.Percentile(0.99), searches.Percentile(1.0), worstAt);
    }
    ov::RemoveFile(out);
    return 0;
}
