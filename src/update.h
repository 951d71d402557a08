// -U: print a SAMPLE file to standard output, each line followed by an empty line.
#pragma once
#include <string>

// The phenotype lists and the two flags are accepted and not used.
// Returns 0, or 1 when the file cannot be opened or its gzip data is damaged.
int update_pheno_cov(std::string sample_file, std::string add_pheno_cov_file,
                     std::string remove_pheno_cov_file, bool add, bool remove);
