#include "wavetable/surge.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <limits>

#include "wav_builder.hpp"

namespace quillory::wavetable::surge {
namespace {

using testing::Bytes;
using testing::f32s;
using testing::i16s;
using testing::surge_file;

TEST(SurgeDecode, FailsWithTheExactErrorForEachBrokenFile) {
  struct Case {
    const char* what;
    Bytes bytes;
    Error error;
  };
  const Case cases[] = {
      {"empty", {}, Error::invalid_format("not a Surge .wt file")},
      {"11 bytes",
       [] {
         auto b = surge_file(4, 0, 0, {});
         b.resize(11);
         return b;
       }(),
       Error::invalid_format("not a Surge .wt file")},
      {"wrong magic",
       [] {
         auto b = surge_file(4, 0, 0, {});
         b[0] = 'V';
         return b;
       }(),
       Error::invalid_format("not a Surge .wt file")},
      {"sample flag beats truncation", surge_file(2048, 100, kFlagIsSample, {}),
       Error::unsupported("Surge .wt sample (not a wavetable)")},
      {"int16 one byte short", surge_file(2, 2, kFlagInt16, Bytes(7, 0)),
       Error::invalid_format("Surge .wt data is truncated")},
      {"float one byte short", surge_file(2, 2, 0, Bytes(15, 0)),
       Error::invalid_format("Surge .wt data is truncated")},
      {"largest header over no data", surge_file(0xFFFFFFFF, 0xFFFF, 0, {}),
       Error::invalid_format("Surge .wt data is truncated")},
      {"frame size 0", surge_file(0, 5, 0, {}), Error::invalid_argument("frame size must be > 0")},
  };
  for (const auto& c : cases) {
    const auto decoded = decode(c.bytes);
    ASSERT_FALSE(decoded) << c.what;
    EXPECT_EQ(decoded.error(), c.error) << c.what;
  }
}

TEST(SurgeDecode, FrameSizeZeroDisplaysAsInvalidArgument) {
  const auto decoded = decode(surge_file(0, 0, 0, {}));
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error().display(), "invalid argument: frame size must be > 0");
}

TEST(SurgeDecode, ScalesIntegersByTheirRangeFlag) {
  struct Case {
    const char* what;
    std::uint16_t flags;
    Bytes data;
    std::vector<float> expected;
  };
  const Case cases[] = {
      {"half range", kFlagInt16, i16s({16384, -16384}), {1.0f, -1.0f}},
      {"half range past full scale",
       kFlagInt16,
       i16s({32767, -32768}),
       {32767.0f / 16384.0f, -2.0f}},
      {"full range",
       kFlagInt16 | kFlagFullRange,
       i16s({32767, -32768}),
       {32767.0f / 32768.0f, -1.0f}},
      {"other bits set, half range", 0xFFF6, i16s({16384, 1}), {1.0f, 1.0f / 16384.0f}},
      {"other bits set, full range", 0xFFFE, i16s({16384, 1}), {0.5f, 1.0f / 32768.0f}},
      {"full-range bit alone means float", kFlagFullRange, f32s({0.5f, -3.0f}), {0.5f, -3.0f}},
  };
  for (const auto& c : cases) {
    const auto decoded = decode(surge_file(2, 1, c.flags, c.data));
    ASSERT_TRUE(decoded) << c.what << ": " << decoded.error().display();
    EXPECT_EQ(decoded->samples(), c.expected) << c.what;
    EXPECT_EQ(decoded->frame_size(), 2u) << c.what;
  }
}

TEST(SurgeDecode, ReturnsFloatsBitForBitAndIgnoresTrailingBytes) {
  const float values[] = {std::numeric_limits<float>::quiet_NaN(),
                          -std::numeric_limits<float>::infinity(), -0.0f, 1e30f};
  Bytes data = f32s({values[0], values[1], values[2], values[3]});
  data.insert(data.end(), {1, 2, 3});
  const auto decoded = decode(surge_file(2, 2, 0, data));
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->samples().size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(decoded->samples()[i]),
              std::bit_cast<std::uint32_t>(values[i]));
  }
  EXPECT_EQ(decoded->frame_count(), 2u);
}

TEST(SurgeDecode, NoFramesIsAnEmptyTable) {
  const auto decoded = decode(surge_file(2048, 0, 0, {}));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->samples().empty());
  EXPECT_EQ(decoded->frame_size(), 2048u);
}

}  // namespace
}  // namespace quillory::wavetable::surge
