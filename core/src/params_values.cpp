// The lock-free parameter store and its mapping to and from the synth settings record.

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "core/param_values.hpp"

namespace quillory::core {
namespace {

using synth::Route;
using synth::Settings;

// Index of a row by id, looked up once at compile time (an id missing from the table does not
// compile). The settings mapping uses these instead of a scan per value.
consteval std::size_t at(std::uint32_t id) {
  return index_of(id).value();
}

constexpr std::array<std::size_t, 4> adsr_rows{at(100), at(101), at(102), at(103)};
constexpr std::array<std::size_t, 4> adsr2_rows{at(110), at(111), at(112), at(113)};
constexpr std::size_t filter_type_row = at(200);
constexpr std::size_t filter_cutoff_row = at(201);
constexpr std::size_t filter_resonance_row = at(202);

struct LfoRows {
  std::size_t rate, shape, polarity, sync;
};
constexpr std::array<LfoRows, 3> lfo_rows{{
    {at(300), at(301), at(302), at(303)},
    {at(310), at(311), at(312), at(313)},
    {at(320), at(321), at(322), at(323)},
}};

constexpr std::array<std::size_t, 3> cc_number_rows{at(520), at(521), at(522)};

// One modulation amount: its row and the Route member it feeds.
struct AmountRow {
  std::size_t row;
  float Route::*member;
};

// The seven amounts of each source, in ascending id order. LFO sources (ids 400, 410, 420) put
// x..amp at base + 0..6; the other nine (430..510) put amp at base + 0 and x..pitch at base + 1..6.
constexpr std::array<std::array<AmountRow, 7>, synth::mod_source_count> amount_rows = [] {
  constexpr std::array<float Route::*, 7> x_to_amp{
      &Route::x, &Route::y, &Route::z, &Route::cutoff, &Route::res, &Route::pitch, &Route::amp};
  constexpr std::array<float Route::*, 7> amp_to_pitch{
      &Route::amp, &Route::x, &Route::y, &Route::z, &Route::cutoff, &Route::res, &Route::pitch};
  std::array<std::array<AmountRow, 7>, synth::mod_source_count> rows{};
  for (std::uint32_t s = 0; s < rows.size(); ++s) {
    const std::uint32_t base = 400 + 10 * s;
    const auto& members = s < 3 ? x_to_amp : amp_to_pitch;
    for (std::uint32_t k = 0; k < 7; ++k) rows[s][k] = {index_of(base + k).value(), members[k]};
  }
  return rows;
}();

// The Route of source s (in source order: LFO 1..3, Env 1, Env 2, Velocity, Mod Wheel, Pressure,
// Key, CC A..C).
template <class Matrix>
auto& route_of(Matrix& mod, std::size_t s) {
  if (s < 3) return mod.lfo[s];
  if (s >= 9) return mod.cc[s - 9];
  constexpr std::array<Route synth::ModMatrix::*, 6> single{
      &synth::ModMatrix::env,   &synth::ModMatrix::env2,     &synth::ModMatrix::vel,
      &synth::ModMatrix::wheel, &synth::ModMatrix::pressure, &synth::ModMatrix::key};
  return mod.*single[s - 3];
}

// An option index from a stored value, truncated; `fallback` when outside 0..count-1.
template <class E>
E option_from(float value, int count, E fallback) {
  const float whole = std::trunc(value);
  if (!(whole >= 0.0f && whole < static_cast<float>(count))) return fallback;
  return static_cast<E>(static_cast<int>(whole));
}

float clamp_to_row(const ParamDef& row, float value) {
  return std::min(std::max(value, row.min), row.max);
}

bool is_stepped(const ParamDef& row) {
  return row.kind == ParamKind::Choice || row.kind == ParamKind::Controller;
}

}  // namespace

int sync_index(float beats) {
  if (!(beats > 0.0f)) return 0;
  const double target = std::log(static_cast<double>(beats));
  int best = 1;
  double best_distance = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < sync_divisions.size(); ++i) {
    const double distance =
        std::fabs(target - std::log(static_cast<double>(sync_divisions[i].beats)));
    if (distance < best_distance) {
      best_distance = distance;
      best = static_cast<int>(i) + 1;
    }
  }
  return best;
}

ParamValues::ParamValues() {
  for (std::size_t i = 0; i < param_count; ++i) {
    values_[i].store(std::bit_cast<std::uint32_t>(param_table[i].default_value),
                     std::memory_order_relaxed);
    changed_[i].store(false, std::memory_order_relaxed);
  }
}

float ParamValues::get(std::size_t index) const {
  if (index >= param_count) return 0.0f;
  return std::bit_cast<float>(values_[index].load(std::memory_order_relaxed));
}

float ParamValues::val(std::uint32_t id) const {
  return get_id(id).value_or(0.0f);
}

std::optional<float> ParamValues::get_id(std::uint32_t id) const {
  if (const auto index = index_of(id)) return get(*index);
  return std::nullopt;
}

std::array<float, 3> ParamValues::position() const {
  return {get(0), get(1), get(2)};
}

