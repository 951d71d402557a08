#include "gen_line.h"

const char* read_gen_head(std::string_view line, gen_head& h) {
  field_cursor c(line);
  std::string_view position;
  if (!(c.next(h.snp_id) && c.next(h.rs_id) && c.next(position) && c.next(h.allele_a) &&
        c.next(h.allele_b)))
    return "fewer than 5 fields";
  if (!parse_int32(position, h.position)) return "position is not a 32-bit integer";
  h.rest = c.rest;
  return nullptr;
}

threshold_test::threshold_test(double t) : t_(t), nan_(t != t) {
  for (unsigned d = 0; d < 16; ++d) {
    // Least m below 10^15 with m / 10^d >= t; kNever when there is none.
    uint64_t lo = 0, hi = kLimit;
    while (lo < hi) {
      uint64_t mid = lo + (hi - lo) / 2;
      if (short_decimal_value(mid, d, false) >= t)
        hi = mid;
      else
        lo = mid + 1;
    }
    least_[d] = lo == kLimit ? kNever : lo;
  }
}

// Any other number: a sign or exponent, or more than 15 digits.
const char* probability_reader::next_general(const char* p, const char* end, probability& v) {
  const char* q = p;
  while (q < end && !is_space(*q)) ++q;
  if (!parse_double(std::string_view(p, static_cast<size_t>(q - p)), v.v)) return nullptr;
  v.decimals = -1;
  v.negative = false;
  return q;
}

std::string strict_line_fault(std::string_view line, uint64_t samples) {
  gen_head h;
  if (const char* reason = read_gen_head(line, h)) return reason;
  const uint64_t expected = 5 + 3 * samples;
  uint64_t fields = 5;
  field_cursor c(h.rest);
  std::string_view f;
  while (c.next(f)) ++fields;
  if (fields != expected)
    return int_text(static_cast<long long>(fields)) + " fields, expected " +
           int_text(static_cast<long long>(expected));
  c = field_cursor(h.rest);
  double v;
  for (uint64_t k = 6; c.next(f); ++k)
    if (!parse_double(f, v)) return "field " + int_text(static_cast<long long>(k)) + " is not a number";
  return "cannot be read";
}
