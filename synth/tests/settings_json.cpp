// The settings record's JSON form: the exact text written for the default record, round trips,
// and the reader's accept and reject rules.

#include "synth/settings_json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

namespace quillory::synth {
namespace {

// The minimal record the page may send: every optional key left out.
constexpr std::string_view minimal =
    R"({"adsr":{"a":0.01,"d":0.1,"s":0.5,"r":0.2},)"
    R"("lfos":[{"rate":1,"shape":"saw"},{"rate":1,"shape":"square"},{"rate":1,"shape":"random"}],)"
    R"("mod":{"lfo":[{},{},{}],"env":{"amp":1}}})";

// `text` with the first occurrence of `from` replaced by `to`.
std::string edit(std::string text, std::string_view from, std::string_view to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}
std::string minimal_with(std::string_view from, std::string_view to) {
  return edit(std::string(minimal), from, to);
}
// `minimal` with more top-level members.
std::string minimal_and(std::string_view members) {
  return minimal_with("}}}", "}}," + std::string(members) + "}");
}

TEST(SettingsJson, DefaultRecordIsWrittenWithSortedKeysAndWidenedFloats) {
  const std::string zero =
      R"({"amp":0.0,"cutoff":0.0,"pitch":0.0,"res":0.0,"x":0.0,"y":0.0,"z":0.0})";
  const std::string env =
      R"({"amp":1.0,"cutoff":0.0,"pitch":0.0,"res":0.0,"x":0.0,"y":0.0,"z":0.0})";
  const std::string three = "[" + zero + "," + zero + "," + zero + "]";
  const std::string expected =
      R"({"adsr":{"a":0.004999999888241291,"d":0.20000000298023224,"r":0.25,"s":0.800000011920929},)"
      R"("adsr2":{"a":0.30000001192092896,"d":0.800000011920929,"r":0.6000000238418579,)"
      R"("s":0.30000001192092896},"cc":[16,17,18],)"
      R"("filter":{"cutoff":2000.0,"resonance":0.20000000298023224,"type":"off"},)"
      R"("lfos":[{"rate":0.5,"shape":"sine","sync":0.0,"unipolar":false},)"
      R"({"rate":2.0,"shape":"triangle","sync":0.0,"unipolar":false},)"
      R"({"rate":0.10000000149011612,"shape":"sine","sync":0.0,"unipolar":false}],)"
      R"("mod":{"cc":)" +
      three + R"(,"env":)" + env + R"(,"env2":)" + zero + R"(,"key":)" + zero + R"(,"lfo":)" +
      three + R"(,"pressure":)" + zero + R"(,"vel":)" + zero + R"(,"wheel":)" + zero +
      R"(},"tempo":120.0})";
  EXPECT_EQ(settings_to_json(Settings{}).dump(), expected);
}

TEST(SettingsJson, NonFiniteFloatsAreWrittenAsNull) {
  Settings s;
  s.adsr.a = std::numeric_limits<float>::infinity();
  s.mod.key.pitch = std::numeric_limits<float>::quiet_NaN();
  const auto j = settings_to_json(s);
  EXPECT_TRUE(j["adsr"]["a"].is_null());
  EXPECT_TRUE(j["mod"]["key"]["pitch"].is_null());
  EXPECT_FALSE(settings_from_json(j)) << "null is not a number when read back";
}

// Every field set to a value of its own, so a mixed-up member shows in the round trip.
Settings distinct_record() {
  Settings s;
  float next = 0.5f;
  auto fill = [&](Route& r) {
    for (float* f : {&r.x, &r.y, &r.z, &r.cutoff, &r.res, &r.pitch, &r.amp}) *f = next += 0.25f;
  };
  s.adsr = {0.01f, 0.02f, 0.03f, 0.04f};
  s.adsr2 = {1.1f, 1.2f, 1.3f, 1.4f};
  s.lfos = {Lfo{3.0f, LfoShape::Saw, true, 0.75f}, Lfo{4.0f, LfoShape::Square, false, 2.0f},
            Lfo{5.0f, LfoShape::Random, true, 1.0f / 6.0f}};
  for (auto& r : s.mod.lfo) fill(r);
  for (Route* r : {&s.mod.env, &s.mod.env2, &s.mod.vel, &s.mod.wheel, &s.mod.pressure, &s.mod.key})
    fill(*r);
  for (auto& r : s.mod.cc) fill(r);
  s.filter = {FilterType::BandPass, 12345.6f, 0.9f};
  s.tempo = 97.5f;
  s.cc = {0, 74, 255};
  return s;
}

TEST(SettingsJson, WrittenRecordsReadBackUnchanged) {
  for (const Settings& s : {Settings{}, distinct_record()}) {
    const auto read = read_settings(settings_to_json(s).dump());
    ASSERT_TRUE(read) << read.error();
    EXPECT_EQ(*read, s);
  }
}

TEST(SettingsJson, MinimalRecordTakesFixedDefaultsForOptionalKeys) {
  const auto read = read_settings(minimal);
  ASSERT_TRUE(read) << read.error();
  const Settings defaults;
  EXPECT_EQ(read->adsr, (Adsr{0.01f, 0.1f, 0.5f, 0.2f}));
  EXPECT_EQ(read->adsr2, defaults.adsr2);
  EXPECT_EQ(read->filter, defaults.filter);
  EXPECT_EQ(read->tempo, 120.0f);
  EXPECT_EQ(read->cc, defaults.cc);
  EXPECT_EQ(read->mod, defaults.mod);
  const LfoShape shapes[] = {LfoShape::Saw, LfoShape::Square, LfoShape::Random};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(read->lfos[k], (Lfo{1.0f, shapes[k], false, 0.0f})) << "LFO " << k;
  }
}

TEST(SettingsJson, RouteKeysMapToTheirOwnFields) {
  const auto read = read_settings(minimal_with(
      R"("env":{"amp":1})",
      R"("env":{"x":1,"y":2,"z":3,"cutoff":4,"res":5,"pitch":6},"cc":[{},{},{"amp":7}])"));
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->mod.env, (Route{1, 2, 3, 4, 5, 6, 0})) << "an absent amount is 0, even for env";
  EXPECT_EQ(read->mod.cc[2].amp, 7.0f);
}

