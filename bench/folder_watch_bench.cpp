// The folder watcher's batches on a 5-million-entry folder volume made of the
// corpus's first 5 million paths under one root: how long the exclusive index
// lock is held for a batch of 2,500 changes (1,000 new files, 1,000 changed,
// 500 removed), and for renaming a folder with about 10,000 descendants (its
// removal, then its subtree read again and added). The disk is an in-memory
// stand-in made of the same paths, so only the watcher's own work is timed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <shared_mutex>
#include <unordered_map>
#include <unordered_set>

#include "bench/corpus.h"
#include "engine/engine.h"
#include "engine/folder_scan.h"

namespace {

using ov::Index;
using ov::kNoEntry;
using ov::WString;

constexpr size_t kEntries = 5000000;

// Every path is a file of 4 KiB unless it is a folder of the renamed subtree,
// whose listings come from the piece.
class CorpusDisk final : public ov::FileSystem {
public:
    bool ListFolder(const WString& folder, ov::FolderVisitor& visitor) override {
        auto it = listings.find(Relative(folder));
        if (it == listings.end()) return false;
        for (const Child& c : it->second) {
            const ov::FindData fd{c.name.data(),
                                  c.name.size(),
                                  c.folder ? ov::FileAttr::Directory : ov::FileAttr::Archive,
                                  c.folder ? 0u : 4096u,
                                  1,
                                  1};
            if (!visitor.Item(fd)) break;
        }
        return true;
    }
    bool Attributes(const WString&, uint32_t& attributes, uint32_t&) override {
        attributes = ov::FileAttr::Directory;
        return true;
    }
    bool Stat(const WString& path, ov::FileStat& stat, uint32_t&) override {
        const bool folder = listings.count(Relative(path + WString(1, u'\\'))) != 0;
        stat = ov::FileStat{folder ? ov::FileAttr::Directory : ov::FileAttr::Archive, folder ? 0u : 4096u, 2, 2};
        return true;
    }
    bool LongName(const WString& path, WString& longPath) override {
        longPath = path;
        return true;
    }
    std::unique_ptr<ov::ChangeWatch> WatchFolder(const WString&, uint32_t& error) override {
        error = ov::WinError::InvalidFunction;
        return nullptr;
    }
    std::vector<WString> DriveRoots() override { return {}; }
    ov::DriveType TypeOf(const WString&) override { return ov::DriveType::NoRootDir; }
    bool VolumeInfo(const WString&, ov::DriveInfo&) override { return false; }

    struct Child {
        WString name;
        bool folder;
    };
    // Folder below the root, ending in '\' -> what it holds.
    std::unordered_map<WString, std::vector<Child>> listings;

private:
    static WString Relative(const WString& path) {
        static const WString prefix = ov::LongPath(ov::ToWide(std::string("C:\\")));
        return path.substr(std::min(path.size(), prefix.size()));
    }
};

struct Fixture {
    CorpusDisk disk;
    std::unique_ptr<ov::Engine> engine;
    ov::Volume* volume = nullptr;
    std::vector<uint32_t> parents;  // of every piece entry = index entry
    std::vector<uint32_t> descendants;
    std::string error;

    // The folder with the number of descendants nearest to `wanted`, and the
    // listings of its subtree under its name and under name + "-renamed".
    WString Prepare(uint32_t wanted, uint64_t& below) {
        uint32_t best = 0;
        const auto gap = [wanted](uint32_t d) { return d > wanted ? d - wanted : wanted - d; };
        for (uint32_t i = 1; i < descendants.size(); ++i)
            if (ov::IsDir(engine->entries[i]) && gap(descendants[i]) < gap(descendants[best])) best = i;
        const WString renamed = PathOf(best), renamedTo = renamed + ov::ToWide(std::string("-renamed"));
        below = descendants[best];
        disk.listings[renamed + WString(1, u'\\')];
        disk.listings[renamedTo + WString(1, u'\\')];
        for (uint32_t i = best + 1; i < parents.size(); ++i) {
            uint32_t up = parents[i];
            while (up != kNoEntry && up > best) up = parents[up];  // parents come first
            if (up != best) continue;
            const WString folder = PathOf(parents[i]) + WString(1, u'\\');
            const WString name = ov::ToWide(std::string(engine->NameOf(i)));
            for (const WString& top : {renamed, renamedTo})
                disk.listings[top + folder.substr(renamed.size())].push_back({name, ov::IsDir(engine->entries[i])});
        }
        return renamed;
    }