std::uint32_t ParamValues::store(std::size_t index, float value) {
  values_[index].store(std::bit_cast<std::uint32_t>(value), std::memory_order_relaxed);
  return epoch_.fetch_add(1, std::memory_order_seq_cst) + 1;
}

void ParamValues::set(std::size_t index, float value) {
  if (index >= param_count || std::isnan(value)) return;
  const ParamDef& row = param_table[index];
  float v = clamp_to_row(row, value);
  if (is_stepped(row)) v = std::round(v);
  store(index, v);
}

void ParamValues::set_from_editor(std::size_t index, float value) {
  if (index >= param_count || std::isnan(value)) return;
  const ParamDef& row = param_table[index];
  const float v = clamp_to_row(row, value);
  // An edit within single-precision epsilon of the current value (compared before rounding, so a
  // stepped row nudged off its whole value still counts as an edit) is the page echoing a value.
  const float tolerance = std::max(std::fabs(v), 1.0f) * std::numeric_limits<float>::epsilon();
  if (std::fabs(get(index) - v) <= tolerance) return;
  const std::uint32_t after = store(index, is_stepped(row) ? std::round(v) : v);
  // Release: whoever takes the flag also sees the value stored above.
  changed_[index].store(true, std::memory_order_release);
  // The epoch right after this edit (not a later one a concurrent host change may have made, which
  // the editor must still be sent).
  editor_epoch_.store(after, std::memory_order_relaxed);
}

void ParamValues::apply_settings_from_editor(const Settings& s) {
  auto set_adsr = [&](const std::array<std::size_t, 4>& rows, const synth::Adsr& adsr) {
    const std::array<float, 4> fields{adsr.a, adsr.d, adsr.s, adsr.r};
    for (std::size_t i = 0; i < 4; ++i) set_from_editor(rows[i], fields[i]);
  };
  set_adsr(adsr_rows, s.adsr);
  set_adsr(adsr2_rows, s.adsr2);
  set_from_editor(filter_type_row, static_cast<float>(s.filter.type));
  set_from_editor(filter_cutoff_row, s.filter.cutoff);
  set_from_editor(filter_resonance_row, s.filter.resonance);
  for (std::size_t k = 0; k < 3; ++k) {
    const synth::Lfo& lfo = s.lfos[k];
    set_from_editor(lfo_rows[k].rate, lfo.rate);
    set_from_editor(lfo_rows[k].shape, static_cast<float>(lfo.shape));
    set_from_editor(lfo_rows[k].polarity, lfo.unipolar ? 1.0f : 0.0f);
    set_from_editor(lfo_rows[k].sync, static_cast<float>(sync_index(lfo.sync)));
  }
  for (std::size_t source = 0; source < amount_rows.size(); ++source) {
    const Route& route = route_of(s.mod, source);
    for (const AmountRow& amount : amount_rows[source]) {
      set_from_editor(amount.row, route.*amount.member);
    }
  }
  for (std::size_t i = 0; i < 3; ++i) set_from_editor(cc_number_rows[i], s.cc[i]);
}

std::vector<std::pair<std::uint32_t, float>> ParamValues::snapshot() const {
  std::vector<std::pair<std::uint32_t, float>> entries;
  entries.reserve(param_count);
  for (std::size_t i = 0; i < param_count; ++i) entries.emplace_back(param_table[i].id, get(i));
  return entries;
}

Settings ParamValues::settings() const {
  Settings s;
  s.adsr = {get(adsr_rows[0]), get(adsr_rows[1]), get(adsr_rows[2]), get(adsr_rows[3])};
  s.adsr2 = {get(adsr2_rows[0]), get(adsr2_rows[1]), get(adsr2_rows[2]), get(adsr2_rows[3])};
  s.filter.type =
      option_from(get(filter_type_row), synth::filter_type_count, synth::FilterType::Off);
  s.filter.cutoff = get(filter_cutoff_row);
  s.filter.resonance = get(filter_resonance_row);
  for (std::size_t k = 0; k < 3; ++k) {
    synth::Lfo& lfo = s.lfos[k];
    lfo.rate = get(lfo_rows[k].rate);
    lfo.shape = option_from(get(lfo_rows[k].shape), synth::lfo_shape_count, synth::LfoShape::Sine);
    lfo.unipolar = get(lfo_rows[k].polarity) >= 0.5f;
    const float division = std::round(get(lfo_rows[k].sync));
    lfo.sync = division >= 1.0f && division <= 15.0f
                   ? sync_divisions[static_cast<std::size_t>(division) - 1].beats
                   : 0.0f;
  }
  for (std::size_t source = 0; source < amount_rows.size(); ++source) {
    Route& route = route_of(s.mod, source);
    for (const AmountRow& amount : amount_rows[source]) route.*amount.member = get(amount.row);
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const float number = std::clamp(std::round(get(cc_number_rows[i])), 0.0f, 127.0f);
    s.cc[i] = static_cast<std::uint8_t>(number);
  }
  return s;
}

}  // namespace quillory::core
