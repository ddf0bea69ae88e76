// The core's command list and live readout, and the processor between the core and the engine:
// MIDI, settings refresh, host tempo, table hand-over and retirement, commands at the end of a
// block.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "core/core.hpp"
#include "core/processor.hpp"

namespace quillory::core {
namespace {

struct Fixture {
  std::shared_ptr<Core> core = Core::create();
  Processor processor{core, 48000.0f};
  std::vector<float> buffer = std::vector<float>(256);

  const synth::Engine& engine() const { return processor.engine(); }
  void block(std::size_t n = 256) {
    processor.begin(false, false, 0.0f, 0.0);
    processor.render(buffer.data(), n);
    processor.end();
  }
  int held(std::uint8_t key) const {
    int count = 0;
    for (const auto& v : engine().voices) count += v.active() && v.held && v.note == key;
    return count;
  }
  int releasing(std::uint8_t key) const {
    int count = 0;
    for (const auto& v : engine().voices) count += v.active() && !v.held && v.note == key;
    return count;
  }
};

TableData saw_table(std::string name, std::size_t frames = 2) {
  TableData data{std::move(name), {}, 256, 1, 1};
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t i = 0; i < 256; ++i)
      data.data.push_back(static_cast<float>(i) / 128.0f - 1.0f);
  }
  return data;
}

TEST(ProcessorMidi, NoteOnWithVelocityZeroReleases) {
  Fixture f;
  f.processor.midi(0x93, 60, 100);  // any channel
  EXPECT_EQ(f.held(60), 1);
  EXPECT_FLOAT_EQ(f.engine().voices[0].velocity, 100.0f / 127.0f);
  f.processor.midi(0x9F, 60, 0);
  EXPECT_EQ(f.held(60), 0);
  EXPECT_EQ(f.releasing(60), 1);
  f.processor.midi(0x90, 62, 1);
  f.processor.midi(0x85, 62, 99);  // note off, release velocity ignored
  EXPECT_EQ(f.releasing(62), 1);
}

