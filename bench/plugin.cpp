// The plug-in as a host drives it, loaded from the built Quillory.clap:
//  - eight held voices with the table position moving, 48 kHz, 128-frame blocks; the "x_realtime"
//    counter is the real-time factor of one instance (target: at least 300);
//  - an idle instance's process call, 128 frames (target: at most 1 us);
//  - create_plugin + init + activate of a second instance in the process (target: at most 3 ms);
//  - a host's scan of the module.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "host/loader.hpp"

namespace {

using namespace quillory::host;

constexpr double kRate = 48000.0;
constexpr std::uint32_t kBlock = 128;
constexpr clap_id kPositionX = 1, kPositionY = 2;

Module& module() {
  static Module loaded = [] {
    auto m = Module::open(QUILLORY_CLAP_PATH);
    if (!m) {
      std::fprintf(stderr, "%s\n", m.error().c_str());
      std::exit(1);
    }
    return std::move(*m);
  }();
  return loaded;
}

struct Active {
  Host host;
  std::optional<Instance> instance;
  const clap_plugin_t* plugin;
  EventList in, out;
  StereoBlock block{kBlock};

  Active() {
    auto created = Instance::create(module(), host);
    if (!created) std::exit(1);
    instance.emplace(std::move(*created));
    plugin = instance->plugin();
    instance->activate(kRate, kBlock);
    plugin->start_processing(plugin);
    in.reserve(16);
    out.reserve(256);
  }
  clap_process_status run() {
    const clap_process_status status = plugin->process(plugin, &block.prepare(kBlock, in, out));
    in.clear();
    out.clear();
    return status;
  }
};

void report_realtime(benchmark::State& state) {
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
}

void BM_EightHeldVoicesMovingPosition(benchmark::State& state) {
  Active a;
  const std::int16_t chord[8] = {36, 43, 48, 52, 55, 60, 64, 67};
  for (std::int16_t key : chord) a.in.push(note_event(CLAP_EVENT_NOTE_ON, 0, key, 0.8).header);
  a.run();
  std::uint64_t n = 0;
  const bool moving = state.range(0) != 0;
  for (auto _ : state) {
    // The position sweeps back and forth over about two seconds.
    const double phase = static_cast<double>(n++ % 750) / 750.0;
    const double x = phase < 0.5 ? 2 * phase : 2 - 2 * phase;
    if (moving) {
      a.in.push(param_event(0, kPositionX, x).header);
      a.in.push(param_event(64, kPositionY, 1.0 - x).header);
    }
    benchmark::DoNotOptimize(a.run());
  }
  report_realtime(state);
}
// Argument 1: the position moves (the measured case); 0: it stays, for comparison.
BENCHMARK(BM_EightHeldVoicesMovingPosition)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_IdleProcess(benchmark::State& state) {
  Active a;
  for (auto _ : state) benchmark::DoNotOptimize(a.run());
}
BENCHMARK(BM_IdleProcess)->Unit(benchmark::kNanosecond);

void BM_SecondInstanceCreateInitActivate(benchmark::State& state) {
  Active first;  // the module is loaded and one instance exists
  Host host;
  const clap_plugin_factory_t* factory = module().plugin_factory();
  const char* id = factory->get_plugin_descriptor(factory, 0)->id;
  for (auto _ : state) {
    const clap_plugin_t* p = factory->create_plugin(factory, host.clap(), id);
    p->init(p);
    p->activate(p, kRate, 1, kBlock);
    state.PauseTiming();
    p->deactivate(p);
    p->destroy(p);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SecondInstanceCreateInitActivate)->Unit(benchmark::kMicrosecond);

// What a host's scan does: load, init, get the factory and the descriptor, deinit, unload
// (target: well under 100 ms).
void BM_Scan(benchmark::State& state) {
  for (auto _ : state) {
    auto scanned = Module::open(QUILLORY_CLAP_PATH);
    if (!scanned) std::exit(1);
    const clap_plugin_factory_t* factory = scanned->plugin_factory();
    benchmark::DoNotOptimize(factory->get_plugin_descriptor(factory, 0));
  }
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
