// LFOs, tempo sync, controller smoothing, voice modulation and the live source values.
#include <gtest/gtest.h>

#include <cmath>

#include "engine_test_util.hpp"
#include "synth/engine.hpp"
#include "synth/lfo.hpp"

namespace quillory::synth {
namespace {

using testing::constant_table;
using testing::render;

// One block's dt at 48 kHz.
constexpr float kDt = 32.0f / 48000.0f;

TEST(EngineModulation, LfoShapesAtKeyPhases) {
  const struct {
    LfoShape shape;
    float phase, value;
  } cases[] = {
      {LfoShape::Sine, 0.0f, 0.0f},      {LfoShape::Sine, 0.25f, 1.0f},
      {LfoShape::Sine, 0.75f, -1.0f},    {LfoShape::Triangle, 0.0f, -1.0f},
      {LfoShape::Triangle, 0.25f, 0.0f}, {LfoShape::Triangle, 0.5f, 1.0f},
      {LfoShape::Triangle, 0.75f, 0.0f}, {LfoShape::Saw, 0.0f, -1.0f},
      {LfoShape::Saw, 0.75f, 0.5f},      {LfoShape::Square, 0.0f, 1.0f},
      {LfoShape::Square, 0.49f, 1.0f},   {LfoShape::Square, 0.5f, -1.0f},
      {LfoShape::Random, 0.3f, 0.125f},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(lfo_value(c.shape, c.phase, 0.125f), c.value, 1e-6f)
        << static_cast<int>(c.shape) << " at " << c.phase;
}

TEST(EngineModulation, UnipolarSquareIsOneThenZero) {
  Engine e(48000.0f);
  e.settings.lfos[0] = {.rate = 0.0f, .shape = LfoShape::Square, .unipolar = true};
  e.lfo_phase[0] = 0.2f;
  e.update_controllers_and_lfos(kDt);
  EXPECT_EQ(e.lfo_out[0], 1.0f);
  e.lfo_phase[0] = 0.7f;
  e.update_controllers_and_lfos(kDt);
  EXPECT_EQ(e.lfo_out[0], 0.0f);
}

TEST(EngineModulation, FreeLfosStartAThirdApartAndRunAtTheirRate) {
  Engine e(48000.0f);
  e.settings.lfos = {Lfo{.rate = 1.0f}, Lfo{.rate = 1.0f}, Lfo{.rate = 1.0f}};
  render(e, 24000);
  EXPECT_NEAR(e.lfo_phase[0], 0.5f, 1e-4f);
  EXPECT_NEAR(e.lfo_phase[1], 0.83f, 1e-4f);
  EXPECT_NEAR(e.lfo_phase[2], 0.16f, 1e-4f);  // wrapped once
}

TEST(EngineModulation, SyncedLfoWithoutSongPositionRunsAtTheTempo) {
  Engine e(48000.0f);
  e.settings.lfos[0] = {.rate = 5.0f, .sync = 4.0f};  // one bar at 120 bpm: 2 s
  render(e, 48000);
  EXPECT_NEAR(e.lfo_phase[0], 0.5f, 1e-4f);
  // Host tempos are clamped to 20..999 bpm.
  const struct { float bpm, used; } tempos[] = {{5.0f, 20.0f}, {2000.0f, 999.0f}, {90.0f, 90.0f}};
  for (const auto& t : tempos) {
    Engine h(48000.0f);
    h.settings.lfos[0] = {.sync = 1.0f};
    h.set_host_tempo(t.bpm, std::nullopt);
    h.update_controllers_and_lfos(kDt);
    EXPECT_NEAR(h.lfo_phase[0], std::fmod(kDt * t.used / 60.0f, 1.0f), 1e-6f) << t.bpm;
  }
}

TEST(EngineModulation, SyncedLfoLocksToTheSongPosition) {
  Engine e(48000.0f);
  e.settings.lfos[0] = {.sync = 4.0f};
  const double block_beats = static_cast<double>(kDt * (120.0f / 60.0f));
  e.set_host_tempo(120.0f, 6.0 - block_beats);
  e.update_controllers_and_lfos(kDt);
  EXPECT_NEAR(e.lfo_phase[0], 0.5f, 1e-6f);  // 6 beats into a 4-beat cycle
  EXPECT_NEAR(*e.song_position, 6.0, 1e-9);
  e.update_controllers_and_lfos(kDt);  // continues at the tempo without a fresh position
  EXPECT_NEAR(*e.song_position, 6.0 + block_beats, 1e-9);

  // The transport jumps back: a wrap, with a new random value for the held shape.
  const std::uint32_t state = e.random_state;
  e.set_host_tempo(120.0f, 0.0);
  e.update_controllers_and_lfos(kDt);
  EXPECT_NE(e.random_state, state);
  EXPECT_EQ(e.lfo_held[0], random_bipolar(e.random_state));
  EXPECT_NEAR(e.lfo_phase[0], block_beats / 4.0, 1e-6);
}

TEST(EngineModulation, EveryWrapDrawsInLfoOrderFromOneGenerator) {
  Engine e(48000.0f);
  e.settings.lfos = {Lfo{.rate = 0.0f}, Lfo{.rate = 0.0f},
                     Lfo{.rate = 0.0f, .shape = LfoShape::Random}};
  e.lfo_phase = {0.99f, 0.5f, 0.995f};
  e.settings.lfos[0].rate = 20.0f;  // wraps within the block
  e.settings.lfos[2].rate = 20.0f;
  e.update_controllers_and_lfos(kDt);
  const std::uint32_t first = next_random(kRandomSeed), second = next_random(first);
  EXPECT_EQ(e.lfo_held[0], random_bipolar(first));
  EXPECT_EQ(e.lfo_held[1], 0.0f);  // LFO 2 did not wrap
  EXPECT_EQ(e.lfo_held[2], random_bipolar(second));
  EXPECT_EQ(e.lfo_out[2], random_bipolar(second));  // Random shape plays the held value
  EXPECT_EQ(e.random_state, second);
  EXPECT_LT(e.lfo_phase[0], 0.01f);
  // xorshift 13/17/5 from the seed.
  std::uint32_t x = 2654435769u;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  EXPECT_EQ(first, x);
}

// A voice sounding at a known state, for modulation checks.
Voice voice(std::uint8_t note, float env1, bool held = true) {
  Voice v;
  v.note = note;
  v.env1 = {env1, held ? EnvStage::Sustain : EnvStage::Release};
  v.held = held;
  v.velocity = 1.0f;
  return v;
}

TEST(EngineModulation, PitchRoutesFollowASquaredCurve) {
  const struct {
    float amount, lfo, semitones;
  } cases[] = {{0.5f, -1.0f, -6.0f},
               {-0.5f, 1.0f, -6.0f},
               {1.0f, 1.0f, 24.0f},
               {0.25f, 1.0f, 1.5f},
               {0.0f, 1.0f, 0.0f}};
  for (const auto& c : cases) {
    Engine e(48000.0f);
    e.settings.mod.lfo[1].pitch = c.amount;
    e.lfo_out[1] = c.lfo;
    EXPECT_FLOAT_EQ(e.modulate(voice(60, 1.0f)).semitones, c.semitones) << c.amount;
    e.pitch_bend = 2.0f;  // the bend adds
    EXPECT_FLOAT_EQ(e.modulate(voice(60, 1.0f)).semitones, c.semitones + 2.0f);
  }
}

TEST(EngineModulation, PositionCutoffAndResonanceRoutes) {
  Engine e(48000.0f);
  e.position = {0.5f, 0.2f, 0.9f};
  e.settings.mod.lfo[0] = {.x = 0.25f, .y = -1.0f, .z = 0.5f};
  e.settings.mod.key = {.cutoff = 1.0f};
  e.settings.mod.env2 = {.res = 0.5f};
  e.lfo_out[0] = 1.0f;
  Voice v = voice(72, 1.0f);
  v.env2.level = 0.4f;
  const VoiceMod m = e.modulate(v);
  EXPECT_FLOAT_EQ(m.position[0], 0.75f);
  EXPECT_EQ(m.position[1], 0.0f);          // clamped
  EXPECT_EQ(m.position[2], 1.0f);          // clamped
  EXPECT_FLOAT_EQ(m.cutoff_factor, 2.0f);  // key tracking: one octave per 12 keys
  EXPECT_FLOAT_EQ(m.resonance, 0.2f + 0.2f);
  EXPECT_FLOAT_EQ(key_value(127), 67.0f / 72.0f);
  EXPECT_FLOAT_EQ(key_value(0), -60.0f / 72.0f);
  EXPECT_EQ(key_value(60), 0.0f);
}

TEST(EngineModulation, AmpRoutesNeverGoBelowSilence) {
  Engine e(48000.0f);
  e.settings.lfos[0].unipolar = true;
  e.settings.mod.lfo[0].amp = -1.0f;
  e.settings.mod.wheel.amp = -0.5f;
  e.lfo_out[0] = 1.0f;
  EXPECT_EQ(e.modulate(voice(60, 1.0f)).amp_factor, 0.0f);
  e.lfo_out[0] = 0.25f;
  EXPECT_FLOAT_EQ(e.modulate(voice(60, 1.0f)).amp_factor, 0.75f);
  // The Env 1 amount shapes the envelope gain, not the amplitude factor.
  e.settings.mod.env.amp = 0.3f;
  EXPECT_FLOAT_EQ(e.modulate(voice(60, 1.0f)).amp_factor, 0.75f);
}

TEST(EngineModulation, EnvelopeGainMixesHeldFullLevelWithEnvelopeOne) {
  const struct {
    float e, level;
    bool held;
    float gain;
  } cases[] = {{1.0f, 0.3f, true, 0.3f},
               {0.0f, 0.3f, true, 1.0f},
               {0.0f, 0.3f, false, 0.3f},
               {0.5f, 0.2f, true, 0.6f},
               {0.5f, 0.2f, false, 0.2f}};
  for (const auto& c : cases) {
    Engine e(48000.0f);
    e.settings.mod.env.amp = c.e;
    EXPECT_FLOAT_EQ(e.modulate(voice(60, c.level, c.held)).env_gain, c.gain) << c.e;
  }
}

TEST(EngineModulation, ZeroEnvAmountPlaysFullDuringAttackAndFadesAfterRelease) {
  Engine e(48000.0f);
  e.table = constant_table(1.0f);
  e.settings.mod.env.amp = 0.0f;
  e.settings.adsr = {.a = 1.0f, .d = 1.0f, .s = 0.1f, .r = 0.1f};
  e.note_on(60, 1.0f);
  for (float s : render(e, 96)) EXPECT_NEAR(s, 0.25f, 1e-6f);  // attack barely begun
  e.note_off(60);
  const auto out = render(e, 2400);
  EXPECT_NEAR(out.back(), 0.25f * e.voices[0].env1.level, 1e-5f);
  EXPECT_LT(out.back(), 0.01f);
}

TEST(EngineModulation, ControllerJumpReachesNinetyEightPercentInAbout32Ms) {
  Engine e(48000.0f);
  e.set_mod_wheel(1.0f);
  int blocks = 0;
  while (e.smoothed[0] < 0.98f && blocks < 1000) {
    render(e, 32);
    ++blocks;
  }
  const float ms = static_cast<float>(blocks) * 32.0f / 48.0f;
  EXPECT_GT(ms, 30.0f);
  EXPECT_LT(ms, 33.0f);
  // Smaller changes than a millionth are taken at once.
  e.smoothed[0] = 1.0f - 5e-7f;
  render(e, 32);
  EXPECT_EQ(e.smoothed[0], 1.0f);
  // Every smoothed controller follows its own input.
  e.settings.cc = {20, 21, 22};
  e.set_pressure(0.5f);
  e.set_cc(21, 0.25f);
  render(e, 9600);
  EXPECT_NEAR(e.smoothed[1], 0.5f, 1e-6f);
  EXPECT_EQ(e.smoothed[2], 0.0f);
  EXPECT_NEAR(e.smoothed[3], 0.25f, 1e-6f);
}

TEST(EngineModulation, ModValuesReportTheLatestSoundingVoice) {
  Engine e(48000.0f);
  e.table = constant_table(1.0f);
  e.settings.cc = {20, 21, 22};
  e.set_mod_wheel(0.5f);
  e.set_cc(22, 1.0f);
  render(e, 9600);
  ModValues idle = e.mod_values();
  EXPECT_EQ(idle[0], e.lfo_out[0]);
  EXPECT_EQ(idle[2], e.lfo_out[2]);
  for (std::size_t k : {3u, 4u, 5u, 8u}) EXPECT_EQ(idle[k], 0.0f) << k;
  EXPECT_NEAR(idle[6], 0.5f, 1e-6f);
  EXPECT_NEAR(idle[11], 1.0f, 1e-6f);

  e.note_on(84, 0.7f);
  e.note_on(36, 0.3f);
  render(e, 64);
  const ModValues live = e.mod_values();
  const Voice& latest = e.voices[1];
  EXPECT_EQ(live[3], latest.env1.level);
  EXPECT_EQ(live[4], latest.env2.level);
  EXPECT_FLOAT_EQ(live[5], 0.3f);
  EXPECT_FLOAT_EQ(live[8], -24.0f / 72.0f);
  e.reset_voices();
  e.note_on(84, 0.7f);  // an older stamp is gone; the newest sounding voice is reported
  EXPECT_FLOAT_EQ(e.mod_values()[8], 24.0f / 72.0f);
}

TEST(EngineModulation, LivePositionFollowsTheNewestVoice) {
  Engine e(48000.0f);
  e.table = testing::harmonic_table(16, 4);
  e.set_position(0.5f, 0.0f, 0.0f);
  render(e, 32);
  EXPECT_EQ(e.live_position, e.position);  // nothing sounds: the smoothed position
  e.settings.mod.vel = {.x = 0.25f};
  e.note_on(60, 1.0f);
  render(e, 32);
  EXPECT_FLOAT_EQ(e.live_position[0], 0.75f);
}

}  // namespace
}  // namespace quillory::synth
