// A real audio thread processing blocks while the main thread installs tables, edits parameters
// from the editor side, queues note commands and reads the live values. Run under
// ThreadSanitizer too.

#include <atomic>
#include <thread>

#include "core/table_data.hpp"
#include "fixture.hpp"

namespace quillory::test {
namespace {

using host::note_event;
using host::param_event;

TEST(PluginConcurrency, AudioThreadRunsWhileMainThreadChangesEverything) {
  Running r(128, 48000.0, /*in_process=*/true);
  core::Core& core = *r.self().shared->core;
  core::TableData table = core.tables.table_data();

  std::atomic<bool> done{false};
  std::atomic<long> blocks{0}, reported{0};
  std::atomic<bool> finite{true};
  std::thread audio([&] {
    EventList in, out;
    in.reserve(8);
    out.reserve(256);
    StereoBlock block(128);
    for (int i = 0; !done.load() || i < 200; ++i) {
      in.push(note_event(CLAP_EVENT_NOTE_ON, 0, static_cast<std::int16_t>(40 + i % 40), 1).header);
      in.push(param_event(64, 201, 300.0 + i % 1000).header);
      in.push(note_event(CLAP_EVENT_NOTE_OFF, 100, static_cast<std::int16_t>(40 + (i + 20) % 40), 0)
                  .header);
      r.plugin->process(r.plugin, &block.prepare(128, in, out));
      for (float s : block.channels[1]) finite = finite && std::isfinite(s);
      reported += static_cast<long>(out.size());
      in.clear();
      out.clear();
      ++blocks;
    }
  });

  const auto& params = r.params();
  for (int i = 0; i < 30; ++i) {
    for (float& s : table.data) s = -s;  // a different table each time
    table.name = "flip " + std::to_string(i);
    ASSERT_TRUE(core.tables.install(table));
    core.params.set_from_editor(0, static_cast<float>(i % 10) / 10.0f + 0.05f);
    core.params.set_from_editor(16, static_cast<float>(i % 5) / 5.0f + 0.1f);
    core.command(core::Command::note_on(static_cast<std::uint8_t>(60 + i % 12), 0.7f));
    core.command(core::Command::all_off());
    double value;
    params.get_value(r.plugin, 201, &value);
    (void)core.live.read();
    std::this_thread::yield();
  }
  done = true;
  audio.join();

  EXPECT_TRUE(finite.load());
  EXPECT_GE(blocks.load(), 200);
  // Every editor edit is reported once; edits of one parameter between two blocks merge.
  EXPECT_GT(reported.load(), 0);
  EXPECT_LE(reported.load(), 60);
  EXPECT_TRUE(r.host.logs.empty());
}

}  // namespace
}  // namespace quillory::test
