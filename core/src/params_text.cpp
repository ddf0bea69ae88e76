// Parameter values to text and back.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/param_text.hpp"

namespace quillory::core {
namespace {

// ---- Writing numbers.

// `x` with `decimals` decimals in plain notation. A float widened to double is exact, and so are
// the scalings display applies to it (x1000, x100, 24*v*|v|) except the kHz division, so the
// rounding is from the exact value. A number that rounds to zero has no minus sign. Room for the
// widest double in fixed notation.
std::string fixed(double x, int decimals) {
  std::array<char, 400> buffer;
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x,
                                       std::chars_format::fixed, decimals);
  if (ec != std::errc{}) return "?";
  std::string text(buffer.data(), end);
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

// As fixed, with an explicit sign.
std::string signed_fixed(double x, int decimals) {
  std::string text = fixed(x, decimals);
  return text.front() == '-' ? text : "+" + text;
}

// ---- Reading text.

struct CodePointRange {
  char32_t first, last;
};

// Unicode White_Space.
constexpr CodePointRange white_space[] = {
    {0x09, 0x0D},     {0x20, 0x20},     {0x85, 0x85},     {0xA0, 0xA0},     {0x1680, 0x1680},
    {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F}, {0x3000, 0x3000},
};

// Letters of the common scripts: the part of the Unicode Alphabetic property a unit typed after a
// number can plausibly hold (Latin, Greek including the micro sign, Cyrillic, Armenian, Hebrew,
// Arabic, the Ohm, Kelvin and Angstrom signs, kana, CJK, Hangul, full-width Latin).
constexpr CodePointRange letters[] = {
    {'A', 'Z'},       {'a', 'z'},       {0xAA, 0xAA},     {0xB5, 0xB5},     {0xBA, 0xBA},
    {0xC0, 0xD6},     {0xD8, 0xF6},     {0xF8, 0x2C1},    {0x370, 0x373},   {0x376, 0x377},
    {0x37B, 0x37D},   {0x386, 0x386},   {0x388, 0x3FF},   {0x400, 0x481},   {0x48A, 0x52F},
    {0x531, 0x556},   {0x561, 0x587},   {0x5D0, 0x5EA},   {0x620, 0x64A},   {0x1E00, 0x1FBC},
    {0x2126, 0x2126}, {0x212A, 0x212B}, {0x3041, 0x3096}, {0x30A1, 0x30FA}, {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0xFF21, 0xFF3A}, {0xFF41, 0xFF5A},
};

template <std::size_t N>
bool in(const CodePointRange (&ranges)[N], char32_t c) {
  return std::any_of(ranges, ranges + N,
                     [c](CodePointRange r) { return r.first <= c && c <= r.last; });
}

struct CodePoint {
  char32_t value;
  std::size_t bytes;
};

constexpr char32_t not_a_code_point = 0xFFFFFFFF;

bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The code point at the start of `text` (not empty). Bytes that are not UTF-8 give one
// not_a_code_point per byte, which is neither space nor letter.
CodePoint first_code_point(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t bytes = lead < 0x80    ? 1
                            : lead >= 0xF0 ? 4
                            : lead >= 0xE0 ? 3
                            : lead >= 0xC0 ? 2
                                           : 0;
  if (bytes == 0 || bytes > text.size()) return {not_a_code_point, 1};
  if (bytes == 1) return {lead, 1};
  char32_t value = lead & (0x7F >> bytes);
  for (std::size_t i = 1; i < bytes; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!is_continuation(byte)) return {not_a_code_point, 1};
    value = value << 6 | (byte & 0x3F);
  }
  return {value, bytes};
}

// The code point at the end of `text` (not empty).
CodePoint last_code_point(std::string_view text) {
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 &&
         is_continuation(static_cast<unsigned char>(text[start]))) {
    --start;
  }
  const CodePoint c = first_code_point(text.substr(start));
  if (start + c.bytes != text.size()) return {not_a_code_point, 1};
  return c;
}

template <class Drop>
std::string_view trim_end_while(std::string_view text, Drop drop) {
  while (!text.empty()) {
    const CodePoint c = last_code_point(text);
    if (!drop(c.value)) break;
    text.remove_suffix(c.bytes);
  }
  return text;
}

