// Field splitting and number conversion shared by every reader and writer.
// All of it works on string_views in place: nothing is allocated per field.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// White space as the C locale's isspace sees it: blank, \t, \n, \v, \f, \r.
inline bool is_space(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u <= 32 && ((0x100003E00ULL >> u) & 1);  // bits 9 to 13 and 32
}

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

// The offsets of the blanks of a text that is nothing but words each led by
// one blank, the way GEN lines are usually written, in order. False for any
// other layout: another white-space byte, two blanks in a row, a blank at the
// end, or none first. With Wide (and SSE2) sixteen bytes are looked at a
// time; without, byte by byte, which must find the same. Use
// single_blank_layout.
template <bool Wide>
inline bool single_blank_layout_by(std::string_view text, std::vector<uint32_t>& blanks) {
  blanks.clear();
  if (text.empty()) return true;
  if (text.size() >= UINT32_MAX || text[0] != ' ' || text.back() == ' ') return false;
  const char* p = text.data();
  const size_t n = text.size();
  size_t i = 0;
  uint32_t last = UINT32_MAX - 1;  // no blank yet
  auto take = [&](unsigned blank_bits, size_t at) {
    while (blank_bits) {
      const uint32_t pos = static_cast<uint32_t>(at + static_cast<unsigned>(__builtin_ctz(blank_bits)));
      if (pos == last + 1) return false;
      blanks.push_back(pos);
      last = pos;
      blank_bits &= blank_bits - 1;
    }
    return true;
  };
#if defined(__SSE2__)
  if constexpr (Wide) {
    const __m128i blank = _mm_set1_epi8(' '), nine = _mm_set1_epi8(9), four = _mm_set1_epi8(4);
    for (; i + 16 <= n; i += 16) {
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      // \t to \r are 9 to 13: below 5 once 9 is taken off, as unsigned bytes.
      const __m128i t = _mm_sub_epi8(c, nine);
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(t, four), t))) return false;
      if (!take(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(c, blank))), i)) return false;
    }
  }
#endif
  for (; i < n; ++i) {
    if (p[i] != ' ' && is_space(p[i])) return false;
    if (p[i] == ' ' && !take(1, i)) return false;
  }
  return true;
}

inline bool single_blank_layout(std::string_view text, std::vector<uint32_t>& blanks) {
  return single_blank_layout_by<true>(text, blanks);
}

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

// Powers of ten up to the 15 digits of a short decimal, whole and as
// doubles (which hold each of them exactly).
inline constexpr auto kPow10 = [] {
  std::array<uint64_t, 16> p{};
  uint64_t x = 1;
  for (uint64_t& v : p) {
    v = x;
    x *= 10;
  }
  return p;
}();
inline constexpr auto kExactPow10 = [] {
  std::array<double, 16> p{};
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<double>(kPow10[i]);
  return p;
}();

// Per byte of w, zero when the byte is a decimal digit and not zero when it
// is not: eight bytes tested at once, without a loop. A digit's high half is
// 3 both as it stands and once 6 is added (':' to '?' become '@' to 'E'). A
// byte of 0xFA or more, no digit, carries into the next byte when 6 is
// added, so a byte after one that is no digit may be told wrong; the lowest
// byte that is no digit, and every byte before it, are told right.
inline uint64_t non_digit_bytes(uint64_t w) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0xF0 * kOnes, kThrees = 0x30 * kOnes;
  return ((w & kHigh) ^ kThrees) | (((w + 6 * kOnes) & kHigh) ^ kThrees);
}

// A short plain decimal at p: an optional sign, digits, an optional point and
// digits, at most 15 digits in all, no exponent. Returns where it ends, or
// nullptr when no such number starts at p. Its value is m / 10^decimals; both
// are exact doubles, so that one division is correctly rounded, the value
// from_chars gives for the same text.
inline const char* scan_short_decimal(const char* p, const char* e, uint64_t& m,
                                      unsigned& decimals, bool& negative) {
  negative = false;
  auto digit = [](char c) { return static_cast<unsigned char>(c - '0') < 10; };
  // One digit and three decimals, as imputation output writes its
  // probabilities: no loop and no unpredictable branch.
  if (e - p >= 5 && digit(p[0]) && p[1] == '.' && digit(p[2]) && digit(p[3]) && digit(p[4]) &&
      (e - p == 5 || !digit(p[5]))) {
    m = static_cast<uint64_t>(p[0] - '0') * 1000 + static_cast<uint64_t>(p[2] - '0') * 100 +
        static_cast<uint64_t>(p[3] - '0') * 10 + static_cast<uint64_t>(p[4] - '0');
    decimals = 3;
    return p + 5;
  }
  if (p < e && (*p == '-' || *p == '+')) negative = *p++ == '-';
  const char* first = p;
  m = 0;
  while (p < e && static_cast<unsigned char>(*p - '0') < 10)
    m = m * 10 + static_cast<unsigned>(*p++ - '0');
  size_t whole = static_cast<size_t>(p - first);
  size_t decimal_digits = 0;
  if (p < e && *p == '.') {
    const char* d = ++p;
    while (p < e && static_cast<unsigned char>(*p - '0') < 10)
      m = m * 10 + static_cast<unsigned>(*p++ - '0');
    decimal_digits = static_cast<size_t>(p - d);
  }
  size_t digits = whole + decimal_digits;
  if (digits == 0 || digits > 15) return nullptr;
  decimals = static_cast<unsigned>(decimal_digits);
  return p;
}

