// Writes a saved index built from a list of paths, one absolute '/'-separated
// path a line as the benchmark corpus holds them, so that the program's start-up
// can be timed with an index of any size. Each top-level folder becomes an NTFS
// volume (see bench/corpus_volumes.h); with --folders BASE it becomes instead the
// added folder BASE\<its name>, which the program keeps at start whenever its
// added folders list it (drive volumes need their drive with the same serial).
// PATH_LIST may instead name the shared corpus as @1M, @3M, @8M or @10M, which
// is built first when the cache has none.
//
//   ov_make_saved_index [--folders BASE] PATH_LIST|@SIZE OUT_FILE [MAX_PATHS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "bench/corpus_volumes.h"
#include "engine/index_file.h"
#include "index/text.h"

int main(int argc, char** argv) {
    std::string folderBase;
    if (argc >= 3 && std::string(argv[1]) == "--folders") {
        folderBase = argv[2];
        argc -= 2;
        argv += 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s [--folders BASE] PATH_LIST|@SIZE OUT_FILE [MAX_PATHS]\n", argv[0]);
        return 2;
    }
    const size_t limit = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : SIZE_MAX;
    std::string text;
    std::vector<std::string_view> paths;
    std::string error;
    if (argv[1][0] == '@') {
        ov::bench::CorpusSize size;
        if (!ov::bench::CorpusOfSize(std::strtoll(argv[1] + 1, nullptr, 10) * 1000000, size)) {
            std::fprintf(stderr, "no corpus %s: there are @1M, @3M, @8M and @10M\n", argv[1]);
            return 2;
        }
        const ov::bench::Corpus* corpus = ov::bench::LoadCorpus(size, error);
        if (!corpus) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        paths.assign(corpus->paths.begin(), corpus->paths.begin() + std::min(limit, corpus->paths.size()));
    } else {
        std::ifstream in(argv[1], std::ios::binary);
        text.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in && text.empty()) {
            std::fprintf(stderr, "cannot read %s\n", argv[1]);
            return 1;
        }
        paths = ov::bench::SplitPaths(text, limit);
    }
    const double start = ov::NowMs();
    ov::Index index;
    std::vector<std::unique_ptr<ov::Volume>> volumes;
    if (!ov::bench::FillIndex(index, paths, 0x5A7ED, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (folderBase.empty()) {
        ov::bench::AddCorpusVolumes(index, volumes);
    } else if (!ov::bench::AddCorpusFolderVolumes(index, paths, folderBase, volumes, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double built = ov::NowMs();
    std::mutex saveMutex;
    ov::SaveTimes times;
    if (!ov::SaveDb(index, ov::ToWide(argv[2]), saveMutex, {}, error, &times)) {
        std::fprintf(stderr, "saving failed: %s\n", error.c_str());
        return 1;
    }
    std::printf(
        "%zu entries, %zu volumes, %llu bytes; built in %.1f s, saved in %.2f s (%.0f MB/s): written in %.0f ms, "
        "flushed in %.0f ms, moved in %.0f ms\n",
        index.entries.size(), volumes.size(), static_cast<unsigned long long>(times.bytes), (built - start) / 1000,
        times.totalMs / 1000, static_cast<double>(times.bytes) / 1e3 / times.totalMs, times.writeMs, times.flushMs,
        times.moveMs);
    return 0;
}
