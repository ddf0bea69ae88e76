#pragma once
// Linear ADSR envelopes, stepped once per block of samples.

#include <algorithm>
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
// wherever the level is, the release falls at 1/r whatever level it began from. Inline: it runs
// for every voice in every block.
inline void step_envelope(EnvState& env, const Adsr& adsr, float dt) {
  switch (env.stage) {
    case EnvStage::Attack:
      env.level = env.level + dt / std::max(adsr.a, kMinEnvelopeSeconds);
      if (env.level >= 1.0f) env = {1.0f, EnvStage::Decay};
      break;
    case EnvStage::Decay:
      env.level = env.level - (1.0f - adsr.s) * dt / std::max(adsr.d, kMinEnvelopeSeconds);
      if (env.level <= adsr.s) env = {adsr.s, EnvStage::Sustain};
      break;
    case EnvStage::Sustain:
      env.level = adsr.s;
      break;
    case EnvStage::Release:
      env.level = env.level - dt / std::max(adsr.r, kMinEnvelopeSeconds);
      if (env.level <= 0.0f) env = {0.0f, EnvStage::Idle};
      break;
    case EnvStage::Idle:
      break;
  }
}

}  // namespace quillory::synth
