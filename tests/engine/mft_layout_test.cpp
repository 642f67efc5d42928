#include "engine/mft_layout.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ov {
namespace {

TEST(MftLayout, DecodeRunList) {
    struct Case {
        const char* what;
        std::vector<uint8_t> pairs;
        bool ok;
        std::vector<std::pair<int64_t, uint64_t>> runs;
    } cases[] = {
        {"empty", {}, true, {}},
        {"two runs", {0x21, 0x10, 0x00, 0x01, 0x11, 0x08, 0x10, 0x00}, true, {{256, 16}, {272, 8}}},
        {"backwards", {0x11, 0x04, 0x40, 0x11, 0x02, 0xF0}, true, {{64, 4}, {48, 2}}},
        {"sparse", {0x11, 0x04, 0x40, 0x01, 0x09, 0x11, 0x01, 0x01}, true, {{64, 4}, {-1, 9}, {65, 1}}},
        {"nine length bytes", {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1}, false, {}},
        {"nine offset bytes", {0x90}, false, {}},
        {"cut short", {0x21, 0x10, 0x00}, false, {}},
        {"before cluster 0", {0x11, 0x04, 0x10, 0x11, 0x01, 0xE0}, false, {}},
        {"overflowing cluster",
         {0x81, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x81, 1, 2, 0, 0, 0, 0, 0, 0, 0},
         false,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<ov::Run> runs;
        EXPECT_EQ(DecodeRunList(c.pairs.data(), c.pairs.data() + c.pairs.size(), runs), c.ok);
        if (!c.ok) continue;
        ASSERT_EQ(runs.size(), c.runs.size());
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].lcn, c.runs[i].first);
            EXPECT_EQ(runs[i].clusters, c.runs[i].second);
        }
    }
}

TEST(MftLayout, BootSectorSizes) {
    struct Case {
        const char* what;
        uint16_t sectorSize;
        uint8_t perCluster;
        uint8_t perRecord;
        uint32_t clusterSize, recordSize;  // 0 = "unusual NTFS layout"
    } cases[] = {
        {"common", 512, 8, 0xF6, 4096, 1024},
        {"4096 sectors per cluster", 512, 0xF4, 0xF6, 0x200000, 1024},
        {"two clusters per record", 512, 8, 0x02, 4096, 8192},
        {"4K sectors", 4096, 1, 0x01, 4096, 4096},
        {"8K sectors", 8192, 1, 0x01, 0, 0},
        {"4 MiB clusters", 512, 0xF3, 0xF6, 0, 0},
        {"128 KiB records", 512, 8, 0xEF, 0, 0},
        {"cluster exponent past 31", 512, 0x81, 0xF6, 0, 0},
        {"record exponent past 31", 512, 8, 0x80, 0, 0},
        {"records smaller than sectors", 4096, 1, 0xF6, 0, 0},
        {"records not whole sectors", 768, 2, 0xF6, 0, 0},
        {"no sectors per cluster", 512, 0, 0xF6, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t boot[512] = {};
        std::memcpy(boot + 3, "NTFS    ", 8);
        std::memcpy(boot + 0x0B, &c.sectorSize, 2);
        boot[0x0D] = c.perCluster;
        boot[0x40] = c.perRecord;
        boot[0x28] = 0xFF;
        MftRuns layout;
        uint64_t mftCluster = 0, volumeBytes = 0;
        const bool ok = ParseBootSector(boot, layout, mftCluster, volumeBytes);
        EXPECT_EQ(ok, c.clusterSize != 0);
        if (!ok) {
            EXPECT_EQ(layout.message, "unusual NTFS layout");
            continue;
        }
        EXPECT_EQ(layout.clusterSize, c.clusterSize);
        EXPECT_EQ(layout.recordSize, c.recordSize);
    }
    uint8_t fat[512] = {};
    std::memcpy(fat + 3, "MSDOS5.0", 8);
    MftRuns layout;
    uint64_t a, b;
    EXPECT_FALSE(ParseBootSector(fat, layout, a, b));
    EXPECT_EQ(layout.message, "not an NTFS drive");
}

}  // namespace
}  // namespace ov
