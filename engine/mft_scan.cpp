#include "engine/mft_scan.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "index/text.h"

namespace ov {

WString MftDriveName(const WString& root) {
    return root.substr(0, std::min<size_t>(2, root.size()));
}

int MftReaderCount(int setting, bool hardDisk, int poolThreads) {
    if (setting >= 1) return setting;
    if (hardDisk) return 1;
    return std::clamp(poolThreads, 4, 8);
}

WString MftProgressText(int permille) {
    return ToWide("Reading the file table\u2026 " + std::to_string(std::max(permille, 0) / 10) + "%");
}

WString MftDoneText(uint64_t files, uint64_t folders, double scanMs, int readers, uint32_t failedChunks) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Indexed %llu files and %llu folders in %.2f seconds (read the NTFS file table, %d thread%s)",
                  static_cast<unsigned long long>(files), static_cast<unsigned long long>(folders), scanMs / 1000.0,
                  readers, readers == 1 ? "" : "s");
    std::string done = text;
    if (failedChunks)
        done += " - " + std::to_string(failedChunks) + (failedChunks == 1 ? " part" : " parts") +
                " of the file table couldn't be read";
    return ToWide(done);
}

}  // namespace ov
