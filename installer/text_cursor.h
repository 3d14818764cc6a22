#pragma once
// A forward cursor over the bytes of a mapped text file, shared by the readers
// of the server list, the manifest and the DVD marker. Line ends are CR, LF and
// NUL; blanks are space and tab. The cursor never moves past `end`, so a file
// that stops in the middle of a line or a record reads as if it ended there.
#include <cstdint>
#include <string>
#include <string_view>

struct text_cursor {
  const unsigned char* cur;
  const unsigned char* end;

  static bool is_eol(unsigned char c) { return c == '\r' || c == '\n' || c == 0; }
  static bool is_blank(unsigned char c) { return c == ' ' || c == '\t'; }

  bool at_end() const { return cur >= end; }
  bool at_eol() const { return cur >= end || is_eol(*cur); }

  void skip_blanks() {
    while (cur < end && is_blank(*cur)) ++cur;
  }
  void skip_to_eol() {
    while (cur < end && !is_eol(*cur)) ++cur;
  }
  // Steps over every line end and blank: empty lines and indentation.
  void skip_eols_and_blanks() {
    while (cur < end && (is_eol(*cur) || is_blank(*cur))) ++cur;
  }
  // True when the line at the cursor starts with `word` followed by a blank, a
  // line end or the end of the data; the cursor then stands after the word.
  bool take_word(std::string_view word) {
    if (static_cast<size_t>(end - cur) < word.size()) return false;
    if (std::string_view(reinterpret_cast<const char*>(cur), word.size()) != word) return false;
    const unsigned char* after = cur + word.size();
    if (after < end && !is_eol(*after) && !is_blank(*after)) return false;
    cur = after;
    return true;
  }
  // Blanks skipped, then everything up to the line end, inner and trailing
  // blanks included.
  std::string_view rest_of_line() {
    skip_blanks();
    const unsigned char* start = cur;
    skip_to_eol();
    return {reinterpret_cast<const char*>(start), static_cast<size_t>(cur - start)};
  }
  // One blank-separated token (empty at a line end).
  std::string_view token() {
    skip_blanks();
    const unsigned char* start = cur;
    while (cur < end && !is_eol(*cur) && !is_blank(*cur)) ++cur;
    return {reinterpret_cast<const char*>(start), static_cast<size_t>(cur - start)};
  }
  // The product's integer form: an optional '-', then an optional '+' (which
  // makes the value positive again), then every character up to a blank or line
  // end taken as a decimal digit. Characters are not validated; the arithmetic
  // wraps in 32 bits instead of overflowing.
  int integer() {
    skip_blanks();
    bool negative = false;
    if (cur < end && *cur == '-') {
      negative = true;
      ++cur;
    }
    if (cur < end && *cur == '+') {
      negative = false;
      ++cur;
    }
    uint32_t value = 0;
    while (cur < end && !is_eol(*cur) && !is_blank(*cur)) {
      value = value * 10u + static_cast<uint32_t>(static_cast<int>(*cur) - '0');
      ++cur;
    }
    if (negative) value = 0u - value;
    return static_cast<int>(value);
  }
};