// The two shapes most probabilities take: one digit ("0", "1"), or one
// digit, a point and three decimals ("0.953"), each ended by white space.
// Both come mixed at random in a file, so they are told apart without a
// branch. Needs six bytes from p on (a field that ends the line goes the
// general way). Returns where the field ends, or nullptr for any other
// field; the value is m / 10^decimals, as scan_short_decimal reads it.
inline const char* scan_common_field(const char* p, const char* e, uint64_t& m,
                                     unsigned& decimals) {
  if (e - p < 6) return nullptr;
  auto digit = [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; };
  const unsigned d0 = digit(p[0]), d2 = digit(p[2]), d3 = digit(p[3]), d4 = digit(p[4]);
  const bool one = (d0 < 10) & is_space(p[1]);
  const bool four =
      (d0 < 10) & (p[1] == '.') & (d2 < 10) & (d3 < 10) & (d4 < 10) & is_space(p[5]);
  m = one ? d0 : d0 * 1000 + d2 * 100 + d3 * 10 + d4;
  decimals = one ? 0 : 3;
  return one ? p + 1 : four ? p + 5 : nullptr;
}

// The next most common shapes: one digit, a point and one to six decimals
// ("0.5", "0.9871"), ended by white space. The decimals are found and read
// eight bytes at a time, without a loop. Needs ten bytes from p on. Returns
// where the field ends, or nullptr for any other field; the value is
// m / 10^decimals, as scan_short_decimal reads it.
inline const char* scan_point_decimals(const char* p, const char* e, uint64_t& m,
                                       unsigned& decimals) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "bytes are read little-endian");
  if (e - p < 10) return nullptr;
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  const unsigned d0 = static_cast<unsigned>(static_cast<unsigned char>(p[0])) - '0';
  uint64_t z;  // the eight bytes after the point, the first in the low byte
  std::memcpy(&z, p + 2, 8);
  // The decimals end at the lowest byte that is no digit.
  const uint64_t other = non_digit_bytes(z);
  const unsigned k = other ? static_cast<unsigned>(__builtin_ctzll(other)) / 8 : 8;
  if (!((d0 < 10) & (p[1] == '.') & (k >= 1) & (k <= 6))) return nullptr;
  if (!is_space(static_cast<char>(z >> (8 * k)))) return nullptr;
  // The k digits, right-aligned behind zero digits, read as an 8-digit number.
  uint64_t digits = ((z - 0x30 * kOnes) & ((1ULL << (8 * k)) - 1)) << (8 * (8 - k));
  digits = digits * 10 + (digits >> 8);
  const uint64_t frac = (((digits & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
                         (((digits >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >>
                        32;
  m = d0 * kPow10[k] + frac;
  decimals = k;
  return p + 2 + k;
}

inline double short_decimal_value(uint64_t m, unsigned decimals, bool negative) {
  double x = decimals ? static_cast<double>(m) / kExactPow10[decimals] : static_cast<double>(m);
  return negative ? -x : x;
}

// One probability as read. A short plain decimal keeps its digits, its value
// being m / 10^decimals (negative: its opposite); any other number has
// decimals -1 and its value in v.
struct probability {
  uint64_t m;
  int decimals;
  bool negative;
  double v;
  double value() const {
    return decimals < 0 ? v : short_decimal_value(m, static_cast<unsigned>(decimals), negative);
  }
};

// A whole field as a decimal real (optional sign and exponent). Like a
// stream extraction, it takes no "nan" or "inf".
inline bool parse_double(std::string_view f, double& v) {
  {
    uint64_t m;
    unsigned decimals;
    bool negative;
    const char* e = f.data() + f.size();
    const char* r = scan_short_decimal(f.data(), e, m, decimals, negative);
    if (r && r == e) {
      v = short_decimal_value(m, decimals, negative);
      return true;
    }
  }
  if (!f.empty() && f[0] == '+') {
    f.remove_prefix(1);
    if (f.empty() || f[0] == '-') return false;
  }
  size_t lead = !f.empty() && f[0] == '-' ? 1 : 0;
  if (f.size() <= lead || !((f[lead] >= '0' && f[lead] <= '9') || f[lead] == '.')) return false;
  auto r = std::from_chars(f.data(), f.data() + f.size(), v);
  if (r.ptr != f.data() + f.size()) return false;
  if (r.ec == std::errc::result_out_of_range) {
    // Too small for a double reads as 0 (or a denormal), as a stream reads
    // it; too large is not a number.
    std::string text(f);
    double tiny = std::strtod(text.c_str(), nullptr);
    if (tiny > 1.0 || tiny < -1.0) return false;
    v = tiny;
    return true;
  }
  return r.ec == std::errc();
}

inline void append_int(std::string& out, long long v) {
  char tmp[24];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
  out.append(tmp, r.ptr);
}

inline std::string int_text(long long v) {
  std::string s;
  append_int(s, v);
  return s;
}

// Products of two 64-bit counts (bytes of a genotype store) need 128 bits.
__extension__ typedef unsigned __int128 uint128;

inline void append_uint128(std::string& out, uint128 v) {
  char tmp[40];
  char* p = tmp + sizeof tmp;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  } while (v);
  out.append(p, tmp + sizeof tmp);
}

inline std::string uint128_text(uint128 v) {
  std::string s;
  append_uint128(s, v);
  return s;
}

// Number of fields of a line.
inline uint64_t count_fields(std::string_view line) {
  field_cursor c(line);
  std::string_view f;
  uint64_t n = 0;
  while (c.next(f)) ++n;
  return n;
}

// The complementary base of an allele: "A" and "T", "C" and "G", as whole
// texts, case-sensitive; empty for any other text, which matches no allele.
inline std::string_view complement(std::string_view allele) {
  if (allele.size() != 1) return {};
  switch (allele[0]) {
    case 'A': return "T";
    case 'C': return "G";
    case 'G': return "C";
    case 'T': return "A";
    default: return {};
  }
}
