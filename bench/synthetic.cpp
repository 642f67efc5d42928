#include "bench/synthetic.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "index/text.h"

namespace ov::bench {
namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;  // 1970-01-01 as FILETIME
constexpr uint64_t kTicksPerSecond = 10000000ull;
constexpr uint64_t kFrom = kUnixEpochTicks + 1325376000ull * kTicksPerSecond;  // 2012-01-01
constexpr uint64_t kTo = kUnixEpochTicks + 1735689600ull * kTicksPerSecond;    // 2025-01-01

constexpr std::string_view kWords[] = {
    "app",        "data",    "local",        "cache",         "temp",     "config",    "settings", "user",
    "profile",    "system",  "windows",      "program",       "files",    "common",    "shared",   "microsoft",
    "office",     "update",  "service",      "driver",        "network",  "security",  "policy",   "resources",
    "assets",     "images",  "icons",        "fonts",         "themes",   "styles",    "scripts",  "modules",
    "packages",   "lib",     "include",      "src",           "build",    "debug",     "release",  "bin",
    "obj",        "test",    "tests",        "docs",          "examples", "tools",     "plugins",  "extensions",
    "components", "runtime", "framework",    "core",          "base",     "util",      "helpers",  "manager",
    "client",     "server",  "engine",       "render",        "audio",    "video",     "media",    "player",
    "editor",     "viewer",  "browser",      "window",        "dialog",   "control",   "layout",   "print",
    "export",     "import",  "backup",       "archive",       "history",  "session",   "report",   "invoice",
    "budget",     "project", "meeting",      "notes",         "summary",  "draft",     "final",    "photo",
    "holiday",    "family",  "music",        "album",         "track",    "movie",     "episode",  "season",
    "download",   "install", "setup",        "launcher",      "crash",    "dump",      "log",      "trace",
    "event",      "metrics", "index",        "search",        "query",    "result",    "table",    "schema",
    "model",      "view",    "store",        "queue",         "thread",   "task",      "job",      "worker",
    "pool",       "stream",  "buffer",       "parser",        "lexer",    "token",     "string",   "number",
    "vector",     "matrix",  "graph",        "tree",          "node",     "edge",      "cursor",   "handle",
    "socket",     "http",    "json",         "xml",           "yaml",     "sql",       "api",      "sdk",
    "net",        "web",     "mobile",       "desktop",       "cloud",    "sync",      "share",    "team",
    "review",     "version", "patch",        "hotfix",        "legacy",   "migration", "english",  "default",
    "generic",    "x64",     "x86",          "amd64",         "arm64",    "win32",     "msvc",     "gcc",
    "clang",      "python",  "node_modules", "site-packages", "locale",
};
constexpr std::string_view kForeignWords[] = {
    "Übersicht", "Résumé", "Größe",    "Café",  "Fotografías", "Документы", "Фото",    "写真",
    "音楽",      "資料",   "Ελληνικά", "Ärger", "Ölkanne",     "Ñandú",     "Çalışma", "ファイル",
};
struct WeightedExt {
    std::string_view ext;
    int weight;  // relative share of files
};
constexpr WeightedExt kExtensions[] = {
    {"", 60},      {"dll", 110}, {"exe", 25}, {"sys", 8},  {"mui", 45},  {"h", 55},        {"c", 25},     {"cpp", 25},
    {"hpp", 8},    {"cs", 15},   {"js", 60},  {"ts", 15},  {"json", 35}, {"xml", 35},      {"html", 20},  {"css", 10},
    {"py", 25},    {"pyc", 25},  {"txt", 30}, {"md", 12},  {"png", 80},  {"jpg", 30},      {"gif", 8},    {"svg", 18},
    {"ico", 8},    {"ttf", 8},   {"ini", 8},  {"log", 10}, {"dat", 18},  {"manifest", 18}, {"cat", 18},   {"mum", 8},
    {"cab", 4},    {"zip", 4},   {"gz", 10},  {"so", 15},  {"a", 4},     {"o", 4},         {"class", 10}, {"jar", 4},
    {"pdf", 5},    {"docx", 3},  {"xlsx", 2}, {"mp3", 3},  {"mp4", 2},   {"lnk", 5},       {"tmp", 5},    {"bin", 5},
    {"config", 5}, {"resx", 5},  {"pak", 3},  {"mo", 10},  {"go", 5},    {"rs", 5},        {"java", 10},  {"nls", 2},
};
// Share of entries at each depth (index = depth, the volume root being 1); mean about 7.
constexpr std::array<double, 17> kDepthWeights = {0, 0, 0.5, 2, 6, 12, 18, 20, 16, 11, 7, 4, 2, 1, 0.5, 0.3, 0.2};

std::string_view PickWord(std::mt19937_64& rng) {
    if (rng() % 1000 < 15) return kForeignWords[rng() % std::size(kForeignWords)];
    return kWords[rng() % std::size(kWords)];
}

std::string_view PickExtension(std::mt19937_64& rng) {
    static const int total = [] {
        int sum = 0;
        for (const auto& e : kExtensions) sum += e.weight;
        return sum;
    }();
    int r = static_cast<int>(rng() % static_cast<uint64_t>(total));
    for (const auto& e : kExtensions) {
        if (r < e.weight) return e.ext;
        r -= e.weight;
    }
    return {};
}

// A stem of one to three words in one of the usual spellings, sometimes numbered.
void AppendStem(std::mt19937_64& rng, std::string& out) {
    const int words = 1 + static_cast<int>(rng() % 100 < 75) + static_cast<int>(rng() % 100 < 60);
    static constexpr char kJoins[] = {'_', '-', ' ', '.', 0};
    const char join = kJoins[rng() % std::size(kJoins)];
    const bool capitalise = rng() % 3 == 0;
    for (int w = 0; w < words; ++w) {
        if (w > 0 && join != 0) out.push_back(join);
        const size_t start = out.size();
        out += PickWord(rng);
        if ((capitalise || (join == 0 && w > 0)) && out[start] >= 'a' && out[start] <= 'z') out[start] -= 'a' - 'A';
    }
    if (rng() % 100 < 35) out += std::to_string(rng() % (rng() % 2 ? 10 : 100000));
}

// A folder at `depth` - 1 or, when none exists yet, the deepest shallower one; early
// folders are picked more often, which gives the few very large folders real trees have.
uint32_t PickParent(std::mt19937_64& rng, const std::vector<std::vector<uint32_t>>& byDepth, int depth) {
    int d = std::min<int>(depth - 1, static_cast<int>(byDepth.size()) - 1);
    while (byDepth[static_cast<size_t>(d)].empty()) --d;
    const auto& folders = byDepth[static_cast<size_t>(d)];
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    return folders[std::min(folders.size() - 1, static_cast<size_t>(u * u * static_cast<double>(folders.size())))];
}

}  // namespace

