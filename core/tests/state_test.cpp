#include "core/state.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "core/base64.hpp"
#include "core/default_table.hpp"
#include "core/param_values.hpp"
#include "core/params.hpp"
#include "core/tables.hpp"

namespace quillory::core {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

float value_of(const ParamValues& values, std::uint32_t id) {
  return values.get(*index_of(id));
}

bool same_bits(std::span<const float> a, std::span<const float> b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size_bytes()) == 0;
}

// A fresh instance's two halves.
struct Instance {
  ParamValues values;
  Tables tables{default_table()};
};

TEST(StateSave, FreshInstanceDocumentIsExact) {
  Instance fresh;
  const auto document = save(fresh.values, fresh.tables);
  ASSERT_TRUE(document) << document.error();
  const std::string& text = *document;

  EXPECT_TRUE(text.starts_with(R"({"version":1,"params":{"1":0,"10":0,"100":0.005,)")) << text;

  // The table object closes the document; the built-in table's 40,960 bytes need 13,654 groups,
  // the last of them padded with "==".
  const std::string data = samples_b64(default_table().data);
  EXPECT_EQ(data.size(), 4u * 13654);
  EXPECT_TRUE(data.ends_with("==") && !data.ends_with("==="));
  const std::string table_text =
      R"(},"table":{"name":"Built-in","frameSize":2048,"rows":1,"layers":1,"data":")" + data +
      "\"}}";
  ASSERT_TRUE(text.ends_with(table_text));

  // Every parameter once, keys sorted as text, each value reading back as the default exactly.
  const std::size_t open = text.find(R"("params":{)") + 10;
  std::string_view params(text.data() + open, text.size() - table_text.size() - open);
  std::vector<std::string> keys;
  while (!params.empty()) {
    const std::size_t colon = params.find(':'), comma = params.find(',');
    const std::string key(params.substr(1, colon - 2));
    const std::string_view number =
        params.substr(colon + 1, comma == params.npos ? params.npos : comma - colon - 1);
    std::uint32_t id = 0;
    float value = kNaN;
    std::from_chars(key.data(), key.data() + key.size(), id);
    std::from_chars(number.data(), number.data() + number.size(), value);
    ASSERT_TRUE(index_of(id)) << key;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(value),
              std::bit_cast<std::uint32_t>(param_table[*index_of(id)].default_value))
        << key << " " << number;
    keys.push_back(key);
    params.remove_prefix(comma == params.npos ? params.size() : comma + 1);
  }
  EXPECT_EQ(keys.size(), 116u);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
}

TEST(StateSave, EscapesTheNameAndKeepsValidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", R"("plain")"},
      {"a\"b\\c/d", R"("a\"b\\c/d")"},
      {"\b\f\n\r\t\x01\x1f\x7f", R"("\b\f\n\r\t\u0001\u001f)"
                                 "\x7f\""},
      {"é → 𝄞", "\"é → 𝄞\""},
      {"bad\xff\xc3(", "\"bad\xEF\xBF\xBD\xEF\xBF\xBD(\""},  // not UTF-8: U+FFFD per byte
      {"", "\"\""},
  };
  for (const auto& [name, written] : cases) {
    Instance instance;
    ASSERT_TRUE(instance.tables.install({name, std::vector<float>(8, 0.5f), 4, 1, 1}));
    const auto document = save(instance.values, instance.tables);
    ASSERT_TRUE(document);
    EXPECT_NE(document->find(R"("name":)" + written + R"(,"frameSize":4,)"), std::string::npos)
        << name;
  }
}

