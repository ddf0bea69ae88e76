#include "wavetable/wav.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "wav_builder.hpp"
#include "wavetable/utf8.hpp"

namespace quillory::wavetable::wav {
namespace {

using testing::Bytes;
using testing::f32s;
using testing::i16s;
using testing::kFloat;
using testing::kPcm;
using testing::mono16;
using testing::WavBuilder;
using testing::zeros16;

std::uint32_t bits_of(float f) {
  return std::bit_cast<std::uint32_t>(f);
}

// ---- Container and format failures

struct FailureCase {
  const char* what;
  Bytes bytes;
  ErrorKind kind;
  std::string message;
};

Bytes riff_prefix(std::size_t size) {
  Bytes b = WavBuilder{}.bytes;
  b.resize(size, 0);
  return b;
}

TEST(WavDecode, FailsWithTheExactErrorForEachBrokenContainerOrFormat) {
  const FailureCase cases[] = {
      {"empty", {}, ErrorKind::InvalidFormat, "not a RIFF/WAVE file"},
      {"11 bytes", riff_prefix(11), ErrorKind::InvalidFormat, "not a RIFF/WAVE file"},
      {"big-endian RIFX",
       [] {
         auto b = riff_prefix(12);
         b[3] = 'X';
         return b;
       }(),
       ErrorKind::InvalidFormat, "not a RIFF/WAVE file"},
      {"not WAVE",
       [] {
         auto b = riff_prefix(12);
         b[8] = 'A';
         return b;
       }(),
       ErrorKind::InvalidFormat, "not a RIFF/WAVE file"},
      {"header only", riff_prefix(12), ErrorKind::InvalidFormat, "missing fmt chunk"},
      {"19 bytes: no room for a chunk", riff_prefix(19), ErrorKind::InvalidFormat,
       "missing fmt chunk"},
      {"data without fmt", WavBuilder{}.data(zeros16(4)).bytes, ErrorKind::InvalidFormat,
       "missing fmt chunk"},
      {"fmt without data", mono16().bytes, ErrorKind::InvalidFormat, "missing data chunk"},
      {"short fmt wins over a good one after it",
       WavBuilder{}.chunk("fmt ", Bytes(14, 1)).fmt(kPcm, 1, 16).data(zeros16(4)).bytes,
       ErrorKind::InvalidFormat, "fmt chunk too short"},
      {"fmt cut short by the end of the file", WavBuilder{}.chunk("fmt ", Bytes(10, 1), 16).bytes,
       ErrorKind::InvalidFormat, "fmt chunk too short"},
      {"format tag 2", WavBuilder{}.fmt(2, 1, 16).data(zeros16(4)).bytes, ErrorKind::Unsupported,
       "WAV format tag 0x2"},
      {"extensible with only 18 bytes", WavBuilder{}.fmt(0xFFFE, 1, 32, Bytes(2, 0)).bytes,
       ErrorKind::Unsupported, "WAV format tag 0xfffe"},
      {"extensible with an unknown sub-format",
       WavBuilder{}.fmt_extensible(1, 16, 0x55).data(zeros16(1)).bytes, ErrorKind::Unsupported,
       "WAV format tag 0x55"},
      {"bad fmt after the data is still met",
       WavBuilder{}.data(zeros16(2)).fmt(0x1234, 1, 16).bytes, ErrorKind::Unsupported,
       "WAV format tag 0x1234"},
      {"zero channels", WavBuilder{}.fmt(kPcm, 0, 16).data(zeros16(4)).bytes,
       ErrorKind::InvalidFormat, "zero channels"},
      {"12-bit PCM", WavBuilder{}.fmt(kPcm, 1, 12).data(zeros16(4)).bytes, ErrorKind::Unsupported,
       "12-bit PCM"},
      {"0-bit PCM", WavBuilder{}.fmt(kPcm, 2, 0).data(zeros16(4)).bytes, ErrorKind::Unsupported,
       "0-bit PCM"},
      {"16-bit float", WavBuilder{}.fmt(kFloat, 1, 16).data(zeros16(4)).bytes,
       ErrorKind::Unsupported, "16-bit float"},
      {"65535-bit float", WavBuilder{}.fmt(kFloat, 65535, 65535).data(zeros16(4)).bytes,
       ErrorKind::Unsupported, "65535-bit float"},
      {"missing data beats a bad bit depth", WavBuilder{}.fmt(kPcm, 1, 12).bytes,
       ErrorKind::InvalidFormat, "missing data chunk"},
  };
  for (const auto& c : cases) {
    const auto decoded = decode(c.bytes);
    ASSERT_FALSE(decoded) << c.what;
    EXPECT_EQ(decoded.error(), (Error{c.kind, c.message})) << c.what;
  }
}

TEST(WavDecode, UnsupportedTagDisplaysWithItsPrefix) {
  const auto decoded = decode(WavBuilder{}.fmt(2, 1, 16).data(zeros16(1)).bytes);
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error().display(), "unsupported: WAV format tag 0x2");
}

// ---- Sample conversions: one mono sample of each format at its extremes, bit for bit

struct ConversionCase {
  const char* what;
  std::uint16_t tag;
  std::uint16_t bits;
  Bytes sample;
  float expected;
};

TEST(WavDecode, ConvertsEverySampleFormatExactly) {
  const float inf = std::numeric_limits<float>::infinity();
  const ConversionCase cases[] = {
      {"PCM 8 min", kPcm, 8, {0x00}, -1.0f},
      {"PCM 8 centre", kPcm, 8, {0x80}, 0.0f},
      {"PCM 8 max", kPcm, 8, {0xFF}, 127.0f / 128.0f},
      {"PCM 16 min", kPcm, 16, {0x00, 0x80}, -1.0f},
      {"PCM 16 max", kPcm, 16, {0xFF, 0x7F}, 32767.0f / 32768.0f},
      {"PCM 16 one step", kPcm, 16, {0x01, 0x00}, 0x1p-15f},
      {"PCM 24 min", kPcm, 24, {0x00, 0x00, 0x80}, -1.0f},
      {"PCM 24 max", kPcm, 24, {0xFF, 0xFF, 0x7F}, 8388607.0f / 8388608.0f},
      {"PCM 24 one step", kPcm, 24, {0x01, 0x00, 0x00}, 0x1p-23f},
      {"PCM 24 minus one step", kPcm, 24, {0xFF, 0xFF, 0xFF}, -0x1p-23f},
      {"PCM 32 min", kPcm, 32, {0x00, 0x00, 0x00, 0x80}, -1.0f},
      {"PCM 32 max rounds to 1", kPcm, 32, {0xFF, 0xFF, 0xFF, 0x7F}, 1.0f},
      {"PCM 32 one step", kPcm, 32, {0x01, 0x00, 0x00, 0x00}, 0x1p-31f},
      {"float 32 past full scale", kFloat, 32, f32s({3.5f}), 3.5f},
      {"float 32 negative zero", kFloat, 32, f32s({-0.0f}), -0.0f},
      {"float 32 infinity", kFloat, 32, f32s({-inf}), -inf},
      {"float 64 rounds to single", kFloat, 64,
       [] {
         Bytes b;
         testing::put32(b, 0x9999999A);  // 0.1 as a double: 0x3FB999999999999A
         testing::put32(b, 0x3FB99999);
         return b;
       }(),
       0.1f},
      {"float 64 too large for single",
       kFloat,
       64,
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x6F},
       inf},  // 2^768
  };
  for (const auto& c : cases) {
    const auto decoded = decode(WavBuilder{}.fmt(c.tag, 1, c.bits).data(c.sample).bytes);
    ASSERT_TRUE(decoded) << c.what << ": " << decoded.error().display();
    ASSERT_EQ(decoded->samples.size(), 1u) << c.what;
    EXPECT_EQ(bits_of(decoded->samples[0]), bits_of(c.expected))
        << c.what << ": got " << decoded->samples[0] << ", expected " << c.expected;
  }
}

