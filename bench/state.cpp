// Saved-state benchmarks with a 256 x 2048 table (2 MiB of samples, a 2.8 MB document): the sample
// text in both directions, then save and load of the whole state (load builds the table too).
#include <benchmark/benchmark.h>

#include <random>

#include "core/base64.hpp"
#include "core/default_table.hpp"
#include "core/param_values.hpp"
#include "core/params.hpp"
#include "core/state.hpp"
#include "core/tables.hpp"

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

// An instance holding the big table.
struct BigInstance {
  ParamValues values;
  Tables tables{default_table()};
  BigInstance() {
    if (!tables.install({"Big", noise(kBigTableSamples), 2048, 1, 1})) std::abort();
  }
};

void BM_Save(benchmark::State& state) {
  BigInstance instance;
  for (auto _ : state) benchmark::DoNotOptimize(save(instance.values, instance.tables));
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state) {
  const std::string document = [] {
    BigInstance instance;
    return save(instance.values, instance.tables).value();
  }();
  BigInstance instance;
  for (auto _ : state) {
    if (!load(document, instance.values, instance.tables)) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(state.iterations() * document.size());
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// The table build that load includes, alone: load's own reading cost is the difference.
void BM_InstallOnly(benchmark::State& state) {
  const auto samples = noise(kBigTableSamples);
  BigInstance instance;
  for (auto _ : state) {
    state.PauseTiming();
    TableData record{"Big", samples, 2048, 1, 1};
    state.ResumeTiming();
    if (!instance.tables.install(std::move(record))) state.SkipWithError("install failed");
  }
}
BENCHMARK(BM_InstallOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
