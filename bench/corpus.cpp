#include "bench/corpus.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

namespace ov::bench {
namespace {

namespace fs = std::filesystem;

const char* FileName(CorpusSize size) {
    switch (size) {
        case CorpusSize::k1M:
            return "corpus-1M.txt";
        case CorpusSize::k3M:
            return "corpus-3M.txt";
        case CorpusSize::kFull:
            return "corpus.txt";
        case CorpusSize::k10M:
            return "corpus-10M.txt";
    }
    return "corpus.txt";
}

// The script writes the checksums last, so their presence means a finished build.
bool Complete(const fs::path& dir) {
    std::error_code ec;
    if (!fs::exists(dir / "CORPUS.sha256", ec)) return false;
    for (CorpusSize s : {CorpusSize::k1M, CorpusSize::k3M, CorpusSize::kFull, CorpusSize::k10M})
        if (!fs::exists(dir / FileName(s), ec)) return false;
    return true;
}

// Builds into a private folder and renames it into place, so an interrupted or
// concurrent build never leaves a half-written corpus where readers look.
bool Build(const fs::path& dir, std::string& error) {
    const fs::path script = OV_CORPUS_SCRIPT;
    std::error_code ec;
    if (!fs::exists(script, ec)) {
        error = "the corpus script " + script.string() + " is missing";
        return false;
    }
    if (fs::exists(dir, ec)) {
        error = dir.string() + " exists but holds no complete corpus; remove it to rebuild";
        return false;
    }
    const fs::path partial = dir.string() + ".partial-" + std::to_string(getpid());
    const fs::path log = dir.string() + ".log";
    for (const fs::path& p : {script, partial, log}) {
        if (p.string().find('\'') != std::string::npos) {
            error = "cannot quote the path " + p.string() + " for the shell";
            return false;
        }
    }
    fs::remove_all(partial, ec);
    fs::create_directories(partial, ec);
    if (ec) {
        error = "cannot create " + partial.string() + ": " + ec.message();
        return false;
    }
    std::fprintf(stderr, "Building the benchmark corpus in %s (about 4 minutes, only once); log in %s\n", dir.c_str(),
                 log.c_str());
    const std::string command = "bash '" + script.string() + "' '" + partial.string() + "' '" +
                                (partial / "corpus.txt.gz").string() + "' >'" + log.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    if (status != 0 || !Complete(partial)) {
        fs::remove_all(partial, ec);
        const int code = status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        error = "building the corpus failed (exit status " + std::to_string(code) + "); see " + log.string();
        return false;
    }
    fs::remove(partial / "contents.tsv", ec);  // a large intermediate nobody reads again
    fs::rename(partial, dir, ec);
    if (ec) {
        fs::remove_all(partial, ec);
        if (Complete(dir)) return true;  // another process finished first
        error = "cannot move the built corpus to " + dir.string();
        return false;
    }
    return true;
}

bool Read(const fs::path& file, Corpus& corpus, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot open " + file.string();
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    in.seekg(0);
    corpus.text.resize(static_cast<size_t>(length));
    if (length <= 0 || !in.read(corpus.text.data(), length)) {
        error = "cannot read " + file.string();
        return false;
    }
    corpus.paths = SplitPaths(corpus.text);
    return true;
}

}  // namespace

std::string CorpusDir() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return (fs::path(cache) / "orvane-corpus").string();
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return (fs::path(home) / ".cache" / "orvane-corpus").string();
    return {};
}

const Corpus* LoadCorpus(CorpusSize size, std::string& error) {
    static std::mutex mutex;
    static std::unique_ptr<Corpus> loaded;  // one at a time: the large ones take about a gigabyte
    static CorpusSize loadedSize;
    static bool buildTried = false;
    static std::string buildError;
    std::lock_guard<std::mutex> guard(mutex);
    if (loaded && loadedSize == size) return loaded.get();
    const std::string dir = CorpusDir();
    if (dir.empty()) {
        error = "neither XDG_CACHE_HOME nor HOME is set, so there is no place for the corpus";
        return nullptr;
    }
    if (!Complete(dir)) {
        if (!buildTried) {
            buildTried = true;
            if (!Build(dir, buildError)) buildError = "no benchmark corpus: " + buildError;
        }
        if (!Complete(dir)) {
            error = buildError;
            return nullptr;
        }
    }
    loaded.reset();
    auto corpus = std::make_unique<Corpus>();
    if (!Read(fs::path(dir) / FileName(size), *corpus, error)) return nullptr;
    loaded = std::move(corpus);
    loadedSize = size;
    return loaded.get();
}

bool CorpusOfSize(int64_t entries, CorpusSize& size) {
    switch (entries) {
        case 1000000:
            size = CorpusSize::k1M;
            return true;
        case 3000000:
            size = CorpusSize::k3M;
            return true;
        case 8000000:
            size = CorpusSize::kFull;
            return true;
        case 10000000:
            size = CorpusSize::k10M;
            return true;
    }
    return false;
}

}  // namespace ov::bench
