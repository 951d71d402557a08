// The SNP and sample records shared by the GEN <-> PED conversions.
#pragma once

#include <cstdint>
#include <string>

// One SNP.
struct map_snp {
  std::string snp_id;  // GEN column 1; for -P the MAP chromosome
  std::string rs_id;   // GEN column 2; for -P the MAP SNP name
  int32_t position;    // base pairs
  char allele1;        // allele A; '-' while not yet known (-P only)
  char allele2;        // allele B; '-' while not yet known (-P only)
};

// One sample. A fresh record is: empty ids, gender -9, phenotype "-9", missing 0.
struct sample {
  std::string ID_1;
  std::string ID_2;
  int32_t gender = -9;            // sex code; -9 unknown
  std::string phenotype = "-9";   // verbatim; "-9" missing
  double missing = 0.0;           // missing genotype pairs (-P only)
};
