// -O: orient the alleles of a GEN file to a strand file.
#pragma once
#include <string>
#include <vector>

// The files -O reads.
inline std::vector<std::string> orient_inputs(const std::string& gen_file,
                                              const std::string& strand_file) {
  return {gen_file, strand_file};
}
// The file -O writes: out_gen, compressed like the GEN input, with ".gz"
// added when the name does not say so.
std::string orient_output(const std::string& gen_file, const std::string& out_gen);

// Returns 0, or 1 when a file cannot be opened or written.
int orient_to_strand(std::string gen_file, std::string strand_file, std::string out_gen,
                     bool excl, bool order);
