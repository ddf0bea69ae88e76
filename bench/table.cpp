// Table building benchmarks (filled in with the playback tables).
#include <benchmark/benchmark.h>

#include "wavetable/dsp.hpp"

static void BM_MipLength(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(quillory::wavetable::mip_length(2048, 3));
}
BENCHMARK(BM_MipLength);
BENCHMARK_MAIN();
