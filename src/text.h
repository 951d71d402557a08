// Field splitting and number conversion shared by every reader and writer.
// All of it works on string_views in place: nothing is allocated per field.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// White space as the C locale's isspace sees it: blank, \t, \n, \v, \f, \r.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Walks the fields of a line, left to right.
struct field_cursor {
  std::string_view rest;
  explicit field_cursor(std::string_view line) : rest(line) {}
  // The next field; false when none is left.
  bool next(std::string_view& field) {
    size_t i = 0, n = rest.size();
    while (i < n && is_space(rest[i])) ++i;
    if (i == n) {
      rest = {};
      return false;
    }
    size_t j = i;
    while (j < n && !is_space(rest[j])) ++j;
    field = rest.substr(i, j - i);
    rest = rest.substr(j);
    return true;
  }
};

// Splits a line into its fields; out is cleared first, its capacity reused.
inline size_t split_fields(std::string_view line, std::vector<std::string_view>& out) {
  out.clear();
  field_cursor c(line);
  std::string_view f;
  while (c.next(f)) out.push_back(f);
  return out.size();
}

// True when the line holds nothing but white space.
inline bool is_blank(std::string_view line) {
  for (char c : line)
    if (!is_space(c)) return false;
  return true;
}

// A whole field as a signed 32-bit decimal integer (optional sign).
inline bool parse_int32(std::string_view f, int32_t& v) {
  if (!f.empty() && f[0] == '+') {
    f.remove_prefix(1);
    if (f.empty() || f[0] == '-') return false;
  }
  auto r = std::from_chars(f.data(), f.data() + f.size(), v);
  return r.ec == std::errc() && r.ptr == f.data() + f.size();
}

// A whole field as a decimal real (optional sign and exponent). Like a
// stream extraction, it takes no "nan" or "inf".
inline bool parse_double(std::string_view f, double& v) {
  if (!f.empty() && f[0] == '+') {
    f.remove_prefix(1);
    if (f.empty() || f[0] == '-') return false;
  }
  size_t lead = !f.empty() && f[0] == '-' ? 1 : 0;
  if (f.size() <= lead || !((f[lead] >= '0' && f[lead] <= '9') || f[lead] == '.')) return false;
  auto r = std::from_chars(f.data(), f.data() + f.size(), v);
  return r.ec == std::errc() && r.ptr == f.data() + f.size();
}

// Appends a double as the default stream format writes it: general notation,
// at most 6 significant digits (1, 0.333333, 1e-05).
inline void append_double(std::string& out, double v) {
  char tmp[64];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::general, 6);
  out.append(tmp, r.ptr);
}

inline void append_int(std::string& out, long long v) {
  char tmp[24];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
  out.append(tmp, r.ptr);
}