bool EntryList::Append(uint32_t parent, std::string_view name, uint32_t flags, uint64_t size, uint64_t modified,
                       uint64_t created) {
    const std::string f = FoldCaseUtf8(name.data(), name.size());
    if (name.size() > Index::kMaxNameBytes || f.size() > Index::kMaxNameBytes) return false;
    entries.push_back({parent, static_cast<uint32_t>(names.size()), static_cast<uint32_t>(folded.size()),
                       static_cast<uint16_t>(name.size()), static_cast<uint16_t>(f.size()), flags, size, modified,
                       created});
    names += name;
    folded += f;
    if (flags & EntryFlags::Directory) ++folders;
    if (flags & EntryFlags::VolumeRoot) ++volumes;
    return true;
}

double EntryList::AverageNameBytes() const {
    return entries.empty() ? 0.0 : static_cast<double>(names.size()) / static_cast<double>(entries.size());
}

double EntryList::AverageDepth() const {
    std::vector<uint32_t> depth(entries.size());
    uint64_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint32_t p = entries[i].parent;
        depth[i] = p == kNoEntry ? 1 : depth[p] + 1;
        total += depth[i];
    }
    return entries.empty() ? 0.0 : static_cast<double>(total) / static_cast<double>(entries.size());
}

uint32_t RootFlags(int slot) {
    return FolderFlags(slot) | EntryFlags::VolumeRoot;
}
uint32_t FolderFlags(int slot) {
    return EntryFlags::Directory | FileAttr::Directory | SlotBits(slot);
}
uint32_t FileFlags(int slot) {
    return FileAttr::Archive | SlotBits(slot);
}

std::string VolumeName(int slot) {
    if (slot < 24) return std::string(1, static_cast<char>('C' + slot)) + ":";
    std::string name = "V";  // appended piece by piece: GCC 12 warns falsely about "V" + ...
    name += std::to_string(slot);
    name += ':';
    return name;
}

void RandomFileMeta(std::mt19937_64& rng, uint64_t& size, uint64_t& modified, uint64_t& created) {
    if (rng() % 100 < 2) {
        size = 0;
    } else {
        const double bytes = std::exp(std::normal_distribution<double>(9.5, 2.6)(rng));
        size = static_cast<uint64_t>(std::min(bytes, 64.0 * 1024 * 1024 * 1024));
    }
    modified = kFrom + rng() % (kTo - kFrom);
    const uint64_t age = rng() % (2 * 365 * 86400ull * kTicksPerSecond);
    created = modified - std::min(age, modified - kFrom);
}

