#include "synth/lfo.hpp"

#include <cmath>
#include <numbers>

namespace quillory::synth {

float lfo_value(LfoShape shape, float p, float held) {
  switch (shape) {
    case LfoShape::Sine:
      return std::sin(2.0f * std::numbers::pi_v<float> * p);
    case LfoShape::Triangle:  // -1 at the start of the cycle, 1 in the middle
      return p < 0.5f ? 4.0f * p - 1.0f : 3.0f - 4.0f * p;
    case LfoShape::Saw:
      return 2.0f * p - 1.0f;
    case LfoShape::Square:
      return p < 0.5f ? 1.0f : -1.0f;
    case LfoShape::Random:
      return held;
  }
  return 0.0f;
}

}  // namespace quillory::synth
