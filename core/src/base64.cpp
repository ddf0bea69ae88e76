// Base64 codec and sample text. Both directions are single table-driven passes: a 256-frame table
// is 2 MiB of samples and 2.8 MB of text, carried by every table message and every saved state.
#include "core/base64.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace quillory::core {

namespace {

static_assert(std::endian::native == std::endian::little,
              "sample text is the samples' bytes as they lie in memory on a little-endian machine");

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of each 12-bit value: one lookup encodes half of a 3-byte group.
constexpr auto kPairs = [] {
  std::array<std::array<char, 2>, 4096> pairs{};
  for (std::size_t i = 0; i < pairs.size(); ++i) pairs[i] = {kAlphabet[i >> 6], kAlphabet[i & 63]};
  return pairs;
}();

// Decoding tables, one per position in a group, with the 6-bit value already shifted into place in
// a 24-bit group. Characters outside the alphabet carry kBad, which no valid value reaches, so a
// whole text is checked by OR-ing its group values together and testing that bit once.
constexpr std::uint32_t kBad = 1u << 24;
constexpr auto decode_table(int shift) {
  std::array<std::uint32_t, 256> table{};
  table.fill(kBad);
  for (std::uint32_t i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = i << shift;
  return table;
}
constexpr auto kDecode0 = decode_table(18);
constexpr auto kDecode1 = decode_table(12);
constexpr auto kDecode2 = decode_table(6);
constexpr auto kDecode3 = decode_table(0);

std::uint32_t group_value(const char* c) {
  return kDecode0[static_cast<unsigned char>(c[0])] | kDecode1[static_cast<unsigned char>(c[1])] |
         kDecode2[static_cast<unsigned char>(c[2])] | kDecode3[static_cast<unsigned char>(c[3])];
}

// Writes up to `count` (at most 3) bytes of a 24-bit group value, most significant first.
void put_bytes(std::uint32_t value, std::uint8_t* out, std::size_t count) {
  const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(value >> 16),
                                 static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value)};
  std::memcpy(out, bytes, count);
}

std::size_t padding_of(std::string_view text) {
  if (text.empty() || text.back() != '=') return 0;
  return text[text.size() - 2] == '=' ? 2 : 1;
}

}  // namespace

void append_base64(std::string& out, std::span<const std::uint8_t> bytes) {
  const std::size_t start = out.size();
  out.resize(start + base64_length(bytes.size()));
  char* o = out.data() + start;
  const std::uint8_t* in = bytes.data();
  const std::size_t whole = bytes.size() / 3 * 3;
  for (std::size_t i = 0; i < whole; i += 3, o += 4) {
    const std::uint32_t v = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8 | in[i + 2];
    std::memcpy(o, kPairs[v >> 12].data(), 2);
    std::memcpy(o + 2, kPairs[v & 0xFFF].data(), 2);
  }
  const std::size_t rest = bytes.size() - whole;
  if (rest == 0) return;
  const std::uint32_t v =
      std::uint32_t{in[whole]} << 16 | (rest == 2 ? std::uint32_t{in[whole + 1]} << 8 : 0);
  o[0] = kAlphabet[v >> 18];
  o[1] = kAlphabet[(v >> 12) & 63];
  o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
  o[3] = '=';
}

std::string base64_encode(std::span<const std::uint8_t> bytes) {
  std::string out;
  append_base64(out, bytes);
  return out;
}

std::optional<std::size_t> base64_decoded_size(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  return text.size() / 4 * 3 - padding_of(text);
}

bool base64_decode_into(std::string_view text, std::span<std::uint8_t> out) {
  if (text.size() % 4 != 0) return false;
  if (text.empty()) return true;
  const std::size_t groups = text.size() / 4;
  const char* in = text.data();
  std::uint8_t* o = out.data();
  const std::size_t capacity = out.size();
  std::uint32_t seen = 0;  // OR of every group value: kBad set when any character is foreign

  // All groups but the last. While four bytes of room remain, store the group as one 32-bit word
  // (its fourth byte is overwritten by the next group); near the end of `out`, byte by byte.
  std::size_t g = 0;
  for (; g + 1 < groups && 3 * g + 4 <= capacity; ++g) {
    const std::uint32_t v = group_value(in + 4 * g);
    seen |= v;
    const std::uint32_t word = __builtin_bswap32(v << 8);
    std::memcpy(o + 3 * g, &word, 4);
  }
  for (; g + 1 < groups; ++g) {
    const std::uint32_t v = group_value(in + 4 * g);
    seen |= v;
    if (3 * g < capacity) put_bytes(v, o + 3 * g, std::min<std::size_t>(3, capacity - 3 * g));
  }

  // The last group: "=" stands for zero bits here, which must also be all the bits it drops.
  const std::size_t pad = padding_of(text);
  char last[4];
  std::memcpy(last, in + 4 * g, 4);
  if (pad >= 1) last[3] = 'A';
  if (pad == 2) last[2] = 'A';
  const std::uint32_t v = group_value(last);
  const std::uint32_t dropped_bits = pad == 2 ? 0xFFFF : pad == 1 ? 0xFF : 0;
  if ((v & dropped_bits) != 0) return false;
  seen |= v;
  if (3 * g < capacity) put_bytes(v, o + 3 * g, std::min<std::size_t>(3 - pad, capacity - 3 * g));
  return (seen & kBad) == 0;
}

std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text) {
  const auto size = base64_decoded_size(text);
  if (!size) return std::nullopt;
  std::vector<std::uint8_t> bytes(*size);
  if (!base64_decode_into(text, bytes)) return std::nullopt;
  return bytes;
}

void append_samples_b64(std::string& out, std::span<const float> samples) {
  append_base64(out, {reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size_bytes()});
}

std::string samples_b64(std::span<const float> samples) {
  std::string out;
  append_samples_b64(out, samples);
  return out;
}

std::optional<std::vector<float>> b64_samples(std::string_view text) {
  const auto size = base64_decoded_size(text);
  if (!size) return std::nullopt;
  std::vector<float> samples(*size / sizeof(float));
  if (!base64_decode_into(
          text, {reinterpret_cast<std::uint8_t*>(samples.data()), samples.size() * sizeof(float)}))
    return std::nullopt;
  return samples;
}

}  // namespace quillory::core
