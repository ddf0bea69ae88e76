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
#include <cstring>
#include <limits>

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

// Four floats side by side; GCC and Clang map the operators onto SIMD registers.
using F4 = float __attribute__((vector_size(16)));
using I4 = std::int32_t __attribute__((vector_size(16)));

F4 splat(float v) {
  return F4{v, v, v, v};
}
F4 load4(const float* p) {
  F4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void store4(float* p, F4 v) {
  std::memcpy(p, &v, sizeof v);
}
bool any(I4 mask) {
  return (mask[0] | mask[1] | mask[2] | mask[3]) != 0;
}
constexpr std::size_t kQuads = kVoiceCount / 4;

// The phase of every lane before each sample's increment, advancing the lanes' phases:
// phase = phase + increment start + (increment end - increment start) x t, wrapped once. The
// lanes run side by side; the serial dependence from sample to sample stays as written. Without
// a ramp the last term is exactly 0, and adding 0 to a phase changes nothing, so it is left out.
template <bool ramp>
void run_phases(std::array<float, kVoiceCount>& phase, const std::array<float, kVoiceCount>& inc0,
                const std::array<float, kVoiceCount>& dinc, const Block& t, std::size_t m,
                LaneBlock& out) {
  F4 ph[kQuads], inc[kQuads], d[kQuads];
  std::memcpy(ph, phase.data(), sizeof ph);
  std::memcpy(inc, inc0.data(), sizeof inc);
  std::memcpy(d, dinc.data(), sizeof d);
  const F4 one = {1.0f, 1.0f, 1.0f, 1.0f};
  for (std::size_t i = 0; i < m; ++i) {
    std::memcpy(out[i].data(), ph, sizeof ph);
    for (std::size_t q = 0; q < kQuads; ++q) {
      F4 p = ph[q] + inc[q];
      if constexpr (ramp) p = p + d[q] * t[i];
      ph[q] = p >= one ? p - one : p;
    }
  }
  std::memcpy(phase.data(), ph, sizeof ph);
}

// Read positions in one mip level for each sample: the two neighbouring samples and the fraction
// between them, wrapping from the last sample to the first.
struct Taps {
  std::array<std::int32_t, kBlockSize> i0, i1;
  Block frac;
};

// Works on four samples at a time, so it reads up to three rows past m: render_block keeps those
// rows at phase 0.
void make_taps(const LaneBlock& phases, std::size_t lane, std::size_t len, std::size_t m,
               Taps& taps) {
  const float flen = static_cast<float>(len);
  const std::int32_t end = static_cast<std::int32_t>(len - 1);
  const F4 scale = {flen, flen, flen, flen};
  const I4 last = {end, end, end, end}, zero = {0, 0, 0, 0}, one = {1, 1, 1, 1};
  for (std::size_t i = 0; i < m; i += 4) {
    const F4 phase = {phases[i][lane], phases[i + 1][lane], phases[i + 2][lane],
                      phases[i + 3][lane]};
    // Phases stay within 0..1 (increments are at most one cycle), so pos is within 0..len and
    // converts exactly like the saturating conversion of Reader::sample.
    const F4 pos = phase * scale;
    I4 i0 = __builtin_convertvector(pos, I4);
    i0 = i0 > last ? last : i0;
    const F4 frac = pos - __builtin_convertvector(i0, F4);
    const I4 i1 = i0 == last ? zero : i0 + one;
    std::memcpy(&taps.i0[i], &i0, sizeof i0);
    std::memcpy(&taps.i1[i], &i1, sizeof i1);
    std::memcpy(&taps.frac[i], &frac, sizeof frac);
  }
}

// acc[i] = the sum over the first K corners, in corner order, of weight(c, i) x the level value
// at the taps. All corners of a sample are summed together, so acc is written once per sample.
//
// Four samples at a time: the table reads are single loads, the arithmetic runs side by side
// with the same operations per sample. weight(c, i) gives the weights of samples i..i+3.
template <std::size_t K, class Weight>
void sum_corners(const std::array<const float*, 8>& level, Weight weight, const Taps& taps,
                 std::size_t m, Block& acc) {
  for (std::size_t i = 0; i < m; i += 4) {
    const std::int32_t* i0 = &taps.i0[i];
    const std::int32_t* i1 = &taps.i1[i];
    F4 frac;
    std::memcpy(&frac, &taps.frac[i], sizeof frac);
    F4 sum = {};
    for (std::size_t c = 0; c < K; ++c) {
      const float* l = level[c];
      const F4 a = {l[i0[0]], l[i0[1]], l[i0[2]], l[i0[3]]};
      const F4 b = {l[i1[0]], l[i1[1]], l[i1[2]], l[i1[3]]};
      const F4 v = weight(c, i) * (a + (b - a) * frac);
      sum = c == 0 ? v : sum + v;
    }
    std::memcpy(&acc[i], &sum, sizeof sum);
  }
}

// sum_corners for a corner count known only at run time.
template <class Weight>
void sum_corners(std::size_t k, const std::array<const float*, 8>& level, Weight weight,
                 const Taps& taps, std::size_t m, Block& acc) {
  switch (k) {
    case 0:
      std::fill_n(acc.begin(), m, 0.0f);
      break;
    case 1:
      sum_corners<1>(level, weight, taps, m, acc);
      break;
    case 2:
      sum_corners<2>(level, weight, taps, m, acc);
      break;
    case 3:
      sum_corners<3>(level, weight, taps, m, acc);
      break;
    case 4:
      sum_corners<4>(level, weight, taps, m, acc);
      break;
    case 5:
      sum_corners<5>(level, weight, taps, m, acc);
      break;
    case 6:
      sum_corners<6>(level, weight, taps, m, acc);
      break;
    case 7:
      sum_corners<7>(level, weight, taps, m, acc);
      break;
    default:
      sum_corners<8>(level, weight, taps, m, acc);
      break;
  }
}

// Still position: one set of weights for the block; corners of weight 0 are not read.
void read_still(const Reader& r, const FrameWeights& fw, const Taps& taps, std::size_t m,
                Block& acc) {
  std::array<const float*, 8> level{};
  std::array<float, 8> w{};
  std::size_t k = 0;
  for (std::size_t c = 0; c < 8; ++c) {
    if (fw.weights[c] == 0.0f) continue;
    level[k] = r.table->frame_data(fw.frames[c]) + r.offset;
    w[k++] = fw.weights[c];
  }
  sum_corners(
      k, level, [&](std::size_t c, std::size_t) { return w[c]; }, taps, m, acc);
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
  if (span == 0.0f) {  // start + 0 x t is start: one point for the whole block
    const float t = p0 - base;
    std::fill(run.t.begin(), run.t.end(), t);
    run.one_cell = p0 >= base && p0 < base + 1.0f;
    run.flat = t == 0.0f;
    return;
  }
  // Four samples at a time, the same operations per sample.
  I4 outside = {}, moved = {};
  const F4 start4 = splat(start), span4 = splat(span), scale4 = splat(scale), base4 = splat(base),
           top4 = splat(base + 1.0f), zero4 = splat(0.0f);
  std::size_t i = 0;
  for (; i + 4 <= m; i += 4) {
    const F4 p = (start4 + span4 * load4(&ramp[i])) * scale4;
    outside |= (p < base4) | (p >= top4);
    const F4 t = p - base4;
    store4(&run.t[i], t);
    moved |= t != zero4;
  }
  bool out = any(outside), move = any(moved);
  for (; i < m; ++i) {
    const float p = (start + span * ramp[i]) * scale;
    out |= (p < base) | (p >= base + 1.0f);
    run.t[i] = p - base;
    move |= run.t[i] != 0.0f;
  }
  run.one_cell = !out;
  run.flat = !move;
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
  std::array<const float*, 8> level{};
  std::array<Block, 8> w;
  std::size_t used = 0;
  for (std::size_t k = 0; k < 8; ++k) {
    const bool upper_x = k & 1, upper_y = (k >> 1) & 1, upper_z = k >> 2;
    // An upper corner along an axis whose fraction stays 0 weighs exactly 0 all block.
    if ((upper_x && ax[0].flat) || (upper_y && ax[1].flat) || (upper_z && ax[2].flat)) continue;
    const std::size_t frame = (upper_z ? ax[2].i1 : ax[2].i0) * layer_size +
                              (upper_y ? ax[1].i1 : ax[1].i0) * cols +
                              (upper_x ? ax[0].i1 : ax[0].i0);
    const Block& layer = upper_z ? above : below;
    for (std::size_t i = 0; i < m; ++i) w[used][i] = plane[k & 3][i] * layer[i];
    for (std::size_t i = m; i < (m + 3) / 4 * 4; ++i) w[used][i] = 0.0f;  // read four at a time
    level[used++] = table.frame_data(frame) + r.offset;
  }
  sum_corners(
      used, level,
      [&](std::size_t c, std::size_t i) {
        F4 v;
        std::memcpy(&v, &w[c][i], sizeof v);
        return v;
      },
      taps, m, acc);
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

// The filter of every lane over one block; x holds the input and receives the output. The
// lanes run four side by side with the operations of filter_sample.
template <FilterType type>
void filter_lanes(LaneBlock& x, const std::array<FilterCoefficients, kVoiceCount>& c,
                  std::array<std::array<float, 2>, kVoiceCount>& state, std::size_t m) {
  F4 k[kQuads], a1[kQuads], a2[kQuads], a3[kQuads], ic1[kQuads], ic2[kQuads];
  for (std::size_t q = 0; q < kQuads; ++q)
    for (std::size_t l = 0; l < 4; ++l) {
      const std::size_t j = 4 * q + l;
      k[q][l] = c[j].k;
      a1[q][l] = c[j].a1;
      a2[q][l] = c[j].a2;
      a3[q][l] = c[j].a3;
      ic1[q][l] = state[j][0];
      ic2[q][l] = state[j][1];
    }
  const F4 two = splat(2.0f);
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t q = 0; q < kQuads; ++q) {
      const F4 in = load4(&x[i][4 * q]);
      const F4 u = in - ic2[q];
      const F4 band = a1[q] * ic1[q] + a2[q] * u;
      const F4 low = ic2[q] + a2[q] * ic1[q] + a3[q] * u;
      ic1[q] = two * band - ic1[q];
      ic2[q] = two * low - ic2[q];
      if constexpr (type == FilterType::LowPass) store4(&x[i][4 * q], low);
      if constexpr (type == FilterType::HighPass) store4(&x[i][4 * q], in - k[q] * band - low);
      if constexpr (type == FilterType::BandPass) store4(&x[i][4 * q], k[q] * band);
    }
  for (std::size_t q = 0; q < kQuads; ++q)
    for (std::size_t l = 0; l < 4; ++l) state[4 * q + l] = {ic1[q][l], ic2[q][l]};
}

// flush_tiny over a buffer, four samples at a time: a sample is kept when its magnitude lies in
// 1e-20 .. the largest float (NaN fails both comparisons), else it becomes 0.
void flush_block(float* out, std::size_t n) {
  const I4 magnitude = {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff};
  const F4 tiny = splat(kTinyState), huge = splat(std::numeric_limits<float>::max());
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const F4 x = load4(out + i);
    const F4 a = reinterpret_cast<F4>(reinterpret_cast<I4>(x) & magnitude);
    const I4 keep = (a >= tiny) & (a <= huge);
    store4(out + i, reinterpret_cast<F4>(reinterpret_cast<I4>(x) & keep));
  }
  for (; i < n; ++i) out[i] = flush_tiny(out[i]);
}

}  // namespace