TEST(StateRoundTrip, RestoresEveryValueAndSampleBitForBit) {
  std::mt19937 rng(11);
  for (int round = 0; round < 5; ++round) {
    Instance saved;
    for (std::size_t i = 0; i < param_count; ++i) {
      const auto& def = param_table[i];
      std::uniform_real_distribution<float> in_range(def.min, def.max);
      // -0 where the range spans zero, so clamping leaves it as it is.
      saved.values.set(i, round == 0 && def.min < 0 ? -0.0f : in_range(rng));
    }
    // Random bit patterns (NaNs of every payload included) and the special values.
    const std::size_t frame_size = 16, rows = 2, layers = 3;
    std::vector<float> samples(frame_size * rows * layers * (1 + round));
    for (auto& s : samples) s = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    const float special[] = {
        0.0f, -0.0f, kInf, -kInf, kNaN, -kNaN, std::numeric_limits<float>::denorm_min()};
    std::copy(std::begin(special), std::end(special), samples.begin());
    ASSERT_TRUE(saved.tables.install(
        {"Round \"trip\" " + std::to_string(round), samples, frame_size, rows, layers}));

    const auto document = save(saved.values, saved.tables);
    ASSERT_TRUE(document);
    Instance restored;
    const auto loaded = load(*document, restored.values, restored.tables);
    ASSERT_TRUE(loaded) << loaded.error();

    for (std::size_t i = 0; i < param_count; ++i)
      EXPECT_EQ(std::bit_cast<std::uint32_t>(restored.values.get(i)),
                std::bit_cast<std::uint32_t>(saved.values.get(i)))
          << param_table[i].id;
    const TableData original = saved.tables.table_data(), back = restored.tables.table_data();
    EXPECT_EQ(back.name, original.name);
    EXPECT_EQ(back.frame_size, frame_size);
    EXPECT_EQ(back.rows, rows);
    EXPECT_EQ(back.layers, layers);
    EXPECT_TRUE(same_bits(back.data, original.data));
    // The restored document is the same document.
    EXPECT_EQ(save(restored.values, restored.tables).value(), *document);
  }
}

TEST(StateRoundTrip, ExtremeParameterTextsReadBackExactly) {
  // Values whose shortest text uses exponents or many digits; the store keeps them as given.
  const float values[] = {
      1e-40f, std::numeric_limits<float>::denorm_min(), 0.1f, 1.0f / 3.0f, 0.99999994f, 1e-7f};
  for (float value : values) {
    Instance saved, restored;
    saved.values.set(*index_of(1), value);
    ASSERT_EQ(value_of(saved.values, 1), value);
    const auto document = save(saved.values, saved.tables);
    ASSERT_TRUE(load(document.value(), restored.values, restored.tables));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(value_of(restored.values, 1)),
              std::bit_cast<std::uint32_t>(value))
        << value;
  }
}

// ---- Reading rules, as documents and their outcomes.

// A small table that builds: two 4-sample frames.
const std::vector<float> kSmallSamples = {0, 1, 0, -1, 0, 0.5f, 0, -0.5f};
std::string small_table(std::string extra = "") {
  return R"({"name":"Small","frameSize":4,"rows":1,"layers":1,"data":")" +
         samples_b64(kSmallSamples) + "\"" + extra + "}";
}
std::string with_data(std::string_view data, std::string_view frame_size = "4") {
  return R"({"name":"Small","frameSize":)" + std::string(frame_size) +
         R"(,"rows":1,"layers":1,"data":")" + std::string(data) + "\"}";
}
std::string doc(std::string_view params, std::string_view rest = "") {
  return R"({"version":1,"params":{)" + std::string(params) + "}" + std::string(rest) + "}";
}

enum class Outcome { Loaded, Unreadable, ShapeRefused };

struct LoadCase {
  const char* what;
  std::string document;
  Outcome outcome;
  float scan_x;          // the value of id 10 afterwards (it starts at 0)
  bool table_installed;  // the small table replaced the built-in one
};

