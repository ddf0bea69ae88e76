// The editor protocol: what the page feels. A "tick" poll 30 times a second, the "init" that
// starts a page with a large table, and the page's edits: a whole table and a single frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/base64.hpp"
#include "core/core.hpp"
#include "core/protocol.hpp"

namespace {

using namespace quillory::core;

constexpr std::size_t kFrameSize = 2048;
constexpr std::size_t kFrames = 256;

// Frames of a sine with a few harmonics whose mix moves over the table; `seed` varies it so
// successive sends are not identical (an identical table is not rebuilt).
std::vector<float> test_frames(std::size_t frames, float seed) {
  std::vector<float> samples(frames * kFrameSize);
  for (std::size_t f = 0; f < frames; ++f) {
    const float mix = (static_cast<float>(f) + seed) / static_cast<float>(frames);
    for (std::size_t i = 0; i < kFrameSize; ++i) {
      const float phase = 2.0f * static_cast<float>(M_PI) * static_cast<float>(i) / kFrameSize;
      samples[f * kFrameSize + i] = std::sin(phase) + mix * std::sin(3 * phase) / 3;
    }
  }
  return samples;
}

void install_large_table(Core& core) {
  if (!core.tables.install(TableData{"Large", test_frames(kFrames, 0), kFrameSize, 1, 1})) {
    std::abort();
  }
}

void BM_Tick(benchmark::State& state) {
  Core core;
  Page page;
  page.init(core);
  for (auto _ : state) benchmark::DoNotOptimize(page.handle(core, R"({"type":"tick"})"));
}
BENCHMARK(BM_Tick);

void BM_Init_256x2048(benchmark::State& state) {
  Core core;
  install_large_table(core);
  Page page;
  for (auto _ : state) benchmark::DoNotOptimize(page.init(core));
  state.SetBytesProcessed(state.iterations() * kFrames * kFrameSize * sizeof(float));
}
BENCHMARK(BM_Init_256x2048)->Unit(benchmark::kMillisecond);

std::string table_message(const std::vector<float>& samples) {
  return R"({"type":"table","frameSize":2048,"rows":1,"layers":1,"data":")" + samples_b64(samples) +
         R"("})";
}

// Decoded and installed: mip levels of every frame included.
void BM_TableMessage_256x2048(benchmark::State& state) {
  Core core;
  Page page;
  const std::string messages[] = {table_message(test_frames(kFrames, 0.25f)),
                                  table_message(test_frames(kFrames, 0.5f))};
  std::size_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(page.handle(core, messages[n++ & 1]));
}
BENCHMARK(BM_TableMessage_256x2048)->Unit(benchmark::kMillisecond);

// One frame of a 256-frame table decoded and replaced: that frame's levels only.
void BM_FrameMessage_2048(benchmark::State& state) {
  Core core;
  install_large_table(core);
  Page page;
  const auto frame_message = [](float seed) {
    return R"({"type":"frame","index":7,"data":")" + samples_b64(test_frames(1, seed)) + R"("})";
  };
  const std::string messages[] = {frame_message(0.25f), frame_message(0.5f)};
  std::size_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(page.handle(core, messages[n++ & 1]));
}
BENCHMARK(BM_FrameMessage_2048)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
