// ParallelSort against std::sort on random 32-bit values: the speed-up per thread count.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "index/pool.h"

namespace {

const std::vector<uint32_t>& RandomU32(size_t count) {
    static std::vector<uint32_t> values;
    if (values.size() != count) {
        std::mt19937_64 rng(104729);
        values.resize(count);
        for (auto& v : values) v = static_cast<uint32_t>(rng());
    }
    return values;
}

ov::Pool& BenchPool() {
    static ov::Pool pool(static_cast<int>(std::thread::hardware_concurrency()));
    return pool;
}

void BM_ParallelSort_U32(benchmark::State& state) {
    const auto& source = RandomU32(static_cast<size_t>(state.range(0)));
    ov::Pool& pool = BenchPool();
    pool.SetThreadsInUse(static_cast<int>(state.range(1)));
    if (pool.ThreadsInUse() != state.range(1)) {
        state.SkipWithError("the machine has fewer threads than asked for");
        return;
    }
    std::vector<uint32_t> v;
    for (auto _ : state) {
        state.PauseTiming();
        v = source;
        state.ResumeTiming();
        ov::ParallelSort(pool, v, std::less<uint32_t>());
        benchmark::DoNotOptimize(v.data());
    }
    if (!std::is_sorted(v.begin(), v.end())) state.SkipWithError("result not sorted");
    state.SetItemsProcessed(state.iterations() * state.range(0));
    pool.SetThreadsInUse(pool.Threads());
}
BENCHMARK(BM_ParallelSort_U32)
    ->ArgNames({"entries", "threads"})
    ->Args({10000000, 1})
    ->Args({10000000, 2})
    ->Args({10000000, 4})
    ->Args({10000000, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_StdSort_U32(benchmark::State& state) {
    const auto& source = RandomU32(static_cast<size_t>(state.range(0)));
    std::vector<uint32_t> v;
    for (auto _ : state) {
        state.PauseTiming();
        v = source;
        state.ResumeTiming();
        std::sort(v.begin(), v.end());
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StdSort_U32)->ArgNames({"entries"})->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
