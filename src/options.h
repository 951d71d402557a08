// The values of one command line: what the parse fills and the modes read.
#pragma once

#include <string>
#include <vector>

// Every value the command line can set, with its initial value.
struct option_values {
  std::string gen_file, sample_file, out_gen, out_sample;
  std::string sample_id_file, sample_excl_file, inclusion_file, exclusion_file;
  std::string ped_file, map_file;
  std::string phenotype_column = "-9", sex_column = "-9";
  std::string strand_file, add_pheno_cov_file, remove_pheno_cov_file;
  int start = -1, end = -1;
  double threshold = -1.0;  // -1: not given
  double missing_threshold = 1.0;
  bool range_given = false, inclusion_given = false, sample_subset = false;
  bool exclusion_given = false, missing_given = false;
  bool discrete_phenotype = false, family = false, calvora1 = false, alleles = false;
  bool excl = false, order = false;
  bool mode_S = false, mode_P = false, mode_G = false, mode_M = false, mode_O = false,
       mode_U = false;
  // Merge lists, each in command-line order; files is GEN names then SAMPLE names.
  std::vector<std::string> gen_list, sample_list, files;
  std::string log_name = "trevlin.log";
};
