#pragma once
// Small tables and helpers shared by the engine tests.
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

#include "synth/engine.hpp"

namespace quillory::synth::testing {

// A table of cols x rows x layers frames of n samples, sample i of frame f given by fill(f, i).
inline TableHandle make_table(std::size_t n, std::size_t cols, std::size_t rows, std::size_t layers,
                              const std::function<float(std::size_t, std::size_t)>& fill) {
  std::vector<std::vector<float>> frames(cols * rows * layers, std::vector<float>(n));
  for (std::size_t f = 0; f < frames.size(); ++f)
    for (std::size_t i = 0; i < n; ++i) frames[f][i] = fill(f, i);
  return std::make_shared<const Table>(*Table::create(frames, rows, layers));
}

// One frame holding a constant: every level reads that value at any phase.
inline TableHandle constant_table(float value, std::size_t n = 16) {
  return make_table(n, 1, 1, 1, [=](std::size_t, std::size_t) { return value; });
}

// Frames of a few harmonics whose mix changes with the frame index, so every corner sounds
// different.
inline TableHandle harmonic_table(std::size_t n, std::size_t cols, std::size_t rows = 1,
                                  std::size_t layers = 1) {
  return make_table(n, cols, rows, layers, [=](std::size_t f, std::size_t i) {
    const float x =
        2.0f * std::numbers::pi_v<float> * static_cast<float>(i) / static_cast<float>(n);
    const float k = static_cast<float>(f % 5 + 1);
    return 0.6f * std::sin(x) + 0.3f * std::sin(k * x + 0.1f * static_cast<float>(f)) +
           0.1f * std::cos(3.0f * x);
  });
}

inline std::vector<float> render(Engine& e, std::size_t n) {
  std::vector<float> out(n);
  e.render(out.data(), n);
  return out;
}

// Settings whose envelope 1 reaches its sustain almost at once.
inline Settings quick_envelope(float sustain = 0.8f) {
  Settings s;
  s.adsr = {.a = 0.001f, .d = 0.005f, .s = sustain, .r = 0.25f};
  return s;
}

}  // namespace quillory::synth::testing
