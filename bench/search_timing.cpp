// The search benchmark's cases timed without Google Benchmark, for the Windows
// build, which `make bench` runs under Wine next to the native benchmark. Reads
// the corpus's paths (one absolute path per line) from standard input, so it
// needs no access to the cache folder, builds the index as the native benchmark
// does, and prints one line per case and thread count: the row's name as Google
// Benchmark gives it, the median over repetitions of the mean milliseconds per
// run (each repetition runs for at least the minimum time), and the hits.
//
// Usage: ov_search_timing --entries=N [--filter=REGEX] [--repetitions=5]
//                         [--min-time=0.2] < corpus.txt
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "bench/corpus.h"
#include "bench/search_cases.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    long long entries = 0;
    std::string filter = ".";
    int repetitions = 5;
    double minTime = 0.2;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view name) -> const char* {
            return arg.substr(0, name.size()) == name ? argv[i] + name.size() : nullptr;
        };
        if (const char* v = value("--entries=")) {
            options.entries = std::atoll(v);
        } else if (const char* f = value("--filter=")) {
            options.filter = f;
        } else if (const char* r = value("--repetitions=")) {
            options.repetitions = std::max(1, std::atoi(r));
        } else if (const char* t = value("--min-time=")) {
            options.minTime = std::atof(t);
        } else {
            return false;
        }
    }
    return options.entries > 0;
}

// Google Benchmark's filter: a regular expression searched in the full row name,
// or with a leading '-' the rows it does not find.
class Filter {
public:
    explicit Filter(const std::string& spec)
        : negative(!spec.empty() && spec[0] == '-'), pattern(negative ? spec.substr(1) : spec, std::regex::extended) {}
    bool Selects(const std::string& row) const { return std::regex_search(row, pattern) != negative; }

private:
    bool negative;
    std::regex pattern;
};

bool ReadAll(std::FILE* in, std::string& text) {
#ifdef _WIN32
    _setmode(_fileno(in), _O_BINARY);
#endif
    std::vector<char> buffer(1 << 22);
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        text.append(buffer.data(), got);
        if (got < buffer.size()) return !std::ferror(in);
    }
}

// Mean seconds per run of one repetition: runs doubled (or scaled up) until they
// last minTime, as Google Benchmark sizes its iterations.
double Repetition(const std::function<void()>& run, double minTime) {
    for (uint64_t runs = 1;;) {
        const auto begin = Clock::now();
        for (uint64_t i = 0; i < runs; ++i) run();
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        if (seconds >= minTime) return seconds / static_cast<double>(runs);
        const double scale = seconds / minTime > 0.1 ? minTime * 1.4 / seconds : 10.0;
        runs = std::max(runs + 1, static_cast<uint64_t>(static_cast<double>(runs) * scale));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: ov_search_timing --entries=N [--filter=REGEX] [--repetitions=5] "
                     "[--min-time=0.2] < corpus.txt\n");
        return 2;
    }
    const Filter filter(options.filter);
    const std::string args = "/entries:" + std::to_string(options.entries) + "/threads:";
    const std::string suffix = "/min_time:0.200/repeats:5/real_time";  // as Google Benchmark names the rows
    const int all = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    // Rows in the native program's order, each with every thread and with one.
    struct Row {
        std::string name;
        std::function<std::function<size_t()>(ov::Index&)> make;
    };
    std::vector<Row> rows;
    rows.push_back({"BM_Floor_PoolPass", [](ov::Index& index) {
                        auto run = std::make_shared<ov::bench::PoolPassRun>(index);
                        return std::function<size_t()>([run] {
                            run->Run();
                            return size_t{0};
                        });
                    }});
    for (const char* needle : ov::bench::kFloorNeedles) {
        rows.push_back({std::string("BM_Floor_Scan_") + needle, [needle](ov::Index& index) {
                            auto run = std::make_shared<ov::bench::ScanRun>(index, needle);
                            return std::function<size_t()>([run] { return run->Run(); });
                        }});
    }
    for (const ov::bench::QueryCase& q : ov::bench::SearchQueries()) {
        for (ov::SortKey sort : {ov::SortKey::Name, ov::SortKey::Path}) {
            rows.push_back({ov::bench::SearchCaseName(q, sort), [text = q.text, sort](ov::Index& index) {
                                auto run = std::make_shared<ov::bench::QueryRun>(index, text, sort);
                                return std::function<size_t()>([run] { return run->Run(); });
                            }});
        }
    }
    bool any = false;
    for (const Row& row : rows)
        for (int threads : {all, 1}) any = any || filter.Selects(row.name + args + std::to_string(threads) + suffix);
    const std::string cancelArgs = args + std::to_string(all) + "/iterations:10/manual_time";
    for (const ov::bench::QueryCase& q : ov::bench::CostlyQueries())
        any = any || filter.Selects(std::string("BM_Cancel_") + q.name + cancelArgs);
    if (!any) return 0;

    std::string text;
    if (!ReadAll(stdin, text)) {
        std::fprintf(stderr, "cannot read the corpus from standard input\n");
        return 1;
    }
    std::vector<std::string_view> paths = ov::bench::SplitPaths(text);
    const auto built = Clock::now();
    auto index = std::make_unique<ov::Index>();
    std::string error;
    if (!ov::bench::FillIndex(*index, paths, ov::bench::kSearchSeed, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    paths = {};
    text = {};
    ov::bench::PrepareForSearch(*index);
    std::fprintf(stderr, "%zu entries indexed in %.1f s\n", index->entries.size(),
                 std::chrono::duration<double>(Clock::now() - built).count());

    // Cancellation latency: the mean and the worst of ten, in milliseconds.
    for (const ov::bench::QueryCase& q : ov::bench::CostlyQueries()) {
        const std::string name = std::string("BM_Cancel_") + q.name + cancelArgs;
        if (!filter.Selects(name)) continue;
        index->pool.SetThreadsInUse(all);
        ov::bench::CancelRun run(*index, q.text);
        std::shared_lock<ov::SharedMutex> hold(index->lock);
        double sum = 0, worst = 0;
        bool early = false;
        for (int i = 0; i < 10 && !early; ++i) {
            const double ms = run.Run();
            early = ms < 0;
            sum += ms;
            worst = std::max(worst, ms);
        }
        if (early)
            std::printf("%s\tended before it was cancelled\n", name.c_str());
        else
            std::printf("%s\t%.4f\tworst %.4f\n", name.c_str(), sum / 10, worst);
        std::fflush(stdout);
    }
    for (const Row& row : rows) {
        for (int threads : {all, 1}) {
            const std::string name = row.name + args + std::to_string(threads);
            if (!filter.Selects(name + suffix)) continue;
            index->pool.SetThreadsInUse(threads);
            std::function<size_t()> run = row.make(*index);
            std::shared_lock<ov::SharedMutex> hold(index->lock);
            size_t hits = 0;
            std::vector<double> seconds;
            for (int r = 0; r < options.repetitions; ++r)
                seconds.push_back(Repetition([&] { hits = run(); }, options.minTime));
            std::sort(seconds.begin(), seconds.end());
            const size_t mid = seconds.size() / 2;
            const double median = seconds.size() % 2 ? seconds[mid] : (seconds[mid - 1] + seconds[mid]) / 2;
            std::printf("%s\t%.4f\t%zu\n", name.c_str(), median * 1000, hits);
            std::fflush(stdout);
        }
    }
    return 0;
}