TEST(SettingsJson, RecordsAreAlsoReadFromArraysOfTheirFieldValues) {
  const auto read = read_settings(
      R"([[0.01,0.1,0.5,0.2],[1,2,3,4],[[1,"saw"],[2,"sine",true,0.5],[3,"square"]],)"
      R"([[[],[],[0,0,0,0,0,0,0.5]],[0,0,0,0,0,0,1]],["highpass",440,0.5],90,[1,2,3]])");
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->adsr, (Adsr{0.01f, 0.1f, 0.5f, 0.2f}));
  EXPECT_EQ(read->adsr2, (Adsr{1, 2, 3, 4}));
  EXPECT_EQ(read->lfos[1], (Lfo{2.0f, LfoShape::Sine, true, 0.5f}));
  EXPECT_EQ(read->mod.lfo[2].amp, 0.5f);
  EXPECT_EQ(read->mod.env.amp, 1.0f);
  EXPECT_EQ(read->filter, (Filter{FilterType::HighPass, 440.0f, 0.5f}));
  EXPECT_EQ(read->tempo, 90.0f);
  EXPECT_EQ(read->cc, (std::array<std::uint8_t, 3>{1, 2, 3}));
}

struct ReadCase {
  const char* what;
  std::string text;
  bool accepted;
  std::string error_mentions;  // for a rejected text: '|'-separated words its error must contain

  friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.what; }
};

class SettingsJsonRead : public testing::TestWithParam<ReadCase> {};

