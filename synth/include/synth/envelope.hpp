#pragma once
// Linear ADSR envelopes, stepped once per block of samples.

#include <cstdint>

#include "synth/settings.hpp"

namespace quillory::synth {

enum class EnvStage : std::uint8_t { Attack, Decay, Sustain, Release, Idle };

struct EnvState {
  float level = 0.0f;
  EnvStage stage = EnvStage::Idle;
  friend bool operator==(const EnvState&, const EnvState&) = default;
};

// Shortest segment time: keeps every slope finite whatever the settings say.
inline constexpr float kMinEnvelopeSeconds = 0.001f;

// Advances one envelope by dt seconds. Segments are straight lines: the attack rises at 1/a from
// wherever the level is, the release falls at 1/r whatever level it began from.
void step_envelope(EnvState& env, const Adsr& adsr, float dt);

}  // namespace quillory::synth
