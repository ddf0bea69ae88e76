#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "core/base64.hpp"
#include "core/protocol.hpp"

namespace quillory::core {
namespace {

using nlohmann::json;

std::string b64(std::initializer_list<std::uint8_t> bytes) {
  const std::vector<std::uint8_t> v(bytes);
  return base64_encode(v);
}

TEST(ProtocolDecodeSamples, TakesCanonicalBase64OnlyAndDropsTrailingBytes) {
  struct Case {
    const char* what;
    json value;
    std::optional<std::vector<float>> samples;
  };
  const Case cases[] = {
      {"one sample 1.0", b64({0x00, 0x00, 0x80, 0x3f}), std::vector<float>{1.0f}},
      {"nine bytes: the ninth dropped", b64({0, 0, 0x80, 0x3f, 0, 0, 0, 0xc0, 0x7f}),
       std::vector<float>{1.0f, -2.0f}},
      {"one to three bytes: no sample", b64({1, 2, 3}), std::vector<float>{}},
      {"empty string", "", std::vector<float>{}},
      {"a number", 3, std::nullopt},
      {"null", nullptr, std::nullopt},
      {"an array", json::array({"AACAPw=="}), std::nullopt},
      {"character outside the alphabet", "AACA*w==", std::nullopt},
      {"URL-safe alphabet", "AACA_w==", std::nullopt},
      {"missing padding", "AACAPw", std::nullopt},
      {"padding not canonical (unused bits set)", "AACAPx==", std::nullopt},
      {"padding in the middle", "AA==AACAPw==", std::nullopt},
      {"white space", "AACA Pw==", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(decode_samples(c.value), c.samples);
  }
}

TEST(ProtocolEncodeTable, WritesTheTableObjectInKeyOrder) {
  const TableData record{"pad", {1.0f, -2.0f}, 2, 1, 1};
  EXPECT_EQ(encode_table(record), R"({"data":"AACAPwAAAMA=","frameSize":2,"layers":1,"rows":1})");
  EXPECT_EQ(encode_table(TableData{"empty", {}, 0, 3, 4}),
            R"({"data":"","frameSize":0,"layers":4,"rows":3})");
}

TEST(ProtocolEncodeTable, SamplesRoundTripBitExactThroughTheText) {
  std::vector<float> samples{0.1f, -0.0f, std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::denorm_min(), 3.4e38f};
  const auto table = json::parse(encode_table(TableData{"t", samples, 5, 1, 1}));
  const auto back = decode_samples(table["data"]);
  ASSERT_TRUE(back.has_value());
  ASSERT_EQ(back->size(), samples.size());
  EXPECT_EQ(std::memcmp(back->data(), samples.data(), samples.size() * 4), 0);
}

TEST(ProtocolMessages, ExactTextsOfErrorPickedAndScript) {
  EXPECT_EQ(error("That table's frames don't fit its shape."),
            R"({"message":"That table's frames don't fit its shape.","type":"error"})");
  EXPECT_EQ(error("say \"hi\"\n"), R"({"message":"say \"hi\"\n","type":"error"})");

  EXPECT_EQ(picked(7, {}), R"({"files":[],"id":7,"type":"picked"})");
  const PickedFile files[] = {{"a.wav", {1, 2, 3}}, {"b\".png", {}}};
  EXPECT_EQ(picked(json{{"k", "x"}, {"b", nullptr}}, files),
            R"({"files":[{"data":"AQID","name":"a.wav"},{"data":"","name":"b\".png"}],)"
            R"("id":{"b":null,"k":"x"},"type":"picked"})");

  const std::string message = error("x");
  EXPECT_EQ(script(message),
            R"(window.__qlPlugin && window.__qlPlugin.receive({"message":"x","type":"error"}))");
}

TEST(ProtocolMessages, TextThatIsNotUtf8IsReplacedNotThrown) {
  // A file name straight from the file system need not be UTF-8.
  const PickedFile files[] = {{"bad\xff.wav", {}}};
  EXPECT_EQ(picked(nullptr, files),
            "{\"files\":[{\"data\":\"\",\"name\":\"bad\xef\xbf\xbd.wav\"}],\"id\":null,"
            "\"type\":\"picked\"}");
  EXPECT_EQ(error("\xc3"), "{\"message\":\"\xef\xbf\xbd\",\"type\":\"error\"}");
}

TEST(ProtocolParamId, MapsThePagesPositionNamesOnly) {
  const std::pair<std::string_view, std::optional<std::uint32_t>> cases[] = {
      {"position", 1},
      {"positionY", 2},
      {"positionZ", 3},
      {"positionX", std::nullopt},
      {"Position", std::nullopt},
      {"", std::nullopt},
      {"positiony", std::nullopt},
  };
  for (const auto& [name, id] : cases) EXPECT_EQ(param_id(name), id) << name;
}

}  // namespace
}  // namespace quillory::core