TEST(WavDecode, PassesNaNThrough) {
  const auto decoded = decode(
      WavBuilder{}.fmt(kFloat, 1, 32).data(f32s({std::numeric_limits<float>::quiet_NaN()})).bytes);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(std::isnan(decoded->samples.at(0)));
}

// ---- Channel mix and block arithmetic

TEST(WavDecode, MixesChannelsToTheirMean) {
  // Left 16384 and right -16384: (-0.0 + 0.5 - 0.5) x 0.5 is +0.0.
  const auto stereo =
      decode(WavBuilder{}.fmt(kPcm, 2, 16).data(i16s({16384, -16384, 16384, -16384})).bytes);
  ASSERT_TRUE(stereo);
  ASSERT_EQ(stereo->samples.size(), 2u);
  EXPECT_EQ(bits_of(stereo->samples[0]), bits_of(0.0f));
  EXPECT_EQ(bits_of(stereo->samples[1]), bits_of(0.0f));

  // Negative zero in every channel stays negative zero.
  const auto zeros = decode(WavBuilder{}.fmt(kFloat, 2, 32).data(f32s({-0.0f, -0.0f})).bytes);
  ASSERT_TRUE(zeros);
  EXPECT_EQ(bits_of(zeros->samples.at(0)), bits_of(-0.0f));

  // Three channels: mean of 0.25, 0.5, 0.75 (times 1/3 in single precision).
  const auto three = decode(WavBuilder{}.fmt(kFloat, 3, 32).data(f32s({0.25f, 0.5f, 0.75f})).bytes);
  ASSERT_TRUE(three);
  EXPECT_FLOAT_EQ(three->samples.at(0), 0.5f);
  EXPECT_EQ(three->channels, 3u);
}

