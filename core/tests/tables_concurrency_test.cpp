// The table store under load: an audio thread takes pending tables, plays them and retires them
// with try-locks only, while the main thread installs tables and replaces frames as fast as it
// can. Sanitizers catch races and any table freed while it is played; the test itself checks that
// every table played holds what it was built with, and that none outlives its last use.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/tables.hpp"

namespace quillory::core {
namespace {

constexpr std::size_t kFrameSize = 8;

// Every sample of every frame equals `value`: every level of such a frame is `value` too, so any
// read of a live table gives it back.
TableData constant_record(float value, std::size_t frames) {
  return {"load", std::vector<float>(frames * kFrameSize, value), kFrameSize, 1, 1};
}

// What the audio thread does with one table during one block: read every frame at a few phases.
// Returns false when a read does not give a value the main thread ever wrote.
bool play(const synth::Table& table) {
  const auto reader = synth::Reader::at_level(table, table.levels() - 1);
  for (std::size_t f = 0; f < table.frame_count(); ++f) {
    synth::FrameWeights w;
    w.frames[0] = f;
    w.weights[0] = 1.0f;
    for (const float phase : {0.0f, 0.3f, 0.9f}) {
      const float v = reader.sample(w, phase);
      if (std::fabs(v - std::round(v)) > 1e-3f || v < 0.0f) return false;
    }
  }
  return true;
}

TEST(TablesConcurrency, AudioThreadPlaysWhileMainThreadInstallsAndReplaces) {
  Tables tables(constant_record(0.0f, 4));
  synth::TableHandle playing = tables.current();  // activation: the engine starts with current
  tables.clear_pending();

  std::atomic<bool> done{false};
  std::atomic<std::size_t> picked{0};
  std::atomic<std::size_t> bad_reads{0};
  std::vector<std::weak_ptr<const synth::Table>> seen;  // audio thread only, until joined
  seen.reserve(1 << 16);

  std::thread audio([&] {
    synth::TableHandle fading;  // the table voices still fade out of
    while (!done.load(std::memory_order_acquire)) {
      if (auto next = tables.take_pending()) {
        if (seen.size() < seen.capacity()) seen.emplace_back(next);
        picked.fetch_add(1, std::memory_order_relaxed);
        // Start of block: the previous fading table is retired (released here only when the
        // list is busy); the table left becomes the fading one.
        if (fading) tables.retire(std::move(fading));
        fading = std::exchange(playing, std::move(next));
      } else if (fading && tables.try_retire(fading)) {
        // End of block: the crossfade is over and the list was free; otherwise stay parked.
      }
      if (!play(*playing)) bad_reads.fetch_add(1, std::memory_order_relaxed);
      if (fading && !play(*fading)) bad_reads.fetch_add(1, std::memory_order_relaxed);
    }
    if (fading) tables.retire(std::move(fading));
    tables.retire(std::move(playing));
  });

  // Runs until both sides have done plenty, however the two threads happen to be scheduled.
  const auto edit_as_fast_as_possible = [&]() -> std::string {
    constexpr std::size_t kMinRounds = 3000;
    constexpr std::size_t kMinPicked = 300;
    constexpr std::size_t kMaxRounds = 2'000'000;
    std::size_t frames = 4;
    for (std::size_t round = 1;
         round <= kMinRounds || picked.load(std::memory_order_relaxed) < kMinPicked; ++round) {
      if (round == kMaxRounds) return "the audio thread stopped picking tables up";
      const auto value = static_cast<float>(round % 100'000);
      const auto r =
          round % 3 == 0
              ? tables.replace_frame(round % frames, std::vector<float>(kFrameSize, value))
              : tables.install(constant_record(value, frames = 1 + round % 6));
      if (!r) return r.error();
    }
    return {};
  };
  const std::string failure = edit_as_fast_as_possible();
  done.store(true, std::memory_order_release);
  audio.join();

  EXPECT_EQ(failure, "");
  EXPECT_EQ(bad_reads.load(), 0u);
  // One more hand-over frees every table the audio thread retired.
  ASSERT_TRUE(tables.install(constant_record(1.0f, 1)));
  for (const auto& table : seen) EXPECT_TRUE(table.expired());
}

}  // namespace
}  // namespace quillory::core
