// Engine::render: the block loop and the per-sample work of the voices.
//
// Per block, every sounding voice is planned first (envelopes, modulation, readers, gains); a
// voice whose envelopes sustain reuses its last plan while nothing it depends on has changed.
// The per-sample work then runs in passes that each do one thing over the whole block: the
// phases of all voices side by side, the table reads of one voice (specialised per block for a
// still position, a position moving inside one grid cell, and the general case) with the
// crossfade and gain, and the filters of all voices side by side. The passes keep the
// single-precision operations of a per-sample rendering in the same order, so they change where
// the work happens, not the result, with two exceptions: a sum of corners starts from the first
// corner instead of from +0 (which can only change the sign of an exact zero), and a position
// that stays still reads its corners blended into one level (StillBlend), which rounds
// differently by a few units in the last place.
//
// On processors with AVX2 the passes run eight lanes wide, chosen when the program starts; the
// four-lane passes stay for the others (and for tests, with QUILLORY_NO_AVX2 set).
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
// One row of samples per lane.
using PhaseRows = std::array<Block, kVoiceCount>;

// True when any lane of p has reached one cycle.
bool any_wrap(F4 p) {
#if defined(__x86_64__)
  return _mm_movemask_ps(_mm_cmpge_ps(p, _mm_set1_ps(1.0f))) != 0;
#else
  return any(p >= splat(1.0f));
#endif
}

// Four lanes of four samples turned into four samples of four lanes.
void transpose4(F4& a, F4& b, F4& c, F4& d) {
  const F4 ab_low = __builtin_shufflevector(a, b, 0, 4, 1, 5);
  const F4 ab_high = __builtin_shufflevector(a, b, 2, 6, 3, 7);
  const F4 cd_low = __builtin_shufflevector(c, d, 0, 4, 1, 5);
  const F4 cd_high = __builtin_shufflevector(c, d, 2, 6, 3, 7);
  a = __builtin_shufflevector(ab_low, cd_low, 0, 1, 4, 5);
  b = __builtin_shufflevector(ab_low, cd_low, 2, 3, 6, 7);
  c = __builtin_shufflevector(ab_high, cd_high, 0, 1, 4, 5);
  d = __builtin_shufflevector(ab_high, cd_high, 2, 3, 6, 7);
}

// The phase of every lane before each sample's increment, advancing the lanes' phases:
// phase = phase + increment start + (increment end - increment start) x t, wrapped once. The
// lanes run side by side; the serial dependence from sample to sample stays as written. Without
// a ramp the last term is exactly 0, and adding 0 to a phase changes nothing, so it is left out.
// A wrap comes once in many samples, so it is a branch around the common path: the chain from
// sample to sample is then only the additions. Every four samples are turned around into each
// lane's own row; rows are 0 past m up to the next multiple of eight (see make_taps). Only the
// first Q quads of lanes run.
template <bool ramp, std::size_t Q>
void run_phases(std::array<float, kVoiceCount>& phase, const std::array<float, kVoiceCount>& inc0,
                const std::array<float, kVoiceCount>& dinc, const Block& t, std::size_t m,
                PhaseRows& out) {
  F4 ph[Q], inc[Q], d[Q];
  std::memcpy(ph, phase.data(), sizeof ph);
  std::memcpy(inc, inc0.data(), sizeof inc);
  std::memcpy(d, dinc.data(), sizeof d);
  const F4 one = splat(1.0f);
  for (std::size_t i = 0; i < m; i += 4) {
    F4 rows[4][Q];
    for (std::size_t r = 0; r < 4; ++r) {
      if (i + r >= m) {
        for (std::size_t q = 0; q < Q; ++q) rows[r][q] = splat(0.0f);
        continue;
      }
      bool wrap = false;
      for (std::size_t q = 0; q < Q; ++q) {
        rows[r][q] = ph[q];
        ph[q] = ph[q] + inc[q];
        if constexpr (ramp) ph[q] = ph[q] + d[q] * t[i + r];
        wrap |= any_wrap(ph[q]);
      }
      if (__builtin_expect(wrap, 0))
        for (std::size_t q = 0; q < Q; ++q) ph[q] = ph[q] >= one ? ph[q] - one : ph[q];
    }
    for (std::size_t q = 0; q < Q; ++q) {
      transpose4(rows[0][q], rows[1][q], rows[2][q], rows[3][q]);
      for (std::size_t r = 0; r < 4; ++r) store4(&out[4 * q + r][i], rows[r][q]);
    }
  }
  const std::size_t filled = (m + 3) / 4 * 4;
  for (std::size_t j = 0; j < 4 * Q; ++j)
    std::fill(out[j].begin() + filled, out[j].begin() + (m + 7) / 8 * 8, 0.0f);
  std::memcpy(phase.data(), ph, sizeof ph);
}

