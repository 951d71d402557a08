// -O: orient the alleles of a GEN file to a strand file.
#pragma once
#include <string>

// Returns 0, or 1 when a file cannot be opened or written.
int orient_to_strand(std::string gen_file, std::string strand_file, std::string out_gen,
                     bool excl, bool order);
