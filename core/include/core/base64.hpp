#pragma once
// Standard base64 (RFC 4648 alphabet with "+" and "/", "=" padding) and the sample text built on
// it: single-precision samples as base64 of their little-endian bytes, used by the saved state and
// the page messages alike.
//
// Decoding is strict: the length must be a multiple of four, "=" may only pad the last group (one
// or two of them), no character outside the alphabet is accepted, and the bits that padding leaves
// unused in the last group must be zero, so every byte string has exactly one accepted text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillory::core {

// Characters needed for `bytes` bytes, padding included.
constexpr std::size_t base64_length(std::size_t bytes) {
  return (bytes + 2) / 3 * 4;
}

// Appends the base64 text of `bytes` to `out` (one allocation at most).
void append_base64(std::string& out, std::span<const std::uint8_t> bytes);
std::string base64_encode(std::span<const std::uint8_t> bytes);

// Bytes a well-formed text of this length and padding decodes to; none if the length is not a
// multiple of four. Only the length and the trailing "=" are looked at.
std::optional<std::size_t> base64_decoded_size(std::string_view text);

// Decodes `text` into `out`, which holds at most base64_decoded_size(text) bytes: every byte is
// decoded and checked, the ones past the end of `out` are dropped. False when the text is not
// strict base64 (then `out` holds garbage).
bool base64_decode_into(std::string_view text, std::span<std::uint8_t> out);
std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text);

// Sample text: each sample as its 4 little-endian IEEE-754 bytes, all in one base64 text.
void append_samples_b64(std::string& out, std::span<const float> samples);
std::string samples_b64(std::span<const float> samples);

// Samples of a sample text: groups of four bytes from the start, 1 to 3 bytes left over at the end
// are dropped. None when the text is not strict base64.
std::optional<std::vector<float>> b64_samples(std::string_view text);

}  // namespace quillory::core
