// The "clap.state" extension of the built Quillory.clap, driven through the host's streams.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <thread>

#include "core/default_table.hpp"
#include "core/param_values.hpp"
#include "core/params.hpp"
#include "core/state.hpp"
#include "core/tables.hpp"
#include "fixture.hpp"
#include "host/state.hpp"

namespace quillory::test {
namespace {

using host::InStream;
using host::OutStream;

constexpr std::uint64_t whole = std::numeric_limits<std::uint64_t>::max();

// A saved-state document written by the core from random parameter values and a small table whose
// samples include NaN, infinities and negative zero.
std::string random_document(unsigned seed) {
  std::mt19937 rng(seed);
  core::ParamValues values;
  for (std::size_t i = 0; i < core::param_count; ++i) {
    const core::ParamDef& row = core::param_table[i];
    values.set(i, std::uniform_real_distribution<float>(row.min, row.max)(rng));
  }
  core::TableData table{
      .name = "Odd \"table\" é", .data = {}, .frame_size = 64, .rows = 2, .layers = 1};
  std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
  for (int i = 0; i < 64 * 3 * 2; ++i) table.data.push_back(sample(rng));
  table.data[1] = std::numeric_limits<float>::quiet_NaN();
  table.data[2] = std::numeric_limits<float>::infinity();
  table.data[3] = -std::numeric_limits<float>::infinity();
  table.data[4] = -0.0f;
  core::Tables tables(core::default_table());
  EXPECT_TRUE(tables.install(std::move(table)));
  auto document = core::save(values, tables);
  EXPECT_TRUE(document) << document.error();
  return *document;
}

const clap_plugin_state_t& state_of(const Loaded& loaded) {
  return loaded.extension<clap_plugin_state_t>(CLAP_EXT_STATE);
}

std::string saved(const Loaded& loaded, std::uint64_t chunk = whole) {
  OutStream out;
  out.chunk = chunk;
  EXPECT_TRUE(state_of(loaded).save(loaded.plugin, out.clap()));
  return out.bytes;
}

bool load(const Loaded& loaded, std::string document, std::uint64_t chunk = whole) {
  InStream in(std::move(document));
  in.chunk = chunk;
  return state_of(loaded).load(loaded.plugin, in.clap());
}

// Loading a document and saving it again gives the same bytes, whatever sizes the host's stream
// reads and writes in: every parameter and every sample bit (NaN payloads included) survives.
TEST(StateExtension, RoundTripIsExactForAnyStreamChunking) {
  const std::string document = random_document(5);
  for (std::uint64_t chunk : {std::uint64_t{1}, std::uint64_t{7}, std::uint64_t{4096}, whole}) {
    SCOPED_TRACE(chunk);
    Loaded first;
    ASSERT_TRUE(load(first, document, chunk));
    const std::string written = saved(first, chunk);
    EXPECT_EQ(written, document);

    // The host sees the loaded values.
    core::ParamValues expected;
    ASSERT_TRUE(
        core::load(document, expected, *std::make_unique<core::Tables>(core::default_table())));
    for (std::size_t i = 0; i < core::param_count; ++i) {
      double value = 0;
      ASSERT_TRUE(first.params().get_value(first.plugin, core::param_table[i].id, &value));
      EXPECT_EQ(value, expected.get(i)) << core::param_table[i].name;
    }

    // And a second instance restored from what the first wrote is the same again.
    Loaded second;
    ASSERT_TRUE(load(second, written, chunk));
    EXPECT_EQ(saved(second), document);
    EXPECT_TRUE(first.messages().empty());
  }
}

// A fresh instance saves the built-in table at the default values, as the core writes them.
TEST(StateExtension, FreshInstanceSavesTheCoreDocument) {
  Loaded loaded;
  core::ParamValues values;
  core::Tables tables(core::default_table());
  EXPECT_EQ(saved(loaded, 4096), *core::save(values, tables));
}

// A failing output stream fails the save with the stream error, however far it got; a stream that
// takes nothing would never finish and counts as failing too.
TEST(StateExtension, SaveFailsWhenTheStreamFails) {
  struct Case {
    const char* what;
    std::uint64_t chunk;
    std::uint64_t error_at;
    std::int64_t result;
  };
  for (const Case& c :
       {Case{"error at once", whole, 0, -1}, Case{"error midway", 7, 700, -1},
        Case{"takes nothing", 4096, 4096, 0}, Case{"claims more than given", whole, 0, 1 << 30}}) {
    SCOPED_TRACE(c.what);
    Loaded loaded;
    OutStream out;
    out.chunk = c.chunk;
    out.error_at = c.error_at;
    out.error_result = c.result;
    EXPECT_FALSE(state_of(loaded).save(loaded.plugin, out.clap()));
    EXPECT_LE(out.writes, c.error_at / std::min(c.chunk, std::uint64_t{1} << 40) + 1);
    ASSERT_EQ(loaded.host.logs.size(), 1u);
    EXPECT_EQ(loaded.host.logs[0].message, plugin::message::stream_write_error);
    EXPECT_EQ(loaded.host.logs[0].severity, CLAP_LOG_ERROR);
  }
}

// A read error fails the load before anything is restored: values and table stay, no rescan.
TEST(StateExtension, LoadFailsWhenTheStreamFails) {
  const std::string document = random_document(9);
  for (std::uint64_t error_at :
       {std::uint64_t{0}, std::uint64_t{document.size() / 2}, std::uint64_t{document.size()}}) {
    SCOPED_TRACE(error_at);
    Loaded loaded;
    const std::string before = saved(loaded);
    InStream in(document);
    in.chunk = 1000;
    in.error_at = error_at;
    EXPECT_FALSE(state_of(loaded).load(loaded.plugin, in.clap()));
    EXPECT_EQ(loaded.messages(), std::vector<std::string>{plugin::message::stream_read_error});
    EXPECT_EQ(loaded.host.rescans, 0);
    EXPECT_EQ(saved(loaded), before);
  }
}

// Bytes that are not a readable document are refused with the host's message and change nothing.
TEST(StateExtension, DamagedDocumentIsRefusedAndChangesNothing) {
  const std::string good = random_document(3);
  const std::string damaged[] = {
      "",
      "not json",
      good.substr(0, good.size() / 2),
      good + "x",
      R"({"version":1.0,"params":{}})",
      R"({"version":1})",
      R"({"version":1,"params":{"1":"loud"}})",
      R"({"version":1,"params":{},"table":{"name":"t","frameSize":4,"rows":1,"layers":1,"data":"A"}})",
  };
  for (const std::string& document : damaged) {
    SCOPED_TRACE(document.substr(0, 80));
    Loaded loaded;
    const std::string before = saved(loaded);
    EXPECT_FALSE(load(loaded, document, 7));
    EXPECT_EQ(loaded.messages(), std::vector<std::string>{"Couldn't read the plugin state"});
    EXPECT_EQ(loaded.host.logs[0].severity, CLAP_LOG_ERROR);
    EXPECT_EQ(loaded.host.rescans, 0);
    EXPECT_EQ(saved(loaded), before);
  }
}

// Every successful load asks the host to re-read values, once; a host without "clap.params" is
// simply not asked.
TEST(StateExtension, SuccessfulLoadRequestsOneValueRescan) {
  {
    Loaded loaded;
    ASSERT_TRUE(load(loaded, random_document(1)));
    EXPECT_EQ(loaded.host.rescans, 1);
    EXPECT_EQ(loaded.host.last_rescan_flags, std::uint32_t{CLAP_PARAM_RESCAN_VALUES});
    ASSERT_TRUE(load(loaded, random_document(2)));
    EXPECT_EQ(loaded.host.rescans, 2);
  }
  {
    Loaded loaded;
    loaded.host.offer_params = false;
    EXPECT_TRUE(load(loaded, random_document(1)));
    EXPECT_EQ(loaded.host.rescans, 0);
    EXPECT_TRUE(loaded.messages().empty());
  }
}

// A null stream is the host's mistake: refused and logged as such, never dereferenced.
TEST(StateExtension, NullStreamsAreRefused) {
  Loaded loaded;
  const clap_plugin_state_t& state = state_of(loaded);
  EXPECT_FALSE(state.save(loaded.plugin, nullptr));
  EXPECT_FALSE(state.load(loaded.plugin, nullptr));
  const clap_ostream_t no_write{nullptr, nullptr};
  EXPECT_FALSE(state.save(loaded.plugin, &no_write));
  ASSERT_EQ(loaded.host.logs.size(), 3u);
  for (const host::LogLine& line : loaded.host.logs) {
    EXPECT_EQ(line.message, plugin::message::null_stream);
    EXPECT_EQ(line.severity, CLAP_LOG_HOST_MISBEHAVING);
  }
}

// A restore while the instance processes reaches the audio thread: the restored table plays.
TEST(StateExtension, LoadWhileProcessingIsHeardAtTheNextBlocks) {
  Running running(256);
  // A document whose table is silence: after it, a held note renders nothing but zeros.
  core::ParamValues values;
  core::Tables tables(core::default_table());
  ASSERT_TRUE(tables.install({.name = "Silent",
                              .data = std::vector<float>(64 * 2, 0.0f),
                              .frame_size = 64,
                              .rows = 1,
                              .layers = 1}));
  const std::string silent = *core::save(values, tables);

  running.push(host::note_event(CLAP_EVENT_NOTE_ON, 0, 60, 1.0));
  for (int i = 0; i < 8; ++i) ASSERT_EQ(running.run(), CLAP_PROCESS_CONTINUE);
  EXPECT_GT(peak(running.left().data(), running.frames), 0.0f);

  ASSERT_TRUE(load(running, silent, 4096));
  for (int i = 0; i < 8; ++i) ASSERT_EQ(running.run(), CLAP_PROCESS_CONTINUE);
  EXPECT_EQ(peak(running.left().data(), running.frames), 0.0f);
}

// Restores on the main thread while a real audio thread processes (also run under
// ThreadSanitizer): every load succeeds, and the audio thread plays whatever table was restored
// last.
TEST(StateConcurrency, LoadsWhileAnAudioThreadProcesses) {
  Running r(128);
  const std::string fresh = saved(r);
  core::ParamValues values;
  core::Tables tables(core::default_table());
  ASSERT_TRUE(tables.install({.name = "Silent",
                              .data = std::vector<float>(64 * 2, 0.0f),
                              .frame_size = 64,
                              .rows = 1,
                              .layers = 1}));
  const std::string silent = *core::save(values, tables);
  const std::string restless[] = {random_document(1), random_document(2)};

  std::atomic<bool> done{false};
  std::atomic<long> blocks{0};
  std::atomic<float> last_peak{0.0f};
  std::atomic<bool> finite{true};
  std::thread audio([&] {
    EventList in, out;
    in.reserve(4);
    StereoBlock block(128);
    for (int i = 0; !done.load(); ++i) {
      const auto key = static_cast<std::int16_t>(48 + i % 24);
      in.push(host::note_event(CLAP_EVENT_NOTE_ON, 0, key, 1.0).header);
      in.push(
          host::note_event(CLAP_EVENT_NOTE_OFF, 120, static_cast<std::int16_t>(key - 1), 0).header);
      r.plugin->process(r.plugin, &block.prepare(128, in, out));
      for (float s : block.channels[0]) finite = finite && std::isfinite(s);
      last_peak = peak(block.channels[0].data(), 128);
      in.clear();
      out.clear();
      ++blocks;
    }
  });
  // Lets the audio thread run `n` more blocks, then gives the last one's peak.
  auto after_blocks = [&](long n) {
    const long until = blocks.load() + n;
    while (blocks.load() < until) std::this_thread::yield();
    return last_peak.load();
  };

  for (int i = 0; i < 20; ++i) {
    EXPECT_TRUE(load(r, restless[i % 2], 4096));
    after_blocks(1);
  }
  EXPECT_TRUE(load(r, silent, 4096));
  const float silent_peak = after_blocks(20);
  EXPECT_TRUE(load(r, fresh, 4096));
  const float fresh_peak = after_blocks(20);
  done = true;
  audio.join();

  EXPECT_EQ(silent_peak, 0.0f);
  EXPECT_GT(fresh_peak, 0.0f);
  EXPECT_TRUE(finite.load());
  EXPECT_EQ(saved(r), fresh);
  EXPECT_EQ(r.host.rescans, 22);
  EXPECT_TRUE(r.host.logs.empty());
}

// The rules of the instance states hold here too: a load reaching an instance not yet initialised
// (through the extension table another instance gave) reads nothing and fails with the message.
TEST(StateExtension, RefusedBeforeInit) {
  Loaded loaded;
  const clap_plugin_factory_t* factory = loaded.module->plugin_factory();
  const clap_plugin_t* fresh =
      factory->create_plugin(factory, loaded.host.clap(), plugin::plugin_id);
  ASSERT_NE(fresh, nullptr);
  InStream in(random_document(1));
  EXPECT_FALSE(state_of(loaded).load(fresh, in.clap()));
  EXPECT_EQ(in.reads, 0u);
  EXPECT_EQ(loaded.messages(), std::vector<std::string>{plugin::message::not_initialized});
  fresh->destroy(fresh);
}

}  // namespace
}  // namespace quillory::test
