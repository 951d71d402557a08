// -G: convert GEN/SAMPLE to PED/MAP, calling genotypes with a threshold.
#pragma once
#include <string>
#include <vector>

// The files -G reads, and those it writes, each in the order it checks them.
inline std::vector<std::string> gen_to_ped_inputs(const std::string& gen_file,
                                                  const std::string& sample_file) {
  return {gen_file, sample_file};
}
inline std::vector<std::string> gen_to_ped_outputs(const std::string& ped_file,
                                                   const std::string& map_file) {
  return {ped_file, map_file};
}

// 1 when the text is a chromosome code: "1" to "24", "X", "Y" or "M", in full.
// The MAP file has a chromosome column when every SNP id is one.
int snp_id_check(std::string id);

// Writes the MAP file then the PED file. Returns 0, or 1 on a failure it reports.
int gen_to_ped(std::string gen_file, std::string sample_file, std::string ped_file,
               std::string map_file, std::string phenotype_column, std::string sex_column,
               double threshold, bool alleles);
