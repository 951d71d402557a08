// One GEN line, read in place: the five leading fields, then the probability
// fields after them. Every mode reads its GEN lines here, so that a fault in
// a line is worded the same everywhere.
//
// How strict a mode is stays its own choice: -S and -G need exactly 5 + 3N
// fields and a number in each probability field (and word a fault with
// strict_line_fault); -M needs a number in each field of a triple it uses,
// and -O copies the words without reading them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text.h"

// The leading fields of a GEN line.
struct gen_head {
  std::string_view snp_id, rs_id, allele_a, allele_b;
  int32_t position = 0;
  std::string_view rest;  // the probability fields, from just after allele B
};

// Reads the five leading fields of a non-blank line. Returns nullptr, or the
// "Bad line" reason when they cannot be read.
const char* read_gen_head(std::string_view line, gen_head& h);

// Walks the probability fields of a line, left to right.
class probability_reader {
 public:
  explicit probability_reader(std::string_view rest)
      : p_(rest.data()), end_(rest.data() + rest.size()) {}

  // Reads the next field into v. False at the end of the line, or at a field
  // that is not a number (which then stays unread).
  [[gnu::always_inline]] bool next(probability& v) {
    // Worked on in locals: what a call out of line could see would be kept
    // in memory, and reloaded, for every field.
    const char* p = p_;
    while (p < end_ && is_space(*p)) ++p;
    p_ = p;
    if (p == end_) return false;
    uint64_t m;
    unsigned decimals;
    const char* q = scan_common_field(p, end_, m, decimals);
    if (!q) q = scan_point_decimals(p, end_, m, decimals);
    if (q) {
      v.m = m;
      v.decimals = static_cast<int>(decimals);
      v.negative = false;
      field_ = std::string_view(p, static_cast<size_t>(q - p));
      p_ = q + 1;  // the blank after it is known to be there
      return true;
    }
    bool negative;
    q = scan_short_decimal(p, end_, m, decimals, negative);
    if (q && (q == end_ || is_space(*q))) {
      v.m = m;
      v.decimals = static_cast<int>(decimals);
      v.negative = negative;
      field_ = std::string_view(p, static_cast<size_t>(q - p));
      p_ = q;
      return true;
    }
    q = next_general(p, end_, v);
    if (!q) return false;
    field_ = std::string_view(p, static_cast<size_t>(q - p));
    p_ = q;
    return true;
  }

  // The text of the field that next() read last.
  std::string_view field() const { return field_; }
  // Where the reading stands: the next field, or white space before it.
  const char* position() const { return p_; }

  // Three one-digit fields in a row, each ended by a blank ("1 0 0 "), the
  // commonest triple: their digits, read at once. False, and nothing read,
  // for anything else.
  bool next_digit_triple(unsigned& a, unsigned& b, unsigned& c) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "bytes are read little-endian");
    if (end_ - p_ < 8) return false;
    uint64_t w;
    std::memcpy(&w, p_, 8);
    constexpr uint64_t kDigits = 0x000000FF00FF00FFULL, kBlanks = 0x0000FF00FF00FF00ULL;
    const uint64_t d = w & kDigits;
    if ((w & kBlanks) != 0x0000200020002000ULL || (non_digit_bytes(d) & kDigits) != 0) return false;
    a = static_cast<unsigned>(d & 0xF);
    b = static_cast<unsigned>((d >> 16) & 0xF);
    c = static_cast<unsigned>((d >> 32) & 0xF);
    p_ += 6;
    return true;
  }

  // True when nothing but white space is left.
  bool done() {
    while (p_ < end_ && is_space(*p_)) ++p_;
    return p_ == end_;
  }

 private:
  // Static: a call that could see this object would keep p_ out of registers.
  static const char* next_general(const char* p, const char* end, probability& v);
  const char* p_;
  const char* end_;
  std::string_view field_;
};

// The test "probability >= threshold" of the calling threshold, decided on
// the digits for short plain decimals without a division: m / 10^d rounds
// upwards as m grows, so for each number of decimals d it holds exactly from
// some least m on, found once.
class threshold_test {
 public:
  explicit threshold_test(double t);
  bool reached(const probability& v) const {
    if (v.decimals < 0) return v.v >= t_;
    if (v.negative) return v.value() >= t_;
    return v.m >= least_[v.decimals];
  }
  // reached() for a one-digit field.
  bool reached_digit(unsigned digit) const { return digit >= least_[0]; }
  // "threshold > probability": the opposite of reached, except that no value
  // is below a threshold that is not a number.
  bool below(const probability& v) const { return !nan_ && !reached(v); }

 private:
  static constexpr uint64_t kLimit = kPow10[15];  // 15 digits
  static constexpr uint64_t kNever = UINT64_MAX;
  double t_;
  bool nan_;
  uint64_t least_[16];
};

// The "Bad line" reason for a line that must hold 5 + 3 * samples fields with
// a number in each from the sixth on; faults are looked for in that order.
// Called once a line has failed: it walks the line again.
std::string strict_line_fault(std::string_view line, uint64_t samples);
