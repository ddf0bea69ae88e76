// Building playback tables: level layout, per-frame mip levels and frame replacement.
#include "synth/table.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "wavetable/dsp.hpp"

namespace quillory::synth {
namespace {

// floor(log2(N/2)) + 1 with N/2 rounded down and the logarithm in single precision.
std::size_t level_count(std::size_t n) {
  return static_cast<std::size_t>(std::floor(std::log2(static_cast<float>(n / 2)))) + 1;
}

// Copies the levels into an exactly-sized shared buffer, replacing non-finite samples by 0.
FrameBuffer to_buffer(const std::vector<float>& levels) {
  auto buffer = std::make_shared_for_overwrite<float[]>(levels.size());
  std::transform(levels.begin(), levels.end(), buffer.get(),
                 [](float v) { return std::isfinite(v) ? v : 0.0f; });
  return buffer;
}

}  // namespace

FrameBuffer mips(std::span<const float> frame, std::size_t levels) {
  return to_buffer(wavetable::mipmaps(frame, levels));
}

// Shape checks and level layout shared by create and from_flat; frames come in as spans so the
// flat route never copies them.
struct TableBuilder {
  template <class FrameAt>
  static std::optional<Table> build(std::size_t count, std::size_t n, std::size_t rows,
                                    std::size_t layers, FrameAt frame_at, LevelBuilder levels_of) {
    if (count == 0 || n < 2) return std::nullopt;
    rows = std::max<std::size_t>(rows, 1);
    layers = std::max<std::size_t>(layers, 1);
    std::size_t cells = 0;  // rows x layers; a product that overflows is no valid shape
    if (__builtin_mul_overflow(rows, layers, &cells) || count % cells != 0) return std::nullopt;

    Table t;
    t.frame_size_ = n;
    t.rows_ = rows;
    t.layers_ = layers;
    t.cols_ = count / cells;
    const std::size_t levels = level_count(n);
    t.lengths_.resize(levels);
    t.offsets_.resize(levels);
    for (std::size_t i = 0; i < levels; ++i) {
      t.lengths_[i] = wavetable::mip_length(n, i);
      t.offsets_[i] = t.stride_;
      t.stride_ += t.lengths_[i];
    }
    t.frames_.reserve(count);
    for (std::size_t f = 0; f < count; ++f) {
      auto computed = levels_of(frame_at(f), levels);
      if (computed.size() != t.stride_) return std::nullopt;  // the level layouts must agree
      t.frames_.push_back(to_buffer(computed));
    }
    return t;
  }
};

std::optional<Table> Table::create(std::span<const std::vector<float>> frames, std::size_t rows,
                                   std::size_t layers) {
  if (frames.empty()) return std::nullopt;
  const std::size_t n = frames[0].size();
  for (const auto& f : frames)
    if (f.size() != n) return std::nullopt;
  return TableBuilder::build(
      frames.size(), n, rows, layers,
      [&](std::size_t i) { return std::span<const float>(frames[i]); }, &wavetable::mipmaps);
}

std::optional<Table> Table::from_flat(std::span<const float> samples, std::size_t frame_size,
                                      std::size_t rows, std::size_t layers) {
  return from_flat(samples, frame_size, rows, layers, &wavetable::mipmaps);
}

std::optional<Table> Table::from_flat(std::span<const float> samples, std::size_t frame_size,
                                      std::size_t rows, std::size_t layers, LevelBuilder build) {
  if (frame_size == 0 || samples.size() % frame_size != 0) return std::nullopt;
  return TableBuilder::build(
      samples.size() / frame_size, frame_size, rows, layers,
      [&](std::size_t i) { return samples.subspan(i * frame_size, frame_size); }, build);
}

std::optional<Table> Table::with_frame(std::size_t index, std::span<const float> frame) const {
  if (index >= frames_.size() || frame.size() != frame_size_) return std::nullopt;
  auto levels = wavetable::mipmaps(frame, lengths_.size());
  if (levels.size() != stride_) return std::nullopt;
  Table t = *this;  // shares every frame buffer
  t.frames_[index] = to_buffer(levels);
  return t;
}

}  // namespace quillory::synth