TEST(WavDecode, IgnoresATrailingPartialBlock) {
  // 7 bytes of 16-bit stereo: one whole 4-byte block.
  const auto decoded = decode(WavBuilder{}.fmt(kPcm, 2, 16).data(Bytes(7, 0)).bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->samples.size(), 1u);
}

TEST(WavDecode, ManyChannelsOfTheWidestFormat) {
  // 65535 channels of 64-bit float: a 524280-byte block; 100 bytes hold no whole block.
  const auto decoded = decode(WavBuilder{}.fmt(kFloat, 65535, 64).data(Bytes(100, 0)).bytes);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->samples.empty());
}

TEST(WavDecode, ReadsExtensibleFormatBySubFormat) {
  const auto decoded =
      decode(WavBuilder{}.fmt_extensible(1, 32, kFloat).data(f32s({0.75f, -2.0f})).bytes);
  ASSERT_TRUE(decoded) << decoded.error().display();
  EXPECT_EQ(decoded->samples, (std::vector<float>{0.75f, -2.0f}));
}

TEST(WavDecode, CopiesTheAcceptedFormatAndLetsALaterFmtReplaceAnEarlierOne) {
  const auto decoded =
      decode(WavBuilder{}.fmt(kPcm, 1, 16).fmt(kFloat, 1, 32).data(f32s({0.25f})).bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->samples, std::vector<float>{0.25f});
  EXPECT_EQ(decoded->sample_rate, 48000u);
  EXPECT_EQ(decoded->channels, 1u);
  EXPECT_EQ(decoded->bits_per_sample, 32u);
}

// ---- The chunk walk

TEST(WavDecode, WalksChunksThroughPadBytesTruncationAndLies) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::size_t samples;
  };
  const Case cases[] = {
      {"odd chunk before data skipped with its pad byte",
       mono16().chunk("LIST", Bytes(3, 'x')).data(zeros16(3)).bytes, 3},
      {"data running past the end is read to the end",
       mono16().chunk("data", zeros16(5), 1000).bytes, 5},
      {"data declaring 2^32-1 bytes", mono16().chunk("data", zeros16(2), 0xFFFFFFFF).bytes, 2},
      {"unknown chunk declaring 2^32-1 bytes ends the walk",
       mono16().data(zeros16(4)).chunk("junk", Bytes(6, 0), 0xFFFFFFFF).data(zeros16(9)).bytes, 4},
      {"later data replaces earlier", mono16().data(zeros16(4)).data(zeros16(6)).bytes, 6},
      {"a header cut short ends the walk",
       [] {
         auto b = mono16().data(zeros16(2)).bytes;
         b.insert(b.end(), {'d', 'a', 't', 'a', 8, 0, 0});
         return b;
       }(),
       2},
      {"empty data", mono16().data({}).bytes, 0},
  };
  for (const auto& c : cases) {
    const auto decoded = decode(c.bytes);
    ASSERT_TRUE(decoded) << c.what << ": " << decoded.error().display();
    EXPECT_EQ(decoded->samples.size(), c.samples) << c.what;
  }
}

