// The shared benchmark corpus: real file paths (Debian package contents), built
// once by the project's corpus script into a cache folder outside the source tree
// ($XDG_CACHE_HOME/orvane-corpus or ~/.cache/orvane-corpus) and read from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bench/synthetic.h"
#include "index/index.h"

namespace ov::bench {

enum class CorpusSize { k1M, k3M, kFull, k10M };  // about 1, 3, 7.9 and 10 million entries

struct Corpus {
    std::string text;                     // the list file as read
    std::vector<std::string_view> paths;  // into text: absolute, '/'-separated, sorted, folders included
};

// The folder the corpus lives in; empty when neither XDG_CACHE_HOME nor HOME is set.
std::string CorpusDir();

// The paths of the corpus of `size`, building the corpus first when the cache has
// none (several minutes; needs apt-file and lz4). Kept for the rest of the process;
// a failed build is not retried. Null with an error text on failure.
const Corpus* LoadCorpus(CorpusSize size, std::string& error);
// The corpus whose nominal entry count is entries (1, 3, 8 or 10 million).
bool CorpusOfSize(int64_t entries, CorpusSize& size);

// Turns distinct absolute paths into entries: every top-level item becomes a volume
// root ("C:", "D:", ...), a path with another path below it is a folder, missing parent
// folders are supplied, and files get seeded sizes and times. False with an error
// text when a name does not fit an entry or there are too many top-level folders.
bool PathsToEntries(const std::vector<std::string_view>& paths, uint64_t seed, EntryList& list, std::string& error);

// The non-empty lines of a path list, at most `limit` of them, as views into text.
std::vector<std::string_view> SplitPaths(std::string_view text, size_t limit = SIZE_MAX);

// PathsToEntries, then AddEntries.
bool FillIndex(Index& index, const std::vector<std::string_view>& paths, uint64_t seed, std::string& error);

}  // namespace ov::bench