#if defined(__x86_64__)
// Eight rows of eight lanes turned into eight lanes of eight samples, stored at column i.
__attribute__((target("avx2"), always_inline)) inline void store_transposed(
    const __m256 (&rows)[8], PhaseRows& out, std::size_t i) {
  __m256 t[8], u[8];
  for (std::size_t r = 0; r < 8; r += 2) {
    t[r] = _mm256_unpacklo_ps(rows[r], rows[r + 1]);
    t[r + 1] = _mm256_unpackhi_ps(rows[r], rows[r + 1]);
  }
  for (std::size_t r = 0; r < 8; r += 4) {
    u[r] = _mm256_shuffle_ps(t[r], t[r + 2], 0x44);
    u[r + 1] = _mm256_shuffle_ps(t[r], t[r + 2], 0xee);
    u[r + 2] = _mm256_shuffle_ps(t[r + 1], t[r + 3], 0x44);
    u[r + 3] = _mm256_shuffle_ps(t[r + 1], t[r + 3], 0xee);
  }
  for (std::size_t l = 0; l < 4; ++l) {
    _mm256_storeu_ps(&out[l][i], _mm256_permute2f128_ps(u[l], u[l + 4], 0x20));
    _mm256_storeu_ps(&out[l + 4][i], _mm256_permute2f128_ps(u[l], u[l + 4], 0x31));
  }
}

// run_phases for all eight lanes in one AVX2 register, with the same operations.
template <bool ramp>
__attribute__((target("avx2"))) void run_phases_wide(std::array<float, kVoiceCount>& phase,
                                                     const std::array<float, kVoiceCount>& inc0,
                                                     const std::array<float, kVoiceCount>& dinc,
                                                     const Block& t, std::size_t m,
                                                     PhaseRows& out) {
  __m256 ph = _mm256_loadu_ps(phase.data());
  const __m256 inc = _mm256_loadu_ps(inc0.data()), d = _mm256_loadu_ps(dinc.data());
  const __m256 one = _mm256_set1_ps(1.0f);
  for (std::size_t i = 0; i < m; i += 8) {
    __m256 rows[8];
    for (std::size_t r = 0; r < 8; ++r) {
      if (i + r >= m) {
        rows[r] = _mm256_setzero_ps();
        continue;
      }
      rows[r] = ph;
      ph = _mm256_add_ps(ph, inc);
      if constexpr (ramp) ph = _mm256_add_ps(ph, _mm256_mul_ps(d, _mm256_set1_ps(t[i + r])));
      const __m256 wrap = _mm256_cmp_ps(ph, one, _CMP_GE_OQ);
      if (__builtin_expect(_mm256_movemask_ps(wrap) != 0, 0))
        ph = _mm256_blendv_ps(ph, _mm256_sub_ps(ph, one), wrap);
    }
    store_transposed(rows, out, i);
  }
  _mm256_storeu_ps(phase.data(), ph);
}
#endif

// Read positions in one mip level for each sample: the two neighbouring samples and the fraction
// between them, wrapping from the last sample to the first.
struct Taps {
  std::array<std::int32_t, kBlockSize> i0, i1;
  Block frac;
};

// Works on four samples at a time, so it reads past m up to the next multiple of eight:
// render_block keeps those phases at 0.
void make_taps(const Block& phase, std::size_t len, std::size_t m, Taps& taps) {
  const float flen = static_cast<float>(len);
  const std::int32_t end = static_cast<std::int32_t>(len - 1);
  const F4 scale = {flen, flen, flen, flen};
  const I4 last = {end, end, end, end}, zero = {0, 0, 0, 0}, one = {1, 1, 1, 1};
  for (std::size_t i = 0; i < m; i += 4) {
    // Phases stay within 0..1 (increments are at most one cycle), so pos is within 0..len and
    // converts exactly like the saturating conversion of Reader::sample.
    const F4 pos = load4(&phase[i]) * scale;
    I4 i0 = __builtin_convertvector(pos, I4);
    i0 = i0 > last ? last : i0;
    const F4 frac = pos - __builtin_convertvector(i0, F4);
    const I4 i1 = i0 == last ? zero : i0 + one;
    std::memcpy(&taps.i0[i], &i0, sizeof i0);
    std::memcpy(&taps.i1[i], &i1, sizeof i1);
    std::memcpy(&taps.frac[i], &frac, sizeof frac);
  }
}

// The frames one voice reads from one table in one block, and how much each one weighs: one
// weight per corner for the whole block, or one per sample.
struct Corners {
  // Only the first `count` entries are set.
  std::array<const float*, 8> level;  // the block's mip level in each corner's frame
  std::array<float, 8> weight;        // still position
  const std::array<Block, 8>* weights = nullptr;  // moving position: per sample, else null
  std::size_t count = 0;
  float step = 0.0f;    // level samples advanced per output sample, at most
  bool padded = false;  // each level continues with its first samples (StillBlend::kPad)
};

// A voice's gain ramp over the block, for reads that go straight into the output:
// out[i] += (g0 + dg x ramp[i]) x value.
struct Gain {
  float* out;
  float g0, dg;
  const Block& ramp;
};

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

// The blended table values of one voice for a block, four samples at a time.
void read_narrow(const Corners& c, const Block& phase, std::size_t len, std::size_t m,
                 Block& acc) {
  Taps taps;
  make_taps(phase, len, m, taps);
  if (c.weights)
    sum_corners(
        c.count, c.level, [&](std::size_t k, std::size_t i) { return load4(&(*c.weights)[k][i]); },
        taps, m, acc);
  else
    sum_corners(
        c.count, c.level, [&](std::size_t k, std::size_t) { return c.weight[k]; }, taps, m, acc);
}

