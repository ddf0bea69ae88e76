// Rendering speed of the engine at 48 kHz, against the plain per-sample rendering kept in
// engine_reference.hpp. Before timing, every scenario is rendered both ways from the same start
// and compared sample by sample. The summary at the end gives medians, times real time and the
// ratio to the plain rendering, all from this run. The summary uses CPU time: the machines are
// shared, and wall time mostly measures the wait for a core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "engine_reference.hpp"
#include "synth/engine.hpp"
#include "wavetable/dsp.hpp"

namespace {

using namespace quillory::synth;

constexpr float kRate = 48000.0f;
constexpr std::size_t kSecond = 48000;
constexpr std::size_t kChunk = 128;  // samples per render call, like a host buffer

// Mip levels by plain decimation: the right layout at no cost. Band-limiting does not change
// how fast a table plays, and the spectral build of 512 frames of 2048 would dominate start-up.
std::vector<float> decimated_levels(std::span<const float> frame, std::size_t levels) {
  std::vector<float> out;
  for (std::size_t i = 0; i < levels; ++i) {
    const std::size_t len = quillory::wavetable::mip_length(frame.size(), i);
    for (std::size_t j = 0; j < len; ++j) out.push_back(frame[j * frame.size() / len]);
  }
  return out;
}

TableHandle table(std::size_t cols, std::size_t rows, float seed) {
  constexpr std::size_t n = 2048;
  std::vector<float> samples(n * cols * rows);
  for (std::size_t f = 0; f < cols * rows; ++f)
    for (std::size_t i = 0; i < n; ++i) {
      const float x = 2.0f * std::numbers::pi_v<float> * static_cast<float>(i) / n;
      samples[f * n + i] = std::sin(x + seed) + 0.3f * std::sin(static_cast<float>(f % 7 + 2) * x);
    }
  return std::make_shared<const Table>(*Table::from_flat(samples, n, rows, 1, &decimated_levels));
}

struct Scenario {
  const char* name;
  std::size_t voices;
  bool moving;
  bool crossfading;
  FilterType filter;
  float target;  // times real time
};

const Scenario kScenarios[] = {
    {"8 voices, 256x2048, still, filter off", 8, false, false, FilterType::Off, 2000.0f},
    {"8 voices, 16x16 grid moving, low-pass", 8, true, false, FilterType::LowPass, 600.0f},
    {"8 voices, 16x16 grid moving, low-pass, crossfading", 8, true, true, FilterType::LowPass,
     350.0f},
    {"1 voice, 256x2048, still", 1, false, false, FilterType::Off, 5000.0f},
};

// An engine playing a scenario, and the cues that keep it moving while it renders.
struct Player {
  Engine engine{kRate};
  TableHandle tables[2];
  TableHandle held;  // references given back, released here rather than in the engine
  std::size_t chunks = 0;
  const Scenario* s;

  explicit Player(const Scenario& scenario) : s(&scenario) {
    const bool grid = scenario.moving;
    tables[0] = grid ? table(16, 16, 0.0f) : table(256, 1, 0.0f);
    tables[1] = grid ? table(16, 16, 1.0f) : table(256, 1, 1.0f);
    engine.set_table(tables[0]);
    engine.settings.filter = {scenario.filter, 1800.0f, 0.4f};
    // Still: between two frames of the line (X = 0.3 gives p = 76.5).
    engine.set_position(0.3f, 0.0f, 0.0f);
    for (std::size_t v = 0; v < scenario.voices; ++v)
      engine.note_on(static_cast<std::uint8_t>(43 + 5 * v), 0.8f);
  }

  // Before each chunk: a new position target on a Lissajous path (the 5 ms smoothing moves the
  // position in every block), and a table change every 384 samples, so a crossfade always runs.
  void cue() {
    const float t = static_cast<float>(chunks) * static_cast<float>(kChunk) / kRate;
    if (s->moving)
      engine.set_position(0.5f + 0.5f * std::sin(2.1f * t), 0.5f + 0.5f * std::sin(3.3f * t), 0.0f);
    if (s->crossfading && chunks % 3 == 0) held = engine.set_table(tables[(chunks / 3 + 1) % 2]);
    engine.retired_table.reset();  // the Processor's collection
    ++chunks;
  }

  template <class Render>
  void second(std::vector<float>& out, Render render) {
    for (std::size_t at = 0; at < kSecond; at += kChunk) {
      cue();
      render(engine, out.data() + at, kChunk);
    }
  }
};

void fast(Engine& e, float* out, std::size_t n) {
  e.render(out, n);
}
void plain(Engine& e, float* out, std::size_t n) {
  reference::render(e, out, n);
}

// Renders a second both ways from the same start and gives the largest difference.
float check(const Scenario& s) {
  Player a(s), b(s);
  std::vector<float> x(kSecond), y(kSecond);
  a.second(x, fast);
  b.second(y, plain);
  float worst = 0.0f;
  for (std::size_t i = 0; i < kSecond; ++i) worst = std::max(worst, std::fabs(x[i] - y[i]));
  return worst;
}

template <bool reference>
void BM_Render(benchmark::State& state) {
  const Scenario& s = kScenarios[state.range(0)];
  Player p(s);
  std::vector<float> out(kSecond);
  for (auto _ : state) {
    if (reference)
      p.second(out, plain);
    else
      p.second(out, fast);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(s.name);
}

void scenarios(benchmark::internal::Benchmark* b) {
  for (std::size_t i = 0; i < std::size(kScenarios); ++i) b->Arg(static_cast<int>(i));
  b->Unit(benchmark::kMillisecond)->MinTime(0.1)->Repetitions(5)->ReportAggregatesOnly(true);
}
BENCHMARK(BM_Render<false>)->Name("engine")->Apply(scenarios);
BENCHMARK(BM_Render<true>)->Name("reference")->Apply(scenarios);

// Collects the medians for the summary.
class Summary : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> median_ms;  // "engine/0" -> ms per second of audio
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.aggregate_name == "median")
        median_ms[r.run_name.function_name + "/" + r.run_name.args] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::printf("Check against the plain rendering (largest difference over 1 s, limit 1e-5):\n");
  bool ok = true;
  for (const Scenario& s : kScenarios) {
    const float worst = check(s);
    ok &= worst <= 1e-5f;
    std::printf("  %-52s %.3g\n", s.name, worst);
  }
  benchmark::Initialize(&argc, argv);
  Summary summary;
  benchmark::RunSpecifiedBenchmarks(&summary);
  std::printf("\n%-52s %10s %10s %9s %9s %8s %8s\n", "scenario (1 s of audio at 48 kHz)",
              "engine ms", "plain ms", "x real", "target", "ratio", "");
  for (std::size_t i = 0; i < std::size(kScenarios); ++i) {
    const std::string arg = std::to_string(i);
    const auto e = summary.median_ms.find("engine/" + arg);
    const auto r = summary.median_ms.find("reference/" + arg);
    if (e == summary.median_ms.end() || r == summary.median_ms.end()) continue;
    const double realtime = 1000.0 / e->second;
    std::printf("%-52s %10.3f %10.3f %9.0f %9.0f %7.2fx %8s\n", kScenarios[i].name, e->second,
                r->second, realtime, kScenarios[i].target, r->second / e->second,
                realtime >= kScenarios[i].target ? "met" : "MISSED");
  }
  benchmark::Shutdown();
  return ok ? 0 : 1;
}