void Engine::render(float* out, std::size_t n) {
  std::fill_n(out, n, 0.0f);
  // render never changes `table`, so a plain pointer keeps the current table for the call.
  const Table* current = table.get();
  for (std::size_t start = 0; start < n; start += kBlockSize) {
    const std::size_t m = std::min(kBlockSize, n - start);
    // LFO outputs nobody routes are needed only for mod_values after the last block.
    const float dt = begin_block(m, start + m == n);
    if (!current) {  // no table: envelopes keep time, nothing sounds, no crossfade
      for (Voice& v : voices)
        if (v.active()) step_envelopes(v, dt);
      continue;
    }
    render_block(out + start, m, dt, *current);
    advance_crossfade(m);
  }
  flush_block(out, n);
}

void Engine::render_block(float* out, std::size_t m, float dt, const Table& current) {
  const Table* fading = fading_table.get();
  const float step = crossfade_step();

  // Plan every voice that sounds at the start of the block, in voice order.
  std::array<Voice*, kVoiceCount> lane_voice{};
  std::array<VoicePlan, kVoiceCount> plan;
  std::size_t lanes = 0;
  const std::uint32_t routed = routed_sources(settings.mod);
  for (Voice& v : voices)
    if (v.active()) {
      plan[lanes] = plan_voice(v, current, fading, dt, routed);
      lane_voice[lanes++] = &v;
    }
  if (lanes == 0) return;

  if (ramp_length_ != m) {  // t = (i + 1) / m, the same for every block of this length
    fill_ramp(ramp_, m);
    ramp_length_ = m;
  }
  const Block& ramp = ramp_;
  std::array<float, kVoiceCount> phase{}, inc0{}, dinc{};
  for (std::size_t j = 0; j < lanes; ++j) {
    phase[j] = lane_voice[j]->phase;
    inc0[j] = plan[j].increment_start;
    dinc[j] = plan[j].increment_end - plan[j].increment_start;
  }
  LaneBlock phases;
  if (std::any_of(dinc.begin(), dinc.end(), [](float d) { return d != 0.0f; }))
    run_phases<true>(phase, inc0, dinc, ramp, m, phases);
  else
    run_phases<false>(phase, inc0, dinc, ramp, m, phases);
  for (std::size_t i = m; i < (m + 3) / 4 * 4; ++i) phases[i].fill(0.0f);  // see make_taps

  // Crossfade weight of the new table per sample, from the block's starting progress.
  Block fade_c;
  bool fading_heard = false;
  if (fading) {
    for (std::size_t i = 0; i < m; ++i) {
      fade_c[i] = std::min(crossfade + static_cast<float>(i + 1) * step, 1.0f);
      fading_heard |= fade_c[i] < 1.0f;
    }
  }

  const FilterType type = settings.filter.type;
  const bool filtered = type != FilterType::Off;
  LaneBlock voice_out;
  if (filtered)  // lanes without a voice run through the filter too: keep them silent
    for (std::size_t i = 0; i < m; ++i)
      std::fill(voice_out[i].begin() + lanes, voice_out[i].end(), 0.0f);
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
    // Gain ramp, then straight into the output when there is no filter (voices still add in
    // voice order), else into the lanes for the filter pass.
    const F4 g0 = splat(p.gain_start), dg = splat(p.gain_end - p.gain_start);
    std::size_t i = 0;
    if (!filtered) {
      for (; i + 4 <= m; i += 4)
        store4(&out[i], load4(&out[i]) + (g0 + dg * load4(&ramp[i])) * load4(&v[i]));
      for (; i < m; ++i) out[i] = out[i] + (g0[0] + dg[0] * ramp[i]) * v[i];
    } else {
      for (; i < m; ++i) voice_out[i][j] = (g0[0] + dg[0] * ramp[i]) * v[i];
    }
  }

  if (filtered) {
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
    // Voices add into the output in voice order, as they would one after another.
    for (std::size_t i = 0; i < m; ++i)
      for (std::size_t j = 0; j < lanes; ++j) out[i] = out[i] + voice_out[i][j];
  }

  for (std::size_t j = 0; j < lanes; ++j) {
    lane_voice[j]->phase = phase[j];
    finish_voice(*lane_voice[j], plan[j]);
  }
}

}  // namespace quillory::synth