TEST_P(SettingsJsonRead, AcceptsOrRejectsWithTheFirstProblemNamed) {
  const auto& c = GetParam();
  const auto read = read_settings(c.text);
  if (c.accepted) {
    EXPECT_TRUE(read) << c.what << ": " << read.error();
    return;
  }
  ASSERT_FALSE(read) << c.what;
  std::size_t from = 0;
  for (std::size_t to = 0; to <= c.error_mentions.size(); ++to) {
    if (to < c.error_mentions.size() && c.error_mentions[to] != '|') continue;
    const auto word = c.error_mentions.substr(from, to - from);
    EXPECT_NE(read.error().find(word), std::string::npos)
        << c.what << ": error \"" << read.error() << "\" lacks \"" << word << "\"";
    from = to + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsJsonRead,
    testing::Values(
        ReadCase{"minimal record", std::string(minimal), true, ""},
        ReadCase{"unknown keys at every level",
                 edit(minimal_with(R"("a":0.01)", R"("a":0.01,"attack":3,"extra":{"a":"x"})"),
                      "}}}", R"(}},"zoom":2})"),
                 true, ""},
        ReadCase{"enum as an object holding only its string",
                 minimal_with(R"("shape":"saw")", R"("shape":{"saw":null})"), true, ""},
        ReadCase{"values outside the parameter ranges are kept",
                 edit(minimal_with(R"("a":0.01)", R"("a":-5)"), "}}}", R"(}},"tempo":1e30})"), true,
                 ""},
        ReadCase{"controller numbers up to 255", minimal_and(R"("cc":[0,128,255])"), true, ""},
        ReadCase{"without mod", minimal_with(R"(,"mod":{"lfo":[{},{},{}],"env":{"amp":1}})", ""),
                 false, "mod|missing"},
        ReadCase{"mod without env", minimal_with(R"(,"env":{"amp":1})", ""), false,
                 "mod.env|missing"},
        ReadCase{"two LFOs", minimal_with(R"(,{"rate":1,"shape":"random"})", ""), false,
                 "lfos|3|2"},
        ReadCase{"four mod.lfo routes", minimal_with("[{},{},{}]", "[{},{},{},{}]"), false,
                 "mod.lfo|4"},
        ReadCase{"four controller numbers", minimal_and(R"("cc":[1,2,3,4])"), false, "cc|4"},
        ReadCase{"controller number 256", minimal_and(R"("cc":[1,256,3])"), false, "cc[1]"},
        ReadCase{"negative controller number", minimal_and(R"("cc":[-1,2,3])"), false, "cc[0]"},
        ReadCase{"fractional controller number", minimal_and(R"("cc":[1,2,3.5])"), false, "cc[2]"},
        ReadCase{"unknown filter type",
                 minimal_and(R"("filter":{"type":"notch","cutoff":1,"resonance":0})"), false,
                 "filter.type|notch|off, lowpass, highpass, bandpass"},
        ReadCase{"filter type with capitals",
                 minimal_and(R"("filter":{"type":"LowPass","cutoff":1,"resonance":0})"), false,
                 "LowPass"},
        ReadCase{"unknown shape inside an object", minimal_with(R"("saw")", R"({"ramp":null})"),
                 false, "lfos[0].shape|ramp"},
        ReadCase{"enum object with a value", minimal_with(R"("saw")", R"({"saw":1})"), false,
                 "lfos[0].shape"},
        ReadCase{"enum object with two keys", minimal_with(R"("saw")", R"({"saw":null,"x":null})"),
                 false, "lfos[0].shape"},
        ReadCase{"null amount", minimal_with(R"("amp":1)", R"("amp":null)"), false,
                 "mod.env.amp|number"},
        ReadCase{"text amount", minimal_with(R"("s":0.5)", R"("s":"0.5")"), false, "adsr.s|number"},
        ReadCase{"number for a boolean",
                 minimal_with(R"("shape":"saw")", R"("shape":"saw","unipolar":1)"), false,
                 "lfos[0].unipolar"},
        ReadCase{"duplicate key in a record", minimal_with(R"("a":0.01)", R"("a":0.01,"a":0.02)"),
                 false, "duplicate|\"a\""},
        ReadCase{"duplicate unknown key", minimal_and(R"("x":1,"x":1)"), false, "duplicate"},
        ReadCase{"record array with too many values",
                 minimal_with(R"({"a":0.01,"d":0.1,"s":0.5,"r":0.2})", "[1,2,3,4,5]"), false,
                 "adsr|at most 4"},
        ReadCase{"record array missing a required value",
                 minimal_with(R"({"a":0.01,"d":0.1,"s":0.5,"r":0.2})", "[1,2,3]"), false,
                 "adsr.r|missing"},
        ReadCase{"first of two problems is named",
                 edit(minimal_with(R"("a":0.01)", R"("a":"x")"), "}}}", R"(}},"cc":[1]})"), false,
                 "adsr.a"},
        ReadCase{"not an object", "42", false, "object"},
        ReadCase{"malformed text", R"({"adsr":)", false, "parse"}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::to_string(info.index); });

TEST(SettingsJson, NumbersBeyondSinglePrecisionBecomeInfinity) {
  const auto read = read_settings(minimal_with(R"("a":0.01)", R"("a":1e300)"));
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->adsr.a, std::numeric_limits<float>::infinity());
}

}  // namespace
}  // namespace quillory::synth
