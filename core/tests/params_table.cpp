// The parameter table against the instrument's published list, row by row, and the facts hosts
// rely on: counts, flags, unique ids and lookup by id.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/params.hpp"

namespace quillory::core {
namespace {

const std::vector<std::string> sync_names{"Off",   "8 bars", "4 bars", "2 bars", "1 bar", "1/2",
                                          "1/4.",  "1/4",    "1/4T",   "1/8.",   "1/8",   "1/8T",
                                          "1/16.", "1/16",   "1/16T",  "1/32"};

struct FullRow {
  std::size_t index;
  std::uint32_t id;
  std::string name, module, unit;
  ParamKind kind;
  float min, max, default_value;
  std::vector<std::string> options;
};

TEST(ParamTable, RowsListedInFullMatch) {
  const std::vector<FullRow> rows{
      {0, 1, "Position X", "Position", "", ParamKind::Linear, 0, 1, 0, {}},
      {1, 2, "Position Y", "Position", "", ParamKind::Linear, 0, 1, 0, {}},
      {2, 3, "Position Z", "Position", "", ParamKind::Linear, 0, 1, 0, {}},
      {3, 10, "Scan X Speed", "Position", "Hz", ParamKind::Linear, 0, 4, 0, {}},
      {4, 11, "Scan Y Speed", "Position", "Hz", ParamKind::Linear, 0, 4, 0, {}},
      {5, 12, "Scan Z Speed", "Position", "Hz", ParamKind::Linear, 0, 4, 0, {}},
      {6, 100, "Env 1 Attack", "Envelope 1", "s", ParamKind::Logarithmic, 0.001, 4, 0.005, {}},
      {7, 101, "Env 1 Decay", "Envelope 1", "s", ParamKind::Logarithmic, 0.005, 6, 0.2, {}},
      {8, 102, "Env 1 Sustain", "Envelope 1", "", ParamKind::Linear, 0, 1, 0.8, {}},
      {9, 103, "Env 1 Release", "Envelope 1", "s", ParamKind::Logarithmic, 0.005, 8, 0.25, {}},
      {10, 110, "Env 2 Attack", "Envelope 2", "s", ParamKind::Logarithmic, 0.001, 4, 0.3, {}},
      {11, 111, "Env 2 Decay", "Envelope 2", "s", ParamKind::Logarithmic, 0.005, 6, 0.8, {}},
      {12, 112, "Env 2 Sustain", "Envelope 2", "", ParamKind::Linear, 0, 1, 0.3, {}},
      {13, 113, "Env 2 Release", "Envelope 2", "s", ParamKind::Logarithmic, 0.005, 8, 0.6, {}},
      {14,
       200,
       "Filter Type",
       "Filter",
       "",
       ParamKind::Choice,
       0,
       3,
       0,
       {"Off", "Low-pass", "High-pass", "Band-pass"}},
      {15, 201, "Filter Cutoff", "Filter", "Hz", ParamKind::Logarithmic, 20, 20000, 2000, {}},
      {16, 202, "Filter Resonance", "Filter", "", ParamKind::Linear, 0, 1, 0.2, {}},
      {17, 300, "LFO 1 Rate", "LFO 1", "Hz", ParamKind::Logarithmic, 0.01, 20, 0.5, {}},
      {18,
       301,
       "LFO 1 Shape",
       "LFO 1",
       "",
       ParamKind::Choice,
       0,
       4,
       0,
       {"Sine", "Triangle", "Saw", "Square", "Random"}},
      {19, 302, "LFO 1 Polarity", "LFO 1", "", ParamKind::Choice, 0, 1, 0, {"Bipolar", "Unipolar"}},
      {20, 303, "LFO 1 Sync", "LFO 1", "", ParamKind::Choice, 0, 15, 0, sync_names},
      {21, 310, "LFO 2 Rate", "LFO 2", "Hz", ParamKind::Logarithmic, 0.01, 20, 2, {}},
      {22,
       311,
       "LFO 2 Shape",
       "LFO 2",
       "",
       ParamKind::Choice,
       0,
       4,
       1,
       {"Sine", "Triangle", "Saw", "Square", "Random"}},
      {23, 312, "LFO 2 Polarity", "LFO 2", "", ParamKind::Choice, 0, 1, 0, {"Bipolar", "Unipolar"}},
      {24, 313, "LFO 2 Sync", "LFO 2", "", ParamKind::Choice, 0, 15, 0, sync_names},
      {25, 320, "LFO 3 Rate", "LFO 3", "Hz", ParamKind::Logarithmic, 0.01, 20, 0.1, {}},
      {26,
       321,
       "LFO 3 Shape",
       "LFO 3",
       "",
       ParamKind::Choice,
       0,
       4,
       0,
       {"Sine", "Triangle", "Saw", "Square", "Random"}},
      {27, 322, "LFO 3 Polarity", "LFO 3", "", ParamKind::Choice, 0, 1, 0, {"Bipolar", "Unipolar"}},
      {28, 323, "LFO 3 Sync", "LFO 3", "", ParamKind::Choice, 0, 15, 0, sync_names},
      {113, 520, "CC A Number", "Mod/CC A", "", ParamKind::Controller, 0, 127, 16, {}},
      {114, 521, "CC B Number", "Mod/CC B", "", ParamKind::Controller, 0, 127, 17, {}},
      {115, 522, "CC C Number", "Mod/CC C", "", ParamKind::Controller, 0, 127, 18, {}},
  };
  for (const FullRow& expected : rows) {
    SCOPED_TRACE(expected.name);
    const ParamDef& row = param_table.at(expected.index);
    EXPECT_EQ(row.id, expected.id);
    EXPECT_EQ(row.name, expected.name);
    EXPECT_EQ(row.module, expected.module);
    EXPECT_EQ(row.unit, expected.unit);
    EXPECT_EQ(row.kind, expected.kind);
    EXPECT_FLOAT_EQ(row.min, expected.min);
    EXPECT_FLOAT_EQ(row.max, expected.max);
    EXPECT_FLOAT_EQ(row.default_value, expected.default_value);
    EXPECT_EQ(std::vector<std::string>(row.options.begin(), row.options.end()), expected.options);
  }
}

TEST(ParamTable, EveryRowHasItsNameAndIdInIndexOrder) {
  const std::vector<std::pair<std::string, std::uint32_t>> rows{{"Position X", 1},
                                                                {"Position Y", 2},
                                                                {"Position Z", 3},
                                                                {"Scan X Speed", 10},
                                                                {"Scan Y Speed", 11},
                                                                {"Scan Z Speed", 12},
                                                                {"Env 1 Attack", 100},
                                                                {"Env 1 Decay", 101},
                                                                {"Env 1 Sustain", 102},
                                                                {"Env 1 Release", 103},
                                                                {"Env 2 Attack", 110},
                                                                {"Env 2 Decay", 111},
                                                                {"Env 2 Sustain", 112},
                                                                {"Env 2 Release", 113},
                                                                {"Filter Type", 200},
                                                                {"Filter Cutoff", 201},
                                                                {"Filter Resonance", 202},
                                                                {"LFO 1 Rate", 300},
                                                                {"LFO 1 Shape", 301},
                                                                {"LFO 1 Polarity", 302},
                                                                {"LFO 1 Sync", 303},
                                                                {"LFO 2 Rate", 310},
                                                                {"LFO 2 Shape", 311},
                                                                {"LFO 2 Polarity", 312},
                                                                {"LFO 2 Sync", 313},
                                                                {"LFO 3 Rate", 320},
                                                                {"LFO 3 Shape", 321},
                                                                {"LFO 3 Polarity", 322},
                                                                {"LFO 3 Sync", 323},
                                                                {"LFO 1 → X", 400},
                                                                {"LFO 1 → Y", 401},
                                                                {"LFO 1 → Z", 402},
                                                                {"LFO 1 → Cutoff", 403},
                                                                {"LFO 1 → Resonance", 404},
                                                                {"LFO 1 → Pitch", 405},
                                                                {"LFO 1 → Amp", 406},
                                                                {"LFO 2 → X", 410},
                                                                {"LFO 2 → Y", 411},
                                                                {"LFO 2 → Z", 412},
                                                                {"LFO 2 → Cutoff", 413},
                                                                {"LFO 2 → Resonance", 414},
                                                                {"LFO 2 → Pitch", 415},
                                                                {"LFO 2 → Amp", 416},
                                                                {"LFO 3 → X", 420},
                                                                {"LFO 3 → Y", 421},
                                                                {"LFO 3 → Z", 422},
                                                                {"LFO 3 → Cutoff", 423},
                                                                {"LFO 3 → Resonance", 424},
                                                                {"LFO 3 → Pitch", 425},
                                                                {"LFO 3 → Amp", 426},
                                                                {"Env 1 → Amp", 430},
                                                                {"Env 1 → X", 431},
                                                                {"Env 1 → Y", 432},
                                                                {"Env 1 → Z", 433},
                                                                {"Env 1 → Cutoff", 434},
                                                                {"Env 1 → Resonance", 435},
                                                                {"Env 1 → Pitch", 436},
                                                                {"Env 2 → X", 441},
                                                                {"Env 2 → Y", 442},
                                                                {"Env 2 → Z", 443},
                                                                {"Env 2 → Cutoff", 444},
                                                                {"Env 2 → Resonance", 445},
                                                                {"Env 2 → Pitch", 446},
                                                                {"Env 2 → Amp", 440},
                                                                {"Velocity → Amp", 450},
                                                                {"Velocity → X", 451},
                                                                {"Velocity → Y", 452},
                                                                {"Velocity → Z", 453},
                                                                {"Velocity → Cutoff", 454},
                                                                {"Velocity → Resonance", 455},
                                                                {"Velocity → Pitch", 456},
                                                                {"Mod Wheel → Amp", 460},
                                                                {"Mod Wheel → X", 461},
                                                                {"Mod Wheel → Y", 462},
                                                                {"Mod Wheel → Z", 463},
                                                                {"Mod Wheel → Cutoff", 464},
                                                                {"Mod Wheel → Resonance", 465},
                                                                {"Mod Wheel → Pitch", 466},
                                                                {"Pressure → Amp", 470},
                                                                {"Pressure → X", 471},
                                                                {"Pressure → Y", 472},
                                                                {"Pressure → Z", 473},
                                                                {"Pressure → Cutoff", 474},
                                                                {"Pressure → Resonance", 475},
                                                                {"Pressure → Pitch", 476},
                                                                {"Key → Amp", 480},
                                                                {"Key → X", 481},
                                                                {"Key → Y", 482},
                                                                {"Key → Z", 483},
                                                                {"Key → Cutoff", 484},
                                                                {"Key → Resonance", 485},
                                                                {"Key → Pitch", 486},
                                                                {"CC A → Amp", 490},
                                                                {"CC A → X", 491},
                                                                {"CC A → Y", 492},
                                                                {"CC A → Z", 493},
                                                                {"CC A → Cutoff", 494},
                                                                {"CC A → Resonance", 495},
                                                                {"CC A → Pitch", 496},
                                                                {"CC B → Amp", 500},
                                                                {"CC B → X", 501},
                                                                {"CC B → Y", 502},
                                                                {"CC B → Z", 503},
                                                                {"CC B → Cutoff", 504},
                                                                {"CC B → Resonance", 505},
                                                                {"CC B → Pitch", 506},
                                                                {"CC C → Amp", 510},
                                                                {"CC C → X", 511},
                                                                {"CC C → Y", 512},
                                                                {"CC C → Z", 513},
                                                                {"CC C → Cutoff", 514},
                                                                {"CC C → Resonance", 515},
                                                                {"CC C → Pitch", 516},
                                                                {"CC A Number", 520},
                                                                {"CC B Number", 521},
                                                                {"CC C Number", 522}};
  ASSERT_EQ(rows.size(), param_count);
  for (std::size_t i = 0; i < param_count; ++i) {
    EXPECT_EQ(param_table[i].name, rows[i].first) << "index " << i;
    EXPECT_EQ(param_table[i].id, rows[i].second) << "index " << i;
  }
}

TEST(ParamTable, ModulationRowsFollowTheirSourceAndDestination) {
  const std::string arrow = " → ";
  for (std::size_t i = 29; i <= 112; ++i) {
    const ParamDef& row = param_table[i];
    SCOPED_TRACE(std::string(row.name));
    const std::string name(row.name);
    const auto split = name.find(arrow);
    ASSERT_NE(split, std::string::npos);
    const std::string source = name.substr(0, split);
    const std::string destination = name.substr(split + arrow.size());
    EXPECT_EQ(row.module, "Mod/" + source);
    EXPECT_EQ(row.unit, "");
    EXPECT_EQ(row.kind, destination == "Pitch" ? ParamKind::Pitch : ParamKind::Linear);
    EXPECT_TRUE(row.options.empty());
    const bool env1_amp = row.id == 430;
    EXPECT_EQ(row.min, env1_amp ? 0.0f : -1.0f);
    EXPECT_EQ(row.max, 1.0f);
    EXPECT_EQ(row.default_value, env1_amp ? 1.0f : 0.0f) << "only Env 1 → Amp starts at 1";
  }
}

TEST(ParamTable, HostSeesCountsAndFlags) {
  int hidden = 0, stepped = 0, automatable = 0;
  for (const ParamDef& row : param_table) {
    const std::uint32_t flags = host_flags(row);
    hidden += has_flag(flags, ParamFlag::Hidden);
    stepped += has_flag(flags, ParamFlag::Stepped);
    automatable += has_flag(flags, ParamFlag::Automatable);
    EXPECT_NE(has_flag(flags, ParamFlag::Hidden), has_flag(flags, ParamFlag::Automatable))
        << row.name << ": hidden rows are exactly the ones not automatable";
    EXPECT_EQ(has_flag(flags, ParamFlag::Hidden), is_hidden(row.id)) << row.name;
    EXPECT_EQ(has_flag(flags, ParamFlag::Stepped),
              row.kind == ParamKind::Choice || row.kind == ParamKind::Controller)
        << row.name;
  }
  EXPECT_EQ(param_table.size(), 116u);
  EXPECT_EQ(hidden, 3);
  EXPECT_EQ(stepped, 13);
  EXPECT_EQ(automatable, 113);
  for (std::uint32_t id : {10u, 11u, 12u}) EXPECT_TRUE(is_hidden(id)) << id;
  for (std::uint32_t id : {1u, 9u, 13u, 100u}) EXPECT_FALSE(is_hidden(id)) << id;
}

TEST(ParamTable, IdsAreUniqueAndRangesHoldTheirDefaults) {
  std::set<std::uint32_t> ids;
  for (const ParamDef& row : param_table) {
    EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id " << row.id;
    EXPECT_LE(row.min, row.max) << row.name;
    EXPECT_GE(row.default_value, row.min) << row.name;
    EXPECT_LE(row.default_value, row.max) << row.name;
    if (row.kind == ParamKind::Choice) {
      EXPECT_EQ(row.options.size(), static_cast<std::size_t>(row.max) + 1) << row.name;
    }
  }
}

TEST(ParamTable, IndexOfFindsIdsAndRejectsOthers) {
  EXPECT_EQ(index_of(440), 63u) << "Env 2 → Amp: last row of its block, base id";
  EXPECT_EQ(index_of(441), 57u);
  EXPECT_EQ(index_of(1), 0u);
  EXPECT_EQ(index_of(522), 115u);
  const std::uint32_t invalid_id = 0xFFFFFFFF;
  for (std::uint32_t id : {0u, 4u, 13u, 99u, 407u, 523u, invalid_id}) {
    EXPECT_FALSE(index_of(id).has_value()) << id;
  }
  for (std::size_t i = 0; i < param_count; ++i) EXPECT_EQ(index_of(param_table[i].id), i);
}

TEST(ParamTable, SyncDivisionsMatchTheSyncOptions) {
  const float beats[] = {32,    16,   8,        4,      2,     1.5f,     1,     2.0f / 3,
                         0.75f, 0.5f, 1.0f / 3, 0.375f, 0.25f, 1.0f / 6, 0.125f};
  ASSERT_EQ(sync_divisions.size(), 15u);
  for (std::size_t i = 0; i < sync_divisions.size(); ++i) {
    EXPECT_EQ(sync_divisions[i].name, sync_names[i + 1]);
    EXPECT_EQ(sync_divisions[i].beats, beats[i]) << sync_divisions[i].name;
  }
  EXPECT_EQ(sync_divisions[7].beats, 0.6666667f);
  EXPECT_EQ(sync_divisions[10].beats, 0.33333334f);
  EXPECT_EQ(sync_divisions[13].beats, 0.16666667f);
}

}  // namespace
}  // namespace quillory::core
