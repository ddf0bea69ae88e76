#pragma once
// The JSON form of the synth settings record, as the editor page reads and writes it.
//
// Written: every field, keys named as the fields, enumerations as lower-case strings, the fixed
// groups (lfos, mod.lfo, mod.cc, cc) as three-element arrays, each float widened to double (0.2f
// is written 0.20000000298023224) and a non-finite float written as null. Object members are kept
// in key order, so printed text lists keys in ascending byte order.
//
// Read: a complete record or an error naming the first problem, never a partial record. Required
// and optional keys as below, absent optional keys take fixed defaults (the record's own defaults),
// unknown keys are ignored, each record is also accepted as an array of its field values in
// declaration order, an enumeration also as {"<string>": null}, and no value is clamped.
//
//   Settings   required adsr, lfos, mod      optional adsr2, filter, tempo, cc
//   Adsr       required a, d, s, r
//   Filter     required type, cutoff, resonance
//   Lfo        required rate, shape          optional unipolar, sync
//   ModMatrix  required lfo, env             optional env2, vel, wheel, pressure, key, cc
//   Route      every key optional (0)

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "synth/settings.hpp"
#include "wavetable/result.hpp"

namespace quillory::synth {

nlohmann::json settings_to_json(const Settings& settings);

// Reads a settings record from a JSON value. A JSON value cannot hold duplicate keys; to reject
// them, parse the text with parse_json (or use read_settings).
Result<Settings, std::string> settings_from_json(const nlohmann::json& value);

// Parses JSON text, rejecting malformed text and any object that holds the same key twice.
Result<nlohmann::json, std::string> parse_json(std::string_view text);

// parse_json, then settings_from_json.
Result<Settings, std::string> read_settings(std::string_view text);

}  // namespace quillory::synth