std::string_view trim(std::string_view text) {
  const auto is_space = [](char32_t c) { return in(white_space, c); };
  while (!text.empty()) {
    const CodePoint c = first_code_point(text);
    if (!is_space(c.value)) break;
    text.remove_prefix(c.bytes);
  }
  return trim_end_while(text, is_space);
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

// The whole of `text` as a finite decimal number (an optional sign, digits with an optional
// point, an optional exponent); none otherwise.
std::optional<double> read_number(std::string_view text) {
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('+') || text.starts_with('-')) return std::nullopt;
  }
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (ec != std::errc{} || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

// The number in front of a unit: drops trailing letters and "%", then reads what is left.
std::optional<double> strip_number(std::string_view text) {
  text = trim_end_while(trim(text), [](char32_t c) { return c == '%' || in(letters, c); });
  return read_number(trim(text));
}

// A parsed value in single precision; none when it does not fit.
std::optional<float> to_single(std::optional<double> value) {
  if (!value || std::fabs(*value) > std::numeric_limits<float>::max()) return std::nullopt;
  return static_cast<float>(*value);
}

std::optional<double> times(std::optional<double> value, double factor) {
  if (!value) return std::nullopt;
  return *value * factor;
}
std::optional<double> over(std::optional<double> value, double divisor) {
  if (!value) return std::nullopt;
  return *value / divisor;
}

}  // namespace

std::string display(const ParamDef& row, float value) {
  const double v = value;
  if (row.kind == ParamKind::Choice) {
    const double index = std::isnan(v) || v < 0 ? 0.0 : std::round(v);
    if (index >= static_cast<double>(row.options.size())) return "?";
    return std::string(row.options[static_cast<std::size_t>(index)]);
  }
  if (row.unit == "s") return v < 1 ? fixed(v * 1000, 0) + " ms" : fixed(v, 2) + " s";
  if (row.unit == "Hz") return v >= 1000 ? fixed(v / 1000, 2) + " kHz" : fixed(v, 2) + " Hz";
  if (row.kind == ParamKind::Pitch) return signed_fixed(24 * v * std::fabs(v), 2) + " st";
  if (row.kind == ParamKind::Controller) return "CC " + fixed(std::isnan(v) ? 0 : std::round(v), 0);
  return (row.min < 0 ? signed_fixed(v * 100, 0) : fixed(v * 100, 0)) + "%";
}

std::optional<float> parse(const ParamDef& row, std::string_view text) {
  const std::string_view trimmed = trim(text);
  if (row.kind == ParamKind::Choice) {
    for (std::size_t i = 0; i < row.options.size(); ++i) {
      if (equals_ignoring_ascii_case(trimmed, row.options[i])) return static_cast<float>(i);
    }
    return to_single(read_number(trimmed));
  }

  std::string lower(trimmed);
  std::transform(lower.begin(), lower.end(), lower.begin(), ascii_lower);
  std::string_view t = lower;

  if (row.kind == ParamKind::Pitch) {
    // Semitones back to the amount: display shows 24 * v * |v|.
    const auto st = strip_number(t);
    if (!st) return std::nullopt;
    if (*st == 0) return 0.0f;
    return static_cast<float>(
        std::clamp(std::copysign(std::sqrt(std::fabs(*st) / 24), *st), -1.0, 1.0));
  }
  if (row.kind == ParamKind::Controller) {
    while (t.starts_with("cc")) t.remove_prefix(2);
    const auto number = strip_number(t);
    if (!number) return std::nullopt;
    return static_cast<float>(std::clamp(std::round(*number), 0.0, 127.0));
  }
  if (row.unit.empty() && t.ends_with('%')) return to_single(over(strip_number(t), 100));
  if (row.unit == "s" && t.ends_with("ms")) return to_single(over(strip_number(t), 1000));
  if (row.unit == "Hz" && t.ends_with("khz")) return to_single(times(strip_number(t), 1000));
  return to_single(strip_number(t));
}

}  // namespace quillory::core
