#pragma once
// A small strict JSON reader (RFC 8259) for documents we read field by field: the caller walks the
// structure it expects, the cursor checks the grammar, UTF-8, escapes and nesting on the way and
// keeps the first error with its line and column. Strings without escapes are given as views into
// the input, so a megabyte-long string is never copied. Also the string writer that matches it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillory::core::json {

// Appends `text` as a JSON string: quotes, backslashes and control characters escaped, valid
// UTF-8 passed through, and each byte that is not part of valid UTF-8 written as U+FFFD, so the
// result is always readable JSON.
void append_string(std::string& out, std::string_view text);

// A number token, checked against the grammar but not yet converted.
struct Number {
  std::string_view text;
  bool negative = false;
  bool integral = false;  // no fraction and no exponent
};

// The token as an integer of at most `max`; none if it has a sign, a fraction, an exponent or is
// larger.
std::optional<std::uint64_t> to_unsigned(const Number& number, std::uint64_t max);
// The token as the nearest single-precision value; beyond the float range, an infinity or a zero
// of the token's sign.
float to_float(const Number& number);

class Cursor {
 public:
  explicit Cursor(std::string_view text)
      : begin_(text.data()), p_(begin_), end_(p_ + text.size()) {}

  // The next character after white space, or '\0' at the end of the input.
  char peek();
  // Consumes `c` if it comes next (after white space).
  bool accept(char c);
  bool expect(char c);
  // A string's text: a view into the input when it has no escapes, else into `scratch`.
  bool string(std::string_view& out, std::string& scratch);
  bool number(Number& out);
  bool null();
  // Any value, checked and dropped.
  bool skip_value() { return skip_value(0); }
  // True when only white space is left.
  bool at_end();

  // An object, calling member(key) with the cursor before each member's value; member reads the
  // value and returns false on failure.
  template <class F>
  bool object(F&& member) {
    if (!expect('{')) return false;
    if (accept('}')) return true;
    std::string scratch;
    do {
      std::string_view key;
      if (!string(key, scratch) || !expect(':') || !member(key)) return false;
    } while (accept(','));
    return expect('}');
  }

  // Records `message` with the current position (the first error only) and returns false.
  bool fail(std::string_view message);
  const std::string& error() const { return error_; }

 private:
  bool skip_value(int depth);
  bool escaped_string(std::string_view& out, std::string& scratch);
  bool literal(std::string_view word);
  void skip_white_space();

  const char* begin_;
  const char* p_;
  const char* end_;
  std::string error_;
};

}  // namespace quillory::core::json
