// Table building and the table store, measured as users feel them: building a 256-frame table
// (against the literal two-transforms-per-level route, in the same run), replacing one frame,
// an instance's start with the built-in table, and the reader's cost per sample.
// Prints each median next to its target at the end.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/default_table.hpp"
#include "core/tables.hpp"
#include "literal_route.hpp"
#include "synth/table.hpp"

namespace {

using quillory::core::TableData;
using quillory::core::Tables;
using quillory::synth::Table;

constexpr std::size_t kFrames = 256;
constexpr std::size_t kFrameSize = 2048;

// A frame rich in harmonics, different for every frame: a few partials plus deterministic noise.
std::vector<float> frame_samples(std::size_t f) {
  std::vector<float> s(kFrameSize);
  std::uint32_t seed = 0x9e3779b9u * static_cast<std::uint32_t>(f + 1);
  for (std::size_t n = 0; n < kFrameSize; ++n) {
    seed = seed * 1664525u + 1013904223u;
    const float noise = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
    const float x = static_cast<float>(n) / kFrameSize * 6.2831855f;
    s[n] = std::sin(x) + 0.5f * std::sin(static_cast<float>(f % 7 + 2) * x) + 0.1f * noise;
  }
  return s;
}

const std::vector<float>& flat_samples() {
  static const std::vector<float> flat = [] {
    std::vector<float> all;
    all.reserve(kFrames * kFrameSize);
    for (std::size_t f = 0; f < kFrames; ++f) {
      const auto s = frame_samples(f);
      all.insert(all.end(), s.begin(), s.end());
    }
    return all;
  }();
  return flat;
}

void BM_FromFlat(benchmark::State& state) {
  for (auto _ : state) {
    auto t = Table::from_flat(flat_samples(), kFrameSize, 1, 1);
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_FromFlat)->Unit(benchmark::kMillisecond);

// The same build with each frame's levels made by the literal route.
void BM_FromFlatLiteral(benchmark::State& state) {
  for (auto _ : state) {
    auto t =
        Table::from_flat(flat_samples(), kFrameSize, 1, 1, &quillory::wavetable::literal::mipmaps);
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_FromFlatLiteral)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ReplaceFrame(benchmark::State& state) {
  Tables tables(TableData{"bench", flat_samples(), kFrameSize, 16, 1});
  const std::vector<std::vector<float>> frames{frame_samples(1000), frame_samples(1001)};
  std::size_t i = 0;
  for (auto _ : state) {
    auto r = tables.replace_frame((i * 37) % kFrames, frames[i % 2]);
    benchmark::DoNotOptimize(r);
    ++i;
  }
}
BENCHMARK(BM_ReplaceFrame)->Unit(benchmark::kMicrosecond);

// A second instance's start: the built-in record (already computed by the first instance) and
// the table store built from it.
void BM_InstanceStart(benchmark::State& state) {
  benchmark::DoNotOptimize(quillory::core::default_table());  // the first instance
  for (auto _ : state) {
    Tables tables(quillory::core::default_table());
    benchmark::DoNotOptimize(tables);
  }
}
BENCHMARK(BM_InstanceStart)->Unit(benchmark::kMicrosecond);

// One sample of a voice between eight frames of a 16 x 16 table, at level 0.
void BM_ReaderSample(benchmark::State& state) {
  const auto t = *Table::from_flat(flat_samples(), kFrameSize, 4, 4);
  const auto w = quillory::synth::frame_weights(t, 0.4f, 0.3f, 0.6f);
  const auto reader = quillory::synth::Reader::at_level(t, 0);
  float phase = 0.0f;
  const float step = 440.0f / 48000.0f;
  for (auto _ : state) {
    for (int n = 0; n < 32; ++n) {
      benchmark::DoNotOptimize(reader.sample(w, phase));
      phase += step;
      if (phase >= 1.0f) phase -= 1.0f;
    }
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_ReaderSample);

// The fast and the literal route must give the same levels up to rounding.
bool same_as_literal() {
  const auto fast = Table::from_flat(flat_samples(), kFrameSize, 1, 1);
  const auto slow =
      Table::from_flat(flat_samples(), kFrameSize, 1, 1, &quillory::wavetable::literal::mipmaps);
  float worst = 0.0f;
  for (std::size_t f = 0; f < kFrames; ++f)
    for (std::size_t i = 0; i < fast->frame_stride(); ++i)
      worst = std::max(worst, std::fabs(fast->frame_data(f)[i] - slow->frame_data(f)[i]));
  std::printf("fast vs literal levels: largest difference %.3g\n", worst);
  return worst <= 1e-4f;
}

struct Median {
  double wall_ms, cpu_ms;
};

// Keeps each benchmark's median wall and CPU time for the summary.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, Median> median_ms;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (!single && !median) continue;
      const double to_ms = 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      median_ms[run.run_name.function_name] = {run.GetAdjustedRealTime() * to_ms,
                                               run.GetAdjustedCPUTime() * to_ms};
    }
  }
};

struct Target {
  const char* benchmark;
  const char* what;
  double max_ms;
};

constexpr Target kTargets[] = {
    {"BM_FromFlat", "build 256 x 2048 table", 15.0},
    {"BM_ReplaceFrame", "replace one frame of it", 0.15},
    {"BM_InstanceStart", "second instance start", 2.0},
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!same_as_literal()) {
    std::puts("the fast levels differ from the literal route");
    return 1;
  }
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // Targets are judged on wall time; CPU time shows how much of it a busy machine took away.
  std::puts("\nmedians against targets (wall time; CPU time in brackets)");
  bool met = true;
  for (const auto& t : kTargets) {
    const auto it = reporter.median_ms.find(t.benchmark);
    if (it == reporter.median_ms.end()) continue;
    const bool ok = it->second.wall_ms <= t.max_ms;
    met &= ok;
    std::printf("  %-26s %9.4f ms (%9.4f ms)   target <= %.2f ms   %s\n", t.what,
                it->second.wall_ms, it->second.cpu_ms, t.max_ms, ok ? "met" : "MISSED");
  }
  const auto fast = reporter.median_ms.find("BM_FromFlat");
  const auto slow = reporter.median_ms.find("BM_FromFlatLiteral");
  if (fast != reporter.median_ms.end() && slow != reporter.median_ms.end()) {
    const double ratio = slow->second.wall_ms / fast->second.wall_ms;
    met &= ratio >= 5.0;
    std::printf("  %-26s %9.1fx    (%9.1fx)      target >= 5x      %s\n", "build vs literal route",
                ratio, slow->second.cpu_ms / fast->second.cpu_ms, ratio >= 5.0 ? "met" : "MISSED");
  }
  std::puts(met ? "all targets met" : "some targets missed");
  return 0;
}