// ---- Frame-size tags

struct TagCase {
  const char* what;
  WavBuilder wav;
  std::optional<std::uint64_t> hint;
  std::optional<std::uint64_t> surge;
};

TEST(WavDecode, TakesTheFirstValidFrameSizeTag) {
  const TagCase cases[] = {
      {"no tags", mono16(), std::nullopt, std::nullopt},
      {"clm 2048 then words", mono16().clm("<!>2048 01000000 wavetable"), 2048, 2048},
      {"clm 1024", mono16().clm("<!>1024 01000000"), 1024, std::nullopt},
      {"clm text before the marker", mono16().clm("abc <!>256"), 256, std::nullopt},
      {"clm with leading zeros", mono16().clm("<!>0002048"), 2048, 2048},
      {"clm letter before digits", mono16().clm("<!>x2048"), std::nullopt, std::nullopt},
      {"clm 0", mono16().clm("<!>0"), std::nullopt, std::nullopt},
      {"clm without marker", mono16().clm("2048"), std::nullopt, std::nullopt},
      {"clm marker at the end", mono16().clm("<!>"), std::nullopt, std::nullopt},
      {"clm past 64 bits", mono16().clm("<!>18446744073709551616"), std::nullopt, std::nullopt},
      {"clm at 64 bits", mono16().clm("<!>18446744073709551615"), 18446744073709551615u,
       std::nullopt},
      {"clm with invalid UTF-8 is ignored, a later valid one counts",
       mono16().clm("<!>256 \xFF").clm("<!>512"), 512, std::nullopt},
      {"only the first valid clm counts", mono16().clm("<!>1024").clm("<!>2048"), 1024,
       std::nullopt},
      {"srge 256 then clm 2048", mono16().srge(256).clm("<!>2048"), 256, 256},
      {"clm 2048 then srge 256", mono16().clm("<!>2048").srge(256), 2048, 256},
      {"srge 0 and negative are ignored", mono16().srge(0).srge(-5).srge(64), 64, 64},
      {"srge shorter than 8 bytes", mono16().chunk("srge", Bytes(7, 1)), std::nullopt,
       std::nullopt},
      {"only the first valid srge counts", mono16().srge(128).srge(64), 128, 128},
  };
  for (auto c : cases) {
    const auto decoded = decode(c.wav.data(zeros16(4)).bytes);
    ASSERT_TRUE(decoded) << c.what;
    EXPECT_EQ(decoded->frame_size_hint, c.hint) << c.what;
    EXPECT_EQ(decoded->surge_frame_size, c.surge) << c.what;
    EXPECT_FALSE(decoded->grid) << c.what;
  }
}

// ---- The "wt3d" grid

struct GridCase {
  const char* what;
  WavBuilder wav;
  std::size_t samples;
  std::optional<Grid> grid;
  std::optional<std::uint64_t> hint;
};

