#include "tests/support/mft_listing.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ov::testing {

std::vector<std::string> ListPiece(const Index::Piece& piece) {
    std::vector<std::string> lines;
    const auto name = [&](const Entry& e) { return std::string(piece.names, e.nameOffset, e.nameLength); };
    for (const Entry& e : piece.entries) {
        std::string path = name(e);
        uint32_t up = e.parent;
        for (int depth = 0; up != kNoEntry && up < piece.entries.size() && depth < 1000; ++depth) {
            path = name(piece.entries[up]) + "/" + path;
            up = piece.entries[up].parent;
        }
        const bool dir = IsDir(e);
        uint32_t attributes = e.flags & EntryFlags::AttributeMask;
        attributes = dir ? attributes | FileAttr::Directory : attributes & ~FileAttr::Directory;
        if (!attributes) attributes = 0x80;
        lines.push_back(path + "\t" + (dir ? "D" : "F") + "\t" + std::to_string(e.size) + "\t" +
                        std::to_string(e.modified) + "\t" + std::to_string(e.created) + "\t" +
                        std::to_string(attributes));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string NtfsImageFolder(std::string& skipReason) {
    const char* dir = std::getenv("OV_NTFS_IMAGES");
    if (!dir) {
        skipReason = "OV_NTFS_IMAGES is not set (run through CTest)";
        return {};
    }
    std::ifstream skip(std::string(dir) + "/skip-reason.txt");
    if (skip) {
        std::stringstream reason;
        reason << skip.rdbuf();
        skipReason = "no NTFS images: " + reason.str();
        return {};
    }
    return dir;
}

std::string FirstDifferences(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(), std::back_inserter(missing));
    std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(), std::back_inserter(extra));
    std::string text = std::to_string(missing.size()) + " missing, " + std::to_string(extra.size()) + " extra\n";
    for (size_t i = 0; i < missing.size() && i < 8; ++i) text += "  missing: " + missing[i] + "\n";
    for (size_t i = 0; i < extra.size() && i < 8; ++i) text += "  extra:   " + extra[i] + "\n";
    return text;
}

}  // namespace ov::testing
