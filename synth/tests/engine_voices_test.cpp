// Note handling, controller inputs and table hand-over of the engine.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine_test_util.hpp"
#include "synth/engine.hpp"

namespace quillory::synth {
namespace {

using testing::constant_table;
using testing::render;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::size_t voice_of(const Engine& e, std::uint8_t key) {
  for (std::size_t i = 0; i < kVoiceCount; ++i)
    if (e.voices[i].active() && e.voices[i].note == key) return i;
  return kVoiceCount;
}

TEST(EngineVoices, NinthKeyStealsTheOldestEvenWhileHeld) {
  Engine e(48000.0f);
  for (std::uint8_t k = 0; k < 8; ++k) e.note_on(60 + k, 1.0f);
  for (std::uint8_t k = 0; k < 8; ++k) EXPECT_EQ(voice_of(e, 60 + k), k);
  e.note_on(80, 1.0f);
  EXPECT_EQ(voice_of(e, 80), 0u);
  EXPECT_EQ(voice_of(e, 60), kVoiceCount);  // key 60 no longer sounds
  EXPECT_EQ(e.note_counter, 9u);
  EXPECT_EQ(e.voices[0].started, 9u);
  // A released voice is not preferred over a held older one: stealing goes by age only.
  e.note_off(62);
  e.note_on(81, 1.0f);
  EXPECT_EQ(voice_of(e, 81), 1u);
}

TEST(EngineVoices, RetriggerWhileReleasingReusesTheVoiceFromItsLevel) {
  Engine e(48000.0f);
  e.table = constant_table(0.5f);
  e.settings = testing::quick_envelope();
  e.note_on(60, 1.0f);
  render(e, 960);
  e.note_off(60);
  render(e, 960);  // 20 ms into a 250 ms release
  const Voice before = e.voices[0];
  ASSERT_EQ(before.env1.stage, EnvStage::Release);
  e.note_off(60);  // already releasing: untouched
  EXPECT_EQ(e.voices[0].env1, before.env1);

  e.note_on(60, 0.5f);
  const Voice& v = e.voices[0];
  EXPECT_EQ(voice_of(e, 60), 0u);
  EXPECT_EQ(e.note_counter, 2u);
  EXPECT_EQ(v.env1.stage, EnvStage::Attack);
  EXPECT_EQ(v.env1.level, before.env1.level);  // attack starts where the release was
  EXPECT_FALSE(v.fresh);
  EXPECT_EQ(v.phase, before.phase);
  EXPECT_EQ(v.last_gain, before.last_gain);
  EXPECT_EQ(v.filter_state, before.filter_state);
  EXPECT_TRUE(v.held);
  EXPECT_EQ(v.velocity, 0.5f);

  e.note_on(60, 1.0f);  // pressed again without release: still one voice
  EXPECT_EQ(voice_of(e, 60), 0u);
  EXPECT_FALSE(e.voices[1].active());
}

TEST(EngineVoices, VelocityIsClampedToUnitRange) {
  const struct {
    float in, stored;
  } cases[] = {{1.5f, 1.0f}, {-0.2f, 0.0f}, {0.25f, 0.25f}, {kNaN, 0.0f}, {kInf, 0.0f}};
  for (const auto& c : cases) {
    Engine e(48000.0f);
    e.note_on(64, c.in);
    EXPECT_EQ(e.voices[0].velocity, c.stored) << c.in;
  }
}

TEST(EngineVoices, NoteFrequenciesFollowEqualTemperament) {
  EXPECT_FLOAT_EQ(note_frequency(69), 440.0f);
  EXPECT_FLOAT_EQ(note_frequency(60), 440.0f * std::pow(2.0f, -9.0f / 12.0f));
  EXPECT_FLOAT_EQ(note_frequency(0), 440.0f * std::pow(2.0f, -69.0f / 12.0f));
  EXPECT_FLOAT_EQ(note_frequency(81), 880.0f);
  Engine e(48000.0f);
  e.note_on(69, 1.0f);
  EXPECT_EQ(e.voices[0].freq, 440.0f);
}

TEST(EngineVoices, AllOffReleasesAndResetCutsWithoutTouchingTheRest) {
  Engine e(48000.0f);
  e.note_on(60, 1.0f);
  e.note_on(64, 1.0f);
  e.all_off();
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_FALSE(e.voices[i].held);
    EXPECT_EQ(e.voices[i].env1.stage, EnvStage::Release);
    EXPECT_EQ(e.voices[i].env2.stage, EnvStage::Release);
  }
  EXPECT_TRUE(e.is_active());
  e.set_position(0.5f, 0.5f, 0.5f);
  e.reset_voices();
  EXPECT_FALSE(e.is_active());
  for (const Voice& v : e.voices) {
    EXPECT_TRUE(v.fresh);
    EXPECT_EQ(v.env1.stage, EnvStage::Idle);
    EXPECT_EQ(v.started, 0u);
  }
  EXPECT_EQ(e.note_counter, 2u);
  EXPECT_EQ(e.position_target[0], 0.5f);
}

TEST(EngineVoices, ControllerInputsClampAndRejectNonFiniteValues) {
  Engine e(48000.0f);
  const struct {
    float in, bend;
  } bends[] = {{0.5f, 1.0f}, {3.0f, 2.0f}, {-1.0f, -2.0f}, {kNaN, 0.0f}, {-kInf, 0.0f}};
  for (const auto& b : bends) {
    e.set_pitch_bend(b.in);
    EXPECT_EQ(e.pitch_bend, b.bend) << b.in;
  }
  e.set_mod_wheel(1.5f);
  EXPECT_EQ(e.wheel, 1.0f);
  e.set_mod_wheel(kNaN);
  EXPECT_EQ(e.wheel, 0.0f);
  e.set_pressure(-1.0f);
  EXPECT_EQ(e.pressure, 0.0f);
  e.set_pressure(0.3f);
  EXPECT_EQ(e.pressure, 0.3f);

  e.settings.cc = {16, 16, 18};
  e.set_cc(16, 0.5f);
  EXPECT_EQ(e.cc_values, (std::array<float, 3>{0.5f, 0.5f, 0.0f}));
  e.set_cc(99, 1.0f);  // matches no slot
  EXPECT_EQ(e.cc_values, (std::array<float, 3>{0.5f, 0.5f, 0.0f}));
  e.set_cc(18, 7.0f);
  EXPECT_EQ(e.cc_values[2], 1.0f);

  e.set_position(-1.0f, 2.0f, kNaN);
  EXPECT_EQ(e.position_target, (Position{0.0f, 1.0f, 0.0f}));
}

TEST(EngineVoices, HostTempoKeepsOnlyUsableValues) {
  Engine e(48000.0f);
  for (float bad : {0.0f, -120.0f, kInf, kNaN}) {
    e.set_host_tempo(bad, 4.0);
    EXPECT_FALSE(e.host_tempo.has_value()) << bad;
  }
  e.set_host_tempo(140.0f, std::numeric_limits<double>::infinity());
  EXPECT_EQ(e.host_tempo, 140.0f);
  EXPECT_FALSE(e.song_position.has_value());
  e.set_host_tempo(std::nullopt, 8.5);
  EXPECT_FALSE(e.host_tempo.has_value());
  EXPECT_EQ(e.song_position, 8.5);
}

TEST(EngineVoices, SetTableGivesBackWhatTheEngineNoLongerNeeds) {
  const TableHandle a = constant_table(1.0f), b = constant_table(2.0f), c = constant_table(3.0f);
  Engine e(48000.0f);
  EXPECT_EQ(e.set_table(a), nullptr);  // nothing to give back yet
  EXPECT_EQ(e.set_table(b), a);        // silent: immediate switch
  EXPECT_EQ(e.table, b);
  EXPECT_EQ(e.fading_table, nullptr);

  e.note_on(60, 1.0f);
  EXPECT_EQ(e.set_table(a), nullptr);  // sounding: crossfade from b
  EXPECT_EQ(e.table, a);
  EXPECT_EQ(e.fading_table, b);
  EXPECT_EQ(e.crossfade, 0.0f);
  render(e, 64);
  EXPECT_GT(e.crossfade, 0.0f);
  EXPECT_EQ(e.set_table(c), b);  // cut short: the table that was fading out comes back
  EXPECT_EQ(e.fading_table, a);
  EXPECT_EQ(e.crossfade, 0.0f);

  EXPECT_EQ(e.set_table(nullptr), c);  // no table: nothing to crossfade to
  EXPECT_EQ(e.table, nullptr);
}

}  // namespace
}  // namespace quillory::synth
