// Dropping one volume from a 5-million-entry index: RefreshVolumes finds the
// drive gone, flags its entries and compacts the rest (synthetic drives of
// 1,000 folders of 1,000 files each, scanned through the real folder route).
#include <benchmark/benchmark.h>

#include <shared_mutex>

#include "engine/engine.h"
#include "tests/engine/fake_drives.h"

namespace {

void BM_Engine_DropVolume(benchmark::State& state) {
    const int drives = static_cast<int>(state.range(0)) / 1000000;
    ov::testing::FakeDrives fs;
    fs.syntheticFolders = 999;
    fs.syntheticFiles = 1000;
    for (int d = 0; d < drives; ++d) fs.Set(static_cast<char>('C' + d), ov::testing::FakeDrive{});
    ov::Engine engine(fs);
    engine.elevated = false;
    engine.RefreshVolumes();
    if (!ov::testing::WaitIdle(engine, 600)) state.SkipWithError("the scans did not end");
    for (auto _ : state) {
        fs.Change('C', [](ov::testing::FakeDrive& d) { d.present = false; });
        engine.RefreshVolumes();
        state.PauseTiming();
        fs.Change('C', [](ov::testing::FakeDrive& d) { d.present = true; });
        engine.RefreshVolumes();
        ov::testing::WaitIdle(engine, 600);
        state.ResumeTiming();
    }
    std::shared_lock<ov::SharedMutex> guard(engine.lock);
    state.counters["entries"] = static_cast<double>(engine.entries.size());
}
BENCHMARK(BM_Engine_DropVolume)
    ->ArgName("entries")
    ->Arg(5000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
