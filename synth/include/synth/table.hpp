#pragma once
// Playback tables: a grid of single-cycle frames (columns, rows, layers), each frame stored as all
// of its band-limited mip levels back to back, plus the audio-thread pieces that read them: the
// mip level choice, the position-to-weights rule and the Reader.
//
// A Table never changes after construction. Tables and their frame buffers are shared through
// std::shared_ptr (atomic reference counts), so the table store and the engine may each hold and
// release a table on their own thread; with_frame shares every untouched frame buffer.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace quillory::synth {

// One frame's mip levels, level 0 first, back to back; exactly Table::frame_stride() floats.
using FrameBuffer = std::shared_ptr<const float[]>;

// Computes a frame's levels concatenated (wavetable::mipmaps by default; the benchmark swaps in
// the literal two-transform route through this seam).
using LevelBuilder = std::vector<float> (*)(std::span<const float> frame, std::size_t levels);

// A new buffer holding `levels` mip levels of `frame`; samples that are not finite become 0.
FrameBuffer mips(std::span<const float> frame, std::size_t levels);

class Table {
 public:
  // Frames of equal length N >= 2 whose count is a whole multiple of rows x layers (0 counts as
  // 1); none otherwise, also when rows x layers does not fit in a size_t.
  static std::optional<Table> create(std::span<const std::vector<float>> frames, std::size_t rows,
                                     std::size_t layers);
  // All frames back to back in one sequence; none when frame_size is 0 or does not divide the
  // sample count, and for everything create refuses. Builds each frame's levels straight from the
  // flat samples.
  static std::optional<Table> from_flat(std::span<const float> samples, std::size_t frame_size,
                                        std::size_t rows, std::size_t layers);
  static std::optional<Table> from_flat(std::span<const float> samples, std::size_t frame_size,
                                        std::size_t rows, std::size_t layers, LevelBuilder build);

  // A new table with frame `index` replaced (its levels recomputed) and every other frame buffer
  // shared with this one; none when index >= frame_count() or the frame is not N samples long.
  std::optional<Table> with_frame(std::size_t index, std::span<const float> frame) const;

  std::size_t frame_size() const { return frame_size_; }
  std::size_t levels() const { return lengths_.size(); }
  std::span<const std::size_t> lengths() const { return lengths_; }
  std::span<const std::size_t> offsets() const { return offsets_; }
  std::size_t cols() const { return cols_; }
  std::size_t rows() const { return rows_; }
  std::size_t layers() const { return layers_; }
  std::size_t frame_count() const { return frames_.size(); }
  // Floats in one frame buffer: the sum of all level lengths (6144 for N = 2048).
  std::size_t frame_stride() const { return stride_; }

  // The shared buffer of one frame (for sharing checks and copies).
  const FrameBuffer& frame(std::size_t index) const { return frames_[index]; }
  // Raw pointer to one frame's levels; level i starts at offsets()[i]. Audio-thread safe.
  const float* frame_data(std::size_t index) const { return frames_[index].get(); }
  // One level of one frame.
  std::span<const float> level(std::size_t frame_index, std::size_t level_index) const {
    return {frames_[frame_index].get() + offsets_[level_index], lengths_[level_index]};
  }

 private:
  Table() = default;

  std::vector<FrameBuffer> frames_;
  std::vector<std::size_t> lengths_;
  std::vector<std::size_t> offsets_;
  std::size_t frame_size_ = 0;
  std::size_t stride_ = 0;
  std::size_t cols_ = 0;
  std::size_t rows_ = 1;
  std::size_t layers_ = 1;

  friend struct TableBuilder;
};

// A table shared between the table store and the engine.
using TableHandle = std::shared_ptr<const Table>;

// Float to unsigned index with saturation: NaN and negatives give 0, too large gives the maximum.
inline std::size_t saturate_index(float v) {
  // 2^64 as a float; every float below it converts exactly.
  constexpr float kLimit = 18446744073709551616.0f;
  if (!(v > 0.0f)) return 0;
  if (v >= kLimit) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(v);
}

