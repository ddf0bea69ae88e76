#include "synth/filter.hpp"

#include <algorithm>
#include <numbers>

namespace quillory::synth {

namespace {
// Clamp that sends a NaN to the lower bound, so a broken modulation sum cannot poison the state.
float clamp_low_first(float v, float lo, float hi) {
  return std::min(v > lo ? v : lo, hi);
}
}  // namespace

FilterCoefficients filter_coefficients(float cutoff, float resonance, float sample_rate) {
  const float fmax = kMaxCutoffPerRate * sample_rate;
  const float fc = clamp_low_first(cutoff, kMinCutoffHz, fmax);
  const float q = clamp_low_first(resonance, 0.0f, 1.0f);
  FilterCoefficients c;
  c.k = 2.0f - 1.96f * q;
  const float g = std::tan(std::numbers::pi_v<float> * fc / sample_rate);
  c.a1 = 1.0f / (1.0f + g * (g + c.k));
  c.a2 = g * c.a1;
  c.a3 = g * c.a2;
  return c;
}

}  // namespace quillory::synth
