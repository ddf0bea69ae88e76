// The parameter value store: clamping and rounding, the editor's no-op threshold and change
// flags, the epochs, and the mapping to and from the synth settings record.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "core/param_values.hpp"

namespace quillory::core {
namespace {

using synth::Settings;

std::size_t row(std::uint32_t id) {
  return index_of(id).value();
}

std::vector<std::size_t> taken(ParamValues& values) {
  std::vector<std::size_t> indices;
  values.take_editor_changes([&](std::size_t i) { indices.push_back(i); });
  return indices;
}

TEST(ParamValues, FreshStoreHoldsDefaultsAndStartingEpochs) {
  ParamValues values;
  for (std::size_t i = 0; i < param_count; ++i) {
    EXPECT_EQ(values.get(i), param_table[i].default_value) << param_table[i].name;
  }
  EXPECT_EQ(values.epoch(), 1u);
  EXPECT_EQ(values.editor_epoch(), 0u);
  EXPECT_TRUE(taken(values).empty());
}

TEST(ParamValues, LookupsByIdAndPosition) {
  ParamValues values;
  values.set(0, 0.25f);
  values.set(2, 0.75f);
  EXPECT_EQ(values.val(201), 2000.0f);
  EXPECT_EQ(values.get_id(430), 1.0f);
  EXPECT_EQ(values.val(4), 0.0f) << "no row has id 4";
  EXPECT_FALSE(values.get_id(4).has_value());
  EXPECT_EQ(values.position(), (std::array<float, 3>{0.25f, 0.0f, 0.75f}));
  EXPECT_EQ(values.get(param_count), 0.0f) << "an index past the table reads as 0";
}

TEST(ParamValues, SetClampsRoundsSteppedRowsAndMovesTheEpoch) {
  const float infinity = std::numeric_limits<float>::infinity();
  struct Case {
    std::uint32_t id;
    float given, stored;
  };
  const Case cases[] = {
      {200, 2.5f, 3.0f},                               // Filter Type: halves away from zero
      {200, -0.5f, 0.0f},                              // clamped first, then rounded
      {200, 7.0f, 3.0f},                               //
      {200, 1.49f, 1.0f},                              //
      {520, 64.5f, 65.0f},                             // CC A Number: a Controller row rounds too
      {520, 300.0f, 127.0f},                           //
      {1, 1.5f, 1.0f},                                 // Position X
      {1, -1.0f, 0.0f},                                //
      {1, 0.3f, 0.3f},                                 // Linear rows are not rounded
      {201, 5.0f, 20.0f},                              // Filter Cutoff
      {201, infinity, 20000.0f}, {405, -2.0f, -1.0f},  // LFO 1 → Pitch
      {430, -0.5f, 0.0f},                              // Env 1 → Amp has min 0
  };
  ParamValues values;
  for (const Case& c : cases) {
    const std::uint32_t before = values.epoch();
    values.set(row(c.id), c.given);
    EXPECT_EQ(values.val(c.id), c.stored) << "id " << c.id << " given " << c.given;
    EXPECT_EQ(values.epoch(), before + 1);
  }
  const std::uint32_t before = values.epoch();
  values.set(row(201), 20000.0f);
  EXPECT_EQ(values.epoch(), before + 1) << "an unchanged value still moves the epoch";
  EXPECT_TRUE(taken(values).empty()) << "the host path flags nothing";
}

TEST(ParamValues, SetWithNanStoresNothingAndLeavesTheEpoch) {
  ParamValues values;
  values.set(row(201), std::numeric_limits<float>::quiet_NaN());
  values.set_from_editor(row(201), std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(values.val(201), 2000.0f);
  EXPECT_EQ(values.epoch(), 1u);
  EXPECT_TRUE(taken(values).empty());
}

TEST(ParamValues, EditorEditWithinEpsilonIsANoOp) {
  ParamValues values;
  values.set(row(102), 1.0f);  // Env 1 Sustain
  values.set(row(201), 2000.0f);
  const std::uint32_t epoch = values.epoch();
  values.set_from_editor(row(102), 1.0f + 1e-8f);
  values.set_from_editor(row(102), 5.0f);        // clamps to the current 1
  values.set_from_editor(row(201), 2000.0001f);  // relative: within 2000 * epsilon
  EXPECT_EQ(values.epoch(), epoch);
  EXPECT_EQ(values.editor_epoch(), 0u);
  EXPECT_TRUE(taken(values).empty());

  values.set_from_editor(row(201), 2000.5f);
  EXPECT_EQ(values.val(201), 2000.5f);
  EXPECT_EQ(taken(values), std::vector<std::size_t>{row(201)});
}

TEST(ParamValues, EditorEditComparesBeforeRounding) {
  ParamValues values;
  values.set(row(301), 1.0f);  // LFO 1 Shape
  const std::uint32_t epoch = values.epoch();
  values.set_from_editor(row(301), 1.2f);
  EXPECT_EQ(values.val(301), 1.0f);
  EXPECT_EQ(values.epoch(), epoch + 1);
  EXPECT_EQ(values.editor_epoch(), values.epoch());
  EXPECT_EQ(taken(values), std::vector<std::size_t>{row(301)});
}

TEST(ParamValues, EditorEpochTellsTheEditorWhetherToRefresh) {
  ParamValues values;
  values.set_from_editor(0, 0.5f);
  values.set_from_editor(1, 0.5f);
  EXPECT_EQ(values.editor_epoch(), values.epoch()) << "the editor's own edits are not echoed";
  values.set(2, 0.5f);
  EXPECT_NE(values.editor_epoch(), values.epoch()) << "a host change is sent to the editor";
}

TEST(ParamValues, EditorChangesAreTakenOnceInIndexOrder) {
  ParamValues values;
  for (std::size_t i : {50u, 3u, 20u, 3u}) {
    values.set_from_editor(i, param_table[i].max);
    values.set_from_editor(i, param_table[i].min);
  }
  EXPECT_EQ(taken(values), (std::vector<std::size_t>{3, 20, 50}));
  EXPECT_TRUE(taken(values).empty());
}

TEST(ParamValues, SnapshotListsEveryIdWithItsValue) {
  ParamValues values;
  values.set(row(440), 0.5f);
  const auto entries = values.snapshot();
  ASSERT_EQ(entries.size(), param_count);
  for (std::size_t i = 0; i < param_count; ++i) {
    EXPECT_EQ(entries[i].first, param_table[i].id);
    EXPECT_EQ(entries[i].second, values.get(i));
  }
  EXPECT_EQ(entries[63], (std::pair<std::uint32_t, float>{440, 0.5f}));
}

TEST(ParamValues, SyncIndexIsTheNearestDivisionOnALogScale) {
  const std::pair<float, int> cases[] = {
      {0.7f, 8},  {0.72f, 9},  {0.0f, 0},
      {-1.0f, 0}, {100.0f, 1}, {32.0f, 1},
      {1.0f, 7},  {0.1f, 15},  {std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const auto& [beats, index] : cases) EXPECT_EQ(sync_index(beats), index) << beats;
  for (std::size_t i = 0; i < sync_divisions.size(); ++i) {
    EXPECT_EQ(sync_index(sync_divisions[i].beats), static_cast<int>(i) + 1);
  }
}

TEST(ParamValues, SettingsOfAFreshStoreAreTheDefaultRecord) {
  ParamValues values;
  const Settings s = values.settings();
  EXPECT_EQ(s, Settings{});
  EXPECT_EQ(s.adsr, (synth::Adsr{0.005f, 0.2f, 0.8f, 0.25f}));
  EXPECT_EQ(s.filter, (synth::Filter{synth::FilterType::Off, 2000.0f, 0.2f}));
  EXPECT_EQ(s.lfos[0].rate, 0.5f);
  EXPECT_EQ(s.lfos[1].rate, 2.0f);
  EXPECT_EQ(s.lfos[1].shape, synth::LfoShape::Triangle);
  EXPECT_EQ(s.lfos[2].rate, 0.1f);
  EXPECT_EQ(s.cc, (std::array<std::uint8_t, 3>{16, 17, 18}));
  EXPECT_EQ(s.mod.env.amp, 1.0f);
  EXPECT_EQ(s.tempo, 120.0f);
}

// The Route of source s (LFO 1..3, Env 1, Env 2, Velocity, Mod Wheel, Pressure, Key, CC A..C).
template <class S>
auto& route(S& s, int source) {
  if (source < 3) return s.mod.lfo[source];
  if (source >= 9) return s.mod.cc[source - 9];
  const std::array singles{&s.mod.env,   &s.mod.env2,     &s.mod.vel,
                           &s.mod.wheel, &s.mod.pressure, &s.mod.key};
  return *singles[source - 3];
}

TEST(ParamValues, EveryModulationAmountFeedsItsRoute) {
  // Destinations x, y, z, cutoff, res, pitch, amp. LFO blocks hold them at base + 0..6; every
  // other block holds amp at its base id and x..pitch at base + 1..6.
  for (int source = 0; source < 12; ++source) {
    for (int d = 0; d < 7; ++d) {
      const std::uint32_t offset = source < 3 ? d : (d == 6 ? 0 : d + 1);
      const std::uint32_t id = 400 + 10 * source + offset;
      ParamValues values;
      values.set(row(id), 0.5f);
      const Settings settings = values.settings();
      const synth::Route& r = route(settings, source);
      const float amounts[] = {r.x, r.y, r.z, r.cutoff, r.res, r.pitch, r.amp};
      EXPECT_EQ(amounts[d], 0.5f) << "id " << id;
    }
  }
}

TEST(ParamValues, SettingsConvertChoicesAndControllers) {
  ParamValues values;
  values.set(row(200), 2);   // High-pass
  values.set(row(321), 4);   // LFO 3 Random
  values.set(row(312), 1);   // LFO 2 Unipolar
  values.set(row(303), 8);   // LFO 1 synced to 1/4T
  values.set(row(323), 15);  // LFO 3 synced to 1/32
  values.set(row(522), 74.4f);
  const Settings s = values.settings();
  EXPECT_EQ(s.filter.type, synth::FilterType::HighPass);
  EXPECT_EQ(s.lfos[2].shape, synth::LfoShape::Random);
  EXPECT_TRUE(s.lfos[1].unipolar);
  EXPECT_FALSE(s.lfos[0].unipolar);
  EXPECT_EQ(s.lfos[0].sync, 2.0f / 3.0f);
  EXPECT_EQ(s.lfos[1].sync, 0.0f) << "Off: free-running";
  EXPECT_EQ(s.lfos[2].sync, 0.125f);
  EXPECT_EQ(s.cc[2], 74);
}

// A record whose every field is inside its parameter range and differs from the defaults.
Settings edited_record() {
  Settings s;
  s.adsr = {0.01f, 0.5f, 0.4f, 1.5f};
  s.adsr2 = {2.0f, 3.0f, 0.9f, 4.0f};
  s.filter = {synth::FilterType::BandPass, 440.0f, 0.7f};
  s.lfos = {synth::Lfo{1.5f, synth::LfoShape::Saw, true, 0.75f},
            synth::Lfo{3.0f, synth::LfoShape::Square, false, 32.0f},
            synth::Lfo{0.2f, synth::LfoShape::Random, true, 1.0f / 6.0f}};
  float next = -0.9f;
  for (int source = 0; source < 12; ++source) {
    synth::Route& r = route(s, source);
    for (float* f : {&r.x, &r.y, &r.z, &r.cutoff, &r.res, &r.pitch, &r.amp}) {
      *f = next;
      next = next > 0.9f ? -0.85f : next + 0.0625f;
    }
  }
  s.mod.env.amp = 0.6f;  // its row has min 0
  s.cc = {1, 64, 127};
  return s;
}

TEST(ParamValues, SettingsFromTheEditorReadBackUnchanged) {
  ParamValues values;
  const Settings edited = edited_record();
  values.apply_settings_from_editor(edited);
  EXPECT_EQ(values.settings(), edited);
  EXPECT_EQ(values.editor_epoch(), values.epoch());
  EXPECT_EQ(values.position(), (std::array<float, 3>{0, 0, 0})) << "positions are not touched";
}

TEST(ParamValues, SettingsFromTheEditorFlagOnlyWhatChanged) {
  ParamValues values;
  values.apply_settings_from_editor(Settings{});
  EXPECT_EQ(values.epoch(), 1u) << "the default record changes nothing";
  EXPECT_TRUE(taken(values).empty());

  Settings s;
  s.filter.cutoff = 500.0f;
  s.mod.env2.amp = 0.25f;
  s.lfos[1].sync = 0.7f;  // nearest division 1/4T, option 8
  s.tempo = 90.0f;        // not a parameter
  values.apply_settings_from_editor(s);
  EXPECT_EQ(taken(values), (std::vector<std::size_t>{row(201), row(313), row(440)}));
  EXPECT_EQ(values.val(313), 8.0f);
  EXPECT_EQ(values.val(440), 0.25f);
}

TEST(ParamValues, SettingsFromTheEditorAreClampedToTheRows) {
  ParamValues values;
  Settings s;
  s.filter.cutoff = 1e9f;
  s.mod.env.amp = -1.0f;
  s.cc = {200, 0, 255};
  values.apply_settings_from_editor(s);
  EXPECT_EQ(values.val(201), 20000.0f);
  EXPECT_EQ(values.val(430), 0.0f);
  EXPECT_EQ(values.val(520), 127.0f);
  EXPECT_EQ(values.val(522), 127.0f);
}

// A host thread keeps setting every row to its max while an editor thread edits every row to
// values the host never writes, and two more threads drain the editor's changes. The editor edits
// a row again only once its previous edit was reported, so every edit must be reported exactly
// once: never lost, never twice.
TEST(ParamValuesConcurrency, EveryEditorEditIsReportedExactlyOnce) {
  constexpr int rounds = 60;
  ParamValues values;
  std::array<std::atomic<int>, param_count> reported{};
  std::atomic<bool> editing{true};
  // Start where the host leaves every row, so no editor value ever equals the current one (an edit
  // equal to the current value is a no-op and rightly never reported).
  for (std::size_t i = 0; i < param_count; ++i) values.set(i, param_table[i].max);

  std::thread host([&] {
    while (editing.load()) {
      for (std::size_t i = 0; i < param_count; ++i) values.set(i, param_table[i].max);
    }
  });
  // The change report runs both at the end of process and in the parameter flush.
  auto drain = [&] {
    auto take = [&] {
      values.take_editor_changes([&](std::size_t i) {
        reported[i].fetch_add(1);
        std::this_thread::yield();  // a report takes a while: lets the editor run in between
      });
    };
    while (editing.load()) take();
    take();
  };
  std::thread process(drain);
  std::thread flush(drain);
  // Waits for `count` reports of row i; false if they never come (a lost edit).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto reports_reach = [&](std::size_t i, int count) {
    while (reported[i].load() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  };
  bool lost = false;
  for (int round = 0; round < rounds && !lost; ++round) {
    for (std::size_t i = 0; i < param_count && !lost; ++i) {
      lost = !reports_reach(i, round);
      const ParamDef& p = param_table[i];
      values.set_from_editor(i, p.min + (p.max - p.min) * (round % 2 ? 0.75f : 0.25f));
    }
  }
  for (std::size_t i = 0; i < param_count && !lost; ++i) lost = !reports_reach(i, rounds);
  editing.store(false);
  host.join();
  process.join();
  flush.join();
  EXPECT_FALSE(lost) << "an editor edit was never reported";
  for (std::size_t i = 0; i < param_count; ++i) {
    EXPECT_EQ(reported[i].load(), rounds) << param_table[i].name;
  }
}

}  // namespace
}  // namespace quillory::core
