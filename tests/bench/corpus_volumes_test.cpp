#include "bench/corpus_volumes.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>

#include "bench/corpus.h"
#include "engine/index_file.h"
#include "index/text.h"
#include "tests/engine/fake_drives.h"
#include "tests/support/volume_index.h"

namespace ov {
namespace {

const std::vector<std::string_view> kPaths = {"/usr/lib/libz.so", "/etc/hosts",  "/usr/share/doc/README",
                                              "/bin/ls",          "/etc/ssl/ca", "/usr/lib/x86/libc.so"};

// The Windows path the program should show for a corpus path under base.
std::string UnderBase(std::string_view path) {
    std::string out = "C:\\Corpus";
    for (char c : path) out.push_back(c == '/' ? '\\' : c);
    return out;
}

// What a saved index loads as: the paths under the folders, each volume an added
// folder holding its top-level folder's entries, and the loader finds the names
// in order (no compaction at load).
TEST(CorpusFolderVolumes, LoadAsAddedFoldersInEntryOrder) {
    Index index;
    std::string error;
    ASSERT_TRUE(bench::FillIndex(index, kPaths, 7, error)) << error;
    std::vector<std::unique_ptr<Volume>> volumes;
    ASSERT_TRUE(bench::AddCorpusFolderVolumes(index, kPaths, "C:\\Corpus\\", volumes, error)) << error;

    testing::TempDir dir("corpus-volumes");
    const WString path = testing::FileIn(dir.path, "Orvane.db");
    std::mutex saveMutex;
    ASSERT_TRUE(SaveDb(index, path, saveMutex, {}, error)) << error;
    Index loaded;
    std::vector<std::unique_ptr<Volume>> owner;
    LoadTimes times;
    ASSERT_TRUE(LoadDb(loaded, path, owner, error, &times)) << error;
    EXPECT_FALSE(times.compacted);

    std::set<std::string> want;
    for (std::string_view p : kPaths) {
        for (size_t j = p.size(); j != std::string_view::npos && j > 0; j = p.rfind('/', j - 1))
            want.insert(UnderBase(p.substr(0, j)));
    }
    std::set<std::string> got;
    std::map<int, uint64_t> perSlot;
    for (uint32_t i = 0; i < loaded.entries.size(); ++i) {
        std::string shown = ToUtf8(loaded.PathW(i, false));
        if (loaded.entries[i].parent == kNoEntry) {
            if (!shown.empty() && shown.back() == '\\') shown.pop_back();
        } else {
            perSlot[SlotOf(loaded.entries[i].flags)] += 1;
        }
        got.insert(shown);
    }
    EXPECT_EQ(want, got);

    ASSERT_EQ(3u, owner.size());
    std::set<std::string> roots;
    for (const auto& v : owner) {
        ASSERT_TRUE(v);
        EXPECT_EQ(VolumeKind::Folders, v->kind);
        EXPECT_TRUE(v->addedFolder);
        EXPECT_EQ(v->name + WChar(u'\\'), v->root);
        EXPECT_EQ(ToUtf8(v->name), loaded.NameOf(v->rootEntry));
        EXPECT_EQ(v->slot, SlotOf(loaded.entries[v->rootEntry].flags));
        EXPECT_EQ(perSlot[v->slot], v->files + v->folders);
        EXPECT_EQ(perSlot[v->slot], v->nameMap.Size());
        roots.insert(ToUtf8(v->root));
    }
    EXPECT_EQ((std::set<std::string>{"C:\\Corpus\\usr\\", "C:\\Corpus\\etc\\", "C:\\Corpus\\bin\\"}), roots);
}

TEST(CorpusFolderVolumes, PathsOfAnotherIndexChangeNothing) {
    Index index;
    std::string error;
    ASSERT_TRUE(bench::FillIndex(index, kPaths, 7, error)) << error;
    const std::string names = index.names;
    std::vector<std::string_view> more = kPaths;
    more.push_back("/opt/tool");
    std::vector<std::unique_ptr<Volume>> volumes;
    EXPECT_FALSE(bench::AddCorpusFolderVolumes(index, more, "C:\\Corpus", volumes, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(volumes.empty());
    EXPECT_EQ(names, index.names);
}

}  // namespace
}  // namespace ov
