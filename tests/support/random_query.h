// Random search texts in the query language, with random search switches, for
// checking the searcher against the naive reference.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "index/query.h"

namespace ov::testing {

struct RandomSearch {
    std::string text;
    SearchOptions options;
};

// folderPaths: folded full paths of folders in the index searched, used for
// parent: and path terms so they hit something.
RandomSearch RandomQuery(std::mt19937_64& rng, const std::vector<std::string>& folderPaths);

}  // namespace ov::testing
