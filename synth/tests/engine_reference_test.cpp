// The engine's sample passes against a plain per-sample rendering, and a stored golden render of
// a short performance.
//
// To regenerate the golden file after an intended change of the sound, run
//   QUILLORY_WRITE_GOLDEN=1 build/dev/synth/synth_tests --gtest_filter='EngineGolden.*'
// which writes synth/tests/data/engine_golden.f32 (raw little-endian float32) from the plain
// rendering, then commit the file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "../../bench/engine_reference.hpp"
#include "engine_test_util.hpp"
#include "synth/engine.hpp"

namespace quillory::synth {
namespace {

using testing::harmonic_table;

// A performance: setup once, then `cue` before each chunk of `chunk` samples.
struct Scenario {
  const char* name;
  std::function<void(Engine&)> setup;
  std::function<void(Engine&, std::size_t)> cue;
  std::size_t chunks = 60;
  std::size_t chunk = 77;  // not a multiple of the block size, so short blocks occur
};

template <class Render>
std::vector<float> perform(const Scenario& s, float rate, Render render) {
  Engine e(rate);
  s.setup(e);
  std::vector<float> out(s.chunks * s.chunk);
  for (std::size_t k = 0; k < s.chunks; ++k) {
    s.cue(e, k);
    render(e, out.data() + k * s.chunk, s.chunk);
  }
  return out;
}

void engine_render(Engine& e, float* out, std::size_t n) {
  e.render(out, n);
}
void plain_render(Engine& e, float* out, std::size_t n) {
  reference::render(e, out, n);
}

// A sweep that moves the position every chunk and crosses grid cells now and then.
void sweep(Engine& e, std::size_t k) {
  const float t = static_cast<float>(k) * 0.037f;
  e.set_position(0.5f + 0.5f * std::sin(t), 0.5f + 0.5f * std::cos(1.3f * t), t - std::floor(t));
}

void chord(Engine& e) {
  for (std::uint8_t key : {48, 55, 60, 64, 67, 71, 74, 79})
    e.note_on(key, 0.1f * static_cast<float>(key % 10));
}

std::vector<Scenario> scenarios() {
  const TableHandle cube = harmonic_table(32, 4, 3, 2);
  const TableHandle grid = harmonic_table(64, 16, 16);
  const TableHandle line = harmonic_table(128, 5);
  // The shape of grid, other sounds: a switch between the two changes nothing but the samples.
  const TableHandle other_grid = testing::make_table(64, 16, 16, 1, [](std::size_t f, std::size_t i) {
    return std::sin(0.1f * static_cast<float>(i * (f % 3 + 1)));
  });
  return {
      {"still on a grid point",
       [=](Engine& e) {
         e.table = line;
         chord(e);
       },
       [](Engine&, std::size_t) {}},
      {"still between frames of a cube",
       [=](Engine& e) {
         e.table = cube;
         e.set_position(0.3f, 0.6f, 0.4f);
         chord(e);
       },
       [](Engine&, std::size_t) {}},
      {"moving across a grid with low-pass",
       [=](Engine& e) {
         e.table = grid;
         e.settings.filter = {FilterType::LowPass, 800.0f, 0.7f};
         chord(e);
       },
       sweep},
      {"crossfades while moving, high-pass",
       [=](Engine& e) {
         e.table = cube;
         e.settings.filter = {FilterType::HighPass, 300.0f, 0.9f};
         chord(e);
       },
       [=](Engine& e, std::size_t k) {
         sweep(e, k);
         if (k % 9 == 3) e.set_table(k % 2 ? grid : line);
         if (k == 31) e.set_table(cube);  // cuts a running crossfade short
         if (e.retired_table && k % 4 == 0) e.retired_table.reset();
       }},
      {"pitch and position modulation, band-pass, notes coming and going",
       [=](Engine& e) {
         e.table = grid;
         Settings& s = e.settings;
         s.filter = {FilterType::BandPass, 1200.0f, 0.5f};
         s.lfos[0] = {.rate = 7.0f, .shape = LfoShape::Triangle};
         s.lfos[1] = {.rate = 3.0f, .shape = LfoShape::Random};
         s.mod.lfo[0] = {.x = 0.3f, .pitch = 0.2f};
         s.mod.lfo[1] = {.y = 0.4f, .cutoff = 0.3f};
         s.mod.env2 = {.z = 0.5f, .res = 0.3f, .pitch = -0.1f};
         s.adsr = {.a = 0.01f, .d = 0.05f, .s = 0.5f, .r = 0.03f};
       },
       [](Engine& e, std::size_t k) {
         if (k % 5 == 0) e.note_on(static_cast<std::uint8_t>(40 + (k * 7) % 40), 0.8f);
         if (k % 5 == 3) e.note_off(static_cast<std::uint8_t>(40 + ((k - 3) * 7) % 40));
         e.set_pitch_bend(std::sin(static_cast<float>(k) * 0.2f));
       }},
      {"sustained chord, still, while tables, settings and controllers change",
       [=](Engine& e) {
         e.table = grid;
         e.settings = testing::quick_envelope(0.7f);
         e.settings.adsr2 = e.settings.adsr;
         e.set_position(0.3f, 0.6f, 0.4f);
         chord(e);
       },
       [=](Engine& e, std::size_t k) {
         Settings& s = e.settings;
         if (k == 8) e.table = other_grid;  // same shape, no crossfade
         if (k == 10) e.set_table(cube);
         if (k == 54) e.set_table(grid);
         if (k == 14) s.adsr.s = 0.4f;
         if (k == 18) e.set_position(0.7f, 0.2f, 0.9f);
         if (k == 24) s.filter = {FilterType::LowPass, 900.0f, 0.5f};
         if (k == 28) {
           s.mod.wheel = {.x = 0.3f, .pitch = 0.1f};
           e.set_mod_wheel(0.5f);
         }
         if (k == 34) e.set_pitch_bend(0.5f);
         if (k == 40) e.table = line;
         if (k == 46) s.filter.type = FilterType::Off;
         if (k == 50) e.note_off(60);
         if (e.retired_table) e.retired_table.reset();
       }},
      {"hostile amounts",
       [=](Engine& e) {
         e.table = cube;
         constexpr float inf = std::numeric_limits<float>::infinity();
         Settings& s = e.settings;
         s.filter = {FilterType::LowPass, 1e30f, 1e30f};
         s.lfos[0] = {.rate = inf, .shape = LfoShape::Saw};
         s.mod.lfo[0] = {.x = inf, .y = -inf, .cutoff = inf, .res = -inf, .pitch = inf, .amp = inf};
         s.mod.vel = {.pitch = 1e20f, .amp = -1e30f};
         s.tempo = inf;
         chord(e);
       },
       sweep, 10},
  };
}

TEST(EngineReference, SamplePassesMatchThePlainRendering) {
  for (const Scenario& s : scenarios()) {
    const auto fast = perform(s, 48000.0f, engine_render);
    const auto plain = perform(s, 48000.0f, plain_render);
    float worst = 0.0f, loudest = 0.0f;
    for (std::size_t i = 0; i < fast.size(); ++i) {
      ASSERT_TRUE(std::isfinite(fast[i])) << s.name << " sample " << i;
      worst = std::max(worst, std::fabs(fast[i] - plain[i]));
      loudest = std::max(loudest, std::fabs(plain[i]));
    }
    EXPECT_LE(worst, 1e-5f) << s.name;
    if (std::string(s.name) != "hostile amounts") {
      EXPECT_GT(loudest, 0.05f) << s.name;  // the comparison is not between two silences
    }
  }
}

// A short performance: a chord, a table change during it, LFO and envelope routes, a release.
Scenario golden_performance() {
  const TableHandle first = harmonic_table(64, 2, 2, 2);
  const TableHandle second = harmonic_table(64, 4, 1, 1);
  return {"golden",
          [=](Engine& e) {
            e.table = first;
            Settings& s = e.settings;
            s.adsr = {.a = 0.02f, .d = 0.05f, .s = 0.6f, .r = 0.05f};
            s.adsr2 = {.a = 0.08f, .d = 0.1f, .s = 0.2f, .r = 0.1f};
            s.filter = {FilterType::LowPass, 1500.0f, 0.6f};
            s.lfos[0] = {.rate = 4.0f, .shape = LfoShape::Sine};
            s.lfos[1] = {.rate = 2.0f, .shape = LfoShape::Square, .unipolar = true};
            s.mod.lfo[0] = {.x = 0.4f, .pitch = 0.1f};
            s.mod.lfo[1] = {.y = 0.5f};
            s.mod.env2 = {.z = 0.8f, .cutoff = 0.5f};
            s.mod.key = {.cutoff = 1.0f};
            e.note_on(57, 0.9f);
            e.note_on(64, 0.6f);
          },
          [=](Engine& e, std::size_t k) {
            if (k == 20) e.note_on(69, 1.0f);
            if (k == 40) e.set_table(second);
            if (k == 60) e.set_position(1.0f, 0.0f, 0.0f);
            if (k == 100) e.all_off();
          },
          160, 75};  // 12000 samples, 0.25 s
}

std::string golden_path() {
  const char* root = std::getenv("QUILLORY_SOURCE_DIR");
  return std::string(root ? root : ".") + "/synth/tests/data/engine_golden.f32";
}

TEST(EngineGolden, PerformanceMatchesTheStoredRender) {
  const Scenario s = golden_performance();
  const auto plain = perform(s, 48000.0f, plain_render);
  if (std::getenv("QUILLORY_WRITE_GOLDEN")) {
    std::ofstream(golden_path(), std::ios::binary)
        .write(reinterpret_cast<const char*>(plain.data()),
               static_cast<std::streamsize>(plain.size() * sizeof(float)));
  }
  std::ifstream in(golden_path(), std::ios::binary);
  ASSERT_TRUE(in) << "missing " << golden_path();
  std::vector<float> stored(plain.size() + 1);
  in.read(reinterpret_cast<char*>(stored.data()),
          static_cast<std::streamsize>(stored.size() * sizeof(float)));
  ASSERT_EQ(static_cast<std::size_t>(in.gcount()), plain.size() * sizeof(float));
  stored.pop_back();

  const auto fast = perform(s, 48000.0f, engine_render);
  float worst_plain = 0.0f, worst_fast = 0.0f;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    worst_plain = std::max(worst_plain, std::fabs(plain[i] - stored[i]));
    worst_fast = std::max(worst_fast, std::fabs(fast[i] - stored[i]));
  }
  // Room for table building and the maths library to differ in the last bits, not for a change
  // in the sound.
  EXPECT_LE(worst_plain, 1e-4f);
  EXPECT_LE(worst_fast, 1e-4f);
}

}  // namespace
}  // namespace quillory::synth