#if defined(__x86_64__)
// Where the eight samples of a group read their two neighbours: all within a window of eight or
// sixteen level samples from the group's first, the same across the end of the cycle, or
// anywhere.
enum class Spread { Eight, Sixteen, Around, Any };

// Reads of one group: the taps, and the group's window.
struct WideTaps {
  __m256i i0, i1;
  __m256i rel;          // position in the window: i0 - base, plus len where the cycle wrapped
  __m256 second;        // the lanes reading from the second eight of a sixteen-sample window
  __m256i inside[4];    // Around: the window lanes before the cycle's end, at offsets 0, 8, 1, 9
  std::int32_t base;
  std::int32_t len;
};

// Eight level samples from `offset` into the window, wrapping at the cycle's end: the lanes
// before the end are read from l + base + offset, the others len samples earlier. Lanes masked
// off are not read, so neither read leaves the level.
__attribute__((target("avx2"), always_inline)) inline __m256 around(const float* l,
                                                                    const WideTaps& t,
                                                                    std::int32_t offset,
                                                                    __m256i inside) {
  const auto at = reinterpret_cast<std::uintptr_t>(l) +
                  static_cast<std::uintptr_t>(t.base + offset) * sizeof(float);
  const __m256 before = _mm256_maskload_ps(reinterpret_cast<const float*>(at), inside);
  const __m256 after = _mm256_maskload_ps(
      reinterpret_cast<const float*>(at - static_cast<std::uintptr_t>(t.len) * sizeof(float)),
      _mm256_xor_si256(inside, _mm256_set1_epi32(-1)));
  return _mm256_or_ps(before, after);
}

// The window samples at the taps, from the window's first eight (w0) and second eight (w8).
__attribute__((target("avx2"), always_inline)) inline __m256 spread16(const WideTaps& t,
                                                                      __m256 w0, __m256 w8) {
  return _mm256_blendv_ps(_mm256_permutevar8x32_ps(w0, t.rel),
                          _mm256_permutevar8x32_ps(w8, t.rel), t.second);
}

// The eight-sample sum over the corners with AVX2, reading the neighbours as `spread` allows.
template <Spread spread, bool per_sample, bool unit>
__attribute__((target("avx2"), always_inline)) inline __m256 sum_wide(const Corners& c,
                                                                      std::size_t i, __m256 frac,
                                                                      const WideTaps& t) {
  __m256 sum = _mm256_setzero_ps();
  for (std::size_t k = 0; k < c.count; ++k) {
    const float* l = c.level[k];
    __m256 a, b;
    if constexpr (spread == Spread::Eight) {
      a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(l + t.base), t.rel);
      b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(l + t.base + 1), t.rel);
    } else if constexpr (spread == Spread::Sixteen) {
      const float* p = l + t.base;
      a = spread16(t, _mm256_loadu_ps(p), _mm256_loadu_ps(p + 8));
      b = spread16(t, _mm256_loadu_ps(p + 1), _mm256_loadu_ps(p + 9));
    } else if constexpr (spread == Spread::Around) {
      a = spread16(t, around(l, t, 0, t.inside[0]), around(l, t, 8, t.inside[1]));
      b = spread16(t, around(l, t, 1, t.inside[2]), around(l, t, 9, t.inside[3]));
    } else {
      a = _mm256_i32gather_ps(l, t.i0, 4);
      b = _mm256_i32gather_ps(l, t.i1, 4);
    }
    const __m256 value = _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), frac));
    if (unit) return value;  // one corner of weight 1: 1 x value is value
    const __m256 w =
        per_sample ? _mm256_loadu_ps(&(*c.weights)[k][i]) : _mm256_set1_ps(c.weight[k]);
    const __m256 v = _mm256_mul_ps(w, value);
    sum = k == 0 ? v : _mm256_add_ps(sum, v);
  }
  return sum;
}

