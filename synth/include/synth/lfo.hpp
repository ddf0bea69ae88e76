#pragma once
// LFO waveforms and the random generator the three LFOs share.

#include <cstdint>

#include "synth/settings.hpp"

namespace quillory::synth {

// Seed of the LFOs' random generator (the golden ratio in 32-bit fixed point).
inline constexpr std::uint32_t kRandomSeed = 2654435769u;

// 32-bit xorshift with shifts 13, 17, 5: advances the state and gives the new one.
constexpr std::uint32_t next_random(std::uint32_t x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

// A generator state as a value from -1 to 1.
constexpr float random_bipolar(std::uint32_t state) {
  return 2.0f * (static_cast<float>(state) / 4294967296.0f) - 1.0f;
}

// The bipolar value (-1..1) of a shape at phase p in 0..1; Random gives the held value.
float lfo_value(LfoShape shape, float p, float held);

}  // namespace quillory::synth
