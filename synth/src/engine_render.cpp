// Engine::render: the block loop and the per-sample work of the voices.
//
// Per block, every sounding voice is planned first (envelopes, modulation, readers, gains); the
// per-sample work then runs in passes that each do one thing over the whole block: the phases of
// all voices side by side, the table reads of one voice (specialised per block for a still
// position, a position moving inside one grid cell, and the general case), the crossfade and
// gain, and the filters of all voices side by side. Each value is computed with the same
// single-precision operations in the same order as a per-sample rendering would use, so the
// passes change where the work happens, not the result; the only difference is that a sum of
// corners starts from the first corner instead of from +0, which can only change the sign of an
// exact zero.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "synth/engine.hpp"

namespace quillory::synth {

namespace {

using Block = std::array<float, kBlockSize>;
// Lane-minor storage: entry [i][lane] holds sample i of one planned voice, so that passes over
// all voices run across a contiguous row.
using LaneBlock = std::array<std::array<float, kVoiceCount>, kBlockSize>;

// t = (i + 1) / m for every sample of a block of m.
void fill_ramp(Block& t, std::size_t m) {
  const float fm = static_cast<float>(m);
  for (std::size_t i = 0; i < m; ++i) t[i] = static_cast<float>(i + 1) / fm;
}

// The phase of every lane before each sample's increment, advancing the lanes' phases.
// phase = phase + increment start + (increment end - increment start) x t, wrapped once.
void run_phases(std::array<float, kVoiceCount>& phase, const std::array<float, kVoiceCount>& inc0,
                const std::array<float, kVoiceCount>& dinc, const Block& t, std::size_t m,
                LaneBlock& out) {
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t j = 0; j < kVoiceCount; ++j) {
      out[i][j] = phase[j];
      const float p = phase[j] + inc0[j] + dinc[j] * t[i];
      phase[j] = p >= 1.0f ? p - 1.0f : p;
    }
}

// Read positions in one mip level for each sample: the two neighbouring samples and the fraction
// between them, wrapping from the last sample to the first.
struct Taps {
  std::array<std::int32_t, kBlockSize> i0, i1;
  Block frac;
};

void make_taps(const LaneBlock& phases, std::size_t lane, std::size_t len, std::size_t m,
               Taps& taps) {
  const float flen = static_cast<float>(len);
  const std::int32_t last = static_cast<std::int32_t>(len - 1);
  for (std::size_t i = 0; i < m; ++i) {
    // Phases stay within 0..1 (increments are at most one cycle), so pos is within 0..len and
    // converts exactly like the saturating conversion of Reader::sample.
    const float pos = phases[i][lane] * flen;
    const std::int32_t i0 = std::min(static_cast<std::int32_t>(pos), last);
    taps.frac[i] = pos - static_cast<float>(i0);
    taps.i0[i] = i0;
    taps.i1[i] = i0 == last ? 0 : i0 + 1;
  }
}

// acc[i] = w x level value at the taps (first corner) or acc[i] += that (later corners).
template <bool first>
void add_corner(const float* level, float w, const Taps& taps, std::size_t m, Block& acc) {
  for (std::size_t i = 0; i < m; ++i) {
    const float a = level[taps.i0[i]];
    const float b = level[taps.i1[i]];
    const float v = w * (a + (b - a) * taps.frac[i]);
    acc[i] = first ? v : acc[i] + v;
  }
}

// The same with a weight per sample.
template <bool first>
void add_corner(const float* level, const float* w, const Taps& taps, std::size_t m, Block& acc) {
  for (std::size_t i = 0; i < m; ++i) {
    const float a = level[taps.i0[i]];
    const float b = level[taps.i1[i]];
    const float v = w[i] * (a + (b - a) * taps.frac[i]);
    acc[i] = first ? v : acc[i] + v;
  }
}

// Still position: one set of weights for the block; corners of weight 0 are not read.
void read_still(const Reader& r, const FrameWeights& fw, const Taps& taps, std::size_t m,
                Block& acc) {
  bool first = true;
  for (std::size_t k = 0; k < 8; ++k) {
    if (fw.weights[k] == 0.0f) continue;
    const float* level = r.table->frame_data(fw.frames[k]) + r.offset;
    if (first)
      add_corner<true>(level, fw.weights[k], taps, m, acc);
    else
      add_corner<false>(level, fw.weights[k], taps, m, acc);
    first = false;
  }
  if (first) std::fill_n(acc.begin(), m, 0.0f);
}

// One axis of a moving position over a block: the grid coordinate of each sample.
struct AxisRun {
  Block t;                     // fraction within the cell, per sample
  std::size_t i0 = 0, i1 = 0;  // the cell, when it is the same for every sample
  bool one_cell = true;        // every sample lies in the same cell
  bool flat = true;            // t is exactly 0 for every sample: the upper corners weigh nothing
};

void run_axis(float start, float end, std::size_t n, const Block& ramp, std::size_t m,
              AxisRun& run) {
  const float scale = static_cast<float>(n - 1);
  const float span = end - start;
  // The same arithmetic as detail::axis_span on pos = start + (end - start) x t.
  const float p0 = (start + span * ramp[0]) * scale;
  const std::size_t cell = std::min(saturate_index(std::floor(p0)), n - 1);
  const float base = static_cast<float>(cell);
  run.i0 = cell;
  run.i1 = cell + 1 < n ? cell + 1 : n - 1;
  run.one_cell = true;
  run.flat = true;
  for (std::size_t i = 0; i < m; ++i) {
    const float p = (start + span * ramp[i]) * scale;
    run.one_cell &= p >= base && p < base + 1.0f;
    run.t[i] = p - base;
    run.flat &= run.t[i] == 0.0f;
  }
}

// Moving position: weights per sample. Inside one cell the eight corners stay the same and only
// their weights move; a block that crosses a cell boundary computes the weights per sample.
void read_moving(const Reader& r, const Position& start, const Position& end, const Block& ramp,
                 const LaneBlock& phases, std::size_t lane, const Taps& taps, std::size_t m,
                 Block& acc) {
  const Table& table = *r.table;
  std::array<AxisRun, 3> ax;
  run_axis(start[0], end[0], table.cols(), ramp, m, ax[0]);
  run_axis(start[1], end[1], table.rows(), ramp, m, ax[1]);
  run_axis(start[2], end[2], table.layers(), ramp, m, ax[2]);

  if (!(ax[0].one_cell && ax[1].one_cell && ax[2].one_cell)) {
    for (std::size_t i = 0; i < m; ++i) {
      float pos[3];
      for (std::size_t a = 0; a < 3; ++a) pos[a] = start[a] + (end[a] - start[a]) * ramp[i];
      acc[i] = r.sample(frame_weights(table, pos[0], pos[1], pos[2]), phases[i][lane]);
    }
    return;
  }

  // Weights of the four corners of one layer, then times (1 - tz) or tz, as frame_weights does.
  std::array<Block, 4> plane;
  Block below, above;
  for (std::size_t i = 0; i < m; ++i) {
    const float tx = ax[0].t[i], ty = ax[1].t[i], tz = ax[2].t[i];
    plane[0][i] = (1.0f - tx) * (1.0f - ty);
    plane[1][i] = tx * (1.0f - ty);
    plane[2][i] = (1.0f - tx) * ty;
    plane[3][i] = tx * ty;
    below[i] = 1.0f - tz;
    above[i] = tz;
  }
  const std::size_t cols = table.cols();
  const std::size_t layer_size = table.rows() * cols;
  bool first = true;
  Block w;
  for (std::size_t k = 0; k < 8; ++k) {
    const bool upper_x = k & 1, upper_y = (k >> 1) & 1, upper_z = k >> 2;
    // An upper corner along an axis whose fraction stays 0 weighs exactly 0 all block.
    if ((upper_x && ax[0].flat) || (upper_y && ax[1].flat) || (upper_z && ax[2].flat)) continue;
    const std::size_t frame = (upper_z ? ax[2].i1 : ax[2].i0) * layer_size +
                              (upper_y ? ax[1].i1 : ax[1].i0) * cols +
                              (upper_x ? ax[0].i1 : ax[0].i0);
    const Block& layer = upper_z ? above : below;
    for (std::size_t i = 0; i < m; ++i) w[i] = plane[k & 3][i] * layer[i];
    const float* level = table.frame_data(frame) + r.offset;
    if (first)
      add_corner<true>(level, w.data(), taps, m, acc);
    else
      add_corner<false>(level, w.data(), taps, m, acc);
    first = false;
  }
}

// One voice's table values for the block from one table.
void read_table(const Reader& r, const VoicePlan& plan, bool moving, const Block& ramp,
                const LaneBlock& phases, std::size_t lane, std::size_t m, Block& acc) {
  Taps taps;
  make_taps(phases, lane, r.len, m, taps);
  if (moving) {
    read_moving(r, plan.position_start, plan.position_end, ramp, phases, lane, taps, m, acc);
  } else {
    const Position& p = plan.position_end;
    read_still(r, frame_weights(*r.table, p[0], p[1], p[2]), taps, m, acc);
  }
}

// The filter of every lane over one block; x holds the input and receives the output.
template <FilterType type>
void filter_lanes(LaneBlock& x, std::array<FilterCoefficients, kVoiceCount>& c,
                  std::array<std::array<float, 2>, kVoiceCount>& state, std::size_t m) {
  std::array<float, kVoiceCount> k, a1, a2, a3, ic1, ic2;
  for (std::size_t j = 0; j < kVoiceCount; ++j) {
    k[j] = c[j].k;
    a1[j] = c[j].a1;
    a2[j] = c[j].a2;
    a3[j] = c[j].a3;
    ic1[j] = state[j][0];
    ic2[j] = state[j][1];
  }
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t j = 0; j < kVoiceCount; ++j) {
      // The same operations as filter_sample, side by side for all lanes.
      const float in = x[i][j];
      const float u = in - ic2[j];
      const float band = a1[j] * ic1[j] + a2[j] * u;
      const float low = ic2[j] + a2[j] * ic1[j] + a3[j] * u;
      ic1[j] = 2.0f * band - ic1[j];
      ic2[j] = 2.0f * low - ic2[j];
      if constexpr (type == FilterType::LowPass) x[i][j] = low;
      if constexpr (type == FilterType::HighPass) x[i][j] = in - k[j] * band - low;
      if constexpr (type == FilterType::BandPass) x[i][j] = k[j] * band;
    }
  for (std::size_t j = 0; j < kVoiceCount; ++j) state[j] = {ic1[j], ic2[j]};
}

}  // namespace

