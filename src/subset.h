// -S: subset a GEN file, and with a sample selection its SAMPLE file.
#pragma once
#include <string>
#include <vector>

// The files -S reads, in the order it checks them; the SAMPLE file only with
// a sample subset, as only then is it read.
inline std::vector<std::string> subset_inputs(const std::string& gen_file,
                                              const std::string& inclusion_file,
                                              const std::string& sample_id_file,
                                              const std::string& sample_excl_file,
                                              const std::string& exclusion_file,
                                              const std::string& sample_file, bool sample_subset) {
  std::vector<std::string> in = {gen_file, inclusion_file, sample_id_file, sample_excl_file,
                                 exclusion_file};
  if (sample_subset) in.push_back(sample_file);
  return in;
}

// The files -S writes; the SAMPLE file only with a sample subset.
inline std::vector<std::string> subset_outputs(const std::string& out_gen,
                                               const std::string& out_sample, bool sample_subset) {
  if (sample_subset) return {out_gen, out_sample};
  return {out_gen};
}

// Writes the kept SNPs (range, SNP lists, missingness) with the kept samples'
// probabilities. Returns 0, or 1 on a failure it reports.
int subset(std::string gen_file, std::string out_gen, std::string inclusion_file,
           std::string sample_id_file, std::string sample_excl_file, std::string sample_file,
           std::string out_sample, std::string exclusion_file, int start, int end,
           bool range_given, bool inclusion_given, bool sample_subset, bool exclusion_given,
           bool missing_given, double missing_threshold, double threshold);
