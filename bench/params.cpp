// The parameter store's audio-thread operations: building the synth settings when the epoch has
// moved (target <= 2 us, no allocation) and the per-block walk over the editor-changed flags when
// none is set (target <= 0.3 us). Each reports the heap allocations it made per call.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "core/param_values.hpp"

namespace {
std::atomic<std::size_t> allocations{0};
}

// Count every allocation in this program, so a benchmark can show its loop made none. Where these
// are inlined, g++ mistakes the malloc/free pair inside for a mismatched new/delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using quillory::core::ParamValues;

void report_allocations(benchmark::State& state, std::size_t before) {
  state.counters["allocs_per_call"] = benchmark::Counter(
      static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}

void BM_Settings(benchmark::State& state) {
  ParamValues values;
  values.set(20, 8.0f);  // a synced LFO, so the division lookup is taken too
  const std::size_t before = allocations.load();
  for (auto _ : state) {
    auto settings = values.settings();
    benchmark::DoNotOptimize(settings);
  }
  report_allocations(state, before);
}
BENCHMARK(BM_Settings);

void BM_TakeEditorChangesNoFlags(benchmark::State& state) {
  ParamValues values;
  std::size_t reported = 0;
  const std::size_t before = allocations.load();
  for (auto _ : state) {
    values.take_editor_changes([&](std::size_t) { ++reported; });
    benchmark::DoNotOptimize(reported);
  }
  report_allocations(state, before);
}
BENCHMARK(BM_TakeEditorChangesNoFlags);

}  // namespace

BENCHMARK_MAIN();