EntryList MakeSyntheticEntries(size_t count, uint64_t seed) {
    EntryList list;
    if (count == 0) return list;
    std::mt19937_64 rng(seed);
    const size_t folderCount = std::max<size_t>(1, count / 10);

    // Shape first: parents of folders (by creation number) and of files.
    std::discrete_distribution<int> pickDepth(kDepthWeights.begin(), kDepthWeights.end());
    std::vector<uint32_t> folderParent(folderCount, kNoEntry);
    std::vector<int> folderDepth(folderCount, 1);
    std::vector<std::vector<uint32_t>> byDepth(kDepthWeights.size());
    byDepth[1].push_back(0);
    for (uint32_t f = 1; f < folderCount; ++f) {
        folderParent[f] = PickParent(rng, byDepth, std::max(2, pickDepth(rng)));
        folderDepth[f] = folderDepth[folderParent[f]] + 1;
        if (folderDepth[f] < static_cast<int>(byDepth.size()))
            byDepth[static_cast<size_t>(folderDepth[f])].push_back(f);
    }
    std::vector<uint32_t> fileParent(count - folderCount);
    for (auto& p : fileParent) p = PickParent(rng, byDepth, std::max(2, pickDepth(rng)));

    // Children lists (counting sort by parent), then a depth-first walk.
    auto group = [&](const std::vector<uint32_t>& parents, size_t skip, std::vector<uint32_t>& start,
                     std::vector<uint32_t>& items) {
        start.assign(folderCount + 1, 0);
        for (size_t i = skip; i < parents.size(); ++i) ++start[parents[i] + 1];
        for (size_t f = 0; f < folderCount; ++f) start[f + 1] += start[f];
        items.resize(parents.size() - skip);
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (size_t i = skip; i < parents.size(); ++i) items[fill[parents[i]]++] = static_cast<uint32_t>(i);
    };
    std::vector<uint32_t> subStart, subs, fileStart, files;
    group(folderParent, 1, subStart, subs);
    group(fileParent, 0, fileStart, files);

    list.entries.reserve(count);
    list.names.reserve(count * 20);
    list.folded.reserve(count * 20);
    std::string name;
    std::vector<std::pair<uint32_t, uint32_t>> stack = {{0, kNoEntry}};  // (folder, its parent's position)
    while (!stack.empty()) {
        const auto [folder, parentPos] = stack.back();
        stack.pop_back();
        name.clear();
        uint64_t size, modified, created;
        RandomFileMeta(rng, size, modified, created);
        if (folder == 0) {
            name = VolumeName(0);
        } else {
            AppendStem(rng, name);
            if (rng() % 100 < 4) name += ".v" + std::to_string(rng() % 20);
        }
        const auto pos = static_cast<uint32_t>(list.entries.size());
        list.Append(parentPos, name, folder == 0 ? RootFlags(0) : FolderFlags(0), 0, modified, created);
        for (uint32_t k = fileStart[folder]; k < fileStart[folder + 1]; ++k) {
            name.clear();
            AppendStem(rng, name);
            const std::string_view ext = PickExtension(rng);
            if (!ext.empty()) (name += '.') += ext;
            RandomFileMeta(rng, size, modified, created);
            list.Append(pos, name, FileFlags(0), size, modified, created);
        }
        for (uint32_t k = subStart[folder + 1]; k > subStart[folder]; --k) stack.push_back({subs[k - 1], pos});
    }
    return list;
}

bool AddEntries(Index& index, const EntryList& list, std::string& error) {
    std::unique_lock<ov::SharedMutex> guard(index.lock);
    std::vector<uint32_t> added(list.entries.size());
    std::string folded;
    for (size_t i = 0; i < list.entries.size(); ++i) {
        const EntrySpec& e = list.entries[i];
        const std::string_view name = list.NameOf(e);
        folded.assign(list.FoldedOf(e));
        const uint32_t parent = e.parent == kNoEntry ? kNoEntry : added[e.parent];
        added[i] = index.Add(parent, name.data(), name.size(), folded, e.flags, e.size, e.modified, e.created);
        if (added[i] == kNoEntry) {
            error = "the index refused entry " + std::to_string(i) + " (" + std::string(name) + ")";
            return false;
        }
    }
    return true;
}

uint64_t IndexBytes(const Index& index) {
    return index.entries.capacity() * sizeof(Entry) + index.names.capacity() + index.folded.capacity();
}

}  // namespace ov::bench
