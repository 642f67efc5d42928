// The scanner against find(1) over a real tree: names as the file system holds
// them, links listed but never entered, folder sizes that add up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <shared_mutex>

#include "engine/engine.h"
#include "tests/engine/fake_drives.h"
#include "tests/support/index_reference.h"

namespace ov {
namespace {

using testing::TempDir;
using testing::W;
using testing::WaitIdle;

// Relative path -> type letter (d, f, l) and size of files, as find reports them.
std::map<std::string, std::string> FindTree(const std::filesystem::path& root) {
    std::map<std::string, std::string> tree;
    const std::string command = "find '" + root.string() + "' -mindepth 1 -printf '%P\\t%y\\t%s\\n'";
    FILE* out = popen(command.c_str(), "r");
    if (!out) return tree;
    char line[8192];
    while (fgets(line, sizeof line, out)) {
        std::string s(line);
        s.pop_back();
        const size_t a = s.find('\t'), b = s.rfind('\t');
        const std::string type = s.substr(a + 1, b - a - 1);
        tree[s.substr(0, a)] = type + (type == "f" ? " " + s.substr(b + 1) : "");
    }
    pclose(out);
    return tree;
}

std::map<std::string, std::string> IndexTree(Engine& engine) {
    std::shared_lock<SharedMutex> guard(engine.lock);
    std::map<std::string, std::string> tree;
    for (uint32_t i = 0; i < engine.entries.size(); ++i) {
        const Entry& e = engine.entries[i];
        if (IsDeleted(e) || e.parent == kNoEntry) continue;
        std::string path(engine.NameOf(i));
        for (uint32_t p = e.parent; engine.entries[p].parent != kNoEntry; p = engine.entries[p].parent)
            path = std::string(engine.NameOf(p)) + "/" + path;
        const bool link = e.flags & FileAttr::ReparsePoint;
        tree[path] = link ? "l" : IsDir(e) ? "d" : "f " + std::to_string(e.size);
    }
    return tree;
}

TEST(FolderScanPosix, IndexEqualsFind) {
    TempDir temp("find");
    const auto root = temp.path / "tree";
    std::filesystem::create_directories(root / "sub" / "deeper");
    for (const char* name : {"Ünïcödé ß.txt", "日本語", "emoji 😀.md", ".profile", "sub/.hidden", "sub/deeper/x"})
        std::ofstream(root / name) << name;
    std::filesystem::resize_file(root / "日本語", 5 * 1024 * 1024);
    std::filesystem::path deep = root;
    for (int i = 0; i < 7; ++i) deep /= std::string(100, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    std::ofstream(deep / "end.txt") << "long";
    ASSERT_GT(deep.string().size() - root.string().size(), 700u);
    std::filesystem::create_directory_symlink("..", root / "sub" / "loop");
    std::filesystem::create_symlink("/nonexistent-ov-target", root / "dangling");

    Engine engine;
    engine.SetAddedFolders({W(root)});
    engine.RefreshVolumes();
    ASSERT_TRUE(WaitIdle(engine));

    const auto found = FindTree(root);
    ASSERT_EQ(found.size(), 7u + 8u + 3u);
    EXPECT_EQ(IndexTree(engine), found);
    std::shared_lock<SharedMutex> guard(engine.lock);
    EXPECT_EQ(testing::CheckTotals(engine), "");
    uint64_t bytes = 0;
    for (const auto& [path, what] : found)
        if (what[0] == 'f') bytes += std::stoull(what.substr(2));
    Volume* v = engine.VolumeAt(0);
    EXPECT_EQ(engine.entries[v->rootEntry].size, bytes);
    EXPECT_EQ(engine.NameOf(v->rootEntry), root.string());
    EXPECT_EQ(v->files + v->folders, found.size());
}

}  // namespace
}  // namespace ov
