// Saved-state benchmarks: the sample text of a 256 x 2048 table (2 MiB of samples, 2.8 MB of
// text) in both directions.
#include <benchmark/benchmark.h>

#include <random>

#include "core/base64.hpp"

namespace {

using namespace quillory::core;

constexpr std::size_t kBigTableSamples = 256 * 2048;

std::vector<float> noise(std::size_t count) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> samples(count);
  for (auto& s : samples) s = dist(rng);
  return samples;
}

void BM_SampleTextEncode(benchmark::State& state) {
  const auto samples = noise(kBigTableSamples);
  for (auto _ : state) benchmark::DoNotOptimize(samples_b64(samples));
  state.SetBytesProcessed(state.iterations() * kBigTableSamples * sizeof(float));
}
BENCHMARK(BM_SampleTextEncode)->Unit(benchmark::kMillisecond);

void BM_SampleTextDecode(benchmark::State& state) {
  const std::string text = samples_b64(noise(kBigTableSamples));
  for (auto _ : state) benchmark::DoNotOptimize(b64_samples(text));
  state.SetBytesProcessed(state.iterations() * kBigTableSamples * sizeof(float));
}
BENCHMARK(BM_SampleTextDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
