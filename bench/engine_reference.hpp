#pragma once
// A plain rendering of Engine::render, one voice and one sample at a time, with Reader::sample,
// frame_weights and filter_sample used exactly as described. It shares the engine's block-rate
// pieces (envelopes, LFOs, modulation, planning) and differs only in how the samples are made,
// so it is the yardstick for the engine's faster sample passes: in the benchmark for speed and
// in the tests for equality.
#include <algorithm>
#include <array>
#include <cstddef>

#include "synth/engine.hpp"

namespace quillory::synth::reference {

template <FilterType type>
inline void filter_block(const FilterCoefficients& c, std::array<float, 2>& state, const float* in,
                         float* out, std::size_t m) {
  for (std::size_t i = 0; i < m; ++i) out[i] += filter_sample<type>(c, state, in[i]);
}

inline void filter_pass(FilterType type, const FilterCoefficients& c, Voice& v, const float* in,
                        float* out, std::size_t m) {
  switch (type) {
    case FilterType::Off:
      for (std::size_t i = 0; i < m; ++i) out[i] += in[i];
      return;
    case FilterType::LowPass:
      filter_block<FilterType::LowPass>(c, v.filter_state, in, out, m);
      break;
    case FilterType::HighPass:
      filter_block<FilterType::HighPass>(c, v.filter_state, in, out, m);
      break;
    case FilterType::BandPass:
      filter_block<FilterType::BandPass>(c, v.filter_state, in, out, m);
      break;
  }
  v.filter_state = {flush_tiny(v.filter_state[0]), flush_tiny(v.filter_state[1])};
}

inline void render_voice(Engine& e, Voice& v, const Table& table, const Table* fading, float dt,
                         float* out, std::size_t m) {
  const VoicePlan p = e.plan_voice(v, table, fading, dt);
  const float s = e.crossfade_step();
  const bool moving = p.position_start != p.position_end;
  const Position& end = p.position_end;
  const FrameWeights still = frame_weights(table, end[0], end[1], end[2]);
  std::array<float, kBlockSize> voice_buffer{};
  for (std::size_t i = 0; i < m; ++i) {
    const float t = static_cast<float>(i + 1) / static_cast<float>(m);
    Position pos = end;
    FrameWeights weights = still;
    if (moving) {
      for (std::size_t a = 0; a < 3; ++a)
        pos[a] = p.position_start[a] + (p.position_end[a] - p.position_start[a]) * t;
      weights = frame_weights(table, pos[0], pos[1], pos[2]);
    }
    float value = p.reader.sample(weights, v.phase);
    if (fading) {
      const float c = std::min(e.crossfade + static_cast<float>(i + 1) * s, 1.0f);
      if (c < 1.0f) {
        const float w =
            p.fading_reader.sample(frame_weights(*fading, pos[0], pos[1], pos[2]), v.phase);
        value = w + c * (value - w);
      }
    }
    voice_buffer[i] = (p.gain_start + (p.gain_end - p.gain_start) * t) * value;
    v.phase = v.phase + p.increment_start + (p.increment_end - p.increment_start) * t;
    if (v.phase >= 1.0f) v.phase -= 1.0f;
  }
  filter_pass(e.settings.filter.type, p.filter, v, voice_buffer.data(), out, m);
  e.finish_voice(v, p);
}

// Renders n samples into out, as Engine::render does.
inline void render(Engine& e, float* out, std::size_t n) {
  std::fill_n(out, n, 0.0f);
  const TableHandle table = e.table;
  for (std::size_t start = 0; start < n; start += kBlockSize) {
    const std::size_t m = std::min(kBlockSize, n - start);
    const float dt = e.begin_block(m);
    if (!table) {
      for (Voice& v : e.voices)
        if (v.active()) e.step_envelopes(v, dt);
      continue;
    }
    const TableHandle fading = e.fading_table;
    for (Voice& v : e.voices)
      if (v.active()) render_voice(e, v, *table, fading.get(), dt, out + start, m);
    e.advance_crossfade(m);
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = flush_tiny(out[i]);
}

}  // namespace quillory::synth::reference
