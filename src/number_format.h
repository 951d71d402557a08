// Writing numbers: every format the tool writes a real value in, each taking
// a value and giving its bytes. Whole counts are written by text.h's
// append_int; reading numbers is text.h's and gen_line.h's.
//
// Each quick way here has a general way beside it that it must match byte
// for byte; the unit tests hold them together over generated texts.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text.h"

// ---- the default stream format: general notation, 6 significant digits ----

// The longest text of the default format ("-1.23457e-308").
inline constexpr size_t kDefaultFormatMax = 13;

// Writes v as the default stream format does ("1", "0.333333", "1e-05") at
// out, which has room for kDefaultFormatMax characters; returns the end.
inline char* format_default(char* out, double v) {
  return std::to_chars(out, out + kDefaultFormatMax, v, std::chars_format::general, 6).ptr;
}

inline void append_double(std::string& out, double v) {
  char tmp[kDefaultFormatMax];
  out.append(tmp, format_default(tmp, v));
}

// format_default for values that repeat a lot, as probabilities do: recent
// texts are kept by bit pattern. Every slot starts out as 0.0 and its text,
// so that no slot needs a flag.
class double_texts {
 public:
  // Writes v's text at p, which needs kPutRoom free bytes (a whole slot is
  // copied); returns the end of the text.
  static constexpr size_t kPutRoom = 16;
  char* put(char* p, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    slot& s = slots_[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    if (s.bits != bits) {
      s.bits = bits;
      s.size = static_cast<unsigned char>(format_default(s.text, v) - s.text);
    }
    // the text and the size byte after it, as one 16-byte copy
    std::memcpy(p, reinterpret_cast<const char*>(&s) + offsetof(slot, text), kPutRoom);
    return p + s.size;
  }

 private:
  static constexpr int kBits = 12;
  struct slot {
    uint64_t bits = 0;
    char text[15] = {'0'};
    unsigned char size = 1;
  };
  static_assert(sizeof(slot) == 24 && kDefaultFormatMax <= sizeof(slot::text),
                "text and size are copied as 16 bytes");
  std::vector<slot> slots_ = std::vector<slot>(size_t(1) << kBits);
};

// Whether t, the text that v was read from, is the text format_default
// writes for v's value, so that it can be written as it stands. Decided on
// what the reader found, without a conversion, and only for the plain shapes
// "D" and "D.ddd" (at most 6 significant digits, no trailing zero, not below
// 1e-4): "0", "1", "0.5", "0.9871", "0.0001". False may be said of a text
// that is its written form ("10"); true is never said of one that is not.
inline bool is_written_form(const probability& v, std::string_view t) {
  if (v.decimals < 0 || v.negative) return false;
  const size_t d = static_cast<size_t>(v.decimals);
  if (d == 0) return t.size() == 1;  // "5", not "05" or "+5"
  // One whole digit, its point, the decimals: not "+.5", ".50" or "-0.5".
  if (t.size() != d + 2 || static_cast<unsigned char>(t[0] - '0') > 9 || t[1] != '.' ||
      t.back() == '0')
    return false;
  // A whole digit other than 0 counts among the 6 digits.
  if (t[0] != '0') return d <= 5;
  // Below 1e-4 the format turns to an exponent. (A short decimal has at
  // most 15 digits.)
  return (d <= 4 || v.m >= kPow10[d - 4]) && v.m < 1000000;
}

// ---- -S's probability format: whole numbers bare, others with four decimals ----

// The longest text of format_probability (a fixed double near 1.8e308).
inline constexpr size_t kProbabilityMax = 400;

// The general way: fixed notation, no decimals for a whole number, else
// four, rounded as the fixed conversion rounds the exact binary value.
// Writes at out (room for kProbabilityMax characters); returns the end.
inline char* format_probability_fixed(char* out, double v) {
  const int decimals = (v == std::floor(v)) ? 0 : 4;
  return std::to_chars(out, out + kProbabilityMax, v, std::chars_format::fixed, decimals).ptr;
}

// The same text as format_probability_fixed, quicker for the values
// probabilities take.
inline char* format_probability(char* out, double v) {
  double a = std::fabs(v);
  if (a < 1e15) {
    double whole = std::floor(a);
    if (a == whole) {
      if (std::signbit(v)) *out++ = '-';
      return std::to_chars(out, out + 24, static_cast<long long>(whole)).ptr;
    }
    // Four decimals by scaling; for values this small the product is within
    // far less than 1e-5 of the exact one, so only near-ties need the full
    // conversion.
    if (a < 1e6) {
      double y = a * 10000.0;
      double f = y - std::floor(y);
      if (std::fabs(f - 0.5) > 1e-5) {
        long long n = static_cast<long long>(std::floor(y + 0.5));
        if (v < 0) *out++ = '-';
        out = std::to_chars(out, out + 24, n / 10000).ptr;
        int frac = static_cast<int>(n % 10000);
        out[0] = '.';
        out[1] = char('0' + frac / 1000);
        out[2] = char('0' + frac / 100 % 10);
        out[3] = char('0' + frac / 10 % 10);
        out[4] = char('0' + frac % 10);
        return out + 5;
      }
    }
  }
  return format_probability_fixed(out, v);
}

// Splits digits into whole part and fraction at a constant power of ten.
template <uint64_t Ten>
inline void split_digits(uint64_t m, uint64_t& whole, uint64_t& frac) {
  whole = m / Ten;
  frac = m % Ten;
}

// Writes a value as format_probability does. A short decimal with at most
// four decimals and a small whole part is exactly the value that the fixed
// conversion rounds to, so its digits are written as they are.
inline char* format_read_probability(char* out, const probability& p) {
  // One digit and three decimals, the usual shape: a fourth decimal "0",
  // or the digit alone when the decimals are all zero.
  if (p.decimals == 3 && p.m < 10000 && !p.negative) {
    const unsigned m = static_cast<unsigned>(p.m);
    out[0] = static_cast<char>('0' + m / 1000);
    if (m % 1000 == 0) return out + 1;
    out[1] = '.';
    out[2] = static_cast<char>('0' + m / 100 % 10);
    out[3] = static_cast<char>('0' + m / 10 % 10);
    out[4] = static_cast<char>('0' + m % 10);
    out[5] = '0';
    return out + 6;
  }
  if (p.decimals == 0) {
    if (p.negative) *out++ = '-';
    if (p.m < 10) {
      *out++ = static_cast<char>('0' + p.m);
      return out;
    }
    return std::to_chars(out, out + 24, p.m).ptr;
  }
  if (p.decimals > 0 && p.decimals <= 4) {
    uint64_t whole, frac;
    switch (p.decimals) {
      case 1: split_digits<10>(p.m, whole, frac); break;
      case 2: split_digits<100>(p.m, whole, frac); break;
      case 3: split_digits<1000>(p.m, whole, frac); break;
      default: split_digits<10000>(p.m, whole, frac); break;
    }
    if (frac == 0) {
      if (p.negative) *out++ = '-';
      return std::to_chars(out, out + 24, whole).ptr;
    }
    if (whole < 1000000000) {
      if (p.negative) *out++ = '-';
      out = std::to_chars(out, out + 24, whole).ptr;
      // The fraction's digits, then zeros up to four places.
      char digits[4] = {'0', '0', '0', '0'};
      for (int d = p.decimals - 1; d >= 0; --d, frac /= 10) digits[d] = static_cast<char>('0' + frac % 10);
      *out++ = '.';
      std::memcpy(out, digits, 4);
      return out + 4;
    }
  }
  return format_probability(out, p.value());
}

