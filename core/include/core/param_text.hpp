#pragma once
// A parameter's text forms: what a host shows beside an automation lane, and the value read back
// from what a user types. Both work on one row of the parameter table and plain values.

#include <optional>
#include <string>
#include <string_view>

#include "core/params.hpp"

namespace quillory::core {

// The short text for `value` on `row`: the option name of a Choice row ("?" past the list), times
// in ms or s, frequencies in Hz or kHz, pitch amounts in signed semitones, controller numbers as
// "CC n", anything else in percent (signed when the row goes below 0). Numbers are plain decimals,
// never with an exponent, rounded from the exact stored value (an exact tie goes to the even
// digit). Never fails.
std::string display(const ParamDef& row, float value);

// The value a user means by `text` (UTF-8) on `row`: option names (any ASCII letter case), units
// and unit prefixes ("%", "ms", "kHz", "st", "CC") as display writes them, and bare numbers in the
// row's plain units. Not clamped or quantised, except that pitch amounts are limited to -1..1 and
// controller numbers rounded and limited to 0..127. None when the text holds no number.
std::optional<float> parse(const ParamDef& row, std::string_view text);

}  // namespace quillory::core