TEST(StateLoad, DocumentsAndTheirOutcomes) {
  using enum Outcome;
  const std::string table = small_table();
  const std::string good = doc(R"("10":2)", R"(,"table":)" + table);
  std::vector<std::uint8_t> nine_samples_and_two(8 * 4 + 2, 0);
  std::memcpy(nine_samples_and_two.data(), kSmallSamples.data(), 32);
  std::string deep(100000, '[');

  const LoadCase cases[] = {
      {"parameters and table", good, Loaded, 2, true},
      {"no table keeps the current one", doc(R"("10":2)"), Loaded, 2, false},
      {"null table keeps the current one", doc(R"("10":2)", R"(,"table":null)"), Loaded, 2, false},
      {"keys in any order", R"({"table":)" + table + R"(,"params":{"10":2},"version":1})", Loaded,
       2, true},
      {"white space around and inside",
       " \n\t{ \"version\" : 1 ,\r\n\"params\":{ \"10\" : 2 } } \n", Loaded, 2, false},
      {"version not examined", R"({"version":4294967295,"params":{"10":2}})", Loaded, 2, false},
      {"unknown top-level members skipped",
       doc(R"("10":2)", R"(,"extra":{"a":[1,-2.5e3,{"b":null}],"c":"\u00e9"},"z":true)"), Loaded, 2,
       false},
      {"unknown table members skipped",
       doc(R"("10":2)", R"(,"table":)" + small_table(R"(,"comment":[{}],"rows2":-1)")), Loaded, 2,
       true},
      {"escaped keys are the same keys", R"({"ver\u0073ion":1,"p\u0061rams":{"1\u0030":2}})",
       Loaded, 2, false},

      {"key with plus", doc(R"("+10":2)"), Loaded, 2, false},
      {"key with leading zeros", doc(R"("0000000010":2)"), Loaded, 2, false},
      {"unknown id", doc(R"("999999":2,"4":2)"), Loaded, 0, false},
      {"key not a number", doc(R"("abc":2)"), Loaded, 0, false},
      {"negative key", doc(R"("-1":2,"-10":2)"), Loaded, 0, false},
      {"keys with spaces, signs or exponents",
       doc(R"(" 10":2,"10 ":2,"++10":2,"+":2,"":2,"1e1":2,"0x0A":2)"), Loaded, 0, false},
      {"key past 32 bits", doc(R"("4294967306":2)"), Loaded, 0, false},
      {"repeated key: the later value", doc(R"("10":1,"10":3)"), Loaded, 3, false},
      {"keys for one id apply in key order", doc(R"("10":1,"+10":3)"), Loaded, 1, false},
      {"value clamped to the range", doc(R"("10":1e999)"), Loaded, 4, false},
      {"value below the range", doc(R"("10":-1e999)"), Loaded, 0, false},
      {"exponent form", doc(R"("10":25E-1)"), Loaded, 2.5f, false},
      {"null value keeps the present one", doc(R"("10":null)"), Loaded, 0, false},

      {"empty input", "", Unreadable, 0, false},
      {"not JSON", "version=1", Unreadable, 0, false},
      {"not an object", "[1,2]", Unreadable, 0, false},
      {"unfinished", good.substr(0, good.size() - 1), Unreadable, 0, false},
      {"trailing text", good + "x", Unreadable, 0, false},
      {"a second document", good + "{}", Unreadable, 0, false},
      {"trailing comma", doc(R"("10":2,)"), Unreadable, 0, false},
      {"no params, with a table", R"({"version":1,"table":)" + table + "}", Unreadable, 0, false},
      {"no version", R"({"params":{"10":2}})", Unreadable, 0, false},
      {"version 1.0", R"({"version":1.0,"params":{"10":2}})", Unreadable, 0, false},
      {"version 1e0", R"({"version":1e0,"params":{"10":2}})", Unreadable, 0, false},
      {"negative version", R"({"version":-1,"params":{"10":2}})", Unreadable, 0, false},
      {"version past 32 bits", R"({"version":4294967296,"params":{"10":2}})", Unreadable, 0, false},
      {"version as text", R"({"version":"1","params":{"10":2}})", Unreadable, 0, false},
      {"params not an object", R"({"version":1,"params":[2]})", Unreadable, 0, false},
      {"parameter value as text", doc(R"("10":"2")"), Unreadable, 0, false},
      {"parameter value true", doc(R"("10":true,"1":0)"), Unreadable, 0, false},
      {"number with a leading zero", doc(R"("10":02)"), Unreadable, 0, false},
      {"number without digits after the point", doc(R"("10":2.)"), Unreadable, 0, false},
      {"NaN literal", doc(R"("10":NaN)"), Unreadable, 0, false},
      {"repeated top-level key", R"({"version":1,"version":1,"params":{"10":2}})", Unreadable, 0,
       false},
      {"repeated unknown key", doc(R"("10":2)", R"(,"x":1,"x":1)"), Unreadable, 0, false},
      {"repeated key spelled differently", R"({"version":1,"ver\u0073ion":1,"params":{"10":2}})",
       Unreadable, 0, false},
      {"repeated table", doc(R"("10":2)", R"(,"table":null,"table":)" + table), Unreadable, 0,
       false},
      {"repeated key in the table", doc(R"("10":2)", R"(,"table":)" + small_table(R"(,"rows":1)")),
       Unreadable, 0, false},
      {"table not an object", doc(R"("10":2)", R"(,"table":[])"), Unreadable, 0, false},
      {"table without data",
       doc(R"("10":2)", R"(,"table":{"name":"x","frameSize":4,"rows":1,"layers":1})"), Unreadable,
       0, false},
      {"negative rows",
       doc(R"("10":2)", R"(,"table":{"name":"x","frameSize":4,"rows":-1,"layers":1,"data":""})"),
       Unreadable, 0, false},
      {"rows 1.0",
       doc(R"("10":2)", R"(,"table":{"name":"x","frameSize":4,"rows":1.0,"layers":1,"data":""})"),
       Unreadable, 0, false},
      {"frame size as text", doc(R"("10":2)", R"(,"table":)" + with_data("", "\"4\"")), Unreadable,
       0, false},
      {"name not text",
       doc(R"("10":2)", R"(,"table":{"name":1,"frameSize":4,"rows":1,"layers":1,"data":""})"),
       Unreadable, 0, false},
      {"data length not a multiple of four",
       doc(R"("10":2)", R"(,"table":)" + with_data(samples_b64(kSmallSamples) + "A")), Unreadable,
       0, false},
      {"data padding missing", doc(R"("10":2)", R"(,"table":)" + with_data("AAAAAA")), Unreadable,
       0, false},
      {"data with a foreign character", doc(R"("10":2)", R"(,"table":)" + with_data("AAAA-AAA")),
       Unreadable, 0, false},
      {"data with non-zero padding bits", doc(R"("10":2)", R"(,"table":)" + with_data("AAAAAB==")),
       Unreadable, 0, false},
      {"name not UTF-8",
       doc(R"("10":2)", R"(,"table":{"name":")"
                        "\xff"
                        R"("})"),
       Unreadable, 0, false},
      {"control character in a string", doc(R"("10":2)", ",\"x\":\"a\tb\""), Unreadable, 0, false},
      {"unpaired surrogate", doc(R"("10":2)", R"(,"x":"\ud800")"), Unreadable, 0, false},
      {"deeply nested unknown member", doc(R"("10":2)", ",\"x\":" + deep), Unreadable, 0, false},

      {"trailing data bytes ignored",
       doc(R"("10":2)", R"(,"table":)" + with_data(base64_encode(nine_samples_and_two))), Loaded, 2,
       true},
      {"huge declared sizes",
       doc(R"("10":2)",
           R"(,"table":{"name":"x","frameSize":18446744073709551615,"rows":4294967296,)"
           R"("layers":4294967296,"data":")" +
               samples_b64(kSmallSamples) + "\"}"),
       ShapeRefused, 2, false},
      {"rows times layers past 64 bits",
       doc(R"("10":2)", R"(,"table":{"name":"x","frameSize":4,"rows":4294967296,)"
                        R"("layers":4294967296,"data":")" +
                            samples_b64(kSmallSamples) + "\"}"),
       ShapeRefused, 2, false},
      {"size past 64 bits",
       doc(R"("10":2)", R"(,"table":{"name":"x","frameSize":18446744073709551616,"rows":1,)"
                        R"("layers":1,"data":""})"),
       Unreadable, 0, false},
      {"frames that don't fit the shape",
       doc(R"("10":2)", R"(,"table":)" + with_data(samples_b64(std::vector<float>(3000)), "2048")),
       ShapeRefused, 2, false},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Instance instance;
    const auto result = load(c.document, instance.values, instance.tables);
    switch (c.outcome) {
      case Loaded:
        EXPECT_TRUE(result) << result.error();
        break;
      case Unreadable:
        ASSERT_FALSE(result);
        EXPECT_TRUE(result.error().starts_with(kUnreadableState)) << result.error();
        EXPECT_EQ(instance.values.epoch(), ParamValues().epoch());
        break;
      case ShapeRefused:
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), kShapeMismatch);
        break;
    }
    EXPECT_EQ(value_of(instance.values, 10), c.scan_x);
    const TableData now = instance.tables.table_data();
    if (c.table_installed) {
      EXPECT_EQ(now.name, "Small");
      EXPECT_TRUE(same_bits(now.data, kSmallSamples));
    } else {
      EXPECT_EQ(now, default_table());
    }
  }
}

