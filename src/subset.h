// -S: subset a GEN file, and with a sample selection its SAMPLE file.
#pragma once
#include <string>

// Writes the kept SNPs (range, SNP lists, missingness) with the kept samples'
// probabilities. Returns 0, or 1 on a failure it reports.
int subset(std::string gen_file, std::string out_gen, std::string inclusion_file,
           std::string sample_id_file, std::string sample_excl_file, std::string sample_file,
           std::string out_sample, std::string exclusion_file, int start, int end,
           bool range_given, bool inclusion_given, bool sample_subset, bool exclusion_given,
           bool missing_given, double missing_threshold, double threshold);
