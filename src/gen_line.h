// One GEN line, read in place: the five leading fields and the probability
// fields after them. Every mode reads its GEN lines here, so that a fault in
// a line is worded the same everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The leading fields of a GEN line.
struct gen_head {
  std::string_view snp_id, rs_id, allele_a, allele_b;
  int32_t position = 0;
  std::string_view rest;  // the probability fields, from just after allele B
};

// Reads the five leading fields of a non-blank line. Returns nullptr, or the
// "Bad line" reason when they cannot be read.
const char* read_gen_head(std::string_view line, gen_head& h);

// The "Bad line" reason for a line that must hold 5 + 3 * samples fields with
// a number in each from the sixth on; faults are looked for in that order.
// Called once a line has failed: it walks the line again.
std::string strict_line_fault(std::string_view line, uint64_t samples);