    WString PathOf(uint32_t e) const {
        std::string path;
        for (; parents[e] != kNoEntry; e = parents[e]) {
            const std::string_view name = engine->NameOf(e);
            path = path.empty() ? std::string(name) : std::string(name) + "\\" + path;
        }
        return ov::ToWide(path);
    }
};

Fixture* Shared() {
    static std::unique_ptr<Fixture> f;
    if (f) return f->error.empty() ? f.get() : nullptr;
    f = std::make_unique<Fixture>();
    const ov::bench::Corpus* corpus = ov::bench::LoadCorpus(ov::bench::CorpusSize::kFull, f->error);
    if (!corpus) return nullptr;
    const size_t n = std::min(kEntries - 1, corpus->paths.size());
    std::unordered_set<std::string_view> folders;
    for (size_t i = 0; i < n; ++i) {
        const std::string_view p = corpus->paths[i];
        for (size_t j = p.rfind('/'); j != std::string_view::npos && j > 0; j = p.rfind('/', j - 1))
            if (!folders.insert(p.substr(0, j)).second) break;
    }
    Index::Piece piece;
    piece.root = piece.Add(kNoEntry, "C:", "c:", ov::EntryFlags::Directory | ov::EntryFlags::VolumeRoot, 0, 0, 0);
    std::unordered_map<std::string_view, uint32_t> at;
    std::mt19937_64 rng(5);
    std::vector<std::string_view> missing;
    for (size_t i = 0; i < n; ++i) {
        missing.clear();
        uint32_t parent = piece.root;
        for (std::string_view q = corpus->paths[i]; !q.empty() && !at.count(q);) {
            missing.push_back(q);
            q = q.substr(0, q.rfind('/'));
            if (auto it = at.find(q); it != at.end()) parent = it->second;
        }
        for (size_t k = missing.size(); k-- > 0;) {
            const std::string_view q = missing[k];
            const std::string name(q.substr(q.rfind('/') + 1));
            const bool folder = k > 0 || folders.count(q);
            const uint32_t e = piece.Add(parent, name, ov::FoldCaseUtf8(name), folder ? ov::EntryFlags::Directory : 0,
                                         folder ? 0 : rng() % 100000, 1, 1);
            if (e == kNoEntry) break;
            (folder ? piece.folders : piece.files) += 1;
            at.emplace(q, e);
            parent = e;
        }
    }
    f->parents.resize(piece.entries.size());
    for (size_t i = 0; i < piece.entries.size(); ++i) f->parents[i] = piece.entries[i].parent;
    f->descendants.assign(piece.entries.size(), 0);
    for (size_t i = piece.entries.size(); i-- > 1;) f->descendants[f->parents[i]] += f->descendants[i] + 1;

    f->engine = std::make_unique<ov::Engine>(f->disk);
    std::vector<std::unique_ptr<ov::Volume>> slots;
    slots.push_back(std::make_unique<ov::Volume>());
    f->volume = slots[0].get();
    f->volume->root = ov::ToWide(std::string("C:\\"));
    f->volume->name = ov::ToWide(std::string("C:"));
    f->volume->kind = ov::VolumeKind::Folders;
    {
        std::unique_lock<ov::SharedMutex> guard(f->engine->lock);
        f->engine->ReplaceVolumes(std::move(slots));
        if (!f->engine->Ingest(0, piece)) f->error = "Ingest refused the corpus";
    }

    return f->error.empty() ? f.get() : nullptr;
}

void Report(benchmark::State& state, const std::vector<double>& lockMs) {
    double sum = 0;
    for (double ms : lockMs) sum += ms;
    state.counters["longestHoldMs"] = lockMs.empty() ? 0 : sum / static_cast<double>(lockMs.size());
    state.counters["longestHoldMsMax"] = lockMs.empty() ? 0 : *std::max_element(lockMs.begin(), lockMs.end());
}

void BM_FolderWatch_Batch(benchmark::State& state) {
    Fixture* f = Shared();
    if (!f) {
        state.SkipWithError("no corpus");
        return;
    }
    std::mt19937_64 rng(11);
    std::vector<double> lockMs;
    int made = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<ov::DirChange> batch;
        {
            std::shared_lock<ov::SharedMutex> guard(f->engine->lock);
            const auto& entries = f->engine->entries;
            auto pick = [&](bool folder) {
                for (;;) {
                    const uint32_t e = 1 + static_cast<uint32_t>(rng() % (f->parents.size() - 1));
                    if (ov::IsDir(entries[e]) == folder && !ov::IsDeleted(entries[e])) return e;
                }
            };
            for (int i = 0; i < 1000; ++i)
                batch.push_back({ov::FileAction::Added,
                                 f->PathOf(pick(true)) + ov::ToWide("\\new-" + std::to_string(made++) + ".txt")});
            for (int i = 0; i < 1000; ++i) batch.push_back({ov::FileAction::Modified, f->PathOf(pick(false))});
            for (int i = 0; i < 500; ++i) batch.push_back({ov::FileAction::Removed, f->PathOf(pick(false))});
        }
        state.ResumeTiming();
        lockMs.push_back(f->engine->ApplyWatch(f->volume, batch));
    }
    Report(state, lockMs);
}
BENCHMARK(BM_FolderWatch_Batch)
    ->ArgNames({"entries", "changes"})
    ->Args({static_cast<int64_t>(kEntries), 2500})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

// Renamed and back, alternately: each is a removal of the old name's subtree
// and a walk and add of the new one's.
void BM_FolderWatch_RenameFolder(benchmark::State& state) {
    Fixture* f = Shared();
    if (!f) {
        state.SkipWithError("no corpus");
        return;
    }
    uint64_t below = 0;
    const WString renamed = f->Prepare(static_cast<uint32_t>(state.range(1)), below);
    const WString renamedTo = renamed + ov::ToWide(std::string("-renamed"));
    std::vector<double> lockMs;
    bool there = false;
    for (auto _ : state) {
        std::vector<ov::DirChange> batch{{ov::FileAction::RenamedOld, there ? renamedTo : renamed},
                                         {ov::FileAction::RenamedNew, there ? renamed : renamedTo}};
        lockMs.push_back(f->engine->ApplyWatch(f->volume, batch));
        there = !there;
    }
    Report(state, lockMs);
    state.counters["descendants"] = static_cast<double>(below);
}
BENCHMARK(BM_FolderWatch_RenameFolder)
    ->ArgNames({"entries", "descendants"})
    ->Args({static_cast<int64_t>(kEntries), 10000})
    ->Args({static_cast<int64_t>(kEntries), 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(6);

}  // namespace
