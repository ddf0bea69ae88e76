// Rendering: block loop, envelopes, gains, first blocks, filter, crossfades and output guards.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "engine_test_util.hpp"
#include "synth/engine.hpp"

namespace quillory::synth {
namespace {

using testing::constant_table;
using testing::harmonic_table;
using testing::render;

TEST(EngineRender, ZeroSamplesChangeNothing) {
  Engine e(48000.0f);
  e.table = harmonic_table(16, 2);
  e.note_on(60, 1.0f);
  const Voice before = e.voices[0];
  e.render(nullptr, 0);
  EXPECT_FALSE(e.position_ready);
  EXPECT_EQ(e.voices[0].env1, before.env1);
  EXPECT_TRUE(e.voices[0].fresh);
  EXPECT_EQ(e.lfo_phase[0], 0.0f);
}

TEST(EngineRender, HundredSamplesRunAsBlocksOf32_32_32_4) {
  // A retriggered voice ramps gain and pitch across each block, so the block lengths show in
  // the output.
  auto run = [](std::initializer_list<std::size_t> calls) {
    Engine e(48000.0f);
    e.table = harmonic_table(16, 4);
    e.settings.mod.lfo[0].pitch = 0.5f;
    e.settings.lfos[0].rate = 15.0f;
    e.note_on(60, 1.0f);
    render(e, 40);
    e.note_on(60, 0.0f);
    std::vector<float> out;
    for (std::size_t n : calls) {
      const auto part = render(e, n);
      out.insert(out.end(), part.begin(), part.end());
    }
    return out;
  };
  const auto whole = run({100});
  EXPECT_EQ(whole, run({32, 32, 32, 4}));
  EXPECT_NE(whole, run({25, 25, 25, 25}));
  EXPECT_NE(whole, run({50, 50}));  // blocks of 32, 18, 32, 18
}

TEST(EngineRender, FiveMillisecondAttackTakesEightBlocksAt48k) {
  Engine e(48000.0f);
  e.table = constant_table(1.0f);
  e.note_on(60, 1.0f);
  for (int block = 1; block <= 7; ++block) {
    render(e, 32);
    EXPECT_EQ(e.voices[0].env1.stage, EnvStage::Attack) << block;
    EXPECT_NEAR(e.voices[0].env1.level, block * 32.0f / 240.0f, 1e-6f);
  }
  render(e, 32);
  EXPECT_EQ(e.voices[0].env1, (EnvState{1.0f, EnvStage::Decay}));
}

TEST(EngineRender, EnvelopeSegmentsAreStraightLines) {
  const Adsr adsr{.a = 0.1f, .d = 0.2f, .s = 0.5f, .r = 0.4f};
  const struct {
    EnvState from;
    float dt;
    EnvState to;
  } cases[] = {
      {{0.0f, EnvStage::Attack}, 0.05f, {0.5f, EnvStage::Attack}},
      {{0.6f, EnvStage::Attack}, 0.05f, {1.0f, EnvStage::Decay}},  // restarted attack: sooner
      {{1.0f, EnvStage::Decay}, 0.1f, {0.75f, EnvStage::Decay}},
      {{0.6f, EnvStage::Decay}, 0.1f, {0.5f, EnvStage::Sustain}},
      {{0.9f, EnvStage::Sustain}, 0.01f, {0.5f, EnvStage::Sustain}},  // sustain change at once
      {{0.5f, EnvStage::Release}, 0.1f, {0.25f, EnvStage::Release}},  // slope 1/r from any level
      {{0.2f, EnvStage::Release}, 0.1f, {0.0f, EnvStage::Idle}},
      {{0.3f, EnvStage::Idle}, 0.1f, {0.3f, EnvStage::Idle}},
  };
  for (const auto& c : cases) {
    EnvState env = c.from;
    step_envelope(env, adsr, c.dt);
    EXPECT_EQ(env.stage, c.to.stage) << c.from.level;
    EXPECT_NEAR(env.level, c.to.level, 1e-6f) << c.from.level;
  }
  EnvState env{0.0f, EnvStage::Attack};  // times below 1 ms count as 1 ms
  step_envelope(env, {.a = 0.0f, .d = 0.0f, .s = 0.5f, .r = 0.0f}, 0.0005f);
  EXPECT_NEAR(env.level, 0.5f, 1e-6f);
}

TEST(EngineRender, SustainGainIsPointTwoAtFullVelocityAndPointZeroSevenAtZero) {
  for (const auto& [velocity, gain] : {std::pair{1.0f, 0.2f}, std::pair{0.0f, 0.07f}}) {
    Engine e(48000.0f);
    e.table = constant_table(1.0f);
    e.settings = testing::quick_envelope(0.8f);
    e.note_on(60, velocity);
    render(e, 4800);
    EXPECT_EQ(e.voices[0].env1.stage, EnvStage::Sustain);
    EXPECT_FLOAT_EQ(e.voices[0].last_gain, gain);
    const auto out = render(e, 64);
    for (float s : out) ASSERT_NEAR(s, gain, 1e-5f);
  }
}

TEST(EngineRender, FreshVoiceStartsFlatFromPhaseZeroReusedVoiceRamps) {
  Engine e(48000.0f);
  // One frame that rises across the cycle: the first sample shows the phase it was read at.
  e.table = testing::make_table(16, 1, 1, 1,
                                [](std::size_t, std::size_t i) { return i == 0 ? 1.0f : 0.0f; });
  e.settings.adsr = {.a = 4.0f, .d = 1.0f, .s = 1.0f, .r = 1.0f};
  e.settings.mod.env.amp = 0.0f;  // full level while held, so the gain is constant
  e.note_on(69, 1.0f);
  const float gain = 0.25f;
  const Reader r = Reader::at_level(*e.table, mip_level(*e.table, 440.0f, 48000.0f));
  const float first = r.sample(frame_weights(*e.table, 0, 0, 0), 0.0f);
  const auto out = render(e, 32);
  EXPECT_NEAR(out[0], gain * first, 1e-6f);  // read at phase 0, at the block's end gain
  EXPECT_NEAR(e.voices[0].phase, 32.0f * 440.0f / 48000.0f, 1e-5f);

  // Retrigger the sounding voice at half velocity: its first block ramps from the old gain.
  e.table = constant_table(1.0f);
  render(e, 32);
  e.note_on(69, 0.0f);
  const auto ramp = render(e, 32);
  const float end = 0.35f * 0.25f;
  for (std::size_t i = 0; i < 32; ++i) {
    const float t = static_cast<float>(i + 1) / 32.0f;
    EXPECT_NEAR(ramp[i], gain + (end - gain) * t, 1e-5f) << i;
  }
}

TEST(EngineRender, FilterCutoffAndResonanceAreClamped) {
  const auto same = [](const FilterCoefficients& a, const FilterCoefficients& b) {
    return a.k == b.k && a.a1 == b.a1 && a.a2 == b.a2 && a.a3 == b.a3;
  };
  EXPECT_TRUE(same(filter_coefficients(20000.0f, 0.2f, 44100.0f),
                   filter_coefficients(0.45f * 44100.0f, 0.2f, 44100.0f)));
  EXPECT_TRUE(
      same(filter_coefficients(5.0f, 0.2f, 44100.0f), filter_coefficients(20.0f, 0.2f, 44100.0f)));
  EXPECT_TRUE(same(filter_coefficients(1000.0f, 1.7f, 44100.0f),
                   filter_coefficients(1000.0f, 1.0f, 44100.0f)));
  EXPECT_TRUE(same(filter_coefficients(1000.0f, -0.5f, 44100.0f),
                   filter_coefficients(1000.0f, 0.0f, 44100.0f)));
  EXPECT_NEAR(filter_coefficients(1000.0f, 1.0f, 44100.0f).k, 0.04f, 1e-6f);
  // Below about 44.5 Hz the range is empty: the upper limit wins and the result is usable.
  const auto low = filter_coefficients(1000.0f, 0.5f, 10.0f);
  EXPECT_TRUE(std::isfinite(low.a1) && std::isfinite(low.a3));
}

// Gain (RMS out / RMS in) of a filter mode for a sine at f after it settles.
template <FilterType type>
float settled_gain(float f, float cutoff, float resonance) {
  const float rate = 48000.0f;
  const auto c = filter_coefficients(cutoff, resonance, rate);
  std::array<float, 2> state{};
  double in = 0.0, out = 0.0;
  for (int i = 0; i < 48000; ++i) {
    const float x = std::sin(2.0f * std::numbers::pi_v<float> * f * static_cast<float>(i) / rate);
    const float y = filter_sample<type>(c, state, x);
    if (i < 24000) continue;
    in += x * x;
    out += y * y;
  }
  return static_cast<float>(std::sqrt(out / in));
}

TEST(EngineRender, FilterModesHaveTheirTextbookGains) {
  EXPECT_NEAR(settled_gain<FilterType::LowPass>(50.0f, 2000.0f, 0.0f), 1.0f, 0.01f);
  EXPECT_NEAR(settled_gain<FilterType::LowPass>(2000.0f, 2000.0f, 0.0f), 0.5f, 0.01f);  // k = 2
  EXPECT_LT(settled_gain<FilterType::LowPass>(16000.0f, 1000.0f, 0.0f), 0.01f);
  EXPECT_NEAR(settled_gain<FilterType::HighPass>(16000.0f, 200.0f, 0.0f), 1.0f, 0.01f);
  EXPECT_LT(settled_gain<FilterType::HighPass>(20.0f, 2000.0f, 0.0f), 0.001f);
  EXPECT_NEAR(settled_gain<FilterType::BandPass>(1000.0f, 1000.0f, 0.5f), 1.0f, 0.01f);
  EXPECT_GT(settled_gain<FilterType::LowPass>(1000.0f, 1000.0f, 1.0f), 20.0f);  // rings at q = 1
}

TEST(EngineRender, ResonantFilterStaysFiniteOnAHarshInput) {
  Engine e(48000.0f);
  e.table = testing::make_table(64, 1, 1, 1,
                                [](std::size_t, std::size_t i) { return i < 32 ? 1.0f : -1.0f; });
  e.settings.filter = {FilterType::LowPass, 400.0f, 1.0f};
  e.settings.mod.lfo[0].res = 5.0f;  // pushes resonance beyond 1 and below 0
  e.settings.lfos[0].rate = 20.0f;
  for (std::uint8_t k = 30; k < 38; ++k) e.note_on(k, 1.0f);
  float peak = 0.0f;
  for (int block = 0; block < 200; ++block)
    for (float s : render(e, 480)) {
      ASSERT_TRUE(std::isfinite(s));
      peak = std::max(peak, std::fabs(s));
    }
  EXPECT_GT(peak, 1.0f);  // it does ring
  for (const Voice& v : e.voices) EXPECT_TRUE(std::isfinite(v.filter_state[0]));
}

TEST(EngineRender, TableChangeCrossfadesOverTenMillisecondsWithoutAGap) {
  Engine e(44100.0f);
  const TableHandle a = constant_table(1.0f), b = constant_table(-1.0f);
  e.table = a;
  e.settings.mod.env.amp = 0.0f;  // constant gain 0.25 while held
  e.note_on(60, 1.0f);
  render(e, 64);
  EXPECT_EQ(e.set_table(b), nullptr);
  const auto out = render(e, 512);
  for (std::size_t i = 0; i < 512; ++i) {
    const float c = std::min(static_cast<float>(i + 1) / 441.0f, 1.0f);
    ASSERT_NEAR(out[i], 0.25f * (1.0f - 2.0f * c), 1e-5f) << i;  // from +0.25 to -0.25
  }
  EXPECT_EQ(e.fading_table, nullptr);
  EXPECT_EQ(e.retired_table, a);  // parked for the Processor, not released

  // The next crossfade ends while a is still parked: b is kept, not released, until a is taken.
  e.set_table(a);
  render(e, 512);
  EXPECT_EQ(e.fading_table, b);
  EXPECT_EQ(e.retired_table, a);
  for (float s : render(e, 32)) EXPECT_NEAR(s, 0.25f, 1e-5f);  // already fully on the new table
  e.retired_table.reset();
  render(e, 32);
  EXPECT_EQ(e.retired_table, b);
  EXPECT_EQ(e.fading_table, nullptr);
}

TEST(EngineRender, TableChangeWhileSilentIsImmediate) {
  Engine e(48000.0f);
  const TableHandle a = constant_table(1.0f), b = constant_table(-1.0f);
  e.table = a;
  EXPECT_EQ(e.set_table(b), a);
  e.note_on(60, 1.0f);
  e.settings.mod.env.amp = 0.0f;
  for (float s : render(e, 64)) EXPECT_NEAR(s, -0.25f, 1e-5f);
}

TEST(EngineRender, WithoutATableEnvelopesKeepTimeInSilence) {
  Engine e(48000.0f);
  e.note_on(60, 1.0f);
  for (float s : render(e, 256)) EXPECT_EQ(s, 0.0f);
  EXPECT_EQ(e.voices[0].env1.stage, EnvStage::Decay);  // attack of 5 ms done
  EXPECT_TRUE(e.voices[0].fresh);
  EXPECT_EQ(e.voices[0].phase, 0.0f);
}

TEST(EngineRender, PitchAboveHalfTheRateReadsTheLastLevel) {
  Engine e(8000.0f);
  e.table = harmonic_table(64, 1);
  e.note_on(127, 1.0f);  // 12.5 kHz
  const VoicePlan p = e.plan_voice(e.voices[0], *e.table, nullptr, 0.004f);
  EXPECT_EQ(p.reader.offset, e.table->offsets().back());
  EXPECT_EQ(p.reader.len, e.table->lengths().back());
}

TEST(EngineRender, NonFiniteValuesNeverReachTheOutputOrStickInAVoice) {
  constexpr float inf = std::numeric_limits<float>::infinity();
  Engine e(48000.0f);
  e.table = harmonic_table(32, 4, 2);
  const Settings sane = e.settings;
  e.settings.filter = {FilterType::BandPass, inf, inf};
  e.settings.lfos[0] = {.rate = inf, .shape = LfoShape::Saw};
  e.settings.mod.lfo[0] = {.x = inf, .y = -inf, .cutoff = inf, .res = inf, .pitch = inf};
  e.settings.mod.vel = {.z = inf, .pitch = -inf, .amp = inf};
  e.settings.tempo = inf;
  for (std::uint8_t k = 50; k < 58; ++k) e.note_on(k, 1.0f);
  for (int block = 0; block < 20; ++block)
    for (float s : render(e, 100)) ASSERT_TRUE(std::isfinite(s));
  // Back to sane settings, the same voices sound again.
  e.settings = sane;
  render(e, 4800);
  float peak = 0.0f;
  for (float s : render(e, 4800)) peak = std::max(peak, std::fabs(s));
  EXPECT_GT(peak, 0.1f);
  for (const Voice& v : e.voices) EXPECT_TRUE(std::isfinite(v.phase) && v.phase < 1.0f);
}

TEST(EngineRender, TinyOutputIsFlushedToZero) {
  Engine e(48000.0f);
  e.table = constant_table(1e-21f);
  e.settings.mod.env.amp = 0.0f;
  e.note_on(60, 1.0f);
  for (float s : render(e, 64)) EXPECT_EQ(s, 0.0f);
}

}  // namespace
}  // namespace quillory::synth
