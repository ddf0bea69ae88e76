#include "wavetable/surge.hpp"

#include <bit>
#include <cstring>
#include <vector>

namespace quillory::wavetable::surge {
namespace {

constexpr std::size_t kHeaderBytes = 12;

std::uint32_t u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint16_t u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The divisors are powers of two, so multiplying by their reciprocal gives the same result.
void decode_int16(const std::uint8_t* p, float scale, std::vector<float>& out) {
  for (float& sample : out) {
    sample = float(static_cast<std::int16_t>(u16(p))) * scale;
    p += 2;
  }
}

void decode_float(const std::uint8_t* p, std::vector<float>& out) {
  for (float& sample : out) {
    sample = std::bit_cast<float>(u32(p));
    p += 4;
  }
}

}  // namespace

Result<Wavetable, Error> decode(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), "vawt", 4) != 0) {
    return fail(Error::invalid_format("not a Surge .wt file"));
  }
  const std::uint32_t frame_size = u32(bytes.data() + 4);
  const std::uint16_t frame_count = u16(bytes.data() + 8);
  const std::uint16_t flags = u16(bytes.data() + 10);
  if (flags & kFlagIsSample) return fail(Error::unsupported("Surge .wt sample (not a wavetable)"));

  // At most 2^32 x 2^16 samples of at most 4 bytes: fits in 64 bits. The count is checked against
  // the bytes present before anything is allocated.
  const std::uint64_t count = std::uint64_t{frame_size} * frame_count;
  const bool int16 = flags & kFlagInt16;
  const std::uint64_t needed = count * (int16 ? 2 : 4);
  if (needed > bytes.size() - kHeaderBytes) {
    return fail(Error::invalid_format("Surge .wt data is truncated"));
  }
  std::vector<float> samples(static_cast<std::size_t>(count));
  const std::uint8_t* data = bytes.data() + kHeaderBytes;
  if (int16) {
    decode_int16(data, (flags & kFlagFullRange) ? 1.0f / 32768.0f : 1.0f / 16384.0f, samples);
  } else {
    decode_float(data, samples);
  }
  return Wavetable::from_data(frame_size, std::move(samples));
}

}  // namespace quillory::wavetable::surge
