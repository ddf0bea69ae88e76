#pragma once
// The instrument's 116 parameters as one constant table: the single source for what the host sees,
// for clamping and rounding, for text conversion and for the mapping to the synth settings.
//
// A parameter's index (its row, 0..115) is its host index and value slot; its id is the stable
// number hosts automate and the saved state stores. Ids are neither contiguous nor ascending
// everywhere: in the Env 2 block, "Env 2 → Amp" is the last row but has the block's base id.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quillory::core {

// How a value is quantised and shown. Logarithmic marks time and frequency rows; every operation
// treats it exactly like Linear.
enum class ParamKind : std::uint8_t {
  Linear,       // plain value; text by unit, else percent
  Logarithmic,  // as Linear
  Choice,       // an option index, rounded to a whole number; text is the option name
  Pitch,        // a modulation amount towards pitch; text in semitones
  Controller,   // a MIDI controller number, rounded to a whole number
};

struct ParamDef {
  std::string_view name;    // shown to the host (which is sent at most 255 bytes)
  std::string_view module;  // "/"-separated group path (at most 1023 bytes are sent)
  std::string_view unit;    // "", "s" or "Hz"; steers the text form
  std::uint32_t id;
  float min;  // min <= max in every row
  float max;
  float default_value;
  ParamKind kind;
  std::span<const std::string_view> options{};  // option names of a Choice row
};

inline constexpr std::size_t param_count = 116;

// A tempo-synced LFO cycle length, in beats (quarter notes).
struct SyncDivision {
  std::string_view name;
  float beats;
};

// Sync option k (1..15) selects division k - 1; option 0 is "Off". 2/3, 1/3 and 1/6 are the
// nearest single-precision values.
inline constexpr std::array<SyncDivision, 15> sync_divisions{{
    {"8 bars", 32.0f},
    {"4 bars", 16.0f},
    {"2 bars", 8.0f},
    {"1 bar", 4.0f},
    {"1/2", 2.0f},
    {"1/4.", 1.5f},
    {"1/4", 1.0f},
    {"1/4T", 2.0f / 3.0f},
    {"1/8.", 0.75f},
    {"1/8", 0.5f},
    {"1/8T", 1.0f / 3.0f},
    {"1/16.", 0.375f},
    {"1/16", 0.25f},
    {"1/16T", 1.0f / 6.0f},
    {"1/32", 0.125f},
}};

inline constexpr std::array<std::string_view, 4> filter_type_options{"Off", "Low-pass", "High-pass",
                                                                     "Band-pass"};
inline constexpr std::array<std::string_view, 5> lfo_shape_options{"Sine", "Triangle", "Saw",
                                                                   "Square", "Random"};
inline constexpr std::array<std::string_view, 2> lfo_polarity_options{"Bipolar", "Unipolar"};
inline constexpr std::array<std::string_view, 16> sync_options = [] {
  std::array<std::string_view, 16> names{"Off"};
  for (std::size_t i = 0; i < sync_divisions.size(); ++i) names[i + 1] = sync_divisions[i].name;
  return names;
}();

