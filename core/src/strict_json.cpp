#include "strict_json.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace quillory::core::json {

namespace {

// Unknown members are skipped recursively; this bounds the stack a hostile document can take.
constexpr int kMaxDepth = 256;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Multi-byte UTF-8 sequences (RFC 3629): lead bytes, the range allowed for the second byte (which
// rules out overlong forms, surrogates and code points past U+10FFFF) and the continuation count.
struct Utf8Lead {
  unsigned char first, last, second_min, second_max, continuations;
};
constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xDF, 0x80, 0xBF, 1}, {0xE0, 0xE0, 0xA0, 0xBF, 2}, {0xE1, 0xEC, 0x80, 0xBF, 2},
    {0xED, 0xED, 0x80, 0x9F, 2}, {0xEE, 0xEF, 0x80, 0xBF, 2}, {0xF0, 0xF0, 0x90, 0xBF, 3},
    {0xF1, 0xF3, 0x80, 0xBF, 3}, {0xF4, 0xF4, 0x80, 0x8F, 3},
};

// Length of the valid UTF-8 sequence at p (p < end, *p >= 0x80), or 0.
std::size_t utf8_sequence(const unsigned char* p, const unsigned char* end) {
  for (const auto& lead : kUtf8Leads) {
    if (*p < lead.first || *p > lead.last) continue;
    if (end - p <= lead.continuations || p[1] < lead.second_min || p[1] > lead.second_max) return 0;
    for (int i = 2; i <= lead.continuations; ++i)
      if ((p[i] & 0xC0) != 0x80) return 0;
    return lead.continuations + 1u;
  }
  return 0;
}

// True when [p, end) is valid UTF-8 without control characters, as raw string text must be. Plain
// ASCII, the common case (base64 in particular), is checked eight bytes at a time.
bool valid_text(const char* first, const char* last) {
  auto p = reinterpret_cast<const unsigned char*>(first);
  const auto end = reinterpret_cast<const unsigned char*>(last);
  constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  while (p < end) {
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      // No byte with the high bit set, and no byte below 0x20.
      if ((word & kHighs) == 0 && ((word - kOnes * 0x20) & ~word & kHighs) == 0) {
        p += 8;
        continue;
      }
    }
    if (*p < 0x20) return false;
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t length = utf8_sequence(p, end);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

void append_utf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The four hex digits at p as a number, or none.
std::optional<std::uint32_t> hex4(const char* p, const char* end) {
  if (end - p < 4) return std::nullopt;
  std::uint32_t value = 0;
  const auto [ptr, ec] = std::from_chars(p, p + 4, value, 16);
  if (ec != std::errc() || ptr != p + 4) return std::nullopt;
  return value;
}

// Whether a number token too large or too small for a double is large: the decimal exponent of
// its first significant digit, with the written exponent added, is positive.
bool overflows(std::string_view text) {
  std::size_t i = text[0] == '-' ? 1 : 0;
  long long magnitude = 0;
  bool found = false;
  long long integer_digits = 0;
  for (; i < text.size() && is_digit(text[i]); ++i, ++integer_digits)
    if (!found && text[i] != '0') found = true, magnitude = -integer_digits;
  if (found) magnitude += integer_digits - 1;
  if (i < text.size() && text[i] == '.') {
    for (long long place = 1; ++i < text.size() && is_digit(text[i]); ++place)
      if (!found && text[i] != '0') found = true, magnitude = -place;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    const bool negative = text[++i] == '-';
    if (text[i] == '-' || text[i] == '+') ++i;
    long long exponent = 0;
    for (; i < text.size(); ++i)
      exponent = std::min(exponent * 10 + (text[i] - '0'), 1'000'000'000LL);
    magnitude += negative ? -exponent : exponent;
  }
  return magnitude > 0;
}

}  // namespace

void append_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  static constexpr std::string_view kShortEscapes[] = {"\\b", "\\t", "\\n", "", "\\f", "\\r"};
  out += '"';
  auto p = reinterpret_cast<const unsigned char*>(text.data());
  const auto end = p + text.size();
  while (p < end) {
    const auto* run = p;
    while (p < end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
    out.append(reinterpret_cast<const char*>(run), p - run);
    if (p == end) break;
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p++);
    } else if (*p < 0x20) {
      if (*p >= '\b' && *p <= '\r' && !kShortEscapes[*p - '\b'].empty()) {
        out += kShortEscapes[*p - '\b'];
      } else {
        out += "\\u00";
        out += kHex[*p >> 4];
        out += kHex[*p & 15];
      }
      ++p;
    } else if (const std::size_t length = utf8_sequence(p, end); length > 0) {
      out.append(reinterpret_cast<const char*>(p), length);
      p += length;
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
      ++p;
    }
  }
  out += '"';
}

std::optional<std::uint64_t> to_unsigned(const Number& number, std::uint64_t max) {
  if (number.negative || !number.integral) return std::nullopt;
  std::uint64_t value = 0;
  const auto* end = number.text.data() + number.text.size();
  const auto [ptr, ec] = std::from_chars(number.text.data(), end, value);
  if (ec != std::errc() || ptr != end || value > max) return std::nullopt;
  return value;
}

