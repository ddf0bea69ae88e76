// render must never touch the heap. This file replaces the global allocation functions of the
// test program with counting versions (they forward to malloc/free, which the sanitizers still
// watch) and counts while the engine renders.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "engine_test_util.hpp"
#include "synth/engine.hpp"

namespace {
std::atomic<long> allocations{0};

void* counted(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
  return counted(size);
}
void* operator new[](std::size_t size) {
  return counted(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace quillory::synth {
namespace {

TEST(EngineAllocation, RenderAndInputsNeverAllocate) {
  const TableHandle first = testing::harmonic_table(64, 4, 2, 2);
  const TableHandle second = testing::harmonic_table(64, 3);
  Engine e(48000.0f);
  e.table = first;
  e.settings.filter = {FilterType::LowPass, 900.0f, 0.5f};
  e.settings.mod.lfo[0] = {.x = 0.5f, .y = 0.3f, .pitch = 0.2f};
  e.settings.lfos[1] = {.shape = LfoShape::Random, .sync = 1.0f};
  std::vector<float> out(1000);
  TableHandle given_back;

  const long before = allocations.load();
  for (std::uint8_t k = 40; k < 50; ++k) e.note_on(k, 0.8f);  // steals too
  e.set_host_tempo(128.0f, 3.0);
  e.set_cc(16, 0.4f);
  e.set_pitch_bend(0.3f);
  for (int i = 0; i < 20; ++i) {
    e.set_position(0.05f * static_cast<float>(i), 0.5f, 0.1f);
    if (i == 5) given_back = e.set_table(second);
    if (i == 12) given_back = e.set_table(first);
    e.render(out.data(), out.size());
    (void)e.mod_values();
  }
  e.all_off();
  e.render(out.data(), out.size());
  e.reset_voices();
  const long during = allocations.load() - before;

  EXPECT_EQ(during, 0);
  const long counter_check = allocations.load();
  { const TableHandle copy = std::make_shared<const Table>(*first); }
  EXPECT_GT(allocations.load(), counter_check);  // the counter does see allocations
  EXPECT_NE(e.retired_table, nullptr);           // a crossfade finished and parked its table
}

}  // namespace
}  // namespace quillory::synth
