#pragma once
// Builds small WAV and Surge files byte by byte for tests, from a few fields each.

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

namespace quillory::testing {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(Bytes& b, std::uint32_t v) {
  put16(b, static_cast<std::uint16_t>(v));
  put16(b, static_cast<std::uint16_t>(v >> 16));
}
inline void put_text(Bytes& b, std::string_view text) {
  b.insert(b.end(), text.begin(), text.end());
}

inline Bytes text_bytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// Little-endian sample data.
inline Bytes i16s(std::initializer_list<std::int16_t> values) {
  Bytes b;
  for (auto v : values) put16(b, static_cast<std::uint16_t>(v));
  return b;
}
inline Bytes f32s(std::initializer_list<float> values) {
  Bytes b;
  for (auto v : values) put32(b, std::bit_cast<std::uint32_t>(v));
  return b;
}

constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kFloat = 3;
constexpr std::uint16_t kExtensible = 0xFFFE;

// "RIFF", a size, "WAVE", then the chunks added in order.
struct WavBuilder {
  Bytes bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};

  // A chunk with its data; `declared` overrides the size field (for truncated or lying chunks).
  // Odd-sized data gets its pad byte.
  WavBuilder& chunk(std::string_view id, const Bytes& data,
                    std::optional<std::uint32_t> declared = std::nullopt) {
    put_text(bytes, id);
    put32(bytes, declared.value_or(static_cast<std::uint32_t>(data.size())));
    bytes.insert(bytes.end(), data.begin(), data.end());
    if (data.size() % 2 == 1 && !declared) bytes.push_back(0xEE);
    return *this;
  }
  // The 16-byte "fmt " data, plus `extra` bytes after it.
  WavBuilder& fmt(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
                  const Bytes& extra = {}) {
    Bytes d;
    put16(d, tag);
    put16(d, channels);
    put32(d, 48000);
    put32(d, 48000u * channels * bits / 8);
    put16(d, static_cast<std::uint16_t>(channels * bits / 8));
    put16(d, bits);
    d.insert(d.end(), extra.begin(), extra.end());
    return chunk("fmt ", d);
  }
  // Extensible "fmt " of 40 bytes whose sub-format starts with `sub_tag`.
  WavBuilder& fmt_extensible(std::uint16_t channels, std::uint16_t bits, std::uint16_t sub_tag) {
    Bytes extra;
    put16(extra, 22);    // extension size
    put16(extra, bits);  // valid bits
    put32(extra, 0);     // channel mask
    put16(extra, sub_tag);
    extra.resize(24, 0x11);  // the rest of the sub-format identifier
    return fmt(kExtensible, channels, bits, extra);
  }
  WavBuilder& data(const Bytes& samples) { return chunk("data", samples); }
  WavBuilder& clm(std::string_view text) { return chunk("clm ", text_bytes(text)); }
  WavBuilder& srge(std::int32_t frame_size) {
    Bytes d;
    put32(d, 1);
    put32(d, static_cast<std::uint32_t>(frame_size));
    return chunk("srge", d);
  }
  WavBuilder& wt3d(std::uint32_t version, std::uint32_t frame_size, std::uint32_t cols,
                   std::uint32_t rows, std::uint32_t layers, std::string_view names = {},
                   std::optional<std::uint32_t> names_length = std::nullopt) {
    Bytes d;
    for (auto v : {version, frame_size, cols, rows, layers, 0u}) put32(d, v);
    put32(d, names_length.value_or(static_cast<std::uint32_t>(names.size())));
    put_text(d, names);
    return chunk("wt3d", d);
  }
};

// A mono 16-bit WAV's "fmt ", with room for tags before the data.
inline WavBuilder mono16() {
  WavBuilder w;
  w.fmt(kPcm, 1, 16);
  return w;
}
inline Bytes zeros16(std::size_t count) {
  return Bytes(count * 2, 0);
}

// A Surge file: header then the given sample bytes.
inline Bytes surge_file(std::uint32_t frame_size, std::uint16_t frames, std::uint16_t flags,
                        const Bytes& samples) {
  Bytes b{'v', 'a', 'w', 't'};
  put32(b, frame_size);
  put16(b, frames);
  put16(b, flags);
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

}  // namespace quillory::testing