float to_float(const Number& number) {
  const char* first = number.text.data();
  const char* last = first + number.text.size();
  float value = 0;
  if (std::from_chars(first, last, value).ec == std::errc()) return value;
  // Out of the float range. A double still tells the direction in most cases, the digits
  // themselves in the rest.
  double wide = 0;
  const bool large = std::from_chars(first, last, wide).ec == std::errc() ? std::abs(wide) > 1.0
                                                                          : overflows(number.text);
  const float magnitude = large ? std::numeric_limits<float>::infinity() : 0.0f;
  return number.negative ? -magnitude : magnitude;
}

char Cursor::peek() {
  skip_white_space();
  return p_ < end_ ? *p_ : '\0';
}

bool Cursor::accept(char c) {
  skip_white_space();
  if (p_ == end_ || *p_ != c) return false;
  ++p_;
  return true;
}

bool Cursor::expect(char c) {
  if (accept(c)) return true;
  return fail(std::string("expected '") + c + "'");
}

bool Cursor::string(std::string_view& out, std::string& scratch) {
  skip_white_space();
  if (p_ == end_ || *p_ != '"') return fail("expected a string");
  const char* start = p_ + 1;
  const auto* close = static_cast<const char*>(std::memchr(start, '"', end_ - start));
  if (close == nullptr) return fail("unterminated string");
  if (std::memchr(start, '\\', close - start) != nullptr) return escaped_string(out, scratch);
  p_ = start;
  if (!valid_text(start, close)) return fail("invalid character in a string");
  out = {start, close};
  p_ = close + 1;
  return true;
}

bool Cursor::escaped_string(std::string_view& out, std::string& scratch) {
  scratch.clear();
  ++p_;  // the opening quote
  for (;;) {
    const char* run = p_;
    while (p_ < end_ && *p_ != '"' && *p_ != '\\') ++p_;
    if (p_ == end_) return fail("unterminated string");
    if (!valid_text(run, p_)) return p_ = run, fail("invalid character in a string");
    scratch.append(run, p_);
    if (*p_++ == '"') break;
    if (p_ == end_) return fail("unterminated string");
    static constexpr std::string_view kEscapes = "\"\\/bfnrt", kMeanings = "\"\\/\b\f\n\r\t";
    if (const auto at = kEscapes.find(*p_); at != std::string_view::npos) {
      scratch += kMeanings[at];
      ++p_;
      continue;
    }
    if (*p_ != 'u') return fail("invalid escape in a string");
    auto code = hex4(p_ + 1, end_);
    if (!code || (*code >= 0xDC00 && *code <= 0xDFFF)) return fail("invalid \\u escape");
    p_ += 5;
    if (*code >= 0xD800 && *code <= 0xDBFF) {  // a high surrogate needs its low half next
      const auto low =
          end_ - p_ >= 2 && p_[0] == '\\' && p_[1] == 'u' ? hex4(p_ + 2, end_) : std::nullopt;
      if (!low || *low < 0xDC00 || *low > 0xDFFF) return fail("unpaired surrogate in a string");
      code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
      p_ += 6;
    }
    append_utf8(scratch, *code);
  }
  out = scratch;
  return true;
}

bool Cursor::number(Number& out) {
  skip_white_space();
  const char* start = p_;
  auto digits = [&] {
    const char* first = p_;
    while (p_ < end_ && is_digit(*p_)) ++p_;
    return p_ > first;
  };
  out.negative = p_ < end_ && *p_ == '-';
  if (out.negative) ++p_;
  if (p_ < end_ && *p_ == '0') {
    ++p_;
  } else if (!digits()) {
    return p_ = start, fail("expected a number");
  }
  out.integral = true;
  if (p_ < end_ && *p_ == '.') {
    ++p_;
    out.integral = false;
    if (!digits()) return fail("invalid number");
  }
  if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
    ++p_;
    out.integral = false;
    if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
    if (!digits()) return fail("invalid number");
  }
  out.text = {start, p_};
  return true;
}

bool Cursor::literal(std::string_view word) {
  if (static_cast<std::size_t>(end_ - p_) < word.size() ||
      std::string_view(p_, word.size()) != word)
    return fail("invalid literal");
  p_ += word.size();
  return true;
}

bool Cursor::null() {
  skip_white_space();
  return literal("null");
}

bool Cursor::skip_value(int depth) {
  if (depth >= kMaxDepth) return fail("nesting too deep");
  std::string scratch;
  std::string_view text;
  Number token;
  switch (peek()) {
    case '{':
      return object([&](std::string_view) { return skip_value(depth + 1); });
    case '[':
      ++p_;
      if (accept(']')) return true;
      do {
        if (!skip_value(depth + 1)) return false;
      } while (accept(','));
      return expect(']');
    case '"':
      return string(text, scratch);
    case 't':
      return literal("true");
    case 'f':
      return literal("false");
    case 'n':
      return literal("null");
    case '\0':
      if (p_ == end_) return fail("unexpected end of input");
      return fail("unexpected character");
    default:
      if (*p_ == '-' || is_digit(*p_)) return number(token);
      return fail("unexpected character");
  }
}

bool Cursor::at_end() {
  skip_white_space();
  return p_ == end_;
}

void Cursor::skip_white_space() {
  while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
}

bool Cursor::fail(std::string_view message) {
  if (!error_.empty()) return false;
  const std::size_t line = 1 + std::count(begin_, p_, '\n');
  const char* line_start = begin_;
  for (const char* q = p_; q > begin_; --q)
    if (q[-1] == '\n') {
      line_start = q;
      break;
    }
  error_ = std::string(message) + " at line " + std::to_string(line) + " column " +
           std::to_string(p_ - line_start + 1);
  return false;
}

}  // namespace quillory::core::json
