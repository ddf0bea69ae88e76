#include "synth/envelope.hpp"

#include <algorithm>

namespace quillory::synth {

void step_envelope(EnvState& env, const Adsr& adsr, float dt) {
  const float a = std::max(adsr.a, kMinEnvelopeSeconds);
  const float d = std::max(adsr.d, kMinEnvelopeSeconds);
  const float r = std::max(adsr.r, kMinEnvelopeSeconds);
  const float s = adsr.s;
  switch (env.stage) {
    case EnvStage::Attack:
      env.level = env.level + dt / a;
      if (env.level >= 1.0f) env = {1.0f, EnvStage::Decay};
      break;
    case EnvStage::Decay:
      env.level = env.level - (1.0f - s) * dt / d;
      if (env.level <= s) env = {s, EnvStage::Sustain};
      break;
    case EnvStage::Sustain:
      env.level = s;
      break;
    case EnvStage::Release:
      env.level = env.level - dt / r;
      if (env.level <= 0.0f) env = {0.0f, EnvStage::Idle};
      break;
    case EnvStage::Idle:
      break;
  }
}

}  // namespace quillory::synth
