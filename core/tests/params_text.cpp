// Parameter text: the texts shown for values, the values read from typed texts, and the round
// trip from value to text and back on every row.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "core/param_text.hpp"

namespace quillory::core {
namespace {

const ParamDef& row(std::uint32_t id) {
  return param_table[index_of(id).value()];
}

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

TEST(ParamText, DisplayCases) {
  struct Case {
    std::uint32_t id;
    float value;
    const char* text;
  };
  const Case cases[] = {
      {201, 2000.0f, "2.00 kHz"},  // Filter Cutoff
      {201, 440.0f, "440.00 Hz"}, {201, 999.99f, "999.99 Hz"},
      {10, 0.5f, "0.50 Hz"},  // Scan X Speed: a Linear row with a unit
      {100, 0.005f, "5 ms"},  // Env 1 Attack: 0.005f is a little below 5 ms
      {100, 1.5f, "1.50 s"},      {100, 1.0f, "1.00 s"},
      {405, 0.5f, "+6.00 st"},  // LFO 1 → Pitch
      {405, -1.0f, "-24.00 st"},  {405, 0.0f, "+0.00 st"},
      {400, 0.25f, "+25%"},  // LFO 1 → X (min -1: signed)
      {400, 0.0f, "+0%"},         {400, -0.5f, "-50%"},
      {400, -0.001f, "+0%"},  // rounds to zero: no minus sign on a zero
      {102, 0.8f, "80%"},     // Env 1 Sustain (min 0: unsigned)
      {1, 1.0f, "100%"},          {1, -0.0f, "0%"},
      {520, 16.0f, "CC 16"},  // CC A Number
      {520, 16.5f, "CC 17"},      {520, nan, "CC 0"},
      {303, 8.0f, "1/4T"},                                   // LFO 1 Sync
      {303, 0.0f, "Off"},         {200, 2.0f, "High-pass"},  // Filter Type
      {200, 2.5f, "Band-pass"},                              // halves away from zero
      {200, 9.0f, "?"},           {200, -3.0f, "Off"},
      {200, nan, "Off"},          {302, 1.0f, "Unipolar"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(display(row(c.id), c.value), c.text) << row(c.id).name << " " << c.value;
  }
}

TEST(ParamText, DisplayNeverWritesAnExponent) {
  for (const ParamDef& r : param_table) {
    if (r.kind == ParamKind::Choice) continue;  // option names are words
    for (float v : {3.0e38f, -3.0e38f, 1.0e-30f, 123456789.0f}) {
      const std::string text = display(r, v);
      EXPECT_EQ(text.find_first_of("eE"), text.npos) << r.name << ": " << text;
    }
  }
}

TEST(ParamText, ParseCases) {
  struct Case {
    std::uint32_t id;
    const char* text;
    std::optional<float> value;
  };
  const std::optional<float> none;
  const Case cases[] = {
      {201, "2 kHz", 2000.0f},  // Filter Cutoff
      {201, "2KHZ", 2000.0f},
      {201, "2000", 2000.0f},
      {201, "2000 Hz", 2000.0f},
      {201, " 440 hz\t", 440.0f},
      {201, "1e3", 1000.0f},
      {100, "5 ms", 0.005f},  // Env 1 Attack
      {100, "5 s", 5.0f},
      {100, "5", 5.0f},
      {100, "5\u00a0ms", 0.005f},  // a no-break space counts as white space
      {100, "ms", none},
      {100, "", none},
      {100, "   ", none},
      {100, "inf", none},
      {100, "+-5", none},
      {100, "\xff", none},   // not UTF-8
      {405, "+6 st", 0.5f},  // LFO 1 → Pitch
      {405, "-24", -1.0f},
      {405, "48", 1.0f},
      {405, "0 st", 0.0f},
      {400, "25%", 0.25f},  // LFO 1 → X
      {400, "-50 %", -0.5f},
      {400, "25", 25.0f},  // a bare number is in plain units
      {400, "%", none},
      {102, "80 µ%", 0.8f},   // any alphabetic letter before the % is dropped
      {520, "CC 74", 74.0f},  // CC A Number
      {520, "cc74", 74.0f},
      {520, "74", 74.0f},
      {520, "200", 127.0f},
      {520, "-3", 0.0f},
      {520, "cccc5", 5.0f},
      {520, "73.5", 74.0f},
      {520, "CC", none},
      {303, "1/4t", 8.0f},  // LFO 1 Sync
      {303, " 1/8. ", 9.0f},
      {303, "bars", none},
      {303, "7", 7.0f},
      {200, "high-pass", 2.0f},  // Filter Type
      {200, "HIGH-PASS", 2.0f},
      {200, "2.5", 2.5f},  // a number on a Choice row is returned unchanged
      {200, "notch", none},
      {200, "nan", none},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse(row(c.id), c.text), c.value) << row(c.id).name << " \"" << c.text << "\"";
  }
}

// What display keeps of a value, so the round trip can be compared at the text's precision:
// the shown quantity and half a unit in its last printed place.
struct Shown {
  double quantity, half_step;
};

Shown shown(const ParamDef& r, float value) {
  const double v = value;
  switch (r.kind) {
    case ParamKind::Choice:
    case ParamKind::Controller:
      return {std::round(v), 0.0};
    case ParamKind::Pitch:
      return {24 * v * std::fabs(v), 0.005};
    default:
      break;
  }
  if (r.unit == "s") return v < 1 ? Shown{v * 1000, 0.5} : Shown{v, 0.005};
  if (r.unit == "Hz") return v >= 1000 ? Shown{v / 1000, 0.005} : Shown{v, 0.005};
  return {v * 100, 0.5};
}

TEST(ParamText, EveryRowReadsBackWhatItShows) {
  for (const ParamDef& r : param_table) {
    for (int step = 0; step <= 16; ++step) {
      const float value = r.min + (r.max - r.min) * static_cast<float>(step) / 16.0f;
      const std::string text = display(r, value);
      const auto read = parse(r, text);
      ASSERT_TRUE(read.has_value()) << r.name << ": \"" << text << "\"";
      const Shown want = shown(r, value);
      const Shown got = shown(r, *read);
      EXPECT_NEAR(got.quantity, want.quantity, want.half_step + 1e-6 * std::fabs(want.quantity))
          << r.name << ": " << value << " shown \"" << text << "\" read " << *read;
    }
  }
}

}  // namespace
}  // namespace quillory::core
