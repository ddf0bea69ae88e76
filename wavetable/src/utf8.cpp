#include "wavetable/utf8.hpp"

#include <cstddef>
#include <cstdint>

namespace quillory::wavetable {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed sequence starting at `at`, or 0 when it is ill-formed; `bad` is then
// the number of bytes of its longest valid prefix (at least 1), which one U+FFFD replaces.
std::size_t sequence_length(std::string_view s, std::size_t at, std::size_t& bad) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[at + i]); };
  const std::uint8_t lead = byte(0);
  bad = 1;
  if (lead < 0x80) return 1;
  std::size_t length;
  std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (at + i >= s.size()) return 0;
    const std::uint8_t b = byte(i);
    const bool ok = i == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
    if (!ok) return 0;
    bad = i + 1;
  }
  return length;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t bad = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = sequence_length(bytes, at, bad);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t bad = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = sequence_length(bytes, at, bad);
    if (n == 0) {
      out += kReplacement;
      at += bad;
    } else {
      out.append(bytes.substr(at, n));
      at += n;
    }
  }
  return out;
}

}  // namespace quillory::wavetable
