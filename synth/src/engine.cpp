// The engine's inputs (notes, controllers, tempo, position, tables) and its block updates:
// position and controller smoothing, LFOs, envelopes and voice modulation.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <utility>

#include "synth/engine.hpp"

namespace quillory::synth {

namespace {

constexpr float kPitchBendSemitones = 2.0f;
constexpr float kMinTempo = 20.0f, kMaxTempo = 999.0f;  // beats per minute
constexpr float kSnapDistance = 0.000001f;  // controller changes below this are taken at once
constexpr std::size_t kEnv1Source = 3;      // matrix index of the Env 1 source

// clamp that sends NaN to the lower bound.
float clamp_nan_low(float v, float lo, float hi) {
  return std::min(v > lo ? v : lo, hi);
}

// A controller input: clamped to its range; infinite or NaN counts as 0.
float controller(float v, float lo, float hi) {
  return std::isfinite(v) ? std::clamp(v, lo, hi) : 0.0f;
}

// The one-pole smoothing coefficient for a block of dt seconds and a time constant.
float smoothing(float dt, float time_constant) {
  return 1.0f - std::exp(-dt / time_constant);
}

// A phase increment kept within 0..1 cycles per sample: frequencies above the sample rate (only
// reachable by extreme modulation) would carry the phase out of the cycle, and a broken
// modulation sum must not leave a NaN in the phase for the rest of the note.
float safe_increment(float inc) {
  return clamp_nan_low(inc, 0.0f, 1.0f);
}

// The routes of the twelve sources, in source order.
std::array<const Route*, mod_source_count> routes_of(const ModMatrix& m) {
  return {&m.lfo[0], &m.lfo[1],   &m.lfo[2], &m.env,   &m.env2,  &m.vel,
          &m.wheel,  &m.pressure, &m.key,    &m.cc[0], &m.cc[1], &m.cc[2]};
}

}  // namespace

std::uint32_t routed_sources(const ModMatrix& m) {
  const auto routes = routes_of(m);
  std::uint32_t set = 0;
  for (std::size_t k = 0; k < routes.size(); ++k) {
    const Route& r = *routes[k];
    // Without short cuts: seven compares and no branches per route.
    const bool any = (r.x != 0.0f) | (r.y != 0.0f) | (r.z != 0.0f) | (r.cutoff != 0.0f) |
                     (r.res != 0.0f) | (r.pitch != 0.0f) | (r.amp != 0.0f);
    set |= static_cast<std::uint32_t>(any) << k;
  }
  return set;
}

float note_frequency(std::uint8_t key) {
  return 440.0f * std::exp2((static_cast<float>(key) - 69.0f) / 12.0f);
}

Engine::Engine(float rate)
    : sample_rate(std::max(rate, 1.0f)), blend_data_(new float[blends_.size() * kBlendStride]) {}

void Engine::note_on(std::uint8_t key, float velocity) {
  auto same_key = std::find_if(voices.begin(), voices.end(),
                               [&](const Voice& v) { return v.active() && v.note == key; });
  auto chosen = same_key != voices.end() ? same_key
                                         : std::find_if(voices.begin(), voices.end(),
                                                        [](const Voice& v) { return !v.active(); });
  if (chosen == voices.end())  // steal the oldest; min_element keeps the lowest index on ties
    chosen = std::min_element(voices.begin(), voices.end(),
                              [](const Voice& a, const Voice& b) { return a.started < b.started; });
  ++note_counter;
  Voice& v = *chosen;
  if (!v.active()) v = Voice{};
  v.note = key;
  v.freq = note_frequency(key);
  v.velocity = controller(velocity, 0.0f, 1.0f);
  v.held = true;
  v.env1.stage = EnvStage::Attack;
  v.env2.stage = EnvStage::Attack;
  v.started = note_counter;
}

void Engine::note_off(std::uint8_t key) {
  for (Voice& v : voices)
    if (v.note == key && v.held) {
      v.held = false;
      v.env1.stage = EnvStage::Release;
      v.env2.stage = EnvStage::Release;
    }
}

void Engine::all_off() {
  for (Voice& v : voices)
    if (v.held) {
      v.held = false;
      v.env1.stage = EnvStage::Release;
      v.env2.stage = EnvStage::Release;
    }
}

void Engine::reset_voices() {
  voices.fill(Voice{});
}

bool Engine::is_active() const {
  return std::any_of(voices.begin(), voices.end(), [](const Voice& v) { return v.active(); });
}

void Engine::set_position(float x, float y, float z) {
  position_target = {clamp_nan_low(x, 0.0f, 1.0f), clamp_nan_low(y, 0.0f, 1.0f),
                     clamp_nan_low(z, 0.0f, 1.0f)};
}

void Engine::set_pitch_bend(float value) {
  pitch_bend = controller(value, -1.0f, 1.0f) * kPitchBendSemitones;
}

void Engine::set_mod_wheel(float value) {
  wheel = controller(value, 0.0f, 1.0f);
}

void Engine::set_pressure(float value) {
  pressure = controller(value, 0.0f, 1.0f);
}

void Engine::set_cc(std::uint8_t number, float value) {
  for (std::size_t k = 0; k < cc_values.size(); ++k)
    if (settings.cc[k] == number) cc_values[k] = controller(value, 0.0f, 1.0f);
}

void Engine::set_host_tempo(std::optional<float> tempo, std::optional<double> position) {
  host_tempo = tempo && std::isfinite(*tempo) && *tempo > 0.0f ? tempo : std::nullopt;
  song_position = position && std::isfinite(*position) ? position : std::nullopt;
}

TableHandle Engine::set_table(TableHandle next) {
  // A new table may sit where a released one was: nothing kept from the old one may be reused.
  ++table_epoch_;
  ++plan_epoch_;
  TableHandle old = std::exchange(table, std::move(next));
  if (!table || !old || !is_active()) return old;
  crossfade = 0.0f;
  TableHandle displaced = std::exchange(fading_table, std::move(old));
  return displaced;
}

float Engine::begin_block(std::size_t m, bool lfo_values) {
  const float dt = static_cast<float>(m) / sample_rate;
  if (!position_ready) {
    position = position_target;
    position_ready = true;
  }
  if (dt != memo_dt_) {
    memo_dt_ = dt;
    memo_position_a_ = smoothing(dt, kPositionSmoothingSeconds);
    memo_controller_c_ = smoothing(dt, kControllerSmoothingSeconds);
  }
  const float a = memo_position_a_;
  for (std::size_t i = 0; i < 3; ++i)
    position[i] = position[i] + (position_target[i] - position[i]) * a;
  update_controllers_and_lfos(dt, lfo_values);
  live_position = position;
  return dt;
}

void Engine::update_controllers_and_lfos(float dt, bool lfo_values) {
  const float c = dt == memo_dt_ ? memo_controller_c_ : smoothing(dt, kControllerSmoothingSeconds);
  const std::array<float, kSmoothedCount> targets{wheel, pressure, cc_values[0], cc_values[1],
                                                  cc_values[2]};
  for (std::size_t i = 0; i < kSmoothedCount; ++i) {
    float& s = smoothed[i];
    s = std::fabs(targets[i] - s) < kSnapDistance ? targets[i] : s + (targets[i] - s) * c;
  }

  const float bpm = clamp_nan_low(host_tempo.value_or(settings.tempo), kMinTempo, kMaxTempo);
  const float bps = bpm / 60.0f;
  const float beats = dt * bps;  // beats in this block, single precision
  const double beat = song_position ? *song_position + static_cast<double>(beats) : 0.0;

  for (std::size_t k = 0; k < lfo_phase.size(); ++k) {
    const Lfo& lfo = settings.lfos[k];
    const float old = lfo_phase[k];
    float p;
    if (lfo.sync > 0.0f && song_position) {  // locked to the host's bars
      const double q = beat / static_cast<double>(lfo.sync);
      double frac = q - std::trunc(q);
      if (frac < 0.0) frac += 1.0;
      p = static_cast<float>(frac);
    } else if (lfo.sync > 0.0f) {
      p = old + beats / lfo.sync;
    } else {
      p = old + dt * lfo.rate;
    }
    if (p >= 1.0f || old > p) {  // a new cycle, or the transport jumped back
      random_state = next_random(random_state);
      lfo_held[k] = random_bipolar(random_state);
    }
    // floor rather than truncation keeps a phase run backwards by a negative rate inside 0..1;
    // a rate too large to be finite restarts the cycle instead of leaving a NaN behind.
    if (!(p > 0.0f && p < 1.0f)) p = p - std::floor(p);  // inside the cycle floor(p) is 0
    if (!std::isfinite(p)) p = 0.0f;
    lfo_phase[k] = p;
    if (!lfo_values && settings.mod.lfo[k] == Route{}) continue;
    const float v = lfo_value(lfo.shape, p, lfo_held[k]);
    lfo_out[k] = lfo.unipolar ? (v + 1.0f) * 0.5f : v;
  }
  if (song_position) song_position = beat;
}

float Engine::source_value(std::size_t k, const Voice& v) const {
  switch (k) {
    case 0:
    case 1:
    case 2:
      return lfo_out[k];
    case 3:
      return v.env1.level;
    case 4:
      return v.env2.level;
    case 5:
      return v.velocity;
    case 6:
      return smoothed[0];  // wheel
    case 7:
      return smoothed[1];  // pressure
    case 8:
      return key_value(v.note);
    default:
      return smoothed[k - 7];  // CC A, B, C
  }
}

void Engine::step_envelopes(Voice& v, float dt) const {
  step_envelope(v.env2, settings.adsr2, dt);
  step_envelope(v.env1, settings.adsr, dt);
}

// The body of modulate, inlined into plan_voice, which runs for every voice in every block.
[[gnu::always_inline]] inline VoiceMod Engine::modulate_inline(const Voice& v,
                                                               std::uint32_t routed) const {
  const auto routes = routes_of(settings.mod);
  float pitch = pitch_bend, x = 0.0f, y = 0.0f, z = 0.0f, cutoff = 0.0f, res = 0.0f, amp = 0.0f;
  // Only the routed sources, in source order: the others would add exact zeros.
  for (std::uint32_t set = routed & kAllSources; set != 0; set &= set - 1) {
    const auto k = static_cast<std::size_t>(std::countr_zero(set));
    const Route& r = *routes[k];
    if (r == Route{}) continue;
    const float s = source_value(k, v);
    // Squared pitch curve: an amount of 1 gives 24 semitones per unit, finer near zero.
    pitch = pitch + 24.0f * r.pitch * std::fabs(r.pitch) * s;
    x = x + r.x * s;
    y = y + r.y * s;
    z = z + r.z * s;
    cutoff = cutoff + r.cutoff * s;
    res = res + r.res * s;
    if (k != kEnv1Source) amp = amp + r.amp * s;
  }
  VoiceMod mod;
  mod.semitones = pitch;
  mod.offset = {x, y, z};
  mod.position = offset_position(position, mod.offset);
  // Amount 1 at value 1 raises the cutoff 6 octaves.
  mod.cutoff_factor = cutoff == 0.0f ? 1.0f : std::exp2(6.0f * cutoff);
  mod.resonance = settings.filter.resonance + res;
  mod.amp_factor = std::max(1.0f + amp, 0.0f);
  // Env 1 -> Amp mixes the envelope with full level while the key is held, so a release always
  // fades out.
  const float e = settings.mod.env.amp;
  mod.env_gain = e * v.env1.level + (1.0f - e) * (v.held ? 1.0f : v.env1.level);
  return mod;
}

VoiceMod Engine::modulate(const Voice& v, std::uint32_t routed) const {
  return modulate_inline(v, routed);
}

Position Engine::offset_position(const Position& position, const Position& offset) {
  return {clamp_nan_low(position[0] + offset[0], 0.0f, 1.0f),
          clamp_nan_low(position[1] + offset[1], 0.0f, 1.0f),
          clamp_nan_low(position[2] + offset[2], 0.0f, 1.0f)};
}

void Engine::plan_voice(Voice& v, const Table& current, const Table* fading, float dt,
                        std::uint32_t routed, VoicePlan& p, Position* offset) const {
  step_envelopes(v, dt);
  const VoiceMod mod = modulate_inline(v, routed);
  if (offset) *offset = mod.offset;
  const float f = mod.semitones == 0.0f ? v.freq : v.freq * std::exp2(mod.semitones / 12.0f);
  const std::size_t slot = slot_of(v);  // which voice, for the memos
  p.increment_end = safe_increment(f / sample_rate);
  p.reader = Reader::at_level(current, cached_mip_level(2 * slot, current, f));
  p.fading_reader =
      fading ? Reader::at_level(*fading, cached_mip_level(2 * slot + 1, *fading, f)) : Reader{};
  p.gain_end = mod.amp_factor * (0.35f + 0.65f * v.velocity) * 0.25f * mod.env_gain;
  p.position_end = mod.position;
  if (v.fresh) {  // a voice started from silence begins at its target, with no ramp
    p.gain_start = p.gain_end;
    p.increment_start = p.increment_end;
    p.position_start = p.position_end;
  } else {
    p.gain_start = v.last_gain;
    p.increment_start = v.last_increment;
    p.position_start = v.last_position;
  }
  p.filter = {};
  if (settings.filter.type != FilterType::Off) {
    const float cutoff = settings.filter.cutoff * mod.cutoff_factor;
    if (slot < kVoiceCount) {
      FilterMemo& memo = filter_memo_[slot];
      if (memo.cutoff != cutoff || memo.resonance != mod.resonance || memo.rate != sample_rate)
        memo = {cutoff, mod.resonance, sample_rate,
                filter_coefficients(cutoff, mod.resonance, sample_rate)};
      p.filter = memo.coefficients;
    } else {
      p.filter = filter_coefficients(cutoff, mod.resonance, sample_rate);
    }
  }
}

std::size_t Engine::slot_of(const Voice& v) const {
  const auto at = reinterpret_cast<std::uintptr_t>(&v);
  const auto first = reinterpret_cast<std::uintptr_t>(voices.data());
  const std::size_t slot = (at - first) / sizeof(Voice);
  return at >= first && slot < kVoiceCount && at == first + slot * sizeof(Voice) ? slot
                                                                                 : kVoiceCount;
}

std::size_t Engine::cached_mip_level(std::size_t slot, const Table& t, float f) const {
  if (slot >= mip_memo_.size()) return mip_level(t, f, sample_rate);  // not one of our voices
  MipMemo& memo = mip_memo_[slot];
  // The level depends only on the frame size (which fixes the level count), f and the rate.
  if (memo.frame_size != t.frame_size() || memo.freq != f)
    memo = {t.frame_size(), f, mip_level(t, f, sample_rate)};
  return memo.level;
}

void Engine::advance_crossfade(std::size_t m) {
  if (!fading_table) return;
  crossfade = crossfade + static_cast<float>(m) * crossfade_step();
  if (crossfade < 1.0f) return;
  // Park the faded table for the Processor to collect. If the last one has not been collected
  // yet, keep holding this one (it no longer sounds) rather than release a table here.
  if (retired_table) {
    crossfade = 1.0f;
    return;
  }
  retired_table = std::move(fading_table);
  fading_table.reset();
}

ModValues Engine::mod_values() const {
  const Voice* latest = nullptr;
  for (const Voice& v : voices)
    if (v.active() && (!latest || v.started > latest->started)) latest = &v;
  ModValues out{lfo_out[0],  lfo_out[1],  lfo_out[2], 0.0f,        0.0f,        0.0f,
                smoothed[0], smoothed[1], 0.0f,       smoothed[2], smoothed[3], smoothed[4]};
  if (latest) {
    out[3] = latest->env1.level;
    out[4] = latest->env2.level;
    out[5] = latest->velocity;
    out[8] = key_value(latest->note);
  }
  return out;
}

}  // namespace quillory::synth