// The same as read_narrow with AVX2, eight samples at a time and the same operations per sample
// (no fused multiply-add, which would round differently). A level is read at most about two
// samples per output sample (its length is up to four times its highest harmonic), so eight
// output samples usually fall within a window of eight or sixteen neighbouring level samples,
// counted around the end of the cycle: the window is loaded once per corner and spread by
// permutes. Groups that stride further gather instead. Reads up to the next multiple of eight
// past m (see make_taps).
template <bool per_sample, bool unit = false, bool into = false>
__attribute__((target("avx2"))) void read_wide(const Corners& c, const Block& phase,
                                               std::size_t len, std::size_t m, Block& acc,
                                               const Gain* gain = nullptr) {
  const __m256 scale = _mm256_set1_ps(static_cast<float>(len));
  const auto slen = static_cast<std::int32_t>(len);
  const __m256i last = _mm256_set1_epi32(slen - 1), cycle = _mm256_set1_epi32(slen);
  const __m256i one = _mm256_set1_epi32(1), seven = _mm256_set1_epi32(7);
  const __m256i fifteen = _mm256_set1_epi32(15), zero = _mm256_setzero_si256();
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  // How far eight samples reach decides the window for the whole block, so the choice does not
  // flip from group to group; each group still checks that its reads fit.
  const float reach = 7.0f * c.step;
  const bool eight = reach < 6.99f, sixteen = reach < 14.99f && len >= 17;
  const std::size_t room = c.padded ? len + StillBlend::kPad : len;  // samples a window may read
  for (std::size_t i = 0; i < m; i += 8) {
    const __m256 pos = _mm256_mul_ps(_mm256_loadu_ps(&phase[i]), scale);
    WideTaps t;
    t.len = slen;
    t.i0 = _mm256_min_epi32(_mm256_cvttps_epi32(pos), last);
    const __m256 frac = _mm256_sub_ps(pos, _mm256_cvtepi32_ps(t.i0));
    t.base = _mm256_cvtsi256_si32(t.i0);
    t.rel = _mm256_sub_epi32(t.i0, _mm256_set1_epi32(t.base));
    t.rel = _mm256_add_epi32(t.rel, _mm256_and_si256(cycle, _mm256_cmpgt_epi32(zero, t.rel)));
    const __m256i upper = _mm256_cmpgt_epi32(t.rel, seven);
    const __m256i beyond = _mm256_cmpgt_epi32(t.rel, fifteen);
    // Phases are never negative, so neither is base. A plain window ends before the last
    // sample, where the upper neighbour wraps to the first, unless the level is padded.
    const auto base = static_cast<std::size_t>(t.base);
    __m256 sum;
    if (eight && base + 9 <= room && _mm256_testz_si256(upper, upper)) {
      sum = sum_wide<Spread::Eight, per_sample, unit>(c, i, frac, t);
    } else if (sixteen && _mm256_testz_si256(beyond, beyond)) {
      t.second = _mm256_castsi256_ps(upper);
      if (base + 17 <= room) {
        sum = sum_wide<Spread::Sixteen, per_sample, unit>(c, i, frac, t);
      } else {
        const std::int32_t offsets[4] = {0, 8, 1, 9};
        for (std::size_t w = 0; w < 4; ++w)
          t.inside[w] = _mm256_cmpgt_epi32(
              cycle, _mm256_add_epi32(lane, _mm256_set1_epi32(t.base + offsets[w])));
        sum = sum_wide<Spread::Around, per_sample, unit>(c, i, frac, t);
      }
    } else {
      t.i1 = _mm256_andnot_si256(_mm256_cmpeq_epi32(t.i0, last), _mm256_add_epi32(t.i0, one));
      sum = sum_wide<Spread::Any, per_sample, unit>(c, i, frac, t);
    }
    if constexpr (into) {  // m is a multiple of eight here
      const __m256 g = _mm256_add_ps(_mm256_set1_ps(gain->g0),
                                     _mm256_mul_ps(_mm256_set1_ps(gain->dg),
                                                   _mm256_loadu_ps(&gain->ramp[i])));
      float* out = gain->out + i;
      _mm256_storeu_ps(out, _mm256_add_ps(_mm256_loadu_ps(out), _mm256_mul_ps(g, sum)));
    } else {
      _mm256_storeu_ps(&acc[i], sum);
    }
  }
}

