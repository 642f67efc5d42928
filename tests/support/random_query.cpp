#include "tests/support/random_query.h"

namespace ov::testing {
namespace {

template <size_t N>
const char* Any(std::mt19937_64& rng, const char* const (&table)[N]) {
    return table[rng() % N];
}

const char* const kPlain[] = {"rep", "Report",       "log",     "a",      "x",          "\xC3\xA9", "\xC3\x89",
                              "ab",  "g.t",          "log.txt", "tar.gz", "\"my log\"", "x-log",    "2024",
                              "zz",  "\xE2\x82\xAC", "REPORT",  "o",      "ss",         "\xC3\x9F", "proj",
                              "src", "qzq",          "_",       ".",      "t.",         "catalog"};
const char* const kWildcards[] = {"*.txt", "*.TXT", "a*b", "?.txt", "*log*", "r*t",    "*.tar.gz", "**.txt",
                                  "*.t?t", "a**",   "a?",  "*",     "?",     "re*rt*", "*o?",      "\xC3\xA9*"};
const char* const kRegexes[] = {
    "^rep",   "log$",   "[0-9]+", "a.c",     "\"(ab|zz)\"", "colou?r", "^report_(\\d+)\\.pdf$", "(", "x{2}",
    "(a)\\1", "^[a-c]", "Log",    "\\.jpg$", "(a|b)*c",     "tar\\.gz"};
const char* const kKeywords[] = {
    "ext:txt",    "ext:jpg;png",  "ext:.JPG;png,gif", "ext:gz",    "ext:a;b;c;d;e", "ext:",
    "size:empty", "size:tiny",    "size:>1kb",        "size:<100", "size:1mb..5gb", "size:abc",
    "size:huge",  "size:>1gb",    "dm:2020",          "dm:2021",   "dc:2022",       "dm:>=1/1/2023",
    "dm:today",   "dm:last7days", "attrib:h",         "attrib:rh", "attrib:s",      "attrib:d",
    "attr:a",     "empty:",       "folder:empty:",    "dupe:",     "sizedupe:",     "dupe:log"};
const char* const kPrefixes[] = {"case:", "ww:", "nocase:", "file:", "folder:", "!", "path:", "noww:", "files:"};

// A piece of a real folder path, often across a '\', so path terms hit.
std::string PathPiece(std::mt19937_64& rng, const std::string& path) {
    if (path.empty()) return "c:";
    const size_t a = rng() % path.size();
    const size_t b = a + 1 + rng() % (path.size() - a);
    std::string piece = path.substr(a, b - a);
    if (piece.find(' ') != std::string::npos) piece = "\"" + piece + "\"";
    return piece;
}

std::string Word(std::mt19937_64& rng, const std::vector<std::string>& folders) {
    std::string prefix;
    while (rng() % 4 == 0) prefix += Any(rng, kPrefixes);
    switch (rng() % 10) {
        case 0:
        case 1:
        case 2:
            return prefix + Any(rng, kPlain);
        case 3:
        case 4:
            return prefix + Any(rng, kWildcards);
        case 5:
            return prefix + "regex:" + Any(rng, kRegexes);
        case 6:
        case 7:
            return prefix + Any(rng, kKeywords);
        case 8: {
            if (folders.empty()) return "parent:c:";
            std::string path = folders[rng() % folders.size()];
            if (rng() % 4 == 0) path += "\\";
            if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
            return prefix + (rng() % 6 == 0 ? "parent:c:\\nowhere" : "parent:" + path);
        }
        default:
            if (folders.empty()) return "path:c:";
            return prefix + (rng() % 2 ? "path:" : "") + PathPiece(rng, folders[rng() % folders.size()]);
    }
}

}  // namespace

RandomSearch RandomQuery(std::mt19937_64& rng, const std::vector<std::string>& folders) {
    RandomSearch s;
    SearchOptions& o = s.options;
    o.matchCase = rng() % 7 == 0;
    o.wholeWord = rng() % 7 == 0;
    o.matchPath = rng() % 7 == 0;
    o.regex = rng() % 12 == 0;
    o.filter = rng() % 3 == 0 ? static_cast<int>(rng() % 9) : 0;
    o.sort = static_cast<int>(rng() % 8);
    o.descending = rng() % 2 == 0;
    if (o.regex) {
        s.text = Any(rng, kRegexes);
        if (s.text.front() == '"') s.text = s.text.substr(1, s.text.size() - 2);
        return s;
    }
    const int words = static_cast<int>(rng() % 4);
    for (int w = 0; w < words; ++w) {
        if (w > 0) s.text += rng() % 5 == 0 ? "  " : " ";
        s.text += Word(rng, folders);
        while (rng() % 4 == 0) {
            s.text += '|';
            s.text += Word(rng, folders);
        }
    }
    return s;
}

}  // namespace ov::testing
