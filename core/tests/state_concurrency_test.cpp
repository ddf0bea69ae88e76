// State restored while an audio thread plays: the audio side only try-locks and reads atomics, so
// loads and saves on the main thread never block it, and it ends up with the restored values and
// table.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/base64.hpp"
#include "core/default_table.hpp"
#include "core/param_values.hpp"
#include "core/params.hpp"
#include "core/state.hpp"
#include "core/tables.hpp"

namespace quillory::core {
namespace {

std::string document(float cutoff, float sample) {
  return R"({"version":1,"params":{"201":)" + std::to_string(cutoff) +
         R"(},"table":{"name":"T","frameSize":8,"rows":1,"layers":1,"data":")" +
         samples_b64(std::vector<float>(16, sample)) + "\"}}";
}

TEST(StateConcurrency, LoadWhileTheAudioThreadPlays) {
  ParamValues values;
  Tables tables(default_table());
  std::atomic<bool> stop = false;
  std::atomic<const synth::Table*> playing_now = nullptr;

  std::thread audio([&] {
    synth::TableHandle playing = tables.current();
    tables.clear_pending();
    playing_now = playing.get();
    std::uint32_t seen_epoch = 0;
    float cutoff = 0;
    while (!stop.load()) {
      if (auto next = tables.take_pending()) {
        tables.retire(std::move(playing));
        playing = std::move(next);
        playing_now = playing.get();
      }
      if (const auto epoch = values.epoch(); epoch != seen_epoch) {
        seen_epoch = epoch;
        cutoff = values.settings().filter.cutoff;
      }
      (void)cutoff;
      std::this_thread::yield();  // a block's worth of work would go here
    }
    tables.retire(std::move(playing));
  });

  while (playing_now.load() == nullptr) std::this_thread::yield();  // the audio side is running
  const std::string first = document(440.0f, 0.25f), second = document(880.0f, -0.5f);
  for (int round = 0; round < 40; ++round) {
    ASSERT_TRUE(load(round % 2 == 0 ? first : second, values, tables));
    ASSERT_TRUE(save(values, tables));
  }
  // The last document loaded was `second`; wait until the audio side plays its table.
  const auto last = tables.current();
  while (playing_now.load() != last.get()) std::this_thread::yield();
  stop = true;
  audio.join();

  EXPECT_EQ(values.get(*index_of(201)), 880.0f);
  EXPECT_EQ(tables.table_data().data, std::vector<float>(16, -0.5f));
}

}  // namespace
}  // namespace quillory::core