// A loadable document whose table name is written as given.
std::string named_table_doc(std::string_view written_name) {
  return doc("", R"(,"table":{"name":")" + std::string(written_name) +
                     R"(","frameSize":4,"rows":1,"layers":1,"data":")" +
                     samples_b64(kSmallSamples) + "\"}");
}

TEST(StateLoad, NamesAreUnescaped) {
  const std::pair<std::string_view, std::string> cases[] = {
      {R"(a\"b)", "a\"b"},
      {R"(\\\/)", "\\/"},
      {R"(\b\f\n\r\t)", "\b\f\n\r\t"},
      {R"(\u00e9\u20AC x)", "é€ x"},
      {R"(\ud834\udd1e)", "𝄞"},
      {R"(nul\u0000here)", std::string("nul\0here", 8)},
      {"é → 𝄞", "é → 𝄞"},
  };
  for (const auto& [written, name] : cases) {
    Instance instance;
    const auto result = load(named_table_doc(written), instance.values, instance.tables);
    ASSERT_TRUE(result) << written << ": " << result.error();
    EXPECT_EQ(instance.tables.table_data().name, name) << written;
  }
  // Bad escapes, lone surrogates, and bytes that are not UTF-8 (truncated, an encoded surrogate,
  // an overlong form).
  const std::string_view refused[] = {R"(\x)",     R"(\u12)",      R"(\u12G4)",
                                      R"(\udd1e)", R"(\ud834x)",   R"(\ud834\u0041)",
                                      "\xc3",      "\xed\xa0\x80", "\xc0\xaf"};
  for (auto written : refused) {
    Instance instance;
    const auto result = load(named_table_doc(written), instance.values, instance.tables);
    ASSERT_FALSE(result) << written;
    EXPECT_TRUE(result.error().starts_with(kUnreadableState)) << result.error();
  }
}

TEST(StateLoad, UnreadableDocumentsSayWhereTheyWentWrong) {
  Instance instance;
  const auto result = load("{\"version\":1,\n\"params\":{}}x", instance.values, instance.tables);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "Unreadable plugin state: unexpected text after the document at line 2 column 13");
}

TEST(StateLoad, ParametersTheDocumentOmitsKeepTheirValues) {
  Instance instance;
  instance.values.set(*index_of(201), 440.0f);
  ASSERT_TRUE(load(R"({"version":1,"params":{"1":0.5}})", instance.values, instance.tables));
  EXPECT_EQ(value_of(instance.values, 1), 0.5f);
  EXPECT_EQ(value_of(instance.values, 201), 440.0f);
}

}  // namespace
}  // namespace quillory::core