void Engine::render(float* out, std::size_t n) {
  std::fill_n(out, n, 0.0f);
  // render never changes `table`, so a plain pointer keeps the current table for the call.
  const Table* current = table.get();
  for (std::size_t start = 0; start < n; start += kBlockSize) {
    const std::size_t m = std::min(kBlockSize, n - start);
    const float dt = begin_block(m);
    if (!current) {  // no table: envelopes keep time, nothing sounds, no crossfade
      for (Voice& v : voices)
        if (v.active()) step_envelopes(v, dt);
      continue;
    }
    render_block(out + start, m, dt, *current);
    advance_crossfade(m);
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = flush_tiny(out[i]);
}

void Engine::render_block(float* out, std::size_t m, float dt, const Table& current) {
  const Table* fading = fading_table.get();
  const float step = crossfade_step();

  // Plan every voice that sounds at the start of the block, in voice order.
  std::array<Voice*, kVoiceCount> lane_voice{};
  std::array<VoicePlan, kVoiceCount> plan;
  std::size_t lanes = 0;
  for (Voice& v : voices)
    if (v.active()) {
      plan[lanes] = plan_voice(v, current, fading, dt);
      lane_voice[lanes++] = &v;
    }
  if (lanes == 0) return;

  Block ramp;
  fill_ramp(ramp, m);
  std::array<float, kVoiceCount> phase{}, inc0{}, dinc{};
  for (std::size_t j = 0; j < lanes; ++j) {
    phase[j] = lane_voice[j]->phase;
    inc0[j] = plan[j].increment_start;
    dinc[j] = plan[j].increment_end - plan[j].increment_start;
  }
  LaneBlock phases;
  run_phases(phase, inc0, dinc, ramp, m, phases);

  // Crossfade weight of the new table per sample, from the block's starting progress.
  Block fade_c;
  bool fading_heard = false;
  if (fading) {
    for (std::size_t i = 0; i < m; ++i) {
      fade_c[i] = std::min(crossfade + static_cast<float>(i + 1) * step, 1.0f);
      fading_heard |= fade_c[i] < 1.0f;
    }
  }

  LaneBlock voice_out;
  for (std::size_t j = 0; j < lanes; ++j) {
    const VoicePlan& p = plan[j];
    const bool moving = p.position_start != p.position_end;
    Block v;
    read_table(p.reader, p, moving, ramp, phases, j, m, v);
    if (fading_heard) {
      Block w;
      read_table(p.fading_reader, p, moving, ramp, phases, j, m, w);
      for (std::size_t i = 0; i < m; ++i)
        if (fade_c[i] < 1.0f) v[i] = w[i] + fade_c[i] * (v[i] - w[i]);
    }
    const float dgain = p.gain_end - p.gain_start;
    for (std::size_t i = 0; i < m; ++i) voice_out[i][j] = (p.gain_start + dgain * ramp[i]) * v[i];
  }

  const FilterType type = settings.filter.type;
  if (type != FilterType::Off) {
    std::array<FilterCoefficients, kVoiceCount> coefficients{};
    std::array<std::array<float, 2>, kVoiceCount> state{};
    for (std::size_t j = 0; j < lanes; ++j) {
      coefficients[j] = plan[j].filter;
      state[j] = lane_voice[j]->filter_state;
    }
    switch (type) {
      case FilterType::LowPass:
        filter_lanes<FilterType::LowPass>(voice_out, coefficients, state, m);
        break;
      case FilterType::HighPass:
        filter_lanes<FilterType::HighPass>(voice_out, coefficients, state, m);
        break;
      case FilterType::BandPass:
        filter_lanes<FilterType::BandPass>(voice_out, coefficients, state, m);
        break;
      case FilterType::Off:
        break;
    }
    for (std::size_t j = 0; j < lanes; ++j)
      lane_voice[j]->filter_state = {flush_tiny(state[j][0]), flush_tiny(state[j][1])};
  }

  // Voices add into the output in voice order, as they would one after another.
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t j = 0; j < lanes; ++j) out[i] = out[i] + voice_out[i][j];

  for (std::size_t j = 0; j < lanes; ++j) {
    lane_voice[j]->phase = phase[j];
    finish_voice(*lane_voice[j], plan[j]);
  }
}

}  // namespace quillory::synth
