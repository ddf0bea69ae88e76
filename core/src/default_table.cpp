// The built-in table: five harmonic sums in single precision, computed once per process.
#include "core/default_table.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace quillory::core {
namespace {

constexpr std::size_t kFrameSize = 2048;
constexpr std::size_t kHighestHarmonic = 1023;
constexpr float kTwoPi = 6.2831855f;  // 2 pi rounded to single precision
constexpr float kPi = 3.1415927f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kInvFrameSize = 1.0f / 2048.0f;  // exact
constexpr float kPeakFloor = 0.000000001f;       // keeps a silent frame from dividing by 0

struct Harmonic {
  float amplitude;  // 0 skips the harmonic
  float phase;
};

using HarmonicRule = Harmonic (*)(std::size_t k);

Harmonic sine(std::size_t k) {
  return {k == 1 ? 1.0f : 0.0f, 0.0f};
}

// Odd harmonics at 1/k^2, every other one inverted (k = 3, 7, 11, ...).
Harmonic triangle(std::size_t k) {
  if (k % 2 == 0) return {0.0f, 0.0f};
  return {1.0f / static_cast<float>(k * k), ((k - 1) & 2) != 0 ? kPi : 0.0f};
}

Harmonic sawtooth(std::size_t k) {
  return {1.0f / static_cast<float>(k), 0.0f};
}

Harmonic square(std::size_t k) {
  return {k % 2 == 0 ? 0.0f : 1.0f / static_cast<float>(k), 0.0f};
}

// A quarter-cycle pulse centred on sample 0: cosine harmonics with sin(k pi / 4) / k.
Harmonic pulse(std::size_t k) {
  const float kf = static_cast<float>(k);
  return {std::sin((kf * kPi) * 0.25f) / kf, kHalfPi};
}

constexpr std::array<HarmonicRule, 5> kFrames{sine, triangle, sawtooth, square, pulse};

// Sums the harmonics into `frame` in the order k = 1..1023, then scales it to a peak of 1.
void render(HarmonicRule rule, float* frame) {
  for (std::size_t k = 1; k <= kHighestHarmonic; ++k) {
    const Harmonic h = rule(k);
    if (h.amplitude == 0.0f) continue;
    const float step = static_cast<float>(k) * kTwoPi;
    for (std::size_t n = 0; n < kFrameSize; ++n)
      frame[n] += h.amplitude * std::sin(static_cast<float>(n) * step * kInvFrameSize + h.phase);
  }
  float peak = 0.0f;
  for (std::size_t n = 0; n < kFrameSize; ++n) peak = std::max(peak, std::fabs(frame[n]));
  const float d = std::max(peak, kPeakFloor);
  for (std::size_t n = 0; n < kFrameSize; ++n) frame[n] /= d;
}

TableData build() {
  TableData t{"Built-in", std::vector<float>(kFrames.size() * kFrameSize), kFrameSize, 1, 1};
  for (std::size_t f = 0; f < kFrames.size(); ++f)
    render(kFrames[f], t.data.data() + f * kFrameSize);
  return t;
}

}  // namespace

TableData default_table() {
  static const TableData table = build();
  return table;
}

}  // namespace quillory::core
