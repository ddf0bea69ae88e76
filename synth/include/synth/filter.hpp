#pragma once
// The per-voice state-variable filter in trapezoidal (topology-preserving) form: two integrators,
// 12 dB/octave low- and high-pass, 6 dB/octave band-pass with peak gain 1 at the cutoff.

#include <array>
#include <cmath>

#include "synth/settings.hpp"

namespace quillory::synth {

inline constexpr float kMinCutoffHz = 20.0f;
inline constexpr float kMaxCutoffPerRate = 0.45f;  // highest cutoff as a fraction of the rate
inline constexpr float kTinyState = 1e-20f;        // smaller magnitudes are flushed to 0

struct FilterCoefficients {
  float k = 2.0f;  // damping: 2 at resonance 0 down to 0.04 at resonance 1
  float a1 = 0.0f;
  float a2 = 0.0f;
  float a3 = 0.0f;
};

// Coefficients for a cutoff (Hz, after modulation) and resonance, both clamped to their ranges.
// Below a rate of about 44.5 Hz the cutoff range is empty; the upper limit then wins.
FilterCoefficients filter_coefficients(float cutoff, float resonance, float sample_rate);

// One sample through the filter; state holds the integrators ic1, ic2.
template <FilterType type>
inline float filter_sample(const FilterCoefficients& c, std::array<float, 2>& state, float x) {
  const float ic1 = state[0], ic2 = state[1];
  const float u = x - ic2;
  const float band = c.a1 * ic1 + c.a2 * u;
  const float low = ic2 + c.a2 * ic1 + c.a3 * u;
  state[0] = 2.0f * band - ic1;
  state[1] = 2.0f * low - ic2;
  if constexpr (type == FilterType::LowPass) return low;
  if constexpr (type == FilterType::HighPass) return x - c.k * band - low;
  return c.k * band;
}

// Zero for values that are not finite or too small to matter (keeps denormals out).
inline float flush_tiny(float v) {
  return std::isfinite(v) && std::fabs(v) >= kTinyState ? v : 0.0f;
}

}  // namespace quillory::synth
