#pragma once
// The WAV wavetable reader: RIFF/WAVE bytes to mono single-precision samples, plus the tags that
// say how the samples divide into frames ("clm ", "srge") and into a 3-D grid ("wt3d"). It decides
// nothing about frames itself; the file loader does. Works on bytes in memory, never on files.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "wavetable/result.hpp"
#include "wavetable/wavetable.hpp"

namespace quillory::wavetable::wav {

enum class SampleFormat { Pcm, Float };

// The format as read from a "fmt " chunk.
struct Fmt {
  std::uint32_t sample_rate = 0;
  std::uint16_t channels = 0;
  std::uint16_t bits_per_sample = 0;
  SampleFormat format = SampleFormat::Pcm;

  // PCM of 8, 16, 24 or 32 bits, or float of 32 or 64 bits.
  bool supported() const;

  // One sample per whole block (channels x bytes per sample) of interleaved data, the mean of its
  // channels; a trailing partial block is ignored. Empty when the format is not supported.
  std::vector<float> decode_mono(std::span<const std::uint8_t> data) const;
};

// A "wt3d" grid: frames of frame_size samples in cols x rows x layers.
struct Grid {
  std::size_t frame_size = 0;
  std::size_t cols = 0;
  std::size_t rows = 0;
  std::size_t layers = 0;
  std::uint32_t extra = 0;         // kept, not used
  std::vector<std::string> names;  // one per layer, or empty

  bool operator==(const Grid&) const = default;
};

struct DecodedWav {
  std::vector<float> samples;
  // The kept grid's frame size, else the first valid "clm " or "srge" value in file order.
  std::optional<std::uint64_t> frame_size_hint;
  // The "srge" value, else 2048 when the first valid "clm " value is 2048.
  std::optional<std::uint64_t> surge_frame_size;
  // Only when frame_size x cols x rows x layers equals the sample count.
  std::optional<Grid> grid;
  std::uint32_t sample_rate = 0;
  std::uint16_t channels = 0;
  std::uint16_t bits_per_sample = 0;
};

// Decodes a whole WAV file. Damaged tags are ignored; only the container and format fail.
Result<DecodedWav, Error> decode(std::span<const std::uint8_t> bytes);

}  // namespace quillory::wavetable::wav