TEST(ProcessorMidi, ControllersPitchBendAndPressure) {
  struct Step {
    std::uint8_t status, d1, d2;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    float wheel, cc_a, bend, pressure;
  };
  const float lsb_after_msb = (64.0f * 128.0f + 32.0f) / 16383.0f;
  const Case cases[] = {
      {"CC 1 then CC 33: 14-bit wheel", {{0xB0, 1, 64}, {0xB0, 33, 32}}, lsb_after_msb, 0, 0, 0},
      {"CC 33 alone uses msb 0", {{0xB0, 33, 127}}, 127.0f / 16383.0f, 0, 0, 0},
      {"CC A follows controller 16", {{0xB0, 16, 127}}, 0, 1, 0, 0},
      {"CC 121 changes nothing", {{0xB0, 1, 64}, {0xB0, 121, 0}}, 64.0f / 127.0f, 0, 0, 0},
      {"pitch bend centre", {{0xE0, 0x00, 0x40}}, 0, 0, 0.0f, 0},
      {"pitch bend top", {{0xE0, 0x7F, 0x7F}}, 0, 0, (16383.0f / 8192.0f - 1.0f) * 2.0f, 0},
      {"pitch bend bottom", {{0xE0, 0x00, 0x00}}, 0, 0, -2.0f, 0},
      {"channel pressure", {{0xD4, 127, 0}}, 0, 0, 0, 1.0f},
      {"poly pressure", {{0xA0, 60, 64}}, 0, 0, 0, 64.0f / 127.0f},
      {"program change ignored", {{0xC0, 5, 0}}, 0, 0, 0, 0},
      {"data byte as status ignored", {{0x40, 1, 1}}, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    for (const Step& s : c.steps) f.processor.midi(s.status, s.d1, s.d2);
    EXPECT_FLOAT_EQ(f.engine().wheel, c.wheel);
    EXPECT_FLOAT_EQ(f.engine().cc_values[0], c.cc_a);
    EXPECT_FLOAT_EQ(f.engine().pitch_bend, c.bend);
    EXPECT_FLOAT_EQ(f.engine().pressure, c.pressure);
  }
  EXPECT_LT((16383.0f / 8192.0f - 1.0f) * 2.0f, 2.0f);
}

TEST(ProcessorMidi, ModWheelAlsoFeedsACcSlotSetToControllerOne) {
  Fixture f;
  f.core->params.set(113, 1.0f);  // CC A Number
  f.block();                      // settings refresh
  f.processor.midi(0xB0, 1, 127);
  EXPECT_FLOAT_EQ(f.engine().wheel, 1.0f);
  EXPECT_FLOAT_EQ(f.engine().cc_values[0], 1.0f);
  EXPECT_FLOAT_EQ(f.engine().cc_values[1], 0.0f);
}

TEST(ProcessorMidi, AllNotesOffAndAllSoundOffRelease) {
  for (std::uint8_t controller : {120, 123}) {
    Fixture f;
    f.processor.note_on(60, 1.0f);
    f.processor.note_on(64, 1.0f);
    f.processor.midi(0xB0, controller, 0);
    EXPECT_EQ(f.releasing(60) + f.releasing(64), 2) << int(controller) << ": a release, not a cut";
  }
}

TEST(Processor, SettingsFollowTheParameterEpoch) {
  Fixture f;
  f.core->params.set(15, 440.0f);  // Filter Cutoff
  f.core->params.set(0, 0.75f);    // Position X
  EXPECT_NE(f.engine().settings.filter.cutoff, 440.0f);
  f.processor.begin(false, false, 0.0f, 0.0);
  EXPECT_EQ(f.engine().settings.filter.cutoff, 440.0f);
  EXPECT_EQ(f.engine().position_target[0], 0.75f);

  // A change between two renders of one block applies from the second render on.
  f.core->params.set(15, 880.0f);
  f.processor.render(f.buffer.data(), 16);
  EXPECT_EQ(f.engine().settings.filter.cutoff, 880.0f);
}

TEST(Processor, PositionOnlyChangesStillLetLaterSettingsThrough) {
  Fixture f;
  f.block();
  for (int i = 1; i <= 3; ++i) {
    f.core->params.set(0, 0.1f * i);  // position only: no rebuild needed
    f.block();
    EXPECT_FLOAT_EQ(f.engine().position_target[0], 0.1f * i);
  }
  f.core->params.set(16, 0.9f);  // Filter Resonance
  f.core->params.set(2, 0.5f);
  f.block();
  EXPECT_EQ(f.engine().settings.filter.resonance, 0.9f);
  EXPECT_EQ(f.engine().position_target[2], 0.5f);
  f.core->params.set(116 - 3, 64.0f);  // CC A Number, the first row after the modulation block
  f.core->params.set(115, 2.0f);       // the last row
  f.block();
  EXPECT_EQ(f.engine().settings.cc[0], 64);
  EXPECT_EQ(f.engine().settings.cc[2], 2);
}

TEST(Processor, HostTempoAndPosition) {
  Fixture f;
  f.processor.begin(true, true, 140.0f, 8.5);
  EXPECT_EQ(f.engine().host_tempo, 140.0f);
  EXPECT_EQ(f.engine().song_position, 8.5);
  f.processor.begin(true, false, 90.0f, 3.0);
  EXPECT_EQ(f.engine().host_tempo, 90.0f);
  EXPECT_EQ(f.engine().song_position, std::nullopt);
  f.processor.begin(false, false, 0.0f, 0.0);
  EXPECT_EQ(f.engine().host_tempo, std::nullopt);
}

TEST(Processor, SampleRateIsAtLeastOne) {
  auto core = Core::create();
  for (float rate : {0.0f, -5.0f, NAN, INFINITY}) {
    Processor processor(core, rate);
    EXPECT_EQ(processor.engine().sample_rate, 1.0f) << rate;
  }
  EXPECT_EQ(Processor(core, 768000.0f).engine().sample_rate, 768000.0f);
}

TEST(CoreCommands, AppliedInOrderAtTheEndOfTheNextBlock) {
  Fixture f;
  f.core->command(Command::note_on(60, 1.0f));
  f.core->command(Command::note_on(64, 0.5f));
  f.core->command(Command::note_off(60));
  EXPECT_FALSE(f.processor.is_active()) << "nothing before the block ends";
  f.block();
  EXPECT_EQ(f.releasing(60), 1);
  EXPECT_EQ(f.held(64), 1);
  f.core->command(Command::all_off());
  f.block();
  EXPECT_EQ(f.held(64), 0);
  EXPECT_EQ(f.releasing(64), 1);
}

TEST(CoreCommands, WaitWhileNoBlockRuns) {
  auto core = Core::create();
  core->command(Command::note_on(60, 1.0f));  // before the instance is even active
  Processor processor(core, 48000.0f);
  std::vector<float> out(64);
  processor.begin(false, false, 0, 0);
  processor.render(out.data(), out.size());
  processor.end();
  EXPECT_TRUE(processor.is_active());
}

TEST(CoreLive, EmptyUntilABlockRunsAndClearedWhenSilent) {
  Fixture f;
  LiveSnapshot live = f.core->live.read();
  EXPECT_EQ(live.position, std::nullopt);
  EXPECT_EQ(live.env, 0.0f);
  EXPECT_EQ(live.cc, (std::array<float, 3>{}));

  f.core->params.set(1, 0.5f);  // Position Y
  f.processor.note_on(60, 1.0f);
  f.processor.midi(0xB0, 1, 127);
  for (int i = 0; i < 10; ++i) f.block();
  live = f.core->live.read();
  ASSERT_TRUE(live.position.has_value());
  EXPECT_NEAR((*live.position)[1], 0.5f, 1e-3f);
  EXPECT_GT(live.env, 0.0f);
  EXPECT_NEAR(live.wheel, 1.0f, 1e-2f);  // smoothed towards the controller value

  f.processor.note_off(60);
  for (int i = 0; i < 200 && f.processor.is_active(); ++i) f.block();
  f.block();
  EXPECT_EQ(f.core->live.read().position, std::nullopt);
}

TEST(ProcessorTables, HandOverWhileSoundingCrossfadesThenRetires) {
  Fixture f;
  std::weak_ptr<const synth::Table> built_in = f.engine().table;
  f.processor.note_on(60, 1.0f);
  f.block();
  ASSERT_TRUE(f.core->tables.install(saw_table("first")));
  f.processor.begin(false, false, 0, 0);
  EXPECT_EQ(f.engine().table, f.core->tables.current());
  EXPECT_EQ(f.engine().fading_table.get(), built_in.lock().get()) << "voices fade from the old";
  for (int i = 0; i < 10; ++i) f.block();  // 10 ms crossfade ends: parked, then retired
  EXPECT_EQ(f.engine().fading_table, nullptr);
  EXPECT_EQ(f.engine().retired_table, nullptr) << "moved to the store's retired list";
  EXPECT_FALSE(built_in.expired()) << "released on the main thread, not here";
  ASSERT_TRUE(f.core->tables.install(saw_table("second")));  // main thread empties the list
  EXPECT_TRUE(built_in.expired());
}

TEST(ProcessorTables, OnlyTheNewestOfTwoHandOversIsInstalled) {
  Fixture f;
  ASSERT_TRUE(f.core->tables.install(saw_table("a")));
  std::weak_ptr<const synth::Table> first = f.core->tables.current();
  ASSERT_TRUE(f.core->tables.install(saw_table("b", 3)));
  EXPECT_TRUE(first.expired()) << "the audio thread never saw it";
  f.block();
  EXPECT_EQ(f.engine().table, f.core->tables.current());
  EXPECT_EQ(f.engine().table->frame_count(), 3u);
}

}  // namespace
}  // namespace quillory::core