// The first mip level whose harmonics all lie at or below half the sample rate for a note of
// `freq` Hz, or the last level when none does. Audio thread; never allocates.
inline std::size_t mip_level(const Table& table, float freq, float sample_rate) {
  const float highest = static_cast<float>(table.frame_size()) * 0.5f;  // level 0's top harmonic
  const float below_nyquist = (sample_rate * 0.5f) / freq;              // top harmonic to keep
  const std::size_t v = saturate_index(std::ceil(std::log2(highest / below_nyquist)));
  return v < table.levels() - 1 ? v : table.levels() - 1;
}

// The eight frames around a position and their blend weights (summing to 1). Corner order is X
// fastest, then Y, then Z: (x0,y0,z0), (x1,y0,z0), (x0,y1,z0), (x1,y1,z0), then the same at z1.
struct FrameWeights {
  std::array<std::size_t, 8> frames{};
  std::array<float, 8> weights{};
};

namespace detail {

// Grid coordinates of one axis with n points around a coordinate in 0..1.
struct AxisSpan {
  std::size_t i0, i1;
  float t;
};

inline AxisSpan axis_span(float coordinate, std::size_t n) {
  const float p = coordinate * static_cast<float>(n - 1);
  std::size_t i0 = saturate_index(std::floor(p));
  // Inputs stay in 0..1, where this never bites; it keeps a stray coordinate inside the grid.
  if (i0 > n - 1) i0 = n - 1;
  const std::size_t i1 = i0 + 1 < n ? i0 + 1 : n - 1;
  return {i0, i1, p - static_cast<float>(i0)};
}

}  // namespace detail

// Trilinear weights of the eight frames around (x, y, z), each in 0..1. Audio thread.
inline FrameWeights frame_weights(const Table& table, float x, float y, float z) {
  const auto ax = detail::axis_span(x, table.cols());
  const auto ay = detail::axis_span(y, table.rows());
  const auto az = detail::axis_span(z, table.layers());
  const std::size_t cols = table.cols();
  const std::size_t layer_size = table.rows() * cols;
  const std::array<std::size_t, 2> xs{ax.i0, ax.i1};
  const std::array<std::size_t, 2> ys{ay.i0 * cols, ay.i1 * cols};
  const std::array<std::size_t, 2> zs{az.i0 * layer_size, az.i1 * layer_size};
  const std::array<float, 4> plane{(1.0f - ax.t) * (1.0f - ay.t), ax.t * (1.0f - ay.t),
                                   (1.0f - ax.t) * ay.t, ax.t * ay.t};
  FrameWeights w;
  for (std::size_t k = 0; k < 8; ++k) {
    w.frames[k] = zs[k >> 2] + ys[(k >> 1) & 1] + xs[k & 1];
    w.weights[k] = plane[k & 3] * (k < 4 ? 1.0f - az.t : az.t);
  }
  return w;
}

// A view of one mip level of one table, made per voice and block on the audio thread. Holds no
// memory of its own; the table must outlive it.
struct Reader {
  const Table* table = nullptr;
  std::size_t offset = 0;  // start of the level inside each frame buffer
  std::size_t len = 0;     // length of the level

  static Reader at_level(const Table& table, std::size_t level) {
    return {&table, table.offsets()[level], table.lengths()[level]};
  }

  // The blended sample at `phase` (0..1): linear interpolation within each frame, wrapping from
  // the last sample to the first, and the corners blended by weight; corners of weight exactly 0
  // are not read.
  float sample(const FrameWeights& w, float phase) const {
    const float pos = phase * static_cast<float>(len);
    std::size_t i0 = saturate_index(pos);
    if (i0 > len - 1) i0 = len - 1;
    const float frac = pos - static_cast<float>(i0);
    const std::size_t i1 = i0 + 1 == len ? 0 : i0 + 1;
    float acc = 0.0f;
    for (std::size_t k = 0; k < 8; ++k) {
      const float weight = w.weights[k];
      if (weight == 0.0f) continue;
      const float* level = table->frame_data(w.frames[k]) + offset;
      const float a = level[i0];
      const float b = level[i1];
      acc += weight * (a + (b - a) * frac);
    }
    return acc;
  }
};

}  // namespace quillory::synth