TEST(WavDecode, KeepsAGridOnlyWhenItFitsTheSamples) {
  const GridCase cases[] = {
      {"fits", mono16().wt3d(1, 256, 4, 2, 2), 4096, Grid{256, 4, 2, 2, 0, {}}, 256},
      {"does not fit: tagged size used", mono16().clm("<!>1000").wt3d(1, 256, 4, 2, 2), 4000,
       std::nullopt, 1000},
      {"grid overrides an earlier tag", mono16().srge(512).wt3d(1, 256, 4, 2, 2), 4096,
       Grid{256, 4, 2, 2, 0, {}}, 256},
      {"version 0: no grid, and the next wt3d is not looked at",
       mono16().wt3d(0, 256, 4, 2, 2).wt3d(1, 256, 4, 2, 2), 4096, std::nullopt, std::nullopt},
      {"zero rows", mono16().wt3d(1, 256, 4, 0, 2), 4096, std::nullopt, std::nullopt},
      {"27 bytes", mono16().chunk("wt3d", Bytes(27, 1)), 0, std::nullopt, std::nullopt},
      {"product wrapping to 0 mod 2^64 over no samples",
       mono16().wt3d(1, 65536, 65536, 65536, 65536), 0, std::nullopt, std::nullopt},
      {"product wrapping to the sample count",  // the product is 2^64 + 4
       mono16().wt3d(1, 384773, 49477, 34724, 27905), 4, std::nullopt, std::nullopt},
      {"names, one per layer", mono16().wt3d(1, 256, 4, 2, 2, std::string_view("A\0B\0", 4)), 4096,
       Grid{256, 4, 2, 2, 0, {"A", "B"}}, 256},
      {"names without the final zero", mono16().wt3d(1, 256, 4, 2, 2, std::string_view("A\0B", 3)),
       4096, Grid{256, 4, 2, 2, 0, {"A", "B"}}, 256},
      {"two names for three layers: names dropped, grid stays",
       mono16().wt3d(1, 256, 4, 1, 3, std::string_view("A\0B\0", 4)), 3072,
       Grid{256, 4, 1, 3, 0, {}}, 256},
      {"a single zero byte is one empty name",
       mono16().wt3d(1, 256, 4, 1, 1, std::string_view("\0", 1)), 1024, Grid{256, 4, 1, 1, 0, {""}},
       256},
      {"two zeros in a row give an empty name",
       mono16().wt3d(1, 256, 1, 1, 3, std::string_view("A\0\0B", 4)), 768,
       Grid{256, 1, 1, 3, 0, {"A", "", "B"}}, 256},
      {"invalid UTF-8 replaced", mono16().wt3d(1, 256, 4, 1, 1, "Pad \xFF\xC3"), 1024,
       Grid{256, 4, 1, 1, 0, {"Pad \xEF\xBF\xBD\xEF\xBF\xBD"}}, 256},
      {"names length past the chunk is cut to the chunk",
       mono16().wt3d(1, 256, 4, 1, 2, std::string_view("A\0B", 3), 0xFFFFFFFF), 2048,
       Grid{256, 4, 1, 2, 0, {"A", "B"}}, 256},
      {"names length shorter than the text",
       mono16().wt3d(1, 256, 4, 1, 1, std::string_view("Ab\0C", 4), 2), 1024,
       Grid{256, 4, 1, 1, 0, {"Ab"}}, 256},
  };
  for (auto c : cases) {
    const auto decoded = decode(c.wav.data(zeros16(c.samples)).bytes);
    ASSERT_TRUE(decoded) << c.what;
    EXPECT_EQ(decoded->grid, c.grid) << c.what;
    EXPECT_EQ(decoded->frame_size_hint, c.hint) << c.what;
  }
}

// ---- decode_mono on its own

TEST(WavDecodeMono, GivesNothingForAnUnsupportedFormat) {
  const Bytes data(64, 0x40);
  EXPECT_TRUE((Fmt{48000, 1, 12, SampleFormat::Pcm}.decode_mono(data).empty()));
  EXPECT_TRUE((Fmt{48000, 0, 16, SampleFormat::Pcm}.decode_mono(data).empty()));
  EXPECT_EQ((Fmt{48000, 2, 64, SampleFormat::Float}.decode_mono(data).size()), 4u);
}

// ---- UTF-8

TEST(Utf8, ValidatesAndReplacesEachBadSequenceOnce) {
  struct Case {
    std::string_view bytes;
    bool valid;
    std::string_view lossy;
  };
  const Case cases[] = {
      {"", true, ""},
      {"plain", true, "plain"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB9", true, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB9"},
      {"a\xFF"
       "b",
       false,
       "a\xEF\xBF\xBD"
       "b"},
      {"\xC0\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong '/': two bad bytes
      {"\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\xF4\x90\x80\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xE2\x82"
       "x",
       false,
       "\xEF\xBF\xBD"
       "x"},                                    // truncated sequence: one replacement
      {"\xF0\x9F\x8E", false, "\xEF\xBF\xBD"},  // truncated at the end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
    EXPECT_EQ(utf8_lossy(c.bytes), c.lossy) << c.bytes;
  }
}

}  // namespace
}  // namespace quillory::wavetable::wav