bool eight_lanes_available() {
  // QUILLORY_NO_AVX2 keeps the four-lane passes, so that they can be tested on any machine.
  if (std::getenv("QUILLORY_NO_AVX2")) return false;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#else
template <bool, bool = false, bool = false>
void read_wide(const Corners& c, const Block& phase, std::size_t len, std::size_t m, Block& acc,
               const Gain* = nullptr) {
  read_narrow(c, phase, len, m, acc);
}
bool eight_lanes_available() {
  return false;
}
#endif

// Whether the passes run eight lanes wide (AVX2), decided once when the program starts.
const bool kEightLanes = eight_lanes_available();


// out[i] += (g0 + dg x ramp[i]) x v[i]: one voice's samples through its gain ramp into the
// output.
void add_gained_narrow(float* out, const Block& v, const Block& ramp, float g0, float dg,
                       std::size_t m) {
  const F4 a = splat(g0), d = splat(dg);
  std::size_t i = 0;
  for (; i + 4 <= m; i += 4)
    store4(&out[i], load4(&out[i]) + (a + d * load4(&ramp[i])) * load4(&v[i]));
  for (; i < m; ++i) out[i] = out[i] + (g0 + dg * ramp[i]) * v[i];
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void add_gained_wide(float* out, const Block& v,
                                                     const Block& ramp, float g0, float dg,
                                                     std::size_t m) {
  const __m256 a = _mm256_set1_ps(g0), d = _mm256_set1_ps(dg);
  std::size_t i = 0;
  for (; i + 8 <= m; i += 8) {
    const __m256 gain = _mm256_add_ps(a, _mm256_mul_ps(d, _mm256_loadu_ps(&ramp[i])));
    _mm256_storeu_ps(&out[i], _mm256_add_ps(_mm256_loadu_ps(&out[i]),
                                            _mm256_mul_ps(gain, _mm256_loadu_ps(&v[i]))));
  }
  for (; i < m; ++i) out[i] = out[i] + (g0 + dg * ramp[i]) * v[i];
}
#else
void add_gained_wide(float* out, const Block& v, const Block& ramp, float g0, float dg,
                     std::size_t m) {
  add_gained_narrow(out, v, ramp, g0, dg, m);
}
#endif

void add_gained(float* out, const Block& v, const Block& ramp, float g0, float dg,
                std::size_t m) {
  if (kEightLanes)
    add_gained_wide(out, v, ramp, g0, dg, m);
  else
    add_gained_narrow(out, v, ramp, g0, dg, m);
}

// One voice's blended table values for the block: into acc, or with a gain straight into the
// output (acc is then scratch).
[[gnu::always_inline]] inline void read_corners(const Corners& c, const Block& phase,
                                                std::size_t len, std::size_t m, Block& acc,
                                                const Gain* gain = nullptr) {
  const bool unit = !c.weights && c.count == 1 && c.weight[0] == 1.0f;
  if (kEightLanes && gain && m % 8 == 0) {
    if (c.weights)
      read_wide<true, false, true>(c, phase, len, m, acc, gain);
    else if (unit)
      read_wide<false, true, true>(c, phase, len, m, acc, gain);
    else
      read_wide<false, false, true>(c, phase, len, m, acc, gain);
    return;
  }
  if (kEightLanes && c.weights)
    read_wide<true>(c, phase, len, m, acc);
  else if (kEightLanes && unit)
    read_wide<false, true>(c, phase, len, m, acc);
  else if (kEightLanes)
    read_wide<false>(c, phase, len, m, acc);
  else
    read_narrow(c, phase, len, m, acc);
  if (gain) add_gained(gain->out, acc, gain->ramp, gain->g0, gain->dg, m);
}

// Still position: one set of weights for the block; corners of weight 0 are not read.
Corners still_corners(const Reader& r, const FrameWeights& fw) {
  Corners c;
  for (std::size_t k = 0; k < 8; ++k) {
    if (fw.weights[k] == 0.0f) continue;
    c.level[c.count] = r.table->frame_data(fw.frames[k]) + r.offset;
    c.weight[c.count++] = fw.weights[k];
  }
  return c;
}

// Blends the corners of a still position into data (padded), in corner order.
void build_blend(const Corners& c, std::size_t len, float* data) {
  for (std::size_t i = 0; i < len; ++i) data[i] = c.weight[0] * c.level[0][i];
  for (std::size_t k = 1; k < c.count; ++k)
    for (std::size_t i = 0; i < len; ++i) data[i] = data[i] + c.weight[k] * c.level[k][i];
  for (std::size_t j = 0; j < StillBlend::kPad; ++j) data[len + j] = data[j % len];
}

// The corners a still position reads: its blend once the same position in the same level comes
// twice running (a position that keeps still is blended once, one gliding to a stop is not
// blended every block), else the frames around it.
[[gnu::always_inline]] inline Corners still_read(const Reader& r, const Position& p,
                                                 StillBlend& b, float* data,
                                                 std::uint64_t epoch) {
  const bool blendable = r.len <= StillBlend::kCapacity;
  const bool same = blendable && b.epoch == epoch && b.offset == r.offset && b.len == r.len &&
                    b.position == p;
  if (!same || !b.built) {
    const Corners c = still_corners(r, frame_weights(*r.table, p[0], p[1], p[2]));
    if (!blendable || c.count < 2) return c;
    if (!same) {
      b = {p, r.offset, r.len, epoch, false};
      return c;
    }
    build_blend(c, r.len, data);
    b.built = true;
  }
  Corners blend;
  blend.level[0] = data;
  blend.weight[0] = 1.0f;
  blend.count = 1;
  blend.padded = true;
  return blend;
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

// The per-sample corner weights of a position moving inside one grid cell during a block. They
// depend only on the table's shape and the position's path, so voices on the same path share
// them.
struct MovingWeights {
  const Table* table = nullptr;
  Position start{}, end{};
  bool one_cell = false;  // false: the path crosses a cell boundary, weights go sample by sample
  std::array<std::size_t, 8> frames{};
  std::array<Block, 8> w;
  std::size_t count = 0;

  bool same_path(const Table& t, const Position& s, const Position& e) const {
    return table == &t && start == s && end == e;
  }
};

void plan_moving(const Table& table, const Position& start, const Position& end,
                 const Block& ramp, std::size_t m, MovingWeights& mw) {
  mw.table = &table;
  mw.start = start;
  mw.end = end;
  std::array<AxisRun, 3> ax;
  run_axis(start[0], end[0], table.cols(), ramp, m, ax[0]);
  run_axis(start[1], end[1], table.rows(), ramp, m, ax[1]);
  run_axis(start[2], end[2], table.layers(), ramp, m, ax[2]);
  mw.one_cell = ax[0].one_cell && ax[1].one_cell && ax[2].one_cell;
  mw.count = 0;
  if (!mw.one_cell) return;

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
  for (std::size_t k = 0; k < 8; ++k) {
    const bool upper_x = k & 1, upper_y = (k >> 1) & 1, upper_z = k >> 2;
    // An upper corner along an axis whose fraction stays 0 weighs exactly 0 all block.
    if ((upper_x && ax[0].flat) || (upper_y && ax[1].flat) || (upper_z && ax[2].flat)) continue;
    mw.frames[mw.count] = (upper_z ? ax[2].i1 : ax[2].i0) * layer_size +
                          (upper_y ? ax[1].i1 : ax[1].i0) * cols + (upper_x ? ax[0].i1 : ax[0].i0);
    const Block& layer = upper_z ? above : below;
    Block& w = mw.w[mw.count++];
    for (std::size_t i = 0; i < m; ++i) w[i] = plane[k & 3][i] * layer[i];
    std::fill(w.begin() + m, w.end(), 0.0f);  // read eight at a time
  }
}

// Moving position across cell boundaries: weights per sample, one sample at a time.
void read_crossing(const Reader& r, const Position& start, const Position& end, const Block& ramp,
                   const Block& phase, std::size_t m, Block& acc) {
  for (std::size_t i = 0; i < m; ++i) {
    float pos[3];
    for (std::size_t a = 0; a < 3; ++a) pos[a] = start[a] + (end[a] - start[a]) * ramp[i];
    acc[i] = r.sample(frame_weights(*r.table, pos[0], pos[1], pos[2]), phase[i]);
  }
}

// A voice's blend for one table, with the engine's table epoch.
struct BlendSlot {
  StillBlend& blend;
  float* data;
  std::uint64_t epoch;
};

// One voice's table values for the block from one table: into acc, or with `gain` straight into
// the output. `memo` holds the moving weights last worked out for this table; they are reused
// when the voice follows the same path.
[[gnu::always_inline]] inline void read_table(const Reader& r, const VoicePlan& plan,
                                              const Block& ramp, const Block& phase,
                                              std::size_t m, MovingWeights& memo,
                                              const BlendSlot& blend, Block& acc,
                                              const Gain* gain = nullptr) {
  const Position& start = plan.position_start;
  const Position& end = plan.position_end;
  const float step =
      std::max(plan.increment_start, plan.increment_end) * static_cast<float>(r.len);
  if (start == end) {
    Corners c = still_read(r, end, blend.blend, blend.data, blend.epoch);
    c.step = step;
    read_corners(c, phase, r.len, m, acc, gain);
    return;
  }
  if (!memo.same_path(*r.table, start, end)) plan_moving(*r.table, start, end, ramp, m, memo);
  if (!memo.one_cell) {
    read_crossing(r, start, end, ramp, phase, m, acc);
    if (gain) add_gained(gain->out, acc, gain->ramp, gain->g0, gain->dg, m);
    return;
  }
  Corners c;
  c.weights = &memo.w;
  c.count = memo.count;
  c.step = step;
  for (std::size_t k = 0; k < memo.count; ++k)
    c.level[k] = r.table->frame_data(memo.frames[k]) + r.offset;
  read_corners(c, phase, r.len, m, acc, gain);
}

using FilterSet = std::array<FilterCoefficients, kVoiceCount>;
using FilterStates = std::array<std::array<float, 2>, kVoiceCount>;

// The filter of every lane over one block; x holds the input and receives the output. The lanes
// run side by side in vectors V with the operations of filter_sample.
template <FilterType type, class V>
[[gnu::always_inline]] inline void filter_body(LaneBlock& x, const FilterSet& c,
                                               FilterStates& state, std::size_t m) {
  constexpr std::size_t W = sizeof(V) / sizeof(float), G = kVoiceCount / W;
  V k[G], a1[G], a2[G], a3[G], ic1[G], ic2[G];
  for (std::size_t g = 0; g < G; ++g)
    for (std::size_t l = 0; l < W; ++l) {
      const std::size_t j = W * g + l;
      k[g][l] = c[j].k;
      a1[g][l] = c[j].a1;
      a2[g][l] = c[j].a2;
      a3[g][l] = c[j].a3;
      ic1[g][l] = state[j][0];
      ic2[g][l] = state[j][1];
    }
  const V two = V{} + 2.0f;
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t g = 0; g < G; ++g) {
      V in, out;
      std::memcpy(&in, &x[i][W * g], sizeof in);
      const V u = in - ic2[g];
      const V band = a1[g] * ic1[g] + a2[g] * u;
      const V low = ic2[g] + a2[g] * ic1[g] + a3[g] * u;
      ic1[g] = two * band - ic1[g];
      ic2[g] = two * low - ic2[g];
      if constexpr (type == FilterType::LowPass) out = low;
      if constexpr (type == FilterType::HighPass) out = in - k[g] * band - low;
      if constexpr (type == FilterType::BandPass) out = k[g] * band;
      std::memcpy(&x[i][W * g], &out, sizeof out);
    }
  for (std::size_t g = 0; g < G; ++g)
    for (std::size_t l = 0; l < W; ++l) state[W * g + l] = {ic1[g][l], ic2[g][l]};
}

template <FilterType type>
void filter_lanes_narrow(LaneBlock& x, const FilterSet& c, FilterStates& state, std::size_t m) {
  filter_body<type, F4>(x, c, state, m);
}

// x[i][0] + x[i][1] + ... + x[i][lanes - 1] added to out[i]: voices add into the output in voice
// order, as they would one after another.
void add_lanes_narrow(float* out, const LaneBlock& x, std::size_t lanes, std::size_t m) {
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t j = 0; j < lanes; ++j) out[i] = out[i] + x[i][j];
}

#if defined(__x86_64__)
using F8 = float __attribute__((vector_size(32)));

template <FilterType type>
__attribute__((target("avx2"))) void filter_lanes_wide(LaneBlock& x, const FilterSet& c,
                                                       FilterStates& state, std::size_t m) {
  filter_body<type, F8>(x, c, state, m);
}

// add_lanes_narrow eight samples at a time: each tile of eight samples is turned around into one
// row per lane, and the rows are added in lane order.
__attribute__((target("avx2"))) void add_lanes_wide(float* out, const LaneBlock& x,
                                                    std::size_t lanes, std::size_t m) {
  std::size_t i = 0;
  for (; i + 8 <= m; i += 8) {
    __m256 rows[8];
    for (std::size_t r = 0; r < 8; ++r) rows[r] = _mm256_loadu_ps(x[i + r].data());
    PhaseRows columns;
    store_transposed(rows, columns, 0);
    __m256 sum = _mm256_loadu_ps(out + i);
    for (std::size_t j = 0; j < lanes; ++j) sum = _mm256_add_ps(sum, _mm256_loadu_ps(&columns[j][0]));
    _mm256_storeu_ps(out + i, sum);
  }
  for (; i < m; ++i)
    for (std::size_t j = 0; j < lanes; ++j) out[i] = out[i] + x[i][j];
}
#else
template <FilterType type>
void filter_lanes_wide(LaneBlock& x, const FilterSet& c, FilterStates& state, std::size_t m) {
  filter_lanes_narrow<type>(x, c, state, m);
}
void add_lanes_wide(float* out, const LaneBlock& x, std::size_t lanes, std::size_t m) {
  add_lanes_narrow(out, x, lanes, m);
}
#endif

template <FilterType type>
void filter_lanes(LaneBlock& x, const FilterSet& c, FilterStates& state, std::size_t m) {
  if (kEightLanes)
    filter_lanes_wide<type>(x, c, state, m);
  else
    filter_lanes_narrow<type>(x, c, state, m);
}

void add_lanes(float* out, const LaneBlock& x, std::size_t lanes, std::size_t m) {
  if (kEightLanes)
    add_lanes_wide(out, x, lanes, m);
  else
    add_lanes_narrow(out, x, lanes, m);
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
  // Settings stay as they are for the whole call. Compared byte for byte: a difference only in
  // padding costs a fresh plan and routed set, never a stale one.
  if (std::memcmp(&settings_seen_, &settings, sizeof(Settings)) != 0) {
    std::memcpy(&settings_seen_, &settings, sizeof(Settings));
    routed_ = routed_sources(settings.mod);
    ++plan_epoch_;
  }
  const std::uint32_t routed = routed_;
  if (current != epoch_table_ || fading_table.get() != epoch_fading_) {
    epoch_table_ = current;
    epoch_fading_ = fading_table.get();
    ++table_epoch_;  // kept plans see the change through their shared inputs
  }
  for (std::size_t start = 0; start < n; start += kBlockSize) {
    const std::size_t m = std::min(kBlockSize, n - start);
    // LFO outputs nobody routes are needed only for mod_values after the last block.
    const float dt = begin_block(m, start + m == n);
    if (!current) {  // no table: envelopes keep time, nothing sounds, no crossfade
      for (Voice& v : voices)
        if (v.active()) step_envelopes(v, dt);
      continue;
    }
    render_block(out + start, m, dt, *current, routed);
    advance_crossfade(m);
  }
  flush_block(out, n);
}

namespace {
// Byte-for-byte equality of two records without padding, a word at a time.
template <class T>
bool same_bytes(const T& a, const T& b) {
  static_assert(sizeof(T) % sizeof(std::uint64_t) == 0);
  using Words = std::array<std::uint64_t, sizeof(T) / sizeof(std::uint64_t)>;
  const auto x = std::bit_cast<Words>(a), y = std::bit_cast<Words>(b);
  std::uint64_t differ = 0;
  for (std::size_t i = 0; i < x.size(); ++i) differ |= x[i] ^ y[i];
  return differ == 0;
}
using Bits3 = std::array<std::uint32_t, 3>;
}  // namespace

[[gnu::always_inline]] inline Engine::SharedInputs Engine::shared_inputs(
    const Table& current, std::uint32_t routed) const {
  static_assert(sizeof(SharedInputs) == 2 * sizeof(const Table*) + 12 * sizeof(float));
  SharedInputs in;
  in.current = &current;
  in.fading = fading_table.get();
  std::size_t k = 0;
  in.values[k++] = pitch_bend;
  in.values[k++] = sample_rate;
  // Sources nobody routes stay 0: their values do not reach any plan.
  const auto routed_value = [&](std::size_t source, float v) {
    in.values[k++] = routed >> source & 1u ? v : 0.0f;
  };
  for (std::size_t i = 0; i < 3; ++i) routed_value(i, lfo_out[i]);
  routed_value(6, smoothed[0]);  // wheel
  routed_value(7, smoothed[1]);  // pressure
  for (std::size_t i = 0; i < 3; ++i) routed_value(9 + i, smoothed[2 + i]);
  return in;
}

const VoicePlan& Engine::plan_lane(std::size_t slot, const Table& current, float dt,
                                   std::uint32_t routed) {
  Voice& v = voices[slot];
  KeptPlan& kept = kept_[slot];
  VoicePlan& p = kept.plan;
  // Sustaining, the envelopes only set their levels to the sustain levels again, so with the
  // same shared inputs and the same note every value of the plan comes out as last time, but for
  // the position when the table position has moved; the start values come from the voice as
  // always.
  const bool same = kept.epoch == plan_epoch_ && v.env1.stage == EnvStage::Sustain &&
                    v.env2.stage == EnvStage::Sustain && !v.fresh && kept.freq == v.freq &&
                    kept.velocity == v.velocity && kept.note == v.note && kept.held == v.held;
  if (same) {
    if (std::bit_cast<Bits3>(kept.position) != std::bit_cast<Bits3>(position)) {
      kept.position = position;
      p.position_end = offset_position(position, kept.offset);
    }
    p.gain_start = v.last_gain;
    p.increment_start = v.last_increment;
    p.position_start = v.last_position;
    return p;
  }
  plan_voice(v, current, fading_table.get(), dt, routed, p, &kept.offset);
  kept.position = position;
  kept.epoch = plan_epoch_;
  kept.freq = v.freq;
  kept.velocity = v.velocity;
  kept.note = v.note;
  kept.held = v.held;
  return p;
}

void Engine::render_block(float* out, std::size_t m, float dt, const Table& current,
                          std::uint32_t routed) {
  const Table* fading = fading_table.get();
  const float step = crossfade_step();

  // Plan every voice that sounds at the start of the block, in voice order.
  std::array<Voice*, kVoiceCount> lane_voice{};
  std::array<std::size_t, kVoiceCount> lane_slot{};
  std::array<const VoicePlan*, kVoiceCount> plan{};
  std::size_t lanes = 0;
  const SharedInputs shared = shared_inputs(current, routed);
  if (!same_bytes(shared, shared_seen_)) {
    shared_seen_ = shared;
    ++plan_epoch_;
  }
  for (std::size_t slot = 0; slot < kVoiceCount; ++slot)
    if (voices[slot].active()) {
      plan[lanes] = &plan_lane(slot, current, dt, routed);
      lane_slot[lanes] = slot;
      lane_voice[lanes++] = &voices[slot];
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
    inc0[j] = plan[j]->increment_start;
    dinc[j] = plan[j]->increment_end - plan[j]->increment_start;
  }
  PhaseRows phases;
  const bool ramps = std::any_of(dinc.begin(), dinc.end(), [](float d) { return d != 0.0f; });
  if (lanes <= 4)
    (ramps ? run_phases<true, 1> : run_phases<false, 1>)(phase, inc0, dinc, ramp, m, phases);
#if defined(__x86_64__)
  else if (kEightLanes)
    (ramps ? run_phases_wide<true> : run_phases_wide<false>)(phase, inc0, dinc, ramp, m, phases);
#endif
  else
    (ramps ? run_phases<true, 2> : run_phases<false, 2>)(phase, inc0, dinc, ramp, m, phases);

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
  // Moving weights last worked out for the current and the fading table.
  MovingWeights memo, fading_memo;
  for (std::size_t j = 0; j < lanes; ++j) {
    const VoicePlan& p = *plan[j];
    const Block& phase = phases[j];
    Block v;
    const std::size_t slot = lane_slot[j];
    const auto blend = [&](std::size_t which) {
      const std::size_t b = 2 * slot + which;
      return BlendSlot{blends_[b], blend_data_.get() + b * kBlendStride, table_epoch_};
    };
    // Gain ramp, then straight into the output when there is no filter (voices still add in
    // voice order), else into the lanes for the filter pass.
    const float g0 = p.gain_start, dg = p.gain_end - p.gain_start;
    if (!filtered && !fading_heard) {
      const Gain gain{out, g0, dg, ramp};
      read_table(p.reader, p, ramp, phase, m, memo, blend(0), v, &gain);
      continue;
    }
    read_table(p.reader, p, ramp, phase, m, memo, blend(0), v);
    if (fading_heard) {
      Block w;
      read_table(p.fading_reader, p, ramp, phase, m, fading_memo, blend(1), w);
      for (std::size_t i = 0; i < m; ++i)
        if (fade_c[i] < 1.0f) v[i] = w[i] + fade_c[i] * (v[i] - w[i]);
    }
    if (!filtered)
      add_gained(out, v, ramp, g0, dg, m);
    else
      for (std::size_t i = 0; i < m; ++i) voice_out[i][j] = (g0 + dg * ramp[i]) * v[i];
  }

  if (filtered) {
    FilterSet coefficients{};
    FilterStates state{};
    for (std::size_t j = 0; j < lanes; ++j) {
      coefficients[j] = plan[j]->filter;
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
    add_lanes(out, voice_out, lanes, m);
  }

  for (std::size_t j = 0; j < lanes; ++j) {
    lane_voice[j]->phase = phase[j];
    finish_voice(*lane_voice[j], *plan[j]);
  }
}

}  // namespace quillory::synth
