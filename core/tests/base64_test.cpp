#include "core/base64.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace quillory::core {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view text) {
  return {text.begin(), text.end()};
}

// Bit-at-a-time reference encoder, independent of the codec's tables.
std::string reference_encode(const std::vector<std::uint8_t>& bytes) {
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t bits = 0;
  std::uint32_t acc = 0;
  for (auto b : bytes) {
    acc = acc << 8 | b;
    bits += 8;
    while (bits >= 6) out += alphabet[(acc >> (bits -= 6)) & 63];
  }
  if (bits > 0) out += alphabet[(acc << (6 - bits)) & 63];
  while (out.size() % 4 != 0) out += '=';
  return out;
}

TEST(Base64, EncodesAndDecodesTheStandardVectors) {
  const std::pair<std::string_view, std::string_view> cases[] = {{"", ""},
                                                                 {"f", "Zg=="},
                                                                 {"fo", "Zm8="},
                                                                 {"foo", "Zm9v"},
                                                                 {"foob", "Zm9vYg=="},
                                                                 {"fooba", "Zm9vYmE="},
                                                                 {"foobar", "Zm9vYmFy"},
                                                                 {"\xfb\xff\xbf", "+/+/"}};
  for (auto [plain, text] : cases) {
    EXPECT_EQ(base64_encode(bytes_of(plain)), text) << plain;
    EXPECT_EQ(base64_decode(text), bytes_of(plain)) << text;
  }
}

TEST(Base64, RoundTripsRandomBytesOfEveryLengthAgainstTheReference) {
  std::mt19937 rng(7);
  for (std::size_t length = 0; length < 200; ++length) {
    std::vector<std::uint8_t> bytes(length < 100 ? length : length * 37);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    const std::string text = base64_encode(bytes);
    ASSERT_EQ(text, reference_encode(bytes)) << length;
    ASSERT_EQ(text.size(), base64_length(bytes.size()));
    ASSERT_EQ(base64_decode(text), bytes) << length;
  }
}

TEST(Base64, AppendKeepsWhatIsAlreadyThere) {
  std::string out = "{\"data\":\"";
  append_base64(out, bytes_of("foob"));
  EXPECT_EQ(out, "{\"data\":\"Zm9vYg==");
}

TEST(Base64, DecodingIsStrict) {
  const std::string_view rejected[] = {
      "Zg",                          // padding missing
      "Zg=",                         // length not a multiple of four
      "Zm9vY",                       // one character too many
      "Zh==",                        // non-zero bits under two "=" ('h' leaves 0001)
      "Zm9=",                        // non-zero bits under one "=" ('9' leaves 01)
      "Zg=A",                        // "=" before a data character
      "=Zg=",                        // "=" at the start
      "Z===",                        // three "="
      "====",                        // nothing but padding
      "Zg==Zm8=",                    // padding inside the text
      "Zm9vY===",                    // padding group of three "="
      "Zm-v",                        // URL-safe alphabet
      "Zm_v",                        // URL-safe alphabet
      "Zm9v\n",                      // line break
      " Zm9v",                       // leading white space
      "Zm 9",                        // white space inside
      "\xc3\xa9Zm",                  // bytes outside ASCII
      std::string_view("Zm\0v", 4),  // NUL
  };
  for (auto text : rejected) {
    EXPECT_EQ(base64_decode(text), std::nullopt) << text;
    EXPECT_EQ(b64_samples(text), std::nullopt) << text;
  }
}

TEST(Base64, DecodeIntoAShortBufferStillChecksTheDroppedBytes) {
  std::uint8_t out[4] = {};
  EXPECT_TRUE(base64_decode_into("Zm9vYmE=", {out, 4}));  // "fooba", last byte dropped
  EXPECT_EQ(std::memcmp(out, "foob", 4), 0);
  EXPECT_FALSE(base64_decode_into("Zm9vYm!=", {out, 4}));  // foreign character in the dropped part
  EXPECT_FALSE(
      base64_decode_into("Zm9vYmF=", {out, 4}));  // non-zero unused bits in the dropped part
}

TEST(SampleText, DecodesFloatsAndDropsOneToThreeTrailingBytes) {
  EXPECT_EQ(b64_samples(base64_encode(std::vector<std::uint8_t>{0x00, 0x00, 0x80, 0x3F})),
            std::vector<float>{1.0f});
  EXPECT_EQ(b64_samples(""), std::vector<float>{});
  for (std::size_t extra = 1; extra <= 3; ++extra) {
    std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xC0};
    bytes.insert(bytes.end(), extra, 0x55);
    EXPECT_EQ(b64_samples(base64_encode(bytes)), (std::vector<float>{1.0f, -2.0f})) << extra;
  }
  EXPECT_EQ(b64_samples(base64_encode(std::vector<std::uint8_t>{1, 2, 3})), std::vector<float>{});
}

TEST(SampleText, RoundTripsEveryBitPatternIncludingNonFiniteValues) {
  std::vector<float> samples = {0.0f,
                                -0.0f,
                                1.0f,
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::denorm_min(),
                                std::bit_cast<float>(0x7FA00001u)};  // signalling NaN with payload
  std::mt19937 rng(3);
  for (int i = 0; i < 1001; ++i)
    samples.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(rng())));
  const std::string text = samples_b64(samples);
  EXPECT_EQ(text.size(), base64_length(samples.size() * 4));
  const auto back = b64_samples(text);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), samples.size());
  EXPECT_EQ(std::memcmp(back->data(), samples.data(), samples.size() * 4), 0);
}

TEST(SampleText, WritesLittleEndianBytes) {
  EXPECT_EQ(samples_b64(std::vector<float>{1.0f}),
            base64_encode(std::vector<std::uint8_t>{0, 0, 0x80, 0x3F}));
  EXPECT_EQ(samples_b64({}), "");
}

}  // namespace
}  // namespace quillory::core