// Every parameter, in index order. The modulation amounts (rows 29..112) come in blocks of seven
// per source (LFO 1..3, Env 1, Env 2, Velocity, Mod Wheel, Pressure, Key, CC A..C).
inline constexpr std::array<ParamDef, param_count> param_table{{
    {"Position X", "Position", "", 1, 0.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Position Y", "Position", "", 2, 0.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Position Z", "Position", "", 3, 0.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Scan X Speed", "Position", "Hz", 10, 0.0f, 4.0f, 0.0f, ParamKind::Linear},
    {"Scan Y Speed", "Position", "Hz", 11, 0.0f, 4.0f, 0.0f, ParamKind::Linear},
    {"Scan Z Speed", "Position", "Hz", 12, 0.0f, 4.0f, 0.0f, ParamKind::Linear},
    {"Env 1 Attack", "Envelope 1", "s", 100, 0.001f, 4.0f, 0.005f, ParamKind::Logarithmic},
    {"Env 1 Decay", "Envelope 1", "s", 101, 0.005f, 6.0f, 0.2f, ParamKind::Logarithmic},
    {"Env 1 Sustain", "Envelope 1", "", 102, 0.0f, 1.0f, 0.8f, ParamKind::Linear},
    {"Env 1 Release", "Envelope 1", "s", 103, 0.005f, 8.0f, 0.25f, ParamKind::Logarithmic},
    {"Env 2 Attack", "Envelope 2", "s", 110, 0.001f, 4.0f, 0.3f, ParamKind::Logarithmic},
    {"Env 2 Decay", "Envelope 2", "s", 111, 0.005f, 6.0f, 0.8f, ParamKind::Logarithmic},
    {"Env 2 Sustain", "Envelope 2", "", 112, 0.0f, 1.0f, 0.3f, ParamKind::Linear},
    {"Env 2 Release", "Envelope 2", "s", 113, 0.005f, 8.0f, 0.6f, ParamKind::Logarithmic},
    {"Filter Type", "Filter", "", 200, 0.0f, 3.0f, 0.0f, ParamKind::Choice, filter_type_options},
    {"Filter Cutoff", "Filter", "Hz", 201, 20.0f, 20000.0f, 2000.0f, ParamKind::Logarithmic},
    {"Filter Resonance", "Filter", "", 202, 0.0f, 1.0f, 0.2f, ParamKind::Linear},
    {"LFO 1 Rate", "LFO 1", "Hz", 300, 0.01f, 20.0f, 0.5f, ParamKind::Logarithmic},
    {"LFO 1 Shape", "LFO 1", "", 301, 0.0f, 4.0f, 0.0f, ParamKind::Choice, lfo_shape_options},
    {"LFO 1 Polarity", "LFO 1", "", 302, 0.0f, 1.0f, 0.0f, ParamKind::Choice, lfo_polarity_options},
    {"LFO 1 Sync", "LFO 1", "", 303, 0.0f, 15.0f, 0.0f, ParamKind::Choice, sync_options},
    {"LFO 2 Rate", "LFO 2", "Hz", 310, 0.01f, 20.0f, 2.0f, ParamKind::Logarithmic},
    {"LFO 2 Shape", "LFO 2", "", 311, 0.0f, 4.0f, 1.0f, ParamKind::Choice, lfo_shape_options},
    {"LFO 2 Polarity", "LFO 2", "", 312, 0.0f, 1.0f, 0.0f, ParamKind::Choice, lfo_polarity_options},
    {"LFO 2 Sync", "LFO 2", "", 313, 0.0f, 15.0f, 0.0f, ParamKind::Choice, sync_options},
    {"LFO 3 Rate", "LFO 3", "Hz", 320, 0.01f, 20.0f, 0.1f, ParamKind::Logarithmic},
    {"LFO 3 Shape", "LFO 3", "", 321, 0.0f, 4.0f, 0.0f, ParamKind::Choice, lfo_shape_options},
    {"LFO 3 Polarity", "LFO 3", "", 322, 0.0f, 1.0f, 0.0f, ParamKind::Choice, lfo_polarity_options},
    {"LFO 3 Sync", "LFO 3", "", 323, 0.0f, 15.0f, 0.0f, ParamKind::Choice, sync_options},
    {"LFO 1 \u2192 X", "Mod/LFO 1", "", 400, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 1 \u2192 Y", "Mod/LFO 1", "", 401, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 1 \u2192 Z", "Mod/LFO 1", "", 402, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 1 \u2192 Cutoff", "Mod/LFO 1", "", 403, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 1 \u2192 Resonance", "Mod/LFO 1", "", 404, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 1 \u2192 Pitch", "Mod/LFO 1", "", 405, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"LFO 1 \u2192 Amp", "Mod/LFO 1", "", 406, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 2 \u2192 X", "Mod/LFO 2", "", 410, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 2 \u2192 Y", "Mod/LFO 2", "", 411, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 2 \u2192 Z", "Mod/LFO 2", "", 412, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 2 \u2192 Cutoff", "Mod/LFO 2", "", 413, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 2 \u2192 Resonance", "Mod/LFO 2", "", 414, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 2 \u2192 Pitch", "Mod/LFO 2", "", 415, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"LFO 2 \u2192 Amp", "Mod/LFO 2", "", 416, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 3 \u2192 X", "Mod/LFO 3", "", 420, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 3 \u2192 Y", "Mod/LFO 3", "", 421, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 3 \u2192 Z", "Mod/LFO 3", "", 422, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 3 \u2192 Cutoff", "Mod/LFO 3", "", 423, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 3 \u2192 Resonance", "Mod/LFO 3", "", 424, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"LFO 3 \u2192 Pitch", "Mod/LFO 3", "", 425, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"LFO 3 \u2192 Amp", "Mod/LFO 3", "", 426, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 1 \u2192 Amp", "Mod/Env 1", "", 430, 0.0f, 1.0f, 1.0f, ParamKind::Linear},
    {"Env 1 \u2192 X", "Mod/Env 1", "", 431, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 1 \u2192 Y", "Mod/Env 1", "", 432, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 1 \u2192 Z", "Mod/Env 1", "", 433, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 1 \u2192 Cutoff", "Mod/Env 1", "", 434, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 1 \u2192 Resonance", "Mod/Env 1", "", 435, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 1 \u2192 Pitch", "Mod/Env 1", "", 436, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"Env 2 \u2192 X", "Mod/Env 2", "", 441, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 2 \u2192 Y", "Mod/Env 2", "", 442, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 2 \u2192 Z", "Mod/Env 2", "", 443, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 2 \u2192 Cutoff", "Mod/Env 2", "", 444, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 2 \u2192 Resonance", "Mod/Env 2", "", 445, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Env 2 \u2192 Pitch", "Mod/Env 2", "", 446, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"Env 2 \u2192 Amp", "Mod/Env 2", "", 440, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Velocity \u2192 Amp", "Mod/Velocity", "", 450, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Velocity \u2192 X", "Mod/Velocity", "", 451, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Velocity \u2192 Y", "Mod/Velocity", "", 452, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Velocity \u2192 Z", "Mod/Velocity", "", 453, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Velocity \u2192 Cutoff", "Mod/Velocity", "", 454, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Velocity \u2192 Resonance", "Mod/Velocity", "", 455, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Velocity \u2192 Pitch", "Mod/Velocity", "", 456, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"Mod Wheel \u2192 Amp", "Mod/Mod Wheel", "", 460, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Mod Wheel \u2192 X", "Mod/Mod Wheel", "", 461, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Mod Wheel \u2192 Y", "Mod/Mod Wheel", "", 462, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Mod Wheel \u2192 Z", "Mod/Mod Wheel", "", 463, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Mod Wheel \u2192 Cutoff", "Mod/Mod Wheel", "", 464, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Mod Wheel \u2192 Resonance", "Mod/Mod Wheel", "", 465, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Mod Wheel \u2192 Pitch", "Mod/Mod Wheel", "", 466, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"Pressure \u2192 Amp", "Mod/Pressure", "", 470, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Pressure \u2192 X", "Mod/Pressure", "", 471, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Pressure \u2192 Y", "Mod/Pressure", "", 472, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Pressure \u2192 Z", "Mod/Pressure", "", 473, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Pressure \u2192 Cutoff", "Mod/Pressure", "", 474, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Pressure \u2192 Resonance", "Mod/Pressure", "", 475, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Pressure \u2192 Pitch", "Mod/Pressure", "", 476, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"Key \u2192 Amp", "Mod/Key", "", 480, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Key \u2192 X", "Mod/Key", "", 481, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Key \u2192 Y", "Mod/Key", "", 482, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Key \u2192 Z", "Mod/Key", "", 483, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Key \u2192 Cutoff", "Mod/Key", "", 484, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Key \u2192 Resonance", "Mod/Key", "", 485, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"Key \u2192 Pitch", "Mod/Key", "", 486, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"CC A \u2192 Amp", "Mod/CC A", "", 490, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC A \u2192 X", "Mod/CC A", "", 491, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC A \u2192 Y", "Mod/CC A", "", 492, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC A \u2192 Z", "Mod/CC A", "", 493, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC A \u2192 Cutoff", "Mod/CC A", "", 494, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC A \u2192 Resonance", "Mod/CC A", "", 495, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC A \u2192 Pitch", "Mod/CC A", "", 496, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"CC B \u2192 Amp", "Mod/CC B", "", 500, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC B \u2192 X", "Mod/CC B", "", 501, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC B \u2192 Y", "Mod/CC B", "", 502, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC B \u2192 Z", "Mod/CC B", "", 503, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC B \u2192 Cutoff", "Mod/CC B", "", 504, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC B \u2192 Resonance", "Mod/CC B", "", 505, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC B \u2192 Pitch", "Mod/CC B", "", 506, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"CC C \u2192 Amp", "Mod/CC C", "", 510, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC C \u2192 X", "Mod/CC C", "", 511, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC C \u2192 Y", "Mod/CC C", "", 512, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC C \u2192 Z", "Mod/CC C", "", 513, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC C \u2192 Cutoff", "Mod/CC C", "", 514, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC C \u2192 Resonance", "Mod/CC C", "", 515, -1.0f, 1.0f, 0.0f, ParamKind::Linear},
    {"CC C \u2192 Pitch", "Mod/CC C", "", 516, -1.0f, 1.0f, 0.0f, ParamKind::Pitch},
    {"CC A Number", "Mod/CC A", "", 520, 0.0f, 127.0f, 16.0f, ParamKind::Controller},
    {"CC B Number", "Mod/CC B", "", 521, 0.0f, 127.0f, 17.0f, ParamKind::Controller},
    {"CC C Number", "Mod/CC C", "", 522, 0.0f, 127.0f, 18.0f, ParamKind::Controller},
}};

// The row holding `id`, by a scan in index order; none when no row has it.
constexpr std::optional<std::size_t> index_of(std::uint32_t id) {
  for (std::size_t i = 0; i < param_count; ++i) {
    if (param_table[i].id == id) return i;
  }
  return std::nullopt;
}

// The scan speeds (ids 10, 11, 12) are hidden from the host; they are kept and saved like every
// parameter, but nothing in the synth reads them.
constexpr bool is_hidden(std::uint32_t id) {
  return id == 10 || id == 11 || id == 12;
}

// Host-facing flags as plain bits; the plug-in maps them onto its host API's own flags.
enum class ParamFlag : std::uint32_t {
  Stepped = 1u << 0,      // Choice and Controller rows
  Hidden = 1u << 1,       // is_hidden rows
  Automatable = 1u << 2,  // every row that is not hidden
};

constexpr std::uint32_t host_flags(const ParamDef& row) {
  const bool stepped = row.kind == ParamKind::Choice || row.kind == ParamKind::Controller;
  const bool hidden = is_hidden(row.id);
  return (stepped ? static_cast<std::uint32_t>(ParamFlag::Stepped) : 0u) |
         (hidden ? static_cast<std::uint32_t>(ParamFlag::Hidden)
                 : static_cast<std::uint32_t>(ParamFlag::Automatable));
}

constexpr bool has_flag(std::uint32_t flags, ParamFlag flag) {
  return (flags & static_cast<std::uint32_t>(flag)) != 0;
}

}  // namespace quillory::core
